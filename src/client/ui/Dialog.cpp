// The dialog itself: the process-wide pointer, the title and header texts, what it tells
// its window, and the hand-off's view of it. Its states, events and results have files of
// their own (DialogStates, DialogEvents, DialogResults).
#include "ui/Dialog.h"

#include "options/CmdLineInfo.h"
#include "log/Log.h"
#include "net/Download.h"
#include "platform/Platform.h"
#include "system/Settings.h"
#include "ui/Banner.h"
#include "ui/DisplayScale.h"
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

void Dialog::ShowBanner() {
    if (gShowBanner) gShowBanner(*this);
}

void Dialog::BuildForShowing() {
    if (mBuiltForShowing) return;
    mBuiltForShowing = true;
    mView.BuildForShowing();
    LayOutAt(mView.WindowDpi());
}

int32_t Dialog::Usable(int32_t dpi, const char16_t* what) const {
    bool refused = false;
    const int32_t usable = UsableDpi(dpi, refused);
    if (refused) LogWarning(u"Dialog: %s of %d DPI refused, %d DPI taken", what, dpi, usable);
    return usable;
}

void Dialog::LayOutAt(int32_t dpi) { mView.LayOut(Usable(dpi, u"display scale")); }

void Dialog::OnDpiChanged(int32_t dpi) {
    // Nothing is laid out in pixels before the window may show.
    if (mBuiltForShowing) LayOutAt(dpi);
}

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

// --------------------------------------------------------------- window

bool Dialog::PreTranslateMessage(uint32_t message, uint64_t wParam) const {
    return message >= kKeyMessageFirst && message <= kKeyMessageLast && wParam == kEscapeKey;
}

bool Dialog::MayShowWindow() const { return DialogVisible.load() != 0; }

void Dialog::HideForHandOff() {
    DialogVisible.store(0);
    mView.Hide();
}

bool Dialog::ScreenPosition(int32_t& left, int32_t& top) {
    // Handed to the worker, which may not be DPI-aware: in the coordinates it sees.
    int32_t x = 0, y = 0;
    if (!mView.ScreenPosition(x, y)) return false;
    const int32_t dpi = Usable(mView.SystemDpi(), u"system scale");
    left = ToLogical(x, dpi);
    top = ToLogical(y, dpi);
    return true;
}

void Dialog::SetProgress(uint32_t done, uint32_t total) { mView.SetProgress(ProgressPercent(done, total)); }

}  // namespace brut
