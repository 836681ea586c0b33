// Start-up and shut-down: the whole run happens inside InitInstance.
#include "app/BRUptide.h"

#include <memory>

#include "app/CommandLine.h"
#include "log/Log.h"
#include "product/ProgramInfo.h"
#include "system/Directories.h"
#include "system/Settings.h"
#include "ui/EndCodes.h"
#include "update/QuickCheck.h"
#include "update/StatusReports.h"
#include "platform/Platform.h"
#include "Version.h"

namespace brut {

namespace {

DialogRunner* gDialogRunner = nullptr;
plat::ThreadRoutine gBannerRoutine = nullptr;

void DebugBox(const char16_t* text) { plat::Sys().ShowMessageBox(text, u"Debug", plat::kMbOk); }

}  // namespace

BRUptide::BRUptide() { InstallLogFolder(&LogDirectory); }

void InstallDialogRunner(DialogRunner* runner) { gDialogRunner = runner; }
void InstallBannerRoutine(plat::ThreadRoutine routine) { gBannerRoutine = routine; }

bool BRUptide::InitInstance() {
    if (ReadDebugFlag() != 0) DebugBox(u"BRUptide start");

    // On the heap: a thread the dialog started may outlive the dialog (see below).
    auto cmdLine = std::make_unique<CmdLineInfo>();
    ParseCommandLine(*cmdLine);

    ProgramInfo record = cmdLine->mProgramInfo;
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

    auto checker = std::make_unique<QuickCheck>();
    LogInfo(u"StartParameter: %s", plat::Sys().CommandLine());
    checker->mCmdLineInfo = cmdLine.get();

    // The banner is fetched in the background and never waited for.
    intptr_t bannerThread = -1;
    if (!cmdLine->mIsUpdateSilent && gBannerRoutine) {
        bannerThread = plat::Sys().StartThread(gBannerRoutine, nullptr);
    }

    // The dialog's end code is the exit code; without a dialog the modal run yields -1.
    mExitCode = gDialogRunner ? gDialogRunner->RunModal(*cmdLine, *checker, bannerThread) : kEndNoDialog;
    // The dialog kept the handle while it ran; the thread itself is never waited for.
    plat::Sys().CloseThread(bannerThread);
    LogInfo(u"ExitCode %d", mExitCode);
    // A check or hand-off still running (the user closed the dialog meanwhile) keeps
    // using the checker and the command line: they are left to the process end.
    if (gDialogRunner && gDialogRunner->ThreadStillRunning()) {
        static_cast<void>(cmdLine.release());
        static_cast<void>(checker.release());
    }
    return false;
}

int BRUptide::ExitInstance() {
    if (ReadDebugFlag() != 0) DebugBox(u"BRUptide end");
    // A silent run ends right after starting its reports: give them a moment.
    WaitForReports(kReportGraceMs);
    return mExitCode;
}

}  // namespace brut
