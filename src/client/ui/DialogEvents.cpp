// What the dialog does on its events: the start, the poll timer and its worker threads,
// the buttons, the close box and the stub restart.
#include "ui/Dialog.h"

#include "log/Log.h"
#include "options/CmdLineInfo.h"
#include "platform/Platform.h"
#include "system/Settings.h"
#include "text/Texts.h"
#include "ui/DialogCodes.h"
#include "ui/DisplayScale.h"
#include "ui/EndCodes.h"
#include "update/UpdaterBase.h"
#include "util/Text.h"

namespace brut {

// --------------------------------------------------------------- start and timer

int Dialog::OnInitDialog() {
    const ProgramInfo& info = Program();
    mView.SetTitle(Title());
    mHeaderTitle = info.EditionDisplayName;
    mView.SetHeader(mHeaderTitle, HeaderVersionLine(info.ProgramVersionNumber, info.IsStubExe != 0));
    mView.SetText(LBL_MESSAGE_TEXT, Text(TXT_CONNECTING));
    mView.SetText(LBL_SERVER_VERSION_TEXT, Text(TXT_AVAILABLE_VERSION_LABEL));
    mView.SetText(LBL_SERVER_VERSION, u"");
    mView.SetText(UPDATE_NOW_BUTTON, Text(TXT_INSTALL));
    mView.SetText(CLOSE_BUTTON, Text(TXT_NOT_NOW));
    mView.SetText(linkMajorUpgradePopup, Text(TXT_MORE_UPGRADE_INFO));
    mView.SetText(radInstallNowMajorUpgradePopup, Text(TXT_INSTALL_AND_REPLACE));
    mView.SetText(radRemindMeLaterMajorUpgradePopup, Text(TXT_REMIND_LATER));
    mView.SetText(radDontShowAgainMajorUpgradePopup, Text(TXT_DONT_SHOW_NOTICE));
    mView.SetText(CONTINUE_BUTTON, Text(TXT_CONTINUE));

    int32_t x = 0, y = 0;
    if (!mCmdLineInfo->mWindowRec.empty() && ParseWindowRec(mCmdLineInfo->mWindowRec, x, y)) {
        // Written by programs that may not be DPI-aware: in the coordinates they see.
        const int32_t dpi = Usable(mView.SystemDpi(), u"system scale");
        mView.MoveTo(ToPhysical(x, dpi), ToPhysical(y, dpi));
    }

    DialogVisible.store(mCmdLineInfo->mIsUpdateCheckSilent || mCmdLineInfo->mIsUpdateSilent ? 0 : 1);
    if (DialogVisible.load() == 1) BuildForShowing();
    SetDialogState(CHECK_SERVER);

    // The hand-off hides this window and passes its position on.
    if (mQuickCheck) mQuickCheck->mHandOffWindow = this;
    mWorkThread = -1;
    StartWorkThread(&Dialog::CheckThread, kPollCheckMs, u"Can\u00b4t create update thread");
    EndIfNobodyCanAnswer();
    return 1;
}

void Dialog::StartWorkThread(plat::ThreadRoutine routine, uint32_t pollMs, const char16_t* failure) {
    // One worker thread at a time: a second hand-off never starts beside the first.
    if (mWorkThread != -1) return;
    mIsWorkDone.store(false);
    plat::ThreadHandle thread = plat::Sys().StartThread(routine, mQuickCheck);
    if (!thread) {
        LogError(failure);
        return;
    }
    mWorkThread = thread;
    mTimerId = mView.StartTimer(kPollTimerId, pollMs);
}

void Dialog::OnTimer(uint32_t) {
    if (mEnded || mWorkThread == -1) return;
    // A wait that fails counts as the thread having ended.
    if (!mIsWorkDone.load() && plat::Sys().WaitThread(mWorkThread, 0) == plat::kWaitTimeout) return;
    mView.StopTimer(mTimerId);
    // The flag comes before the thread's last touch of this dialog (WorkDone's wake): the
    // result may end the dialog, and its deletion must not come between the two.
    if (plat::Sys().WaitThread(mWorkThread, kThreadReturnMs) == plat::kWaitTimeout) {
        LogWarning(u"Dialog::OnTimer: the work thread has not returned after %d ms", static_cast<int>(kThreadReturnMs));
        mReturningThread = mWorkThread;
    } else {
        plat::Sys().CloseThread(mWorkThread);
    }
    mWorkThread = -1;
    ProcessWorkResult();
    EndIfNobodyCanAnswer();
}

bool Dialog::MayBeDeleted() const {
    if (mWorkThread != -1) return false;
    return mReturningThread == -1 || plat::Sys().WaitThread(mReturningThread, 0) != plat::kWaitTimeout;
}

void Dialog::StoreResult(const ResultPair& result) {
    mUpdateResult = result.mUpdateResult;
    mUpdateId = result.mUpdateId;
}

void Dialog::WorkDone() {
    // The result was stored before: whoever sees the flag sees the result.
    mIsWorkDone.store(true);
    mView.WakeTimer(kPollTimerId);
}

uint32_t Dialog::CheckThread(void* quickCheck) {
    auto* checker = static_cast<UpdaterBase*>(quickCheck);
    if (!TheDialog.load() || !checker) return 0;
    ResultPair result = checker->CheckForUpdate();
    if (Dialog* dialog = TheDialog.load()) {
        dialog->StoreResult(result);
        dialog->WorkDone();
    }
    return 0;
}

uint32_t Dialog::HandOffThread(void* quickCheck) {
    auto* checker = static_cast<UpdaterBase*>(quickCheck);
    Dialog* owner = TheDialog.load();
    if (!owner || !checker) return 0;
    // The worker download's byte counts move the progress bar.
    DownloadCallback progress(owner);
    ResultPair result = checker->StartWorker(&progress);
    if (Dialog* dialog = TheDialog.load()) {
        dialog->StoreResult(result);
        dialog->WorkDone();
    }
    return 0;
}

// --------------------------------------------------------------- buttons

void Dialog::OnCommand(int32_t controlId) {
    if (mEnded) return;
    const auto control = static_cast<ControlId>(controlId);
    switch (controlId) {
    case UPDATE_NOW_BUTTON:
    case CLOSE_BUTTON:
    case CONTINUE_BUTTON:
    case radInstallNowMajorUpgradePopup:
    case radRemindMeLaterMajorUpgradePopup:
    case radDontShowAgainMajorUpgradePopup:
        if (!mView.IsShown(control) || !mView.IsEnabled(control)) return;
        break;
    default:
        return;
    }
    switch (controlId) {
    case UPDATE_NOW_BUTTON: OnBtnClickedNowButton(); break;
    case CLOSE_BUTTON: OnBnClickedCloseButton(); break;
    case CONTINUE_BUTTON: OnBnClickedContinueButton(); break;
    default: OnBnClickedUpgradeChoice(); break;
    }
}

void Dialog::OnBtnClickedNowButton() {
    switch (mDialogState) {
    case CHECK_SERVER:
    case UPDATE_IN_PROGRESS:
        mView.PostClose();
        break;
    case PREPARE_UPDATE_CHECK:
        StartWorkThread(&Dialog::HandOffThread, kPollHandOffMs, u"OnBtnClickedNowButton: Can\u00b4t create thread");
        break;
    case UPDATE_AVAILABLE:
        Report(kReportUpdateStarted, mUpdateId);
        SetDialogState(UPDATE_IN_PROGRESS);
        StartWorkThread(&Dialog::HandOffThread, kPollHandOffMs,
                        u"Dialog::OnBtnClickedNowButton: Can\u00b4t create thread");
        break;
    case UP_TO_DATE:
        End(kEndNothingToDo);
        break;
    case UPDATE_SUCCESSFUL:
        End(kEndUpdateSucceeded);
        break;
    case UPDATE_FAILED:
        End(kEndUpdateFailed);
        break;
    case CONNECTION_FAILED:
    case SERVER_MAINTENANCE:
    case PLEASE_CONTACT_SUPPORT:
        End(kEndErrorOrUser);
        break;
    default:
        SetDialogState(PLEASE_CONTACT_SUPPORT);
        LogError(u"Dialog::OnBtnClickedNowButton: Wrong mUpdateResult! (%d)", mUpdateResult);
        break;
    }
}

void Dialog::OnBnClickedCloseButton() {
    switch (mDialogState) {
    case UPGRADE_OFFER:
        End(kEndUpgradeOffered);
        break;
    case UPDATE_AVAILABLE:
        ClearIgnoredVersion(Program());
        mView.PostClose();
        break;
    case CHECK_SERVER:
    case PREPARE_UPDATE_CHECK:
    case UPDATE_IN_PROGRESS:
        mView.PostClose();
        break;
    case UP_TO_DATE:
        End(mUpdateResult == kResultUpgradeOnly ? kEndUpgradeOffered : kEndNothingToDo);
        break;
    case UPDATE_SUCCESSFUL:
        End(kEndUpdateSucceeded);
        break;
    case UPDATE_FAILED:
        End(kEndUpdateFailed);
        break;
    case CLIENT_CANNOT_BUILD_REQUEST:
    case CONNECTION_FAILED:
    case SERVER_MAINTENANCE:
    case SERVER_ERROR_OCCURRED:
    case PLEASE_CONTACT_SUPPORT:
        End(kEndErrorOrUser);
        break;
    default:
        LogError(u"Dialog::OnBnClickedCloseButton: Wrong mDialogState! (%d)", mDialogState);
        break;
    }
}

void Dialog::OnClose() {
    if (mEnded) return;
    const int32_t state = mDialogState;
    const bool asks = state == 0 || state == CHECK_SERVER || state == PREPARE_UPDATE_CHECK ||
                      state == UPDATE_AVAILABLE || state == UPDATE_IN_PROGRESS;
    // Nobody sees a hidden dialog's question: the request stands as given.
    if (asks && DialogVisible.load() != 0) {
        const ProgramInfo& info = Program();
        std::u16string caption, text;
        if (info.IsStubExe) {
            caption = Text(TXT_CANCEL_INSTALLATION_TITLE);
            text = Text(TXT_CANCEL_INSTALLATION_QUESTION);
        } else {
            caption = ReplaceProductName(info.ProgramLanguage, Text(TXT_END_TITLE), mCmdLineInfo->mWindowCaption);
            text = ReplaceProductName(info.ProgramLanguage, Text(TXT_END_QUESTION), mCmdLineInfo->mWindowCaption);
        }
        if (mView.AskYesNo(text, caption) != plat::kIdYes) return;
        // The answer may come after a finished thread changed the state or ended the dialog.
        if (mEnded) return;
    }
    if (asks && mDialogState == UPDATE_IN_PROGRESS) {
        mUserEndedUpdate.store(true);
        LogInfo(u"User end Update!");
        Report(kReportUserEnded, mUpdateId);
        plat::Sys().Sleep(1000);
    }
    if (mDialogState == UPDATE_AVAILABLE)
        End(kEndUpdateNotInstalled);
    else if (mDialogState == UPDATE_IN_PROGRESS)
        End(kEndUpdateFailed);
    else
        End(kEndErrorOrUser);
}

void Dialog::OnBnClickedUpgradeChoice() {
    if (mView.IsChecked(radInstallNowMajorUpgradePopup) || mView.IsChecked(radRemindMeLaterMajorUpgradePopup) ||
        mView.IsChecked(radDontShowAgainMajorUpgradePopup)) {
        mView.Enable(CONTINUE_BUTTON, true);
        PickDefaultButton();
    }
}

void Dialog::OnBnClickedContinueButton() {
    const ProgramInfo& info = Program();
    if (mView.IsChecked(radInstallNowMajorUpgradePopup)) {
        mReports->UpgradeOfferStatus(kOfferInstallNow, info, OfferedMajorVersion());
        mIsStubRestarted = RestartAsStub();
        mDialogState = PLEASE_CONTACT_SUPPORT;
        ProcessWorkResult();
    } else if (mView.IsChecked(radDontShowAgainMajorUpgradePopup)) {
        WriteIgnoredMajorVersion(info, OfferedMajorVersion());
        mReports->UpgradeOfferStatus(kOfferDontShowAgain, info, OfferedMajorVersion());
        ProcessWorkResult();
    } else if (mView.IsChecked(radRemindMeLaterMajorUpgradePopup)) {
        mReports->UpgradeOfferStatus(kOfferRemindLater, info, OfferedMajorVersion());
        ProcessWorkResult();
    } else {
        ProcessWorkResult();
    }
}

bool Dialog::RestartAsStub() {
    const ProgramInfo& info = Program();
    const std::u16string path = plat::Sys().ModulePath();
    if (ReadDebugFlag() != 0) plat::Sys().ShowMessageBox(u"BRUptideWorkerStub starting ...", u"Debug", plat::kMbOk);
    const std::u16string commandLine =
        Format(u"-IsStubExe -ProgramName \"%s\" -DisplayName \"%s\" -Language %d -ProgramVersion \"%d.0.0\" -ForceUpdate",
               info.ProgramName, info.DisplayName, info.ProgramLanguage, OfferedMajorVersion());
    int32_t exitCode = 0;
    if (StartProcess(path, commandLine, false, exitCode, false) != 0) {
        DialogVisible.store(1);
        BuildForShowing();
        mView.ShowOnTop();
        return false;
    }
    End(kEndNothingToDo);
    return true;
}

}  // namespace brut
