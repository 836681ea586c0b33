#pragma once
// One lock per fake: when a test runs the client's threads for real (reports, the check,
// the hand-off, the banner), they reach the same fake at once, as they reach the one
// system. A copied or reassigned fake starts with a lock of its own.
#include <mutex>

namespace fake {

class FakeLock {
public:
    FakeLock() = default;
    FakeLock(const FakeLock&) {}
    FakeLock& operator=(const FakeLock&) { return *this; }
    std::recursive_mutex& Get() const { return mMutex; }

private:
    mutable std::recursive_mutex mMutex;
};

}  // namespace fake
