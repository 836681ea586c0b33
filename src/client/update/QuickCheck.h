#pragma once
// The update checker: interval gate, request, exchange with the service and
// the decision condensed into one `UpdateResult` code.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "product/ProgramInfo.h"
#include "update/UpdaterBase.h"
#include "update/WorkerTrust.h"

namespace brut {

// Statuses of ExtractReplyText and LoadAndReadResponseXML.
constexpr int kReplyRead = 0;
constexpr int kReplyNoText = 1;
constexpr int kReplyNotWellFormed = 10;
constexpr int kReplyNoRoot = 11;
constexpr int kReplyRejected = 13;  // beyond a bound of the reply guard

class QuickCheck : public UpdaterBase {
public:
    ResultPair CheckForUpdate() override;
    // Downloads and starts the worker, then ends the process with the worker's
    // exit code (0 when not waited for); returns {14, 0} when the worker did not start.
    ResultPair StartWorker(DownloadCallback* progress) override;

    // True when a check is due.
    bool IntervalGate();
    // Writes the envelope root's text into `text`, cut to `bufferSize` - 1 bytes.
    // On any failure `text` is left empty.
    int ExtractReplyText(const std::u16string& reply, std::string& text, std::size_t bufferSize);
    // Reads the inner reply (single-byte text) into the reply record and the URLs.
    int LoadAndReadResponseXML(const std::string& text);
    // The decision on a read reply without server error.
    int32_t Decide();
    // Stores the localized result sentence for the codes that have one.
    void StoreResultText(int32_t code);

    // The product record the check describes: the shared one unless set.
    ProgramInfoPtr Program() const { return mProgramInfo ? mProgramInfo : GetProgramInfo(); }
    void SetProgramInfo(ProgramInfoPtr info) { mProgramInfo = std::move(info); }

    // True when the service answered only over the http retry, without SSL: the
    // download addresses of such a reply must not be trusted.
    bool AnsweredOverHttpRetry() const { return mIsAnsweredOverHttpRetry; }

    // Who may sign the worker besides the client's own signer.
    std::vector<std::u16string> mTrustedSigners = BuildSigners();

    std::u16string mWorkerUrl;    // UptideWorkerUrl
    std::u16string mAdViewerUrl;  // AdViewerUrl

private:
    ProgramInfoPtr mProgramInfo;
    bool mIsAnsweredOverHttpRetry = false;
};

}  // namespace brut
