// What each state shows: its texts, which controls are there and which may be used.
#include "ui/Dialog.h"

#include "log/Log.h"
#include "options/CmdLineInfo.h"
#include "platform/Platform.h"
#include "system/Settings.h"
#include "text/Texts.h"
#include "ui/DialogCodes.h"
#include "update/UpdaterBase.h"
#include "util/Text.h"

namespace brut {

// --------------------------------------------------------------- states

void Dialog::ShowUpgradeGroup(bool show) {
    // The close button first: the keyboard focus leaving a hidden control of the group needs
    // a visible one to land on.
    if (!show) mView.Show(CLOSE_BUTTON, true);
    for (ControlId c : {linkMajorUpgradePopup, radInstallNowMajorUpgradePopup, radRemindMeLaterMajorUpgradePopup,
                        radDontShowAgainMajorUpgradePopup, CONTINUE_BUTTON})
        mView.Show(c, show);
    if (!show) mView.Enable(CONTINUE_BUTTON, false);
    if (show) mView.Show(CLOSE_BUTTON, false);
    mView.Show(LBL_SERVER_VERSION, show);
    mView.Show(LBL_SERVER_VERSION_TEXT, show);
    if (show) mView.SetFocus(radInstallNowMajorUpgradePopup);
}

void Dialog::ShowErrorView() {
    ShowUpgradeGroup(false);
    mView.SetText(CLOSE_BUTTON, Text(TXT_CLOSE));
    const int32_t language = Program().ProgramLanguage;
    mView.SetText(LBL_MESSAGE_TEXT,
                  EscapeAmpersands(ReplaceProductName(language, Text(TXT_CONTACT_SUPPORT), mCmdLineInfo->mWindowCaption)));
    mView.Enable(CLOSE_BUTTON, true);
}

void Dialog::PickDefaultButton() {
    // Enter acts on the state's main button, never on a hidden or disabled one.
    for (ControlId c : {UPDATE_NOW_BUTTON, CONTINUE_BUTTON, CLOSE_BUTTON}) {
        if (mView.IsShown(c) && mView.IsEnabled(c)) {
            mView.SetDefaultButton(c);
            return;
        }
    }
    mView.SetDefaultButton(static_cast<ControlId>(0));
}

void Dialog::SetDialogState(int32_t state) {
    mDialogState = state;
    const ProgramInfo& info = Program();
    switch (state) {
    case CHECK_SERVER:
        if (DialogVisible.load() == 1) ShowBanner();
        if (info.IsStubExe) {
            mView.Show(UPDATE_NOW_BUTTON, false);
            mView.SetText(CLOSE_BUTTON, Text(TXT_ABORT));
        }
        ShowUpgradeGroup(false);
        mView.Show(PROGRESS_BAR, false);
        break;
    case PREPARE_UPDATE_CHECK:
        mView.SetText(LBL_MESSAGE_TEXT, Text(TXT_PREPARE_UPDATE_CHECK));
        mView.SetText(CLOSE_BUTTON, Text(TXT_ABORT));
        break;
    case UPGRADE_OFFER:
        ShowUpgradeGroup(true);
        mView.SetLinkTarget(u"");
        mView.SetText(LBL_SERVER_VERSION,
                      EscapeAmpersands(Format(Text(TXT_UPGRADE_VERSION_FORMAT).c_str(), info.EditionDisplayName,
                                              OfferedMajorVersion())));
        mView.SetText(LBL_MESSAGE_TEXT, Text(TXT_UPGRADE_OFFER));
        mView.Show(UPDATE_NOW_BUTTON, false);
        break;
    case UPDATE_AVAILABLE:
        ShowUpgradeGroup(false);
        mView.SetText(UPDATE_NOW_BUTTON, Text(TXT_INSTALL));
        mView.SetText(LBL_MESSAGE_TEXT, Text(TXT_UPDATE_AVAILABLE));
        // The service's text: an ampersand in it is shown, not taken as a mnemonic.
        mView.SetText(LBL_SERVER_VERSION, EscapeAmpersands(OfferedVersion()));
        mView.Show(LBL_SERVER_VERSION, true);
        mView.Show(LBL_SERVER_VERSION_TEXT, true);
        mView.Show(UPDATE_NOW_BUTTON, true);
        mView.Enable(UPDATE_NOW_BUTTON, true);
        break;
    case UP_TO_DATE:
        ShowUpgradeGroup(false);
        mView.SetText(LBL_MESSAGE_TEXT, Text(TXT_UP_TO_DATE));
        mView.SetText(CLOSE_BUTTON, Text(TXT_CLOSE));
        mView.Show(UPDATE_NOW_BUTTON, false);
        break;
    case UPDATE_IN_PROGRESS:
        mView.Show(PROGRESS_BAR, true);
        mView.Show(LBL_SERVER_VERSION, false);
        mView.Show(LBL_SERVER_VERSION_TEXT, false);
        mView.SetText(LBL_MESSAGE_TEXT, Text(TXT_UPDATE_IN_PROGRESS));
        mView.SetText(CLOSE_BUTTON, Text(TXT_ABORT));
        mView.Show(UPDATE_NOW_BUTTON, false);
        break;
    case UPDATE_SUCCESSFUL:
        LogInfo(u"Update successful!");
        // Reached after an answered offer too: its group must give way to the close button.
        ShowUpgradeGroup(false);
        mView.SetText(CLOSE_BUTTON, Text(TXT_CLOSE));
        mView.SetText(LBL_MESSAGE_TEXT, Text(TXT_UPDATE_INSTALLED));
        // No newer version exists in this state: the header names the installed one.
        mView.SetHeader(mHeaderTitle, HeaderVersionLine(info.ProgramVersionNumber, false));
        mView.Enable(CLOSE_BUTTON, true);
        break;
    case UPDATE_FAILED:
        LogError(u"Update failed!");
        mView.SetText(CLOSE_BUTTON, Text(TXT_CLOSE));
        mView.SetText(LBL_MESSAGE_TEXT, Text(TXT_UPDATE_FAILED));
        mView.SetHeader(mHeaderTitle, HeaderVersionLine(info.ProgramVersionNumber, false));
        mView.Enable(CLOSE_BUTTON, true);
        break;
    case CONNECTION_FAILED:
        mView.SetText(LBL_MESSAGE_TEXT, Text(TXT_CONNECTION_FAILED));
        mView.SetText(CLOSE_BUTTON, Text(TXT_CLOSE));
        mView.Enable(CLOSE_BUTTON, true);
        break;
    case SERVER_MAINTENANCE:
        mView.SetText(LBL_MESSAGE_TEXT, Text(TXT_SERVER_MAINTENANCE));
        mView.SetText(CLOSE_BUTTON, Text(TXT_CLOSE));
        mView.Enable(CLOSE_BUTTON, true);
        break;
    case CLIENT_CANNOT_BUILD_REQUEST:
        LogError(u"Dialog::SetDialogState: CLIENT_CANNOT_BUILD_REQUEST");
        ShowErrorView();
        break;
    case SERVER_ERROR_OCCURRED:
        LogError(u"Dialog::SetDialogState: SERVER_ERROR_OCCURRED");
        ShowErrorView();
        break;
    case PLEASE_CONTACT_SUPPORT:
        LogError(u"Dialog::SetDialogState: PLEASE_CONTACT_SUPPORT");
        ShowErrorView();
        break;
    default:
        LogError(u"Dialog::SetDialogState: Wrong mDialogState! (%d)", state);
        ShowErrorView();
        break;
    }
    PickDefaultButton();
}

}  // namespace brut
