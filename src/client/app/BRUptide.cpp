// Start-up and shut-down: the whole run happens inside InitInstance.
#include "app/BRUptide.h"

#include <atomic>

#include "app/CmdLineInfo.h"
#include "log/Log.h"
#include "product/ProgramInfo.h"
#include "system/Settings.h"
#include "update/QuickCheck.h"
#include "update/StatusReports.h"
#include "platform/Platform.h"

namespace brut {

namespace {

constexpr const char16_t* kClientVersion = u"9.0.8";

DialogRunner* gDialogRunner = nullptr;
plat::ThreadRoutine gBannerRoutine = nullptr;

void DebugBox(const char16_t* text) { plat::Sys().ShowMessageBox(text, u"Debug", plat::kMbOk); }

// Until a dialog is installed the run still performs its check, on the check
// thread as the dialog would, and then ends with end code 1.
struct CheckRun {
    UpdaterBase* checker;
    ResultPair result{1, 0};
    std::atomic<bool> done{false};
};
uint32_t CheckThread(void* arg) {
    auto* run = static_cast<CheckRun*>(arg);
    run->result = run->checker->CheckForUpdate();
    run->done.store(true);
    return 0;
}
int RunWithoutDialog(UpdaterBase& checker) {
    CheckRun run{&checker};
    plat::ThreadHandle thread = plat::Sys().StartThread(&CheckThread, &run);
    if (!thread) return 1;
    // The thread uses objects on this stack: never leave before it has ended.
    while (!run.done.load()) {
        if (plat::Sys().WaitThread(thread, 1000) == plat::kWaitFailed) plat::Sys().Sleep(100);
    }
    plat::Sys().WaitThread(thread, 1000);
    plat::Sys().CloseThread(thread);
    LogInfo(u"UpdateResult %d", run.result.mUpdateResult);
    return 1;
}

}  // namespace

void InstallDialogRunner(DialogRunner* runner) { gDialogRunner = runner; }
void InstallBannerRoutine(plat::ThreadRoutine routine) { gBannerRoutine = routine; }

bool BRUptide::InitInstance() {
    if (ReadDebugFlag() != 0) DebugBox(u"BRUptide start");

    CmdLineInfo cmdLine;
    ParseCommandLine(cmdLine);

    ProgramInfo record = cmdLine.mProgramInfo;
    record.EditionDisplayName.clear();
    DiscoverProgramInfo(record);

    const ProgramInfoPtr published = GetProgramInfo();
    const ProgramInfo& info = *published;
    SetupLog(info.ProgramName);
    LogInfo(u"%s(%s) Uptide v%s started", info.ProgramName, info.DisplayName, kClientVersion);
    LogInfo(u"ProgramName: %s", info.ProgramName);
    LogInfo(u"DisplayName: %s", info.DisplayName);
    LogInfo(u"ProgramVersionNumber: %s", info.ProgramVersionNumber);
    LogInfo(u"ProgramInstallDate: %s", info.ProgramInstallDate);
    LogInfo(u"ProgramLanguage: %d", info.ProgramLanguage);
    LogInfo(u"IsStubExe: %d", info.IsStubExe);

    ClearUpdateResult(info);

    QuickCheck checker;
    LogInfo(u"StartParameter: %s", plat::Sys().CommandLine());
    checker.mCmdLineInfo = &cmdLine;

    // The banner is fetched in the background and never waited for.
    intptr_t bannerThread = -1;
    if (!cmdLine.mIsUpdateSilent && gBannerRoutine) {
        bannerThread = plat::Sys().StartThread(gBannerRoutine, nullptr);
    }

    mExitCode = gDialogRunner ? gDialogRunner->RunModal(cmdLine, checker, bannerThread) : RunWithoutDialog(checker);
    // The dialog kept the handle while it ran; the thread itself is never waited for.
    plat::Sys().CloseThread(bannerThread);
    LogInfo(u"ExitCode %d", mExitCode);
    return false;
}

int BRUptide::ExitInstance() {
    if (ReadDebugFlag() != 0) DebugBox(u"BRUptide end");
    // A silent run ends right after starting its reports: give them a moment.
    WaitForReports(kReportGraceMs);
    return mExitCode;
}

}  // namespace brut
