#include "ui/Dialog.h"

#include "options/CmdLineInfo.h"
#include "log/Log.h"
#include "net/Download.h"
#include "platform/Platform.h"
#include "system/Settings.h"
#include "ui/Banner.h"
#include "text/Texts.h"
#include "update/StatusReports.h"
#include "update/UpdaterBase.h"
#include "util/Text.h"
#include "Version.h"

namespace brut {

std::atomic<Dialog*> TheDialog{nullptr};
std::atomic<int32_t> DialogVisible{0};

namespace {

constexpr uint64_t kEscapeKey = 27;
// WM_KEYFIRST .. WM_KEYLAST: key down and up, characters, dead keys, system keys.
constexpr uint32_t kKeyMessageFirst = 0x0100;
constexpr uint32_t kKeyMessageLast = 0x0109;

// UpdateStatus report codes.
constexpr int32_t kReportUpdateStarted = -1;
constexpr int32_t kReportHandOffFailed = 1;
constexpr int32_t kReportUserEnded = 2;
constexpr int32_t kReportUnexpected = 3;
constexpr int32_t kReportOffline = 4;
constexpr int32_t kReportServiceUnusable = 5;
constexpr int32_t kReportRequestNotBuilt = 6;
constexpr int32_t kReportServerError = 7;
constexpr int32_t kReportStubRestarted = 8;

// UpgradeOfferStatus report codes.
constexpr int32_t kOfferDontShowAgain = 1;
constexpr int32_t kOfferInstallNow = 2;
constexpr int32_t kOfferRemindLater = 3;

ShowBannerRoutine gShowBanner = nullptr;

void AppendWithin(std::u16string& text, const std::u16string& piece, std::size_t limit) {
    if (text.size() >= limit) return;
    text += piece.substr(0, limit - text.size());
}

// Reads an integer the way "%d" does: white space, a sign, digits.
bool ReadInt(const std::u16string& text, std::size_t& pos, int32_t& value) {
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    std::size_t start = pos;
    if (pos < text.size() && (text[pos] == u'-' || text[pos] == u'+')) ++pos;
    std::size_t digits = pos;
    while (pos < text.size() && text[pos] >= u'0' && text[pos] <= u'9') ++pos;
    if (pos == digits) return false;
    value = ParseInt32(text.substr(start, pos - start));
    return true;
}

}  // namespace

void DialogReports::UpdateStatus(int32_t status, int32_t updateId) { StartUpdateStatusReport(status, updateId); }

void DialogReports::UpgradeOfferStatus(int32_t status, const ProgramInfo& info, int32_t majorVersion) {
    StartUpgradeOfferStatusReport(status, info, majorVersion);
}

void InstallShowBanner(ShowBannerRoutine routine) { gShowBanner = routine; }

bool ParseWindowRec(const std::u16string& text, int32_t& x, int32_t& y) {
    std::size_t pos = 0;
    int32_t a = 0, b = 0;
    if (!ReadInt(text, pos, a) || !ReadInt(text, pos, b)) return false;
    x = a;
    y = b;
    return true;
}

Dialog::Dialog(DialogView& view) : mView(view) { TheDialog.store(this); }

Dialog::~Dialog() {
    // The banner thread reaches mBannerBusy through TheDialog under this lock.
    std::lock_guard<std::mutex> guard(BannerLock());
    Dialog* self = this;
    TheDialog.compare_exchange_strong(self, nullptr);
}

const std::u16string& Dialog::Text(uint32_t textId) const {
    return GetLocalizedText(Program().ProgramLanguage, textId);
}

int32_t Dialog::OfferedMajorVersion() const { return mQuickCheck ? mQuickCheck->mReply.mOfferedMajorVersion : 0; }

const std::u16string& Dialog::OfferedVersion() const {
    static const std::u16string& kNone = *new std::u16string;
    return mQuickCheck ? mQuickCheck->mReply.mOfferedVersion : kNone;
}

bool Dialog::IsMajorVersionIgnored() const { return ReadIgnoredMajorVersion(Program()) == OfferedMajorVersion(); }

bool Dialog::IsVersionIgnored() const { return ReadIgnoredVersion(Program()) == OfferedVersion(); }

bool Dialog::IsSilentQuickCheck() const { return mCmdLineInfo->mIsQuickCheck && mCmdLineInfo->mIsUpdateCheckSilent; }

// --------------------------------------------------------------- texts

std::u16string Dialog::Title() const {
    const ProgramInfo& info = Program();
    std::u16string title;
    if (info.IsStubExe) {
        AppendWithin(title, info.EditionDisplayName, kTitleChars);
        return title;
    }
    AppendWithin(title, mCmdLineInfo->mWindowCaption.empty() ? Text(TXT_PRODUCT_NAME) : mCmdLineInfo->mWindowCaption,
                 kTitleChars);
    AppendWithin(title, u" ", kTitleChars);
    AppendWithin(title, kClientVersion, kTitleChars);
    return title;
}

std::u16string Dialog::HeaderVersionLine(const std::u16string& version, bool majorOnly) const {
    // Three parts around the first two dots; without any dot all three stay empty.
    std::u16string major, minor, build;
    std::size_t dot = version.find(u'.');
    if (dot != std::u16string::npos) {
        major = version.substr(0, dot);
        std::size_t second = version.find(u'.', dot + 1);
        if (second == std::u16string::npos) {
            minor = version.substr(dot + 1);
        } else {
            minor = version.substr(dot + 1, second - dot - 1);
            build = version.substr(second + 1);
        }
    }
    return majorOnly ? Format(u"Version %s", major) : Format(u"Version %s.%s Build %s", major, minor, build);
}

// --------------------------------------------------------------- states

void Dialog::ShowUpgradeGroup(bool show) {
    for (ControlId c : {linkMajorUpgradePopup, radInstallNowMajorUpgradePopup, radRemindMeLaterMajorUpgradePopup,
                        radDontShowAgainMajorUpgradePopup, CONTINUE_BUTTON})
        mView.Show(c, show);
    if (!show) mView.Enable(CONTINUE_BUTTON, false);
    mView.Show(CLOSE_BUTTON, !show);
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
        if (DialogVisible.load() == 1 && gShowBanner) gShowBanner(*this);
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
    if (!mCmdLineInfo->mWindowRec.empty() && ParseWindowRec(mCmdLineInfo->mWindowRec, x, y)) mView.MoveTo(x, y);

    DialogVisible.store(mCmdLineInfo->mIsUpdateCheckSilent || mCmdLineInfo->mIsUpdateSilent ? 0 : 1);
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
    int32_t code = 1;
    switch (mDialogState) {
    case UPDATE_AVAILABLE: code = 2; break;
    case UPGRADE_OFFER: code = 4; break;
    case UP_TO_DATE: code = mUpdateResult == kResultUpgradeOnly ? 4 : 0; break;
    case UPDATE_IN_PROGRESS:
    case UPDATE_FAILED: code = 9; break;
    case UPDATE_SUCCESSFUL: code = 8; break;
    default: break;
    }
    End(code);
}

void Dialog::ProcessWorkResult() {
    switch (mDialogState) {
    case CHECK_SERVER:
        switch (mUpdateResult) {
        case kResultNotDue:
            End(0);
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
                int32_t code = IsMajorVersionIgnored() ? 0 : 4;
                if (mUpdateResult == kResultUpdateAndUpgrade && !IsVersionIgnored()) code += 2;
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
            QuietEnd(1);
            break;
        case kResultServiceUnusable:
            SetDialogState(SERVER_MAINTENANCE);
            Report(kReportServiceUnusable, 0);
            QuietEnd(1);
            break;
        case kResultOffline:
            SetDialogState(CONNECTION_FAILED);
            Report(kReportOffline, mUpdateId);
            QuietEnd(1);
            break;
        case kResultRequestNotBuilt:
            SetDialogState(CLIENT_CANNOT_BUILD_REQUEST);
            Report(kReportRequestNotBuilt, mUpdateId);
            QuietEnd(1);
            break;
        default:
            SetDialogState(PLEASE_CONTACT_SUPPORT);
            LogError(u"Dialog::OnTimer::CHECK_SERVER: Wrong mUpdateResult! (%d)", mUpdateResult);
            Report(kReportUnexpected, mUpdateId);
            SilentEnd(1);
            break;
        }
        break;
    case PREPARE_UPDATE_CHECK:
        // The hand-off came back: the worker did not take over.
        SetDialogState(PLEASE_CONTACT_SUPPORT);
        LogInfo(u"Dialog::OnTimer: PLEASE_CONTACT_SUPPORT");
        SilentEnd(1);
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
            SilentEnd(5);
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
        SilentEnd(9);
        break;
    case PLEASE_CONTACT_SUPPORT:
        // After the stub restart; a restart that failed is not reported as handed over.
        if (mIsStubRestarted) Report(kReportStubRestarted, mUpdateId);
        SetDialogState(PLEASE_CONTACT_SUPPORT);
        LogInfo(u"Dialog::OnTimer: PLEASE_CONTACT_SUPPORT");
        SilentEnd(1);
        break;
    default:
        LogError(u"Dialog::OnTimer: Wrong mDialogState! (%d)", mDialogState);
        SetDialogState(PLEASE_CONTACT_SUPPORT);
        Report(kReportUnexpected, mUpdateId);
        SilentEnd(1);
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
        End(0);
}

void Dialog::HandleUpdateAvailable() {
    const CmdLineInfo& cmd = *mCmdLineInfo;
    if (cmd.mIsUpdateCheckSilent) {
        if (IsVersionIgnored()) {
            LogInfo(u"ignore Version %s", OfferedVersion());
            End(0);
            return;
        }
        if (DialogVisible.load() == 0 && cmd.mIsQuickCheck) {
            End(2);
            return;
        }
    }
    if (cmd.mIsHideUpdateCheckResult) {
        End(2);
        return;
    }
    SetDialogState(UPDATE_AVAILABLE);
    if (cmd.mIsUpdateSilent || cmd.mIsRestartAfterSelfUpdate || cmd.mIsUpdateFromVersionV1) OnBtnClickedNowButton();
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
        End(0);
        break;
    case UPDATE_SUCCESSFUL:
        End(8);
        break;
    case UPDATE_FAILED:
        End(9);
        break;
    case CONNECTION_FAILED:
    case SERVER_MAINTENANCE:
    case PLEASE_CONTACT_SUPPORT:
        End(1);
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
        End(4);
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
        End(mUpdateResult == kResultUpgradeOnly ? 4 : 0);
        break;
    case UPDATE_SUCCESSFUL:
        End(8);
        break;
    case UPDATE_FAILED:
        End(9);
        break;
    case CLIENT_CANNOT_BUILD_REQUEST:
    case CONNECTION_FAILED:
    case SERVER_MAINTENANCE:
    case SERVER_ERROR_OCCURRED:
    case PLEASE_CONTACT_SUPPORT:
        End(1);
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
    End(mDialogState == UPDATE_AVAILABLE ? 2 : mDialogState == UPDATE_IN_PROGRESS ? 9 : 1);
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
        mView.ShowOnTop();
        return false;
    }
    End(0);
    return true;
}

// --------------------------------------------------------------- window

bool Dialog::PreTranslateMessage(uint32_t message, uint64_t wParam) const {
    return message >= kKeyMessageFirst && message <= kKeyMessageLast && wParam == kEscapeKey;
}

bool Dialog::MayShowWindow() const { return DialogVisible.load() != 0; }

void Dialog::HideForHandOff() {
    DialogVisible.store(0);
    mView.Hide();
}

bool Dialog::ScreenPosition(int32_t& left, int32_t& top) { return mView.ScreenPosition(left, top); }

void Dialog::SetProgress(uint32_t done, uint32_t total) { mView.SetProgress(ProgressPercent(done, total)); }

}  // namespace brut
