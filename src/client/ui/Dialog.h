#pragma once
// The update dialog: its states, the worker threads it starts and polls, its
// buttons, the close request and its end codes. The window itself sits behind
// DialogView.
#include <atomic>
#include <cstdint>
#include <string>

#include "platform/System.h"
#include "product/ProgramInfo.h"
#include "net/Download.h"
#include "ui/DialogView.h"
#include "update/HandOff.h"
#include "update/ResultPair.h"

namespace brut {

class CmdLineInfo;
class UpdaterBase;

// `DialogState` values; they appear in log lines.
enum DialogState : int32_t {
    CHECK_SERVER = 1,
    PREPARE_UPDATE_CHECK = 2,
    UPGRADE_OFFER = 3,
    UPDATE_AVAILABLE = 4,
    UP_TO_DATE = 5,
    UPDATE_IN_PROGRESS = 6,
    UPDATE_SUCCESSFUL = 7,
    UPDATE_FAILED = 8,
    CLIENT_CANNOT_BUILD_REQUEST = 15,
    CONNECTION_FAILED = 16,
    SERVER_MAINTENANCE = 17,
    SERVER_ERROR_OCCURRED = 18,
    PLEASE_CONTACT_SUPPORT = 19,
};

// The poll timer that watches the worker thread.
constexpr uint32_t kPollTimerId = 4711;
constexpr uint32_t kPollCheckMs = 1000;
constexpr uint32_t kPollHandOffMs = 100;
// How long the poll waits for a thread that reported its work done to return.
constexpr uint32_t kThreadReturnMs = 2000;
// The title's length limit, in UTF-16 code units.
constexpr std::size_t kTitleChars = 260;

// Where the dialog's status reports go: threads posting to the update service,
// or a recorder in tests.
class DialogReports {
public:
    virtual ~DialogReports() = default;
    virtual void UpdateStatus(int32_t status, int32_t updateId);
    virtual void UpgradeOfferStatus(int32_t status, const ProgramInfo& info, int32_t majorVersion);
};

class Dialog;
// Puts the banner into the header band (installed by the banner code).
using ShowBannerRoutine = void (*)(Dialog& dialog);
void InstallShowBanner(ShowBannerRoutine routine);

class Dialog : public HandOffWindow, public ProgressTarget {
public:
    explicit Dialog(DialogView& view);
    ~Dialog() override;
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // --- entry points of the window
    // Returns 1: the focus goes to the first control.
    int OnInitDialog();
    void OnTimer(uint32_t timerId);
    void OnClose();
    // A button's click: dispatched to its handler unless the button is hidden
    // or disabled (a click queued before it changed, or Enter on it).
    void OnCommand(int32_t controlId);
    // True when the message is swallowed: Escape never closes the dialog.
    bool PreTranslateMessage(uint32_t message, uint64_t wParam) const;
    // False while the window must not become visible (DialogVisible is 0).
    bool MayShowWindow() const;
    // The window moved to a monitor of another scale (or the scale changed).
    void OnDpiChanged(int32_t dpi);

    // --- states and handlers
    void SetDialogState(int32_t state);
    void ProcessWorkResult();
    void HandleUpdateAvailable();
    void HandleNoUpdate();
    void OnBtnClickedNowButton();
    void OnBnClickedCloseButton();
    void OnBnClickedUpgradeChoice();
    void OnBnClickedContinueButton();
    // True when the updater was started again as a stub.
    bool RestartAsStub();

    // Called by the worker threads before they end.
    void StoreResult(const ResultPair& result);
    // Called by a worker thread once its result is stored: the poll takes it at
    // once instead of at its next period (a silent check would idle up to a second).
    void WorkDone();
    static uint32_t CheckThread(void* quickCheck);
    static uint32_t HandOffThread(void* quickCheck);

    // --- HandOffWindow, ProgressTarget (hand-off thread)
    void HideForHandOff() override;
    bool ScreenPosition(int32_t& left, int32_t& top) override;
    bool EndedByUser() const override { return mUserEndedUpdate.load(); }
    void SetProgress(uint32_t done, uint32_t total) override;

    // The texts of the window's title and of the header band's version line.
    std::u16string Title() const;
    std::u16string HeaderVersionLine(const std::u16string& version, bool majorOnly) const;

    // True once the dialog has ended; the end code (the first End wins).
    bool Ended() const { return mEnded; }
    int32_t EndCode() const { return mEndCode; }
    // True while a worker thread started by the dialog may still be running.
    bool WorkThreadRunning() const { return mWorkThread != -1; }
    // True when no thread the dialog started can touch it or its view any more: the
    // view may delete both. False leaves them to the process end.
    bool MayBeDeleted() const;

    // The product record shown: the published one, taken once and held, unless
    // one was set (tests). UI thread only.
    const ProgramInfo& Program() const {
        if (!mProgramInfo) mProgramInfo = GetProgramInfo();
        return *mProgramInfo;
    }
    void SetProgramInfo(ProgramInfoPtr info) { mProgramInfo = std::move(info); }
    void SetReports(DialogReports* reports) { mReports = reports; }
    DialogView& View() { return mView; }

    UpdaterBase* mQuickCheck = nullptr;
    CmdLineInfo* mCmdLineInfo = nullptr;
    int32_t mDialogState = 0;
    int32_t mUpdateResult = 1;
    int32_t mUpdateId = 0;
    plat::ThreadHandle mBannerThread = -1;
    plat::ThreadHandle mWorkThread = -1;
    // A thread that reported its work done but had not returned within kThreadReturnMs.
    plat::ThreadHandle mReturningThread = -1;
    uint32_t mTimerId = 0;
    std::atomic<bool> mIsWorkDone{false};
    int32_t mBannerBusy = 0;  // guarded by the banner lock

private:
    const std::u16string& Text(uint32_t textId) const;
    void End(int32_t code);
    // End N when "UpdateSilent" was given or nobody can see the dialog.
    void SilentEnd(int32_t code);
    // End N when either silent option was given.
    void QuietEnd(int32_t code);
    // A hidden dialog with no thread to wait for would wait for ever: it ends
    // as its close button would end it.
    void EndIfNobodyCanAnswer();
    // The installed banner routine, when there is one.
    void ShowBanner();
    // What only a visible window needs, once, when it may first show; laid out at its DPI.
    void BuildForShowing();
    void LayOutAt(int32_t dpi);
    // A DPI from the system, refused (and logged) when no display claims it.
    int32_t Usable(int32_t dpi, const char16_t* what) const;
    void ShowUpgradeGroup(bool show);
    void ShowErrorView();
    void StartWorkThread(plat::ThreadRoutine routine, uint32_t pollMs, const char16_t* failure);
    void Report(int32_t status, int32_t updateId);
    void PickDefaultButton();
    int32_t OfferedMajorVersion() const;
    const std::u16string& OfferedVersion() const;
    bool IsMajorVersionIgnored() const;
    bool IsVersionIgnored() const;
    bool IsSilentQuickCheck() const;

    DialogView& mView;
    DialogReports mServiceReports;
    DialogReports* mReports = &mServiceReports;
    mutable ProgramInfoPtr mProgramInfo;
    std::u16string mHeaderTitle;
    bool mIsStubRestarted = false;
    bool mBuiltForShowing = false;
    bool mEnded = false;
    std::atomic<bool> mUserEndedUpdate{false};  // read by the hand-off thread
    int32_t mEndCode = 0;
};

// The one dialog of the process (set by its constructor), reached by the
// worker threads; and the flag that lets it become visible.
extern std::atomic<Dialog*> TheDialog;
extern std::atomic<int32_t> DialogVisible;

// Reads "x y" as `WindowRec` carries it: false unless two integers are there.
bool ParseWindowRec(const std::u16string& text, int32_t& x, int32_t& y);

}  // namespace brut
