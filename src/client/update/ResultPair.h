#pragma once
// The numeric outcome of a check or of the worker hand-off.
#include <cstdint>

namespace brut {

// `UpdateResult` codes.
constexpr int32_t kResultNotDue = 0;             // interval not passed, no check made
constexpr int32_t kResultUpToDate = 1;           // no newer version, no major upgrade
constexpr int32_t kResultUpdate = 3;             // newer version offered
constexpr int32_t kResultUpdateAndUpgrade = 4;   // newer version and a major upgrade offered
constexpr int32_t kResultNewWorker = 5;          // the reply names a worker download URL
constexpr int32_t kResultCachedWorker = 6;       // no worker URL, a cached worker exists
constexpr int32_t kResultNoWorker = 7;           // no worker URL, no cached worker
constexpr int32_t kResultServiceUnusable = 9;    // request failed while online, or empty reply
constexpr int32_t kResultOffline = 10;           // request failed, machine offline
constexpr int32_t kResultRequestNotBuilt = 11;   // request document could not be built
constexpr int32_t kResultServerError = 12;       // reply carried a server error message
constexpr int32_t kResultHandOffReturned = 14;   // the worker hand-off returned
constexpr int32_t kResultUpgradeOnly = 16;       // no newer version, but a major upgrade offered

struct ResultPair {
    int32_t mUpdateResult = 0;
    int32_t mUpdateId = 0;  // always 0; forwarded into status reports
};

inline bool operator==(const ResultPair& a, const ResultPair& b) {
    return a.mUpdateResult == b.mUpdateResult && a.mUpdateId == b.mUpdateId;
}

}  // namespace brut
