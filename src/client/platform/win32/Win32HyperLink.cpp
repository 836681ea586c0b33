#include "platform/win32/Win32HyperLink.h"
#include "platform/win32/Win32Libraries.h"

#include <commctrl.h>
#include <oleacc.h>
#include <shellapi.h>

namespace plat::win32 {

namespace {

constexpr UINT_PTR kSubclassId = 0x4C4E4B;  // one link per control
constexpr UINT_PTR kToolId = 1;
constexpr WORD kLinkCursorId = 106;

// From oleacc.h, spelled out so that no import library ties the client to oleacc.dll:
// COM loads it from its registered system path.
const CLSID kClsidAccPropServices = {0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
const IID kIidAccPropServices = {0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
const MSAAPROPID kPropIdAccRole = {0xcb905ff2, 0x7bd1, 0x4c05, {0xb3, 0xc8, 0xe6, 0xc2, 0x41, 0x36, 0x4d, 0x70}};

// One cursor for every link, loaded once and kept for the process.
HCURSOR gLinkCursor = nullptr;

void LoadLinkCursor() {
    if (gLinkCursor) return;
    wchar_t windows[MAX_PATH] = {};
    const UINT n = ::GetWindowsDirectoryW(windows, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    const std::wstring path = std::wstring(windows) + L"\\winhlp32.exe";
    // Only its resources are wanted: nothing of it runs.
    HMODULE module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return;
    HCURSOR cursor = ::LoadCursorW(module, MAKEINTRESOURCEW(kLinkCursorId));
    if (cursor) gLinkCursor = static_cast<HCURSOR>(::CopyIcon(cursor));
    ::FreeLibrary(module);
}

class Win32LinkShell : public brut::LinkShell {
public:
    explicit Win32LinkShell(HWND owner) : mOwner(owner) {}
    int32_t ShellOpen(const std::u16string& target) override {
        return static_cast<int32_t>(reinterpret_cast<INT_PTR>(
            late::ShellExecuteW(nullptr, L"open", W(target), nullptr, nullptr, SW_SHOW)));
    }
    int32_t RunCommandLine(const std::string& commandLine) override {
        return static_cast<int32_t>(::WinExec(commandLine.c_str(), SW_SHOW));
    }
    void ShowOpenError(const std::u16string& text) override {
        ::MessageBeep(MB_ICONEXCLAMATION);
        // Captioned like the dialog it belongs to.
        wchar_t caption[261] = {};
        HWND top = mOwner ? ::GetAncestor(mOwner, GA_ROOT) : nullptr;
        if (top) ::GetWindowTextW(top, caption, 261);
        ::MessageBoxW(top, W(text), caption, MB_OK | MB_ICONEXCLAMATION);
    }

private:
    HWND mOwner;
};

std::wstring WindowText(HWND hwnd) {
    const int n = ::GetWindowTextLengthW(hwnd);
    std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(hwnd, &text[0], n + 1)));
    return text;
}

}  // namespace

CHyperLink::CHyperLink(uint32_t style) : mBackground(::GetSysColor(COLOR_BTNFACE)), mStyle(style) {}

CHyperLink::~CHyperLink() {
    Detach();
    if (mUnderlineFont) ::DeleteObject(mUnderlineFont);
}

void CHyperLink::Detach() {
    if (mHwnd) {
        ReleaseAnnotation(mHwnd);
        ::RemoveWindowSubclass(mHwnd, &CHyperLink::ControlProc, kSubclassId);
    }
    if (mParent) ::RemoveWindowSubclass(mParent, &CHyperLink::ParentProc, reinterpret_cast<UINT_PTR>(this));
    if (mTooltip && ::IsWindow(mTooltip)) ::DestroyWindow(mTooltip);
    mTooltip = nullptr;
    mHwnd = nullptr;
    mParent = nullptr;
}

bool CHyperLink::Attach(HWND control) {
    Detach();
    if (!control) return false;
    mHwnd = control;
    mParent = ::GetParent(control);

    const std::wstring text = WindowText(control);
    if (mTarget.empty()) mTarget = text;
    if (text.empty()) ::SetWindowTextW(control, mTarget.c_str());

    auto* font = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
    LOGFONTW lf{};
    if (font && ::GetObjectW(font, sizeof lf, &lf)) {
        lf.lfUnderline = (mStyle & brut::kLinkUnderline) ? TRUE : FALSE;
        if (mUnderlineFont) ::DeleteObject(mUnderlineFont);
        mUnderlineFont = ::CreateFontIndirectW(&lf);
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(mUnderlineFont), FALSE);
        if (mStyle & brut::kLinkAutoSize) {
            RECT window{};
            ::GetWindowRect(control, &window);
            ::MapWindowPoints(nullptr, mParent, reinterpret_cast<POINT*>(&window), 2);
            const auto style = static_cast<uint32_t>(::GetWindowLongW(control, GWL_STYLE));
            const brut::LinkRect r = brut::LinkRoomForFocus({window.left, window.top, window.right, window.bottom},
                                                            style, brut::kLinkFocusMargin);
            ::SetWindowPos(control, nullptr, r.left, r.top, r.Width(), r.Height(), SWP_NOZORDER | SWP_NOACTIVATE);
        }
        SizeToText();
    } else {
        mStyle &= ~brut::kLinkAutoSize;
    }
    if (!(mStyle & brut::kLinkNoCursor)) LoadLinkCursor();

    mTooltip = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, mParent, nullptr,
                                 ::GetModuleHandleW(nullptr), nullptr);
    if (mTooltip) {
        TTTOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        // The tooltip watches the control's mouse messages itself.
        tool.uFlags = TTF_SUBCLASS;
        tool.hwnd = control;
        tool.uId = kToolId;
        ::GetClientRect(control, &tool.rect);
        tool.lpszText = const_cast<wchar_t*>(mTarget.c_str());
        ::SendMessageW(mTooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
    ::SetWindowSubclass(control, &CHyperLink::ControlProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
    if (mParent)
        ::SetWindowSubclass(mParent, &CHyperLink::ParentProc, reinterpret_cast<UINT_PTR>(this),
                            reinterpret_cast<DWORD_PTR>(this));
    mRoleTried = false;
    return true;
}

// The system's proxy names the static by its text but calls it static text; the
// role annotation makes it a link. Where COM or the service is missing (or, as under
// Wine, the service does nothing) the link stays what the proxy makes of it. Tried
// once, when the link first shows: a run that never shows it does not load oleacc.
void CHyperLink::AnnotateRole() {
    if (mRoleTried) return;
    mRoleTried = true;
    const HRESULT com = late::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // A thread already in the other apartment kind serves as well; only a start of our own is undone.
    if (FAILED(com) && com != RPC_E_CHANGED_MODE) return;
    mComStarted = SUCCEEDED(com);
    void* services = nullptr;
    if (SUCCEEDED(late::CoCreateInstance(kClsidAccPropServices, nullptr, CLSCTX_INPROC_SERVER, kIidAccPropServices,
                                     &services)) &&
        services) {
        auto* props = static_cast<IAccPropServices*>(services);
        VARIANT role{};
        V_VT(&role) = VT_I4;
        V_I4(&role) = ROLE_SYSTEM_LINK;
        if (SUCCEEDED(
                props->SetHwndProp(mHwnd, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, kPropIdAccRole, role))) {
            mAccProps = props;
            return;
        }
        props->Release();
    }
    ReleaseAnnotation(mHwnd);
}

// While the window still exists: the annotation service keeps what it was told per window.
void CHyperLink::ReleaseAnnotation(HWND hwnd) {
    if (mAccProps) {
        MSAAPROPID role = kPropIdAccRole;
        mAccProps->ClearHwndProps(hwnd, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, &role, 1);
        mAccProps->Release();
        mAccProps = nullptr;
    }
    if (mComStarted) late::CoUninitialize();
    mComStarted = false;
}

void CHyperLink::SetLinkTarget(const std::wstring& target) {
    mTarget = target;
    if (!mHwnd || !::IsWindow(mHwnd)) return;
    ::ShowWindow(mHwnd, SW_HIDE);
    SizeToText();
    UpdateTool();
    ::ShowWindow(mHwnd, SW_SHOW);
}

void CHyperLink::UpdateTool() {
    if (!mTooltip) return;
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = mHwnd;
    tool.uId = kToolId;
    tool.lpszText = const_cast<wchar_t*>(mTarget.c_str());
    ::SendMessageW(mTooltip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    ::GetClientRect(mHwnd, &tool.rect);
    ::SendMessageW(mTooltip, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void CHyperLink::UseFont(HFONT dialogFont) {
    LOGFONTW lf{};
    if (!mHwnd || !dialogFont || !::GetObjectW(dialogFont, sizeof lf, &lf)) return;
    lf.lfUnderline = (mStyle & brut::kLinkUnderline) ? TRUE : FALSE;
    HFONT font = ::CreateFontIndirectW(&lf);
    if (!font) return;
    ::SendMessageW(mHwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (mUnderlineFont) ::DeleteObject(mUnderlineFont);
    mUnderlineFont = font;
    SizeToText();
    UpdateTool();
}

void CHyperLink::SizeToText() {
    if (!(mStyle & brut::kLinkAutoSize) || !mHwnd || !mParent) return;
    RECT window{}, client{};
    ::GetWindowRect(mHwnd, &window);
    ::MapWindowPoints(nullptr, mParent, reinterpret_cast<POINT*>(&window), 2);
    ::GetClientRect(mHwnd, &client);
    const std::wstring text = WindowText(mHwnd);
    SIZE extent{};
    HDC dc = ::GetDC(mHwnd);
    HGDIOBJ old = ::SelectObject(dc, mUnderlineFont);
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    ::SelectObject(dc, old);
    ::ReleaseDC(mHwnd, dc);
    const auto style = static_cast<uint32_t>(::GetWindowLongW(mHwnd, GWL_STYLE));
    constexpr int margins = 2 * brut::kLinkFocusMargin;
    const brut::LinkRect r = brut::SizeLinkToText({window.left, window.top, window.right, window.bottom},
                                                  {client.left, client.top, client.right, client.bottom},
                                                  extent.cx + margins, extent.cy + margins, style);
    ::SetWindowPos(mHwnd, nullptr, r.left, r.top, r.Width(), r.Height(), SWP_NOZORDER | SWP_NOACTIVATE);
    Repaint();
    UpdateTool();
}

void CHyperLink::Repaint() {
    if (mHwnd) ::InvalidateRect(mHwnd, nullptr, TRUE);
}

// The static draws its text into the link's own paint, moved in by the margin, so
// that the focus rectangle around it never crosses the text or its underline.
void CHyperLink::Paint(HDC dc) {
    RECT client{};
    ::GetClientRect(mHwnd, &client);
    POINT old{};
    // See-through like the dialog's other texts: the parent's background goes first.
    if (mParent) {
        POINT at{0, 0};
        ::MapWindowPoints(mHwnd, mParent, &at, 1);
        ::OffsetWindowOrgEx(dc, at.x, at.y, &old);
        ::SendMessageW(mParent, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
        ::SetWindowOrgEx(dc, old.x, old.y, nullptr);
    }
    ::OffsetWindowOrgEx(dc, -brut::kLinkFocusMargin, -brut::kLinkFocusMargin, &old);
    ::DefSubclassProc(mHwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    ::SetWindowOrgEx(dc, old.x, old.y, nullptr);
    // As standard controls do, hidden while the system hides focus cues (until a key is used).
    if (::GetFocus() == mHwnd && !(::SendMessageW(mHwnd, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS)) {
        ::SetTextColor(dc, RGB(0, 0, 0));
        ::SetBkColor(dc, RGB(255, 255, 255));
        ::DrawFocusRect(dc, &client);
    }
}

void CHyperLink::Open() {
    Win32LinkShell shell(mHwnd);
    if (brut::OpenLinkTarget(shell, U16(mTarget.c_str(), mTarget.size()))) {
        mVisited = 1;
        Repaint();
    }
}

LRESULT CALLBACK CHyperLink::ControlProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data) {
    auto* self = reinterpret_cast<CHyperLink*>(data);
    switch (msg) {
    case WM_NCHITTEST:
        return HTCLIENT;  // a static is transparent to the mouse otherwise
    case WM_SETCURSOR:
        if (gLinkCursor) {
            ::SetCursor(gLinkCursor);
            return TRUE;
        }
        break;
    case WM_MOUSEMOVE:
        if (!self->mHover) {
            self->mHover = 1;
            self->Repaint();
            ::SetCapture(hwnd);
        } else {
            RECT client{};
            ::GetClientRect(hwnd, &client);
            const POINT at{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
            if (!::PtInRect(&client, at)) {
                self->mHover = 0;
                ::ReleaseCapture();
                self->Repaint();
            }
        }
        break;
    case WM_SETFOCUS:
        self->mPressed = 1;
        self->Repaint();
        break;
    case WM_KILLFOCUS:
        self->mPressed = 0;
        self->mHover = 0;
        self->Repaint();
        break;
    case WM_LBUTTONDOWN:
        if (self->mStyle & brut::kLinkFocusOnClick) ::SetFocus(hwnd);
        if (self->mStyle & brut::kLinkOpenOnButtonDown) self->Open();
        self->mPressed = 1;
        return 0;
    case WM_LBUTTONUP:
        if (self->mPressed && !(self->mStyle & brut::kLinkOpenOnButtonDown)) self->Open();
        return 0;
    case WM_GETDLGCODE: {
        LRESULT code = ::DefSubclassProc(hwnd, msg, wp, lp);
        const auto* key = reinterpret_cast<const MSG*>(lp);
        if (key && brut::LinkWantsKey(key->message, key->wParam)) code |= DLGC_WANTMESSAGE;
        return code;
    }
    case WM_KEYDOWN:
        if (brut::LinkWantsKey(brut::kWmKeyDown, wp)) {
            if (brut::LinkOpensOnKey(wp, (lp & (1 << 30)) != 0)) self->Open();
            return 0;
        }
        break;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(hwnd, &ps);
        if (dc) self->Paint(dc);
        ::EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_SHOWWINDOW:
        if (wp) self->AnnotateRole();
        break;
    case WM_UPDATEUISTATE: {
        const LRESULT result = ::DefSubclassProc(hwnd, msg, wp, lp);
        self->Repaint();
        return result;
    }
    case WM_NCDESTROY:
        self->ReleaseAnnotation(hwnd);
        ::RemoveWindowSubclass(hwnd, &CHyperLink::ControlProc, kSubclassId);
        if (self->mHwnd == hwnd) self->mHwnd = nullptr;
        break;
    default:
        break;
    }
    return ::DefSubclassProc(hwnd, msg, wp, lp);
}

// The parent hands the colour question for its static children to the child
// itself: this is the link's answer for its own window.
LRESULT CALLBACK CHyperLink::ParentProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR data) {
    auto* self = reinterpret_cast<CHyperLink*>(data);
    if (msg == WM_CTLCOLORSTATIC && self->mHwnd && reinterpret_cast<HWND>(lp) == self->mHwnd) {
        HDC dc = reinterpret_cast<HDC>(wp);
        ::SetTextColor(dc, brut::LinkTextColour(self->mStyle, self->mHover != 0, self->mPressed != 0,
                                                self->mVisited != 0));
        ::SetBkColor(dc, self->mBackground);
        return reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH));
    }
    if (msg == WM_NCDESTROY) {
        ::RemoveWindowSubclass(hwnd, &CHyperLink::ParentProc, id);
        if (self->mParent == hwnd) self->mParent = nullptr;
    }
    return ::DefSubclassProc(hwnd, msg, wp, lp);
}

}  // namespace plat::win32
