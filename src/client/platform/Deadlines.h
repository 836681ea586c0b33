#pragma once
// Work that is stopped when its time is up. A thread that waits anyway (the dialog's
// message loop) can host the watch and stop what is due on its ticks; work watched
// while no host is there, or still watched when the host leaves, gets a timer of its
// own. A timer costs a thread (about 1 MiB under Wine): a silent check, whose one
// exchange runs while the dialog's loop waits, pays for none.
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace plat {

class Deadlines {
public:
    using Stop = std::function<void()>;
    // How a deadline is kept without a host. Arm: a one-shot timer that calls `stop`
    // after `ms`; its token, 0 when none could be made. Disarm: removes the timer,
    // waiting for a call of `stop` under way.
    class Timers {
    public:
        virtual ~Timers() = default;
        virtual uint64_t Arm(uint32_t ms, Stop stop) = 0;
        virtual void Disarm(uint64_t timer) = 0;
    };

    explicit Deadlines(Timers& timers) : mTimers(timers) {}

    // `stop` runs at most once, on the host's thread or a timer's, never after Unwatch
    // has returned. The token is for Unwatch.
    uint64_t Watch(uint32_t ms, Stop stop);
    void Unwatch(uint64_t token);

    // The host's side. `wake` asks it for an early Tick (a new deadline may come first);
    // it must not block.
    void Host(std::function<void()> wake);
    // Stops what is due; the time to the next deadline, 0 when nothing is watched here.
    uint32_t Tick();
    // What the host still watched gets timers for the time it has left.
    void Leave();

private:
    struct Entry {
        uint64_t token;
        uint64_t due;
        Stop stop;
        uint64_t timer;  // 0 while the host watches it
    };

    Timers& mTimers;
    std::mutex mLock;
    std::vector<Entry> mEntries;
    std::function<void()> mWake;  // empty while no host is there
    uint64_t mLastToken = 0;
};

}  // namespace plat
