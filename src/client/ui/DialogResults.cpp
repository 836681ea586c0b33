// What a finished check or hand-off leads to: the next state, the reports sent, the
// decisions stored, and the end codes.
#include "ui/Dialog.h"

#include "log/Log.h"
#include "options/CmdLineInfo.h"
#include "platform/Platform.h"
#include "system/Settings.h"
#include "text/Texts.h"
#include "ui/DialogCodes.h"
#include "ui/EndCodes.h"
#include "update/UpdaterBase.h"
#include "util/Text.h"

namespace brut {

// --------------------------------------------------------------- results

void Dialog::Report(int32_t status, int32_t updateId) { mReports->UpdateStatus(status, updateId); }

void Dialog::End(int32_t code) {
    if (mEnded) return;
    mEnded = true;
    mEndCode = code;
    mView.End(code);
}

void Dialog::SilentEnd(int32_t code) {
    if (mCmdLineInfo->mIsUpdateSilent) End(code);
}

void Dialog::QuietEnd(int32_t code) {
    if (mCmdLineInfo->mIsUpdateCheckSilent || mCmdLineInfo->mIsUpdateSilent) End(code);
}

void Dialog::EndIfNobodyCanAnswer() {
    if (mEnded || DialogVisible.load() != 0 || mWorkThread != -1) return;
    int32_t code = kEndErrorOrUser;
    switch (mDialogState) {
    case UPDATE_AVAILABLE: code = kEndUpdateNotInstalled; break;
    case UPGRADE_OFFER: code = kEndUpgradeOffered; break;
    case UP_TO_DATE: code = mUpdateResult == kResultUpgradeOnly ? kEndUpgradeOffered : kEndNothingToDo; break;
    case UPDATE_IN_PROGRESS:
    case UPDATE_FAILED: code = kEndUpdateFailed; break;
    case UPDATE_SUCCESSFUL: code = kEndUpdateSucceeded; break;
    default: break;
    }
    End(code);
}

void Dialog::ProcessWorkResult() {
    switch (mDialogState) {
    case CHECK_SERVER:
        switch (mUpdateResult) {
        case kResultNotDue:
            End(kEndNothingToDo);
            break;
        case kResultUpToDate:
            HandleNoUpdate();
            break;
        case kResultUpdate:
            HandleUpdateAvailable();
            break;
        case kResultUpdateAndUpgrade:
        case kResultUpgradeOnly:
            if (IsSilentQuickCheck()) {
                int32_t code = IsMajorVersionIgnored() ? kEndNothingToDo : kEndUpgradeOffered;
                if (mUpdateResult == kResultUpdateAndUpgrade && !IsVersionIgnored()) code += kEndUpdateNotInstalled;
                End(code);
                break;
            }
            SetDialogState(UPGRADE_OFFER);
            if (mCmdLineInfo->mIsHideUpdateCheckResult || mCmdLineInfo->mIsUpdateSilent) {
                // answered below
            } else if (IsMajorVersionIgnored()) {
                LogInfo(u"ignore Upgrade %d", OfferedMajorVersion());
            } else if (mCmdLineInfo->mIsUpdateFromVersionV1) {
                LogInfo(u"mIsUpdateFromVersionV1 == TRUE");
            } else {
                break;  // the user answers
            }
            mView.SetCheck(radRemindMeLaterMajorUpgradePopup, true);
            OnBnClickedContinueButton();
            break;
        case kResultNewWorker:
        case kResultCachedWorker:
            SetDialogState(PREPARE_UPDATE_CHECK);
            OnBtnClickedNowButton();
            break;
        case kResultNoWorker:
        case kResultServerError:
            SetDialogState(SERVER_ERROR_OCCURRED);
            Report(kReportServerError, mUpdateId);
            QuietEnd(kEndErrorOrUser);
            break;
        case kResultServiceUnusable:
            SetDialogState(SERVER_MAINTENANCE);
            Report(kReportServiceUnusable, 0);
            QuietEnd(kEndErrorOrUser);
            break;
        case kResultOffline:
            SetDialogState(CONNECTION_FAILED);
            Report(kReportOffline, mUpdateId);
            QuietEnd(kEndErrorOrUser);
            break;
        case kResultRequestNotBuilt:
            SetDialogState(CLIENT_CANNOT_BUILD_REQUEST);
            Report(kReportRequestNotBuilt, mUpdateId);
            QuietEnd(kEndErrorOrUser);
            break;
        default:
            SetDialogState(PLEASE_CONTACT_SUPPORT);
            LogError(u"Dialog::OnTimer::CHECK_SERVER: Wrong mUpdateResult! (%d)", mUpdateResult);
            Report(kReportUnexpected, mUpdateId);
            SilentEnd(kEndErrorOrUser);
            break;
        }
        break;
    case PREPARE_UPDATE_CHECK:
        // The hand-off came back: the worker did not take over.
        SetDialogState(PLEASE_CONTACT_SUPPORT);
        LogInfo(u"Dialog::OnTimer: PLEASE_CONTACT_SUPPORT");
        SilentEnd(kEndErrorOrUser);
        break;
    case UPGRADE_OFFER:
        if (mUpdateResult == kResultUpdateAndUpgrade) {
            HandleUpdateAvailable();
        } else if (mUpdateResult == kResultUpgradeOnly) {
            HandleNoUpdate();
        } else {
            SetDialogState(PLEASE_CONTACT_SUPPORT);
            LogError(u"Dialog::OnTimer::CHECK_SERVER: Wrong mUpdateResult! (%d)", mUpdateResult);
            Report(kReportUnexpected, mUpdateId);
            SilentEnd(kEndUnexpectedInOffer);
        }
        break;
    case UPDATE_IN_PROGRESS:
        if (mUpdateResult == kResultHandOffReturned) {
            SetDialogState(UPDATE_FAILED);
            Report(kReportHandOffFailed, mUpdateId);
        } else {
            SetDialogState(PLEASE_CONTACT_SUPPORT);
            LogError(u"Dialog::OnTimer::case UPDATE_IN_PROGRESS Wrong mUpdateResult! (%d)", mUpdateResult);
            Report(kReportUnexpected, mUpdateId);
        }
        SilentEnd(kEndUpdateFailed);
        break;
    case PLEASE_CONTACT_SUPPORT:
        // After the stub restart; a restart that failed is not reported as handed over.
        if (mIsStubRestarted) Report(kReportStubRestarted, mUpdateId);
        SetDialogState(PLEASE_CONTACT_SUPPORT);
        LogInfo(u"Dialog::OnTimer: PLEASE_CONTACT_SUPPORT");
        SilentEnd(kEndErrorOrUser);
        break;
    default:
        LogError(u"Dialog::OnTimer: Wrong mDialogState! (%d)", mDialogState);
        SetDialogState(PLEASE_CONTACT_SUPPORT);
        Report(kReportUnexpected, mUpdateId);
        SilentEnd(kEndErrorOrUser);
        break;
    }
}

void Dialog::HandleNoUpdate() {
    if (mCmdLineInfo->mIsRestartAfterSelfUpdate) {
        SetDialogState(UPDATE_SUCCESSFUL);
        return;
    }
    SetDialogState(UP_TO_DATE);
    if (mCmdLineInfo->mIsUpdateCheckSilent || mCmdLineInfo->mIsHideUpdateCheckResult || mCmdLineInfo->mIsUpdateSilent)
        End(kEndNothingToDo);
}

void Dialog::HandleUpdateAvailable() {
    const CmdLineInfo& cmd = *mCmdLineInfo;
    if (cmd.mIsUpdateCheckSilent) {
        if (IsVersionIgnored()) {
            LogInfo(u"ignore Version %s", OfferedVersion());
            End(kEndNothingToDo);
            return;
        }
        if (DialogVisible.load() == 0 && cmd.mIsQuickCheck) {
            End(kEndUpdateNotInstalled);
            return;
        }
    }
    if (cmd.mIsHideUpdateCheckResult) {
        End(kEndUpdateNotInstalled);
        return;
    }
    SetDialogState(UPDATE_AVAILABLE);
    if (cmd.mIsUpdateSilent || cmd.mIsRestartAfterSelfUpdate || cmd.mIsUpdateFromVersionV1) OnBtnClickedNowButton();
}

}  // namespace brut
