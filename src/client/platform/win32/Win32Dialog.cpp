#include "platform/win32/Win32Dialog.h"

#include "platform/win32/Win32Banner.h"
#include "platform/win32/Win32HyperLink.h"
#include "platform/win32/Win32Platform.h"
#include "platform/win32/Win32TrackWnd.h"

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

#include "options/CmdLineInfo.h"
#include "ui/Dialog.h"
#include "ui/EndCodes.h"
#include "ui/ResourceIds.h"
#include "update/UpdaterBase.h"

namespace plat::win32 {

namespace {

using brut::ControlId;

// Sent from Windows 8.1 on; the headers name it only for newer targets than ours.
constexpr UINT kDpiChangedMessage = 0x02E0;  // WM_DPICHANGED

// Progress handed over from the hand-off thread: wParam is the percentage.
constexpr UINT kProgressMessage = WM_APP + 1;
// The loop waits anyway: it watches the time limits of Internet requests, which
// would otherwise each take a timer thread. The message asks for an early look.
constexpr UINT kDeadlinesMessage = WM_APP + 2;
constexpr UINT_PTR kDeadlinesTimerId = 4712;

void LookAtDeadlines(HWND hwnd) {
    const uint32_t next = RequestDeadlines().Tick();
    if (next != 0) {
        ::SetTimer(hwnd, kDeadlinesTimerId, next, nullptr);
    } else {
        ::KillTimer(hwnd, kDeadlinesTimerId);
    }
}

HINSTANCE Instance() { return ::GetModuleHandleW(nullptr); }

// The DPI functions exist from Windows 10 on: looked up, never imported; the screen's
// LOGPIXELSY (the system DPI) elsewhere.
int ScreenDpi(HWND hwnd) {
    HDC dc = ::GetDC(hwnd);
    const int dpi = dc ? ::GetDeviceCaps(dc, LOGPIXELSY) : 96;
    if (dc) ::ReleaseDC(hwnd, dc);
    return dpi;
}

template <class F>
F User32Function(const char* name) {
    HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    return user32 ? reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(user32, name))) : nullptr;
}

int WindowDpiOf(HWND hwnd) {
    using Fn = UINT(WINAPI*)(HWND);
    static const Fn forWindow = User32Function<Fn>("GetDpiForWindow");
    const UINT dpi = forWindow && hwnd ? forWindow(hwnd) : 0;
    return dpi ? static_cast<int>(dpi) : ScreenDpi(hwnd);
}

int SystemDpiOf() {
    using Fn = UINT(WINAPI*)();
    static const Fn forSystem = User32Function<Fn>("GetDpiForSystem");
    const UINT dpi = forSystem ? forSystem() : 0;
    return dpi ? static_cast<int>(dpi) : ScreenDpi(nullptr);
}

class DialogWindow : public brut::DialogView {
public:
    // --- the window
    void BuildForShowing() override {
        HWND hwnd = Hwnd();
        if (!hwnd || mBannerBand) return;
        mBigIcon = static_cast<HICON>(::LoadImageW(Instance(), MAKEINTRESOURCEW(BRUT_IDI_APP), IMAGE_ICON,
                                                   ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON), 0));
        mSmallIcon = static_cast<HICON>(::LoadImageW(Instance(), MAKEINTRESOURCEW(BRUT_IDI_APP), IMAGE_ICON,
                                                     ::GetSystemMetrics(SM_CXSMICON),
                                                     ::GetSystemMetrics(SM_CYSMICON), 0));
        if (mBigIcon) ::SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(mBigIcon));
        if (mSmallIcon) ::SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(mSmallIcon));
        mLink.Attach(Item(brut::linkMajorUpgradePopup));
        mBannerBand = std::make_unique<Win32BannerBand>(hwnd, mHeader);
    }

    int32_t WindowDpi() override { return WindowDpiOf(Hwnd()); }
    int32_t SystemDpi() override { return SystemDpiOf(); }

    // The dialog's own font follows the display (the template is in dialog units); what
    // the client draws itself follows it here.
    void LayOut(int32_t dpi) override {
        HWND hwnd = Hwnd();
        if (!hwnd) return;
        HFONT font = reinterpret_cast<HFONT>(::SendMessageW(hwnd, WM_GETFONT, 0, 0));
        LOGFONTW lf{};
        if (font && ::GetObjectW(font, sizeof lf, &lf)) {
            lf.lfWeight = FW_BOLD;
            HFONT bold = ::CreateFontIndirectW(&lf);
            ::SendMessageW(Item(brut::LBL_SERVER_VERSION), WM_SETFONT, reinterpret_cast<WPARAM>(bold), TRUE);
            if (mBoldFont) ::DeleteObject(mBoldFont);
            mBoldFont = bold;
        }
        mHeader.Create(mHeaderLayout, mHeaderLine.c_str(), hwnd, mHeaderTitle.c_str(), font, dpi);
        mLink.UseFont(font);
    }

    void SetTitle(const std::u16string& title) override { ::SetWindowTextW(Hwnd(), W(title)); }

    // Kept until the band exists: a hidden window never builds one.
    void SetHeader(const std::u16string& title, const std::u16string& versionLine) override {
        mHeaderTitle.assign(W(title), title.size());
        mHeaderLine.assign(W(versionLine), versionLine.size());
        if (mHeader.Hwnd()) mHeader.SetTexts(W(title), W(versionLine));
    }

    void MoveTo(int32_t x, int32_t y) override {
        HWND hwnd = Hwnd();
        RECT r{};
        if (!::GetWindowRect(hwnd, &r)) return;
        const LONG width = r.right - r.left, height = r.bottom - r.top;
        RECT wanted{x, y, x + width, y + height};
        // The worker passes on where the dialog stood; that monitor may be gone since.
        if (!::MonitorFromRect(&wanted, MONITOR_DEFAULTTONULL)) {
            MONITORINFO mi{};
            mi.cbSize = sizeof mi;
            if (::GetMonitorInfoW(::MonitorFromRect(&wanted, MONITOR_DEFAULTTONEAREST), &mi)) {
                const RECT& work = mi.rcWork;
                x = std::max<LONG>(work.left, std::min<LONG>(x, work.right - width));
                y = std::max<LONG>(work.top, std::min<LONG>(y, work.bottom - height));
            }
        }
        ::SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    void ShowOnTop() override {
        HWND hwnd = Hwnd();
        ::ShowWindow(hwnd, SW_SHOWNORMAL);
        ::SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOREDRAW);
        if (mPendingFocus) {
            SetFocus(static_cast<ControlId>(mPendingFocus));
            mPendingFocus = 0;
        }
    }

    // Sent, not posted: the worker must not start before the window is gone. The UI
    // thread never waits for the hand-off thread, so this cannot block for long.
    void Hide() override {
        if (HWND hwnd = Hwnd()) ::ShowWindow(hwnd, SW_HIDE);
    }

    bool ScreenPosition(int32_t& left, int32_t& top) override {
        RECT r{};
        HWND hwnd = Hwnd();
        if (!hwnd || !::GetWindowRect(hwnd, &r)) return false;
        left = r.left;
        top = r.top;
        return true;
    }

    void SetProgress(int32_t percent) override {
        if (HWND hwnd = Hwnd()) ::PostMessageW(hwnd, kProgressMessage, static_cast<WPARAM>(percent), 0);
    }

    // --- controls
    void SetText(ControlId c, const std::u16string& text) override { ::SetWindowTextW(Item(c), W(text)); }

    void Show(ControlId c, bool show) override {
        HWND item = Item(c);
        const bool hadFocus = !show && ::GetFocus() == item;
        ::ShowWindow(item, show ? SW_SHOWNA : SW_HIDE);
        // The keyboard must not stay on a control nobody sees.
        if (hadFocus) ::SendMessageW(Hwnd(), WM_NEXTDLGCTL, 0, FALSE);
    }

    void Enable(ControlId c, bool enable) override {
        HWND item = Item(c);
        const bool hadFocus = !enable && ::GetFocus() == item;
        ::EnableWindow(item, enable);
        if (hadFocus) ::SendMessageW(Hwnd(), WM_NEXTDLGCTL, 0, FALSE);
    }

    // By the control's own style: the children of a hidden dialog are not "visible" to the system.
    bool IsShown(ControlId c) override { return (::GetWindowLongW(Item(c), GWL_STYLE) & WS_VISIBLE) != 0; }
    bool IsEnabled(ControlId c) override { return ::IsWindowEnabled(Item(c)) != FALSE; }
    void SetCheck(ControlId c, bool checked) override {
        ::SendMessageW(Item(c), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    bool IsChecked(ControlId c) override { return ::SendMessageW(Item(c), BM_GETCHECK, 0, 0) == BST_CHECKED; }

    void SetFocus(ControlId c) override {
        // A hidden window is not focused (that could activate it); the focus waits for it to show.
        if (!::IsWindowVisible(Hwnd())) {
            mPendingFocus = c;
            return;
        }
        ::SendMessageW(Hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(c)), TRUE);
    }

    void SetDefaultButton(ControlId c) override { ::SendMessageW(Hwnd(), DM_SETDEFID, static_cast<WPARAM>(c), 0); }

    void SetLinkTarget(const std::u16string& target) override {
        mLink.SetLinkTarget(std::wstring(W(target), target.size()));
    }
    brut::BannerBand* HeaderBand() override { return mBannerBand.get(); }

    // --- interaction
    int AskYesNo(const std::u16string& text, const std::u16string& caption) override {
        return ::MessageBoxW(Hwnd(), W(text), W(caption), MB_YESNO);
    }
    uint32_t StartTimer(uint32_t id, uint32_t milliseconds) override {
        return static_cast<uint32_t>(::SetTimer(Hwnd(), id, milliseconds, nullptr));
    }
    void StopTimer(uint32_t id) override { ::KillTimer(Hwnd(), id); }
    void WakeTimer(uint32_t id) override { ::PostMessageW(Hwnd(), WM_TIMER, id, 0); }
    void PostClose() override { ::PostMessageW(Hwnd(), WM_CLOSE, 0, 0); }
    void End(int32_t code) override {
        mEndCode = code;
        mEnded = true;
    }

    // --- the window's own side
    HWND Hwnd() const { return mHwnd.load(); }
    HWND Item(ControlId c) const { return ::GetDlgItem(Hwnd(), c); }
    void Attach(HWND hwnd) {
        mHwnd.store(hwnd);
        // The template marks all three buttons as default ones; the dialog names one per state.
        for (ControlId c : {brut::UPDATE_NOW_BUTTON, brut::CONTINUE_BUTTON, brut::CLOSE_BUTTON})
            ::SendMessageW(Item(c), BM_SETSTYLE, BS_PUSHBUTTON, FALSE);
    }

    void Detach() {
        HWND hwnd = mHwnd.exchange(nullptr);
        if (hwnd) ::DestroyWindow(hwnd);
        if (mBoldFont) ::DeleteObject(mBoldFont);
        if (mBigIcon) ::DestroyIcon(mBigIcon);
        if (mSmallIcon) ::DestroyIcon(mSmallIcon);
        mBoldFont = nullptr;
        mBigIcon = mSmallIcon = nullptr;
    }

    void Paint(HWND hwnd) {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(hwnd, &ps);
        if (::IsIconic(hwnd)) {
            RECT r{};
            ::GetClientRect(hwnd, &r);
            const int cx = ::GetSystemMetrics(SM_CXICON), cy = ::GetSystemMetrics(SM_CYICON);
            ::DrawIcon(dc, (r.right - cx + 1) / 2, (r.bottom - cy + 1) / 2, mBigIcon);
        }
        ::EndPaint(hwnd, &ps);
    }

    brut::Dialog* mDialog = nullptr;
    std::atomic<HWND> mHwnd{nullptr};
    std::atomic<bool> mEnded{false};
    int32_t mEndCode = 0;
    int32_t mPendingFocus = 0;
    HFONT mBoldFont = nullptr;
    HICON mBigIcon = nullptr;
    HICON mSmallIcon = nullptr;
    // The header band, its texts, its layout record and the banner's side of it; the
    // upgrade offer's link. Built only for a window that may show.
    std::wstring mHeaderTitle, mHeaderLine;
    brut::HeaderLayout mHeaderLayout;
    CWizTrackWnd mHeader;
    std::unique_ptr<Win32BannerBand> mBannerBand;
    CHyperLink mLink;
};

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* window = reinterpret_cast<DialogWindow*>(lParam);
        ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        window->Attach(hwnd);
        // Before the check thread starts, so that its exchange is watched here.
        RequestDeadlines().Host([hwnd] { ::PostMessageW(hwnd, kDeadlinesMessage, 0, 0); });
        window->mDialog->OnInitDialog();
        // The default focus only for a window that will be seen.
        return window->mDialog->MayShowWindow() ? TRUE : FALSE;
    }
    auto* window = reinterpret_cast<DialogWindow*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!window || !window->mDialog) return FALSE;
    brut::Dialog& dialog = *window->mDialog;
    switch (message) {
    case WM_WINDOWPOSCHANGING:
        // The one gate to the screen: while DialogVisible is 0 nothing may show the window.
        if (!dialog.MayShowWindow()) reinterpret_cast<WINDOWPOS*>(lParam)->flags &= ~SWP_SHOWWINDOW;
        return FALSE;
    case WM_COMMAND:
        // IDOK and IDCANCEL (Enter without a default button, Escape) never end the dialog.
        if (HIWORD(wParam) == BN_CLICKED) dialog.OnCommand(LOWORD(wParam));
        return TRUE;
    case WM_CLOSE:
        dialog.OnClose();
        return TRUE;
    case WM_TIMER:
        if (wParam == kDeadlinesTimerId) {
            LookAtDeadlines(hwnd);
        } else {
            dialog.OnTimer(static_cast<uint32_t>(wParam));
        }
        return TRUE;
    case kDeadlinesMessage:
        LookAtDeadlines(hwnd);
        return TRUE;
    case WM_PAINT:
        window->Paint(hwnd);
        return TRUE;
    case kDpiChangedMessage: {
        // Another monitor, another scale: the suggested rectangle, then what the client sizes itself.
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        ::SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                       suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        dialog.OnDpiChanged(HIWORD(wParam));
        return TRUE;
    }
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(window->mBigIcon);
    case kProgressMessage:
        ::SendMessageW(window->Item(brut::PROGRESS_BAR), PBM_SETPOS, wParam, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

// Dialog template 103 without its visible style: the window is created hidden and
// shown only when DialogVisible allows it, so a silent run never shows a frame.
std::vector<DWORD> HiddenTemplate() {
    HRSRC res = ::FindResourceW(Instance(), MAKEINTRESOURCEW(BRUT_IDD_UPDATE_DIALOG), MAKEINTRESOURCEW(5));
    HGLOBAL loaded = res ? ::LoadResource(Instance(), res) : nullptr;
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    const DWORD size = res ? ::SizeofResource(Instance(), res) : 0;
    // A dialog template is a few hundred bytes; the cap also keeps the rounding below from wrapping.
    if (!data || size < 18 || size > 64 * 1024) return {};
    std::vector<DWORD> copy((size + 3) / 4, 0);
    std::memcpy(copy.data(), data, size);
    auto* words = reinterpret_cast<WORD*>(copy.data());
    // DLGTEMPLATEEX: version 1, signature 0xFFFF, help id, extended style, style.
    DWORD* style = words[0] == 1 && words[1] == 0xFFFF ? &copy[3] : &copy[0];
    *style &= ~static_cast<DWORD>(WS_VISIBLE);
    return copy;
}

class DialogRunner : public brut::DialogRunner {
public:
    int RunModal(brut::CmdLineInfo& cmdLine, brut::UpdaterBase& checker, intptr_t bannerThread) override {
        auto* window = new DialogWindow;
        auto* dialog = new brut::Dialog(*window);
        window->mDialog = dialog;
        dialog->mCmdLineInfo = &cmdLine;
        dialog->mQuickCheck = &checker;
        dialog->mBannerThread = bannerThread;

        int code = brut::kEndNoDialog;
        const std::vector<DWORD> tmpl = HiddenTemplate();
        HWND hwnd = tmpl.empty() ? nullptr
                                 : ::CreateDialogIndirectParamW(Instance(), reinterpret_cast<LPCDLGTEMPLATEW>(tmpl.data()),
                                                                nullptr, DialogProc, reinterpret_cast<LPARAM>(window));
        if (hwnd) {
            // What the template's visible style would have done.
            if (!window->mEnded.load() && dialog->MayShowWindow()) ::ShowWindow(hwnd, SW_SHOWNORMAL);
            MSG msg;
            while (!window->mEnded.load()) {
                const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
                if (got <= 0) {
                    if (got == 0) ::PostQuitMessage(static_cast<int>(msg.wParam));
                    break;
                }
                if (dialog->PreTranslateMessage(msg.message, msg.wParam)) continue;
                if (::IsDialogMessageW(hwnd, &msg)) continue;
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
            }
            if (window->mEnded.load()) code = window->mEndCode;
        }
        // From here on no loop looks: what is still watched gets timers.
        RequestDeadlines().Leave();
        window->Detach();
        // A thread that has not ended still reaches the dialog through TheDialog.
        mThreadStillRunning = !dialog->MayBeDeleted();
        if (!mThreadStillRunning) {
            delete dialog;
            delete window;
        }
        return code;
    }

    bool ThreadStillRunning() const override { return mThreadStillRunning; }

private:
    bool mThreadStillRunning = false;
};

}  // namespace

brut::DialogRunner& DialogWindowRunner() {
    static DialogRunner runner;
    return runner;
}

}  // namespace plat::win32
