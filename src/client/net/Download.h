#pragma once
// File downloads (the worker, the ad viewer, banner pictures) and the progress
// sink the worker download reports through.
#include <atomic>
#include <cstdint>
#include <string>

#include "platform/Internet.h"

namespace brut {

// Where download progress goes (the dialog's progress bar); called from the
// downloading thread with bytes done and total as the platform reports them.
class ProgressTarget {
public:
    virtual ~ProgressTarget() = default;
    virtual void SetProgress(uint32_t done, uint32_t total) = 0;
};
// done x 100 / total, truncated; 0 when either is 0; at most 100.
int ProgressPercent(uint32_t done, uint32_t total);

extern const char16_t* const kWorkerFile;    // "BRUptideWorker.exe"
extern const char16_t* const kAdViewerFile;  // "BRAdViewer.exe"

// DownloadWorker results.
constexpr int kWorkerDownloaded = 0;
constexpr int kWorkerNotDeleted = 12;
constexpr int kWorkerNotDownloaded = 13;

// A download that receives no byte for this long is given up.
constexpr uint64_t kDownloadStallMs = 120000;
// And one that has not finished after this long: a server that drips its file must
// not keep a silent run alive.
constexpr uint64_t kDownloadLimitMs = 30u * 60u * 1000u;
// Larger files are refused while they arrive: nothing this client fetches comes near it.
constexpr uint32_t kDownloadMaxBytes = 256u * 1024 * 1024;

// Passes the byte counts of a running download to the dialog's progress target.
class DownloadCallback : public plat::DownloadProgress {
public:
    explicit DownloadCallback(ProgressTarget* target = nullptr) : mTarget(target) {}
    // The byte counts of statuses 4 to 6 (begin, downloading, end data) go to the
    // target; always goes on.
    int32_t OnProgress(uint32_t progress, uint32_t progressMax, uint32_t statusCode,
                       const std::u16string& statusText) override;

    ProgressTarget* mTarget;
};

// What a download is for. A program is run after it arrives: it never comes over
// plain http when https was asked for, neither by a retry nor by a redirect.
enum class DownloadKind { File, Program };

// Watches one download: gives it up after kDownloadStallMs without a new byte,
// after kDownloadLimitMs in all, past kDownloadMaxBytes, or (for a program) on a redirect from https to http;
// passes progress on to `inner`.
class DownloadGuard : public plat::DownloadProgress {
public:
    DownloadGuard(const std::u16string& url, DownloadKind kind, plat::DownloadProgress* inner);
    int32_t OnProgress(uint32_t progress, uint32_t progressMax, uint32_t statusCode,
                       const std::u16string& statusText) override;
    bool ShouldGiveUp() override;

    enum class Stop { None, Stalled, TooLong, TooLarge, InsecureRedirect };
    Stop Reason() const { return mStop.load(); }

private:
    bool mFromHttps;
    DownloadKind mKind;
    plat::DownloadProgress* mInner;
    uint64_t mStart;
    std::atomic<uint64_t> mLastActivity;
    std::atomic<uint32_t> mBytes{0};
    std::atomic<Stop> mStop{Stop::None};
};

// Downloads `url` into `directory` (ending with "\") + `fileName`: 1 downloaded, 0 not.
int DownloadFile(const std::u16string& url, const std::u16string& directory, const std::u16string& fileName,
                 bool verbose, plat::DownloadProgress* progress = nullptr, DownloadKind kind = DownloadKind::File);
// The ad viewer into the hand-off's working directory `directory` (ending with "\");
// problems are warnings. The directory is the one the worker is started from: its
// name may carry the current second, so it is computed once per hand-off.
void DownloadAdViewer(const std::u16string& url, const std::u16string& directory);
// The worker into `directory`: 0, 12 (old file not deleted), 13 (not downloaded).
int DownloadWorker(const std::u16string& url, const std::u16string& directory,
                   plat::DownloadProgress* progress = nullptr);

}  // namespace brut
