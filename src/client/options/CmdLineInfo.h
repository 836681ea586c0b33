#pragma once
// The run's options: the parsed command line, which the check, the hand-off and the
// dialog read. Start-up's parser (app/CommandLine) fills it.
#include <cstdint>
#include <string>
#include <vector>

#include "product/ProgramInfo.h"

namespace brut {

enum class PendingOption {
    None, DisplayName, ProgramName, ProgramVersion, InstallDate, Language, InstalledLocation,
    UpdateIntervalInHours, FileList, WindowRec, WindowCaption, AffiliateId
};

class CmdLineInfo {
public:
    virtual ~CmdLineInfo() = default;
    virtual void ParseParam(const std::u16string& token);

    int32_t mIsRestartAfterSelfUpdate = 0;
    int32_t mIsUpdateFromVersionV1 = 0;
    int32_t mIsWriteCheckResultToReg = 0;
    int32_t mIsUpdateCheckSilent = 0;
    int32_t mIsUpdateSilent = 0;
    int32_t mIsQuickCheck = 0;
    int32_t mIsHideUpdateCheckResult = 0;
    int32_t mIsOnlyDownload = 0;
    int32_t mUpdateIntervalInHours = 0;
    std::u16string mWindowRec;
    std::u16string mWindowCaption;
    PendingOption mPendingOption = PendingOption::None;
    ProgramInfo mProgramInfo;
    std::u16string mForwardedParams;

    // Counts tokens that reached the parser; -1 before the first.
    int32_t mParamCount = -1;

private:
    bool mHaveOwnPath = false;
    std::u16string mOwnPath;
};

}  // namespace brut
