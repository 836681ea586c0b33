#include "platform/Deadlines.h"

#include <algorithm>

#include "platform/Platform.h"

namespace plat {

namespace {

uint32_t Remaining(uint64_t due, uint64_t now) {
    if (due <= now) return 1;  // at once, but a timer of 0 ms means "none" to some systems
    return static_cast<uint32_t>(std::min<uint64_t>(due - now, UINT32_MAX));
}

}  // namespace

uint64_t Deadlines::Watch(uint32_t ms, Stop stop) {
    std::function<void()> wake;
    uint64_t token;
    {
        std::lock_guard<std::mutex> guard(mLock);
        token = ++mLastToken;
        Entry entry{token, Proc().TickCount() + ms, std::move(stop), 0};
        if (mWake) {
            wake = mWake;
        } else {
            entry.timer = mTimers.Arm(ms, entry.stop);
            if (entry.timer == 0) return token;  // unwatched, as a system out of timers leaves it
        }
        mEntries.push_back(std::move(entry));
    }
    if (wake) wake();
    return token;
}

void Deadlines::Unwatch(uint64_t token) {
    uint64_t timer = 0;
    {
        std::lock_guard<std::mutex> guard(mLock);
        auto it = std::find_if(mEntries.begin(), mEntries.end(), [&](const Entry& e) { return e.token == token; });
        if (it == mEntries.end()) return;
        timer = it->timer;
        mEntries.erase(it);
    }
    // Outside the lock: the timer's call of `stop` may be under way and is waited for.
    if (timer != 0) mTimers.Disarm(timer);
}

void Deadlines::Host(std::function<void()> wake) {
    std::lock_guard<std::mutex> guard(mLock);
    mWake = std::move(wake);
}

uint32_t Deadlines::Tick() {
    // Under the lock, so that Unwatch waits for a stop under way: after it the watched
    // work may be gone.
    std::lock_guard<std::mutex> guard(mLock);
    const uint64_t now = Proc().TickCount();
    uint32_t next = 0;
    for (auto it = mEntries.begin(); it != mEntries.end();) {
        if (it->timer != 0) {
            ++it;
        } else if (it->due <= now) {
            it->stop();
            it = mEntries.erase(it);
        } else {
            const uint32_t left = Remaining(it->due, now);
            next = next == 0 ? left : std::min(next, left);
            ++it;
        }
    }
    return next;
}

void Deadlines::Leave() {
    std::lock_guard<std::mutex> guard(mLock);
    mWake = nullptr;
    const uint64_t now = Proc().TickCount();
    for (Entry& e : mEntries)
        if (e.timer == 0) e.timer = mTimers.Arm(Remaining(e.due, now), e.stop);
}

}  // namespace plat
