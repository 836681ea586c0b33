#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "fakes/FakePlatform.h"
#include "platform/Deadlines.h"

using plat::Deadlines;

namespace {

struct FakeTimers : Deadlines::Timers {
    uint64_t Arm(uint32_t ms, Deadlines::Stop stop) override {
        if (refuse) return 0;
        armed.push_back({ms, std::move(stop)});
        return armed.size();
    }
    void Disarm(uint64_t timer) override { disarmed.push_back(timer); }
    void Fire(uint64_t timer) { armed[timer - 1].stop(); }

    struct Armed {
        uint32_t ms;
        Deadlines::Stop stop;
    };
    std::vector<Armed> armed;
    std::vector<uint64_t> disarmed;
    bool refuse = false;
};

struct Watched {
    Watched() { now = 1000; }
    fake::FakePlatform fp;
    uint64_t& now = fp.processes.tick;
    FakeTimers timers;
    Deadlines deadlines{timers};
    int wakes = 0;
    std::vector<int> stopped;

    uint64_t Watch(uint32_t ms, int id) {
        return deadlines.Watch(ms, [this, id] { stopped.push_back(id); });
    }
    void Host() { deadlines.Host([this] { ++wakes; }); }
};

TEST(Deadlines, WithoutAHostEachDeadlineHasATimer) {
    Watched w;
    const uint64_t a = w.Watch(300000, 1);
    w.Watch(5000, 2);
    ASSERT_EQ(w.timers.armed.size(), 2u);
    EXPECT_EQ(w.timers.armed[0].ms, 300000u);
    w.timers.Fire(2);
    EXPECT_EQ(w.stopped, std::vector<int>{2});
    w.deadlines.Unwatch(a);
    EXPECT_EQ(w.timers.disarmed, std::vector<uint64_t>{1});
    w.deadlines.Unwatch(a);  // twice is harmless
    w.timers.refuse = true;  // no timer to be had: unwatched, nothing left behind
    w.deadlines.Unwatch(w.Watch(10, 3));
    EXPECT_EQ(w.timers.disarmed.size(), 1u);
}

TEST(Deadlines, AHostStopsWhatIsDueOnItsTicksAndNeedsNoTimer) {
    Watched w;
    w.Host();
    w.Watch(300, 1);
    const uint64_t b = w.Watch(100, 2);
    w.Watch(200, 3);
    EXPECT_TRUE(w.timers.armed.empty());
    EXPECT_EQ(w.wakes, 3) << "a new deadline may come first: the host looks again";
    w.deadlines.Unwatch(b);
    EXPECT_EQ(w.deadlines.Tick(), 200u) << "the nearest deadline still watched";
    w.now += 199;
    EXPECT_EQ(w.deadlines.Tick(), 1u);
    EXPECT_TRUE(w.stopped.empty());
    w.now += 1;
    EXPECT_EQ(w.deadlines.Tick(), 100u);
    EXPECT_EQ(w.stopped, std::vector<int>{3});
    w.now += 500;
    EXPECT_EQ(w.deadlines.Tick(), 0u) << "nothing left to watch";
    EXPECT_EQ(w.deadlines.Tick(), 0u);
    EXPECT_EQ(w.stopped, (std::vector<int>{3, 1})) << "each stopped once";
}

TEST(Deadlines, WhenTheHostLeavesWhatItWatchedGetsTimersForTheTimeLeft) {
    Watched w;
    w.Host();
    const uint64_t a = w.Watch(1000, 1);
    w.Watch(50, 2);
    w.now += 400;
    w.deadlines.Leave();
    ASSERT_EQ(w.timers.armed.size(), 2u);
    EXPECT_EQ(w.timers.armed[0].ms, 600u);
    EXPECT_EQ(w.timers.armed[1].ms, 1u) << "overdue: at once";
    EXPECT_EQ(w.deadlines.Tick(), 0u) << "a timer's deadline is not the host's";
    EXPECT_TRUE(w.stopped.empty());
    w.Watch(10, 3);
    EXPECT_EQ(w.timers.armed.size(), 3u) << "after the host left, a new deadline gets a timer";
    w.deadlines.Unwatch(a);
    EXPECT_EQ(w.timers.disarmed, std::vector<uint64_t>{1});
}

// The request behind a deadline is gone once Unwatch returns: a stop under way
// on the host's thread must be over by then.
TEST(Deadlines, UnwatchWaitsForAStopUnderWay) {
    fake::FakePlatform fp;
    FakeTimers timers;
    Deadlines deadlines(timers);
    deadlines.Host([] {});
    std::atomic<bool> inStop{false}, release{false}, stopEnded{false}, unwatched{false};
    const uint64_t token = deadlines.Watch(10, [&] {
        inStop = true;
        while (!release) std::this_thread::yield();
        stopEnded = true;
    });
    fp.processes.tick += 10;
    std::thread host([&] { deadlines.Tick(); });
    while (!inStop) std::this_thread::yield();
    std::thread owner([&] {
        deadlines.Unwatch(token);
        EXPECT_TRUE(stopEnded.load());
        unwatched = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(unwatched.load());
    release = true;
    host.join();
    owner.join();
    EXPECT_TRUE(unwatched.load());
}

}  // namespace
