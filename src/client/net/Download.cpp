#include "net/Download.h"

#include "log/Log.h"
#include "system/Directories.h"
#include "system/SystemFacts.h"
#include "util/Text.h"
#include "platform/Platform.h"

namespace brut {

const char16_t* const kWorkerFile = u"BRUptideWorker.exe";
const char16_t* const kAdViewerFile = u"BRAdViewer.exe";

int ProgressPercent(uint32_t done, uint32_t total) {
    if (done == 0 || total == 0) return 0;
    // 64 bits: done x 100 overflows 32. A count past the total still shows a full bar.
    const uint64_t percent = static_cast<uint64_t>(done) * 100u / total;
    return percent > 100 ? 100 : static_cast<int>(percent);
}

namespace {

bool Failed(int32_t hr) { return hr < 0; }

bool IsHttps(const std::u16string& url) { return StartsWith(ToLowerAscii(url.substr(0, 8)), u"https://"); }

// Deletes an old copy: 0 when none is left, else the error code.
uint32_t RemoveOld(const std::u16string& path) {
    uint32_t err = plat::Fs().RemoveFile(path);
    return err == plat::kErrFileNotFound || err == plat::kErrPathNotFound ? 0 : err;
}

void LogStop(DownloadGuard::Stop stop, const std::u16string& url) {
    switch (stop) {
        case DownloadGuard::Stop::Stalled:
            LogWarning(u"Download from '%s' given up: no data for %d s", url, static_cast<int>(kDownloadStallMs / 1000));
            break;
        case DownloadGuard::Stop::TooLong:
            LogWarning(u"Download from '%s' given up: not finished after %d s", url,
                       static_cast<int>(kDownloadLimitMs / 1000));
            break;
        case DownloadGuard::Stop::TooLarge:
            LogWarning(u"Download from '%s' given up: larger than %u bytes", url, kDownloadMaxBytes);
            break;
        case DownloadGuard::Stop::InsecureRedirect:
            LogWarning(u"Download from '%s' given up: redirected from https to plain http", url);
            break;
        case DownloadGuard::Stop::None: break;
    }
}

}  // namespace

int32_t DownloadCallback::OnProgress(uint32_t progress, uint32_t progressMax, uint32_t statusCode,
                                     const std::u16string&) {
    // Begin and end carry the counts too: some urlmon builds (Wine's) report a small
    // file with those two alone.
    const bool counts = statusCode == plat::kBindStatusBeginDownloadData ||
                        statusCode == plat::kBindStatusDownloadingData || statusCode == plat::kBindStatusEndDownloadData;
    if (counts && mTarget) mTarget->SetProgress(progress, progressMax);
    return plat::kSOk;
}

DownloadGuard::DownloadGuard(const std::u16string& url, DownloadKind kind, plat::DownloadProgress* inner)
    : mFromHttps(IsHttps(url)), mKind(kind), mInner(inner), mStart(plat::Proc().TickCount()),
      mLastActivity(mStart) {}

int32_t DownloadGuard::OnProgress(uint32_t progress, uint32_t progressMax, uint32_t statusCode,
                                  const std::u16string& statusText) {
    if (progress > mBytes.load()) {
        mBytes.store(progress);
        mLastActivity.store(plat::Proc().TickCount());
    }
    if (progress > kDownloadMaxBytes) {
        mStop.store(Stop::TooLarge);
        return plat::kEAbort;
    }
    if (statusCode == plat::kBindStatusRedirecting && mKind == DownloadKind::Program && mFromHttps &&
        !IsHttps(statusText)) {
        mStop.store(Stop::InsecureRedirect);
        return plat::kEAbort;
    }
    return mInner ? mInner->OnProgress(progress, progressMax, statusCode, statusText) : plat::kSOk;
}

bool DownloadGuard::ShouldGiveUp() {
    const uint64_t now = plat::Proc().TickCount();
    if (now - mStart >= kDownloadLimitMs) {
        mStop.store(Stop::TooLong);
        return true;
    }
    if (now - mLastActivity.load() < kDownloadStallMs) return false;
    mStop.store(Stop::Stalled);
    return true;
}

int DownloadFile(const std::u16string& url, const std::u16string& directory, const std::u16string& fileName,
                 bool verbose, plat::DownloadProgress* progress, DownloadKind kind) {
    const std::u16string target = directory + fileName;
    if (!CreateDirectoryPath(directory, true)) {
        if (verbose) LogError(u"can not create directory %s because: \"%s\"", directory, GetLastErrorText());
        return 0;
    }
    plat::Internet* internet = plat::Get().internet;
    if (!internet || Failed(internet->CoInitialize())) return 0;
    internet->DropUrlCacheEntry(url);
    LogInfo(u"Downloading from: '%s' - to: %s", url, target);

    std::u16string tried = url;
    DownloadGuard guard(tried, kind, progress);
    int32_t hr = internet->DownloadToFile(tried, target, &guard);
    if (Failed(hr) && verbose) LogStop(guard.Reason(), tried);
    if (Failed(hr) && tried.find(u"https://") != std::u16string::npos) {
        if (kind == DownloadKind::Program) {
            // A program fetched over plain http could be anyone's.
            LogWarning(u"Download from '%s' failed: a program is not downloaded again without SSL", tried);
        } else {
            tried = ReplaceAll(tried, u"https://", u"http://");
            if (verbose) LogInfo(u"Try to connect without SSL: %s", tried);
            DownloadGuard retryGuard(tried, kind, progress);
            hr = internet->DownloadToFile(tried, target, &retryGuard);
            if (Failed(hr) && verbose) LogStop(retryGuard.Reason(), tried);
        }
    }
    internet->CoUninitialize();
    if (!Failed(hr)) return 1;
    if (verbose) LogError(u"Download from '%s' failed with Code: %d", tried, hr);
    return 0;
}

void DownloadAdViewer(const std::u16string& url, const std::u16string& directory) {
    const std::u16string target = directory + kAdViewerFile;
    if (RemoveOld(target) != 0) LogWarning(u"Can´t delete %s", target);
    if (!DownloadFile(url, directory, kAdViewerFile, true, nullptr, DownloadKind::Program))
        LogWarning(u"Can´t download %s -> %s", url, target);
}

int DownloadWorker(const std::u16string& url, const std::u16string& directory, plat::DownloadProgress* progress) {
    const std::u16string target = directory + kWorkerFile;
    if (RemoveOld(target) != 0) {
        LogError(u"Can´t delete %s", target);
        return kWorkerNotDeleted;
    }
    if (!DownloadFile(url, directory, kWorkerFile, true, progress, DownloadKind::Program)) {
        LogError(u"Can´t download %s -> %s", url, target);
        return kWorkerNotDownloaded;
    }
    return kWorkerDownloaded;
}

}  // namespace brut
