#pragma once
// CWizTrackWnd: the header band as a real child window of the dialog.
#include "platform/win32/Win32Platform.h"
#include "ui/WizTrackWnd.h"

namespace plat::win32 {

class CWizTrackWnd {
public:
    CWizTrackWnd() = default;
    ~CWizTrackWnd();
    CWizTrackWnd(const CWizTrackWnd&) = delete;
    CWizTrackWnd& operator=(const CWizTrackWnd&) = delete;

    // Keeps `layout` (owned by the dialog) and a copy of `font`, makes the
    // bold title font and creates the visible band across the parent's client
    // width, laid out at `dpi` (again when it exists). Null texts keep the ones
    // stored before.
    bool Create(brut::HeaderLayout& layout, const wchar_t* secondLine, HWND parent, const wchar_t* title, HFONT font,
                int dpi = 96);
    // Stores `bitmap` in the layout, re-creates the band around it, repaints.
    bool SetBitmap(HWND parent, HBITMAP bitmap);
    // Replaces both lines.
    void SetTexts(const wchar_t* title, const wchar_t* secondLine);

    HWND Hwnd() const { return mHwnd; }

private:
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    bool CreateWindowLocked(HWND parent);
    void Paint(HDC dc, const RECT& client);

    std::wstring mTitle;
    std::wstring mSecondLine;
    bool mHasBitmap = false;
    brut::HeaderLayout* mLayout = nullptr;
    HFONT mBoldFont = nullptr;
    HFONT mFont = nullptr;
    int mBitmapLeftOffset = 0;
    int mBitmapTop = 0;
    int mBitmapWidth = 0, mBitmapHeight = 0;  // as drawn
    int mDpi = 96;
    HWND mHwnd = nullptr;
};

}  // namespace plat::win32
