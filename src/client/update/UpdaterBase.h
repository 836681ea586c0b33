#pragma once
// The checker's abstract base: the command line it reads and the values
// taken from the service's reply.
#include <cstdint>
#include <string>

#include "update/ResultPair.h"

namespace brut {

class CmdLineInfo;
class DownloadCallback;
class HandOffWindow;

struct ReplyRecord {
    int32_t mIsServerError = 0;         // the reply carried a non-empty ErrorMessage
    std::u16string mOfferedVersion;     // MaxUpdateableProductVersionExistingOnServer
    int32_t mOfferedMajorVersion = 0;   // MajorUpgradeProductVersion as a decimal integer
};

class UpdaterBase {
public:
    virtual ~UpdaterBase() = default;
    virtual ResultPair CheckForUpdate() = 0;
    virtual ResultPair StartWorker(DownloadCallback* progress) = 0;

    void SetCmdLineInfo(CmdLineInfo* cmdLineInfo) { mCmdLineInfo = cmdLineInfo; }

    CmdLineInfo* mCmdLineInfo = nullptr;  // set by start-up before the check runs
    // The dialog's window as the hand-off sees it; set by the dialog before the
    // hand-off thread starts (none: nothing to hide, no position to pass on).
    HandOffWindow* mHandOffWindow = nullptr;
    ReplyRecord mReply;
};

}  // namespace brut
