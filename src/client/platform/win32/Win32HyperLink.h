#pragma once
// CHyperLink: a static text control of the dialog that looks and acts like a
// link in a web page.
#include "platform/win32/Win32Platform.h"
#include "ui/HyperLink.h"

struct IAccPropServices;

namespace plat::win32 {

class CHyperLink {
public:
    explicit CHyperLink(uint32_t style = brut::kLinkDefaultStyle);
    ~CHyperLink();
    CHyperLink(const CHyperLink&) = delete;
    CHyperLink& operator=(const CHyperLink&) = delete;

    // Takes over the dialog's static control: text and target complete each
    // other, the underlined font, the size, the cursor and the tooltip.
    bool Attach(HWND control);
    // A new target; the window (when there is one) is sized again and its tooltip follows.
    void SetLinkTarget(const std::wstring& target);
    // The dialog's font changed (another display scale): the link's own font follows
    // it and the control is measured again.
    void UseFont(HFONT dialogFont);

    const std::wstring& Target() const { return mTarget; }
    bool Visited() const { return mVisited != 0; }
    HWND Hwnd() const { return mHwnd; }
    HWND Tooltip() const { return mTooltip; }

private:
    static LRESULT CALLBACK ControlProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR self);
    static LRESULT CALLBACK ParentProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR self);
    void SizeToText();
    void UpdateTool();
    void Open();
    void Repaint();
    void Paint(HDC dc);
    void AnnotateRole();
    void ReleaseAnnotation(HWND hwnd);
    void Detach();

    COLORREF mBackground;
    uint32_t mPressed = 0;
    uint32_t mHover = 0;
    uint32_t mVisited = 0;
    uint32_t mStyle;
    std::wstring mTarget;
    HFONT mUnderlineFont = nullptr;
    HWND mTooltip = nullptr;
    HWND mHwnd = nullptr;
    HWND mParent = nullptr;
    // Tells screen readers that the static is a link; null where the system has no annotation service.
    IAccPropServices* mAccProps = nullptr;
    bool mComStarted = false;
    bool mRoleTried = false;
};

}  // namespace plat::win32
