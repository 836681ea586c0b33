#pragma once
// What the update dialog's logic needs of its window. The Win32 view binds it
// to the window built from dialog template 103; tests record it.
#include <cstdint>
#include <string>

#include "ui/ResourceIds.h"

namespace brut {

class BannerBand;

// The dialog's controls, by their ids in the template.
enum ControlId : int32_t {
    HEADER_BAND = BRUT_IDC_HEADER_BAND,
    LBL_MESSAGE_TEXT = BRUT_IDC_LBL_MESSAGE_TEXT,
    PROGRESS_BAR = BRUT_IDC_PROGRESS_BAR,
    LBL_SERVER_VERSION_TEXT = BRUT_IDC_LBL_SERVER_VERSION_TEXT,
    LBL_SERVER_VERSION = BRUT_IDC_LBL_SERVER_VERSION,
    linkMajorUpgradePopup = BRUT_IDC_LINK_MAJOR_UPGRADE,
    radInstallNowMajorUpgradePopup = BRUT_IDC_RAD_INSTALL_NOW,
    radRemindMeLaterMajorUpgradePopup = BRUT_IDC_RAD_REMIND_ME_LATER,
    radDontShowAgainMajorUpgradePopup = BRUT_IDC_RAD_DONT_SHOW_AGAIN,
    UPDATE_NOW_BUTTON = BRUT_IDC_UPDATE_NOW_BUTTON,
    CONTINUE_BUTTON = BRUT_IDC_CONTINUE_BUTTON,
    CLOSE_BUTTON = BRUT_IDC_CLOSE_BUTTON,
};

class DialogView {
public:
    virtual ~DialogView() = default;

    // --- the window
    // Builds what only a window on the screen needs (the header band with its fonts and
    // picture, the link's subclass, cursor and tooltip, the icons). Called once, when the
    // dialog may first show: a silent run never pays for it.
    virtual void BuildForShowing() = 0;
    // The DPI of the window's monitor, and of the system (for WindowRec).
    virtual int32_t WindowDpi() = 0;
    virtual int32_t SystemDpi() = 0;
    // Lays out again at `dpi` what the client sizes in pixels itself: the band, its
    // fonts and picture, the link.
    virtual void LayOut(int32_t dpi) = 0;
    virtual void SetTitle(const std::u16string& title) = 0;
    // The header band's two lines: the bold title and the version line.
    virtual void SetHeader(const std::u16string& title, const std::u16string& versionLine) = 0;
    // Moves the top-left corner to a screen position (the window's own pixels), keeping
    // the size; a position off every monitor lands on the nearest one.
    virtual void MoveTo(int32_t x, int32_t y) = 0;
    // Shows the window normally and brings it to the top without moving, sizing or redrawing it.
    virtual void ShowOnTop() = 0;

    // Called from other threads: they must not wait for the UI thread.
    virtual void Hide() = 0;
    virtual bool ScreenPosition(int32_t& left, int32_t& top) = 0;
    virtual void SetProgress(int32_t percent) = 0;  // handed to the UI thread
    // Lets the timer's handler run as soon as the UI thread is free, without waiting for its period.
    virtual void WakeTimer(uint32_t id) = 0;

    // --- controls
    virtual void SetText(ControlId control, const std::u16string& text) = 0;
    virtual void Show(ControlId control, bool show) = 0;
    virtual void Enable(ControlId control, bool enable) = 0;
    virtual bool IsShown(ControlId control) = 0;
    virtual bool IsEnabled(ControlId control) = 0;
    virtual void SetCheck(ControlId control, bool checked) = 0;
    virtual bool IsChecked(ControlId control) = 0;
    virtual void SetFocus(ControlId control) = 0;
    // The button that Enter clicks while the focus is on no push button.
    virtual void SetDefaultButton(ControlId control) = 0;
    virtual void SetLinkTarget(const std::u16string& target) = 0;
    // The header band as the banner sees it; none without a window.
    virtual BannerBand* HeaderBand() { return nullptr; }

    // --- interaction
    // A Yes/No box owned by the dialog; the platform's answer (plat::kIdYes, ...).
    virtual int AskYesNo(const std::u16string& text, const std::u16string& caption) = 0;
    // Starts (or restarts) a window timer: its id, 0 when it could not be started.
    virtual uint32_t StartTimer(uint32_t id, uint32_t milliseconds) = 0;
    virtual void StopTimer(uint32_t id) = 0;
    // Queues a close request (the dialog's OnClose runs later).
    virtual void PostClose() = 0;
    // Ends the modal run with this end code.
    virtual void End(int32_t code) = 0;
};

}  // namespace brut
