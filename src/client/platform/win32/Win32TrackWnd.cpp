#include "platform/win32/Win32TrackWnd.h"

#include "ui/BandName.h"

namespace plat::win32 {

namespace {

const wchar_t kClassName[] = L"BRUTWizTrackWnd";

HFONT CopyFont(HFONT font, LONG weight) {
    LOGFONTW lf{};
    if (!font || !::GetObjectW(font, sizeof lf, &lf)) ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf);
    if (weight) lf.lfWeight = weight;
    return ::CreateFontIndirectW(&lf);
}

void HorizontalLine(HDC dc, int y, int width, COLORREF colour) {
    RECT line{0, y, width, y + 1};
    ::SetBkColor(dc, colour);
    ::ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &line, nullptr, 0, nullptr);
}

}  // namespace

CWizTrackWnd::~CWizTrackWnd() {
    std::lock_guard<std::recursive_mutex> guard(brut::TrackWndLock());
    if (mHwnd && ::IsWindow(mHwnd)) {
        ::SetWindowLongPtrW(mHwnd, GWLP_USERDATA, 0);
        ::DestroyWindow(mHwnd);
    }
    if (mBoldFont) ::DeleteObject(mBoldFont);
    if (mFont) ::DeleteObject(mFont);
}

bool CWizTrackWnd::Create(brut::HeaderLayout& layout, const wchar_t* secondLine, HWND parent, const wchar_t* title,
                          HFONT font, int dpi) {
    std::lock_guard<std::recursive_mutex> guard(brut::TrackWndLock());
    mLayout = &layout;
    mDpi = dpi;
    if (mHwnd && ::IsWindow(mHwnd)) {
        ::SetWindowLongPtrW(mHwnd, GWLP_USERDATA, 0);
        ::DestroyWindow(mHwnd);
    }
    mHwnd = nullptr;
    if (mFont) ::DeleteObject(mFont);
    if (mBoldFont) ::DeleteObject(mBoldFont);
    mFont = CopyFont(font, 0);
    mBoldFont = CopyFont(font, FW_BOLD);
    if (title) mTitle = title;
    if (secondLine) mSecondLine = secondLine;
    return CreateWindowLocked(parent);
}

bool CWizTrackWnd::SetBitmap(HWND parent, HBITMAP bitmap) {
    std::lock_guard<std::recursive_mutex> guard(brut::TrackWndLock());
    if (!mLayout) return false;
    mLayout->mBitmap = reinterpret_cast<std::uintptr_t>(bitmap);
    if (mHwnd && ::IsWindow(mHwnd)) {
        ::SetWindowLongPtrW(mHwnd, GWLP_USERDATA, 0);
        ::DestroyWindow(mHwnd);
    }
    mHwnd = nullptr;
    if (!CreateWindowLocked(parent)) return false;
    ::InvalidateRect(mHwnd, nullptr, TRUE);
    return true;
}

void CWizTrackWnd::SetTexts(const wchar_t* title, const wchar_t* secondLine) {
    std::u16string name;
    {
        std::lock_guard<std::recursive_mutex> guard(brut::TrackWndLock());
        mTitle = title ? title : L"";
        mSecondLine = secondLine ? secondLine : L"";
        name = brut::HeaderBandName(U16(mTitle.c_str()), U16(mSecondLine.c_str()));
    }
    if (mHwnd) {
        // Screen readers name the band by its text.
        ::SetWindowTextW(mHwnd, W(name));
        ::InvalidateRect(mHwnd, nullptr, TRUE);
    }
}

bool CWizTrackWnd::CreateWindowLocked(HWND parent) {
    static const ATOM atom = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.style = CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = &CWizTrackWnd::WndProc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        wc.lpszClassName = kClassName;
        return ::RegisterClassExW(&wc);
    }();
    if (!atom || !mLayout) return false;
    RECT client{};
    ::GetClientRect(parent, &client);
    BITMAP bm{};
    if (mLayout->mBitmap) ::GetObjectW(reinterpret_cast<HBITMAP>(mLayout->mBitmap), sizeof bm, &bm);
    const brut::BandGeometry g =
        brut::PlaceBand(*mLayout, client.right - client.left, bm.bmWidth, bm.bmHeight, mDpi);
    mHasBitmap = g.hasBitmap;
    mBitmapLeftOffset = g.bitmapLeftOffset;
    mBitmapTop = g.bitmapTop;
    mBitmapWidth = g.bitmapWidth;
    mBitmapHeight = g.bitmapHeight;
    const std::u16string name = brut::HeaderBandName(U16(mTitle.c_str()), U16(mSecondLine.c_str()));
    mHwnd = ::CreateWindowExW(brut::kTrackWndExStyle, kClassName, W(name), WS_CHILD | WS_VISIBLE, g.left, g.top, g.width,
                              g.height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(brut::kTrackWndId)),
                              ::GetModuleHandleW(nullptr), this);
    return mHwnd != nullptr;
}

LRESULT CALLBACK CWizTrackWnd::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* self = reinterpret_cast<CWizTrackWnd*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (msg) {
    case WM_ERASEBKGND:
        return 1;  // the paint fills everything itself
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(hwnd, &ps);
        if (self) {
            RECT client{};
            ::GetClientRect(hwnd, &client);
            self->Paint(dc, client);
        }
        ::EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_NCDESTROY:
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        if (self && self->mHwnd == hwnd) self->mHwnd = nullptr;
        break;
    default:
        break;
    }
    return ::DefWindowProcW(hwnd, msg, wp, lp);
}

void CWizTrackWnd::Paint(HDC dc, const RECT& client) {
    std::lock_guard<std::recursive_mutex> guard(brut::TrackWndLock());
    if (!mLayout) return;
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    // Drawn off screen first: the band never flickers while it is rebuilt.
    HDC mem = ::CreateCompatibleDC(dc);
    HBITMAP canvas = ::CreateCompatibleBitmap(dc, width, height);
    HGDIOBJ oldCanvas = ::SelectObject(mem, canvas);

    brut::BandGeometry g;
    g.width = width;
    g.height = height;
    g.hasBitmap = mHasBitmap;
    g.bitmapLeftOffset = mBitmapLeftOffset;
    g.bitmapTop = mBitmapTop;
    const brut::BandPaint p = brut::PaintBand(*mLayout, g, width, height, mDpi);

    HBRUSH back = ::CreateSolidBrush(mLayout->mBackColor);
    ::FillRect(mem, &client, back);
    ::DeleteObject(back);

    if (p.drawBitmap && mLayout->mBitmap) {
        auto* bitmap = reinterpret_cast<HBITMAP>(mLayout->mBitmap);
        BITMAP bm{};
        ::GetObjectW(bitmap, sizeof bm, &bm);
        HDC picture = ::CreateCompatibleDC(dc);
        HGDIOBJ oldPicture = ::SelectObject(picture, bitmap);
        if (mBitmapWidth == bm.bmWidth && mBitmapHeight == bm.bmHeight) {
            ::BitBlt(mem, p.bitmap.x, p.bitmap.y, bm.bmWidth, bm.bmHeight, picture, 0, 0, SRCCOPY);
        } else {
            // Scaled to the display, filtered: one picture serves every scale.
            ::SetStretchBltMode(mem, HALFTONE);
            ::SetBrushOrgEx(mem, 0, 0, nullptr);
            ::StretchBlt(mem, p.bitmap.x, p.bitmap.y, mBitmapWidth, mBitmapHeight, picture, 0, 0, bm.bmWidth,
                         bm.bmHeight, SRCCOPY);
        }
        ::SelectObject(picture, oldPicture);
        ::DeleteDC(picture);
    }

    ::SetBkMode(mem, TRANSPARENT);
    ::SetTextColor(mem, mLayout->mTextColor);
    HGDIOBJ oldFont = ::SelectObject(mem, mBoldFont);
    ::TextOutW(mem, p.title.x, p.title.y, mTitle.c_str(), static_cast<int>(mTitle.size()));
    ::SelectObject(mem, mFont);
    ::TextOutW(mem, p.secondLine.x, p.secondLine.y, mSecondLine.c_str(), static_cast<int>(mSecondLine.size()));
    ::SelectObject(mem, oldFont);

    HorizontalLine(mem, p.shadowLineY, width, ::GetSysColor(COLOR_BTNSHADOW));
    HorizontalLine(mem, p.highlightLineY, width, ::GetSysColor(COLOR_BTNHIGHLIGHT));

    ::BitBlt(dc, 0, 0, width, height, mem, 0, 0, SRCCOPY);
    ::SelectObject(mem, oldCanvas);
    ::DeleteObject(canvas);
    ::DeleteDC(mem);
}

}  // namespace plat::win32
