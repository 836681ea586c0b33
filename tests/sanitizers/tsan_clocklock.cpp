// Linked into the ThreadSanitizer builds only. libstdc++ takes timed mutexes with
// pthread_mutex_clocklock (steady clock), which ThreadSanitizer of this clang does not
// intercept: it then sees every try_lock_for as no lock at all and reports the unlock.
// The same wait, expressed against the realtime clock for pthread_mutex_timedlock (which it
// does intercept), keeps the lock's meaning and lets the checker see it.
#include <pthread.h>
#include <time.h>

#include <cerrno>

extern "C" int pthread_mutex_clocklock(pthread_mutex_t* mutex, clockid_t clock, const struct timespec* deadline) {
    if (clock == CLOCK_REALTIME) return pthread_mutex_timedlock(mutex, deadline);
    if (clock != CLOCK_MONOTONIC) return EINVAL;
    timespec nowClock{}, nowReal{};
    clock_gettime(CLOCK_MONOTONIC, &nowClock);
    clock_gettime(CLOCK_REALTIME, &nowReal);
    long long left = (static_cast<long long>(deadline->tv_sec) - nowClock.tv_sec) * 1000000000LL +
                     (deadline->tv_nsec - nowClock.tv_nsec);
    if (left < 0) left = 0;
    long long at = static_cast<long long>(nowReal.tv_sec) * 1000000000LL + nowReal.tv_nsec + left;
    timespec real{};
    real.tv_sec = static_cast<time_t>(at / 1000000000LL);
    real.tv_nsec = static_cast<long>(at % 1000000000LL);
    return pthread_mutex_timedlock(mutex, &real);
}
