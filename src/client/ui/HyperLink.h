#pragma once
// The rules of CHyperLink, the dialog's link control: its colour, its size
// around its text and how a target is opened. The Win32 control applies them.
#include <cstdint>
#include <string>

namespace brut {

// Style flags of a link.
constexpr uint32_t kLinkUnderline = 0x01;
constexpr uint32_t kLinkUseHover = 0x02;
constexpr uint32_t kLinkAutoSize = 0x04;
constexpr uint32_t kLinkOpenOnButtonDown = 0x08;
constexpr uint32_t kLinkFocusOnClick = 0x10;
constexpr uint32_t kLinkNoCursor = 0x20;
constexpr uint32_t kLinkNeverFocusColour = 0x40;
constexpr uint32_t kLinkDefaultStyle = kLinkUnderline | kLinkAutoSize | kLinkFocusOnClick;

// COLORREF values (0x00BBGGRR) shared by every link.
constexpr uint32_t kLinkColour = 0xFF0000;     // RGB(0,0,255)
constexpr uint32_t kVisitedColour = 0x800080;  // RGB(128,0,128)
constexpr uint32_t kFocusColour = 0x808000;    // RGB(0,128,128)
constexpr uint32_t kHoverColour = 0x0000FF;    // RGB(255,0,0)

uint32_t LinkTextColour(uint32_t style, bool hovering, bool pressed, bool visited);

// Static-control styles the sizing reads.
constexpr uint32_t kSsCenter = 0x1;
constexpr uint32_t kSsRight = 0x2;
constexpr uint32_t kSsCenterImage = 0x200;

struct LinkRect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
};
// The window rectangle (parent client coordinates) that fits `textWidth` x
// `textHeight`, from the current window and client rectangles and the
// control's static style.
LinkRect SizeLinkToText(const LinkRect& window, const LinkRect& client, int32_t textWidth, int32_t textHeight,
                        uint32_t staticStyle);

// Pixels between the text and the window's edge: room for the focus rectangle.
constexpr int32_t kLinkFocusMargin = 2;
// The window before sizing, widened by `margin` on the side its text is aligned
// to (both sides when centred), so that the text drawn `margin` pixels in stays
// where it was. The top stays: the text moves down instead, never over a
// control above it.
LinkRect LinkRoomForFocus(const LinkRect& window, uint32_t staticStyle, int32_t margin);

// Keyboard: window messages and virtual keys the link reads.
constexpr uint32_t kWmKeyDown = 0x0100;
constexpr uint32_t kWmChar = 0x0102;
constexpr uint64_t kVkReturn = 0x0D;  // also the character Enter types
constexpr uint64_t kVkSpace = 0x20;   // also the character Space types
// Whether a key message the dialog sees while the link has the focus is the
// link's: Enter would otherwise press the default button, and the characters
// that both keys type would be looked up as mnemonics.
bool LinkWantsKey(uint32_t message, uint64_t key);
// Whether a key-down opens the link: Space or Enter, once per press.
bool LinkOpensOnKey(uint64_t key, bool repeated);

// The HTML handler's command cut at its first quoted "%1" (or, without one,
// its first bare "%1"), then a blank and the target.
std::u16string HtmlHandlerCommandLine(const std::u16string& handlerCommand, const std::u16string& target);
// The command line as the 8-bit text that is run: as many whole characters as
// fit kLinkCommandBytes with the terminator.
constexpr std::size_t kLinkCommandBytes = 520;
std::string LinkCommandBytes(const std::u16string& commandLine);

// "Can't open link:\n\n" and the text for a failed open's result.
std::u16string LinkOpenErrorText(int32_t result);

// What opening a link needs of the system.
class LinkShell {
public:
    virtual ~LinkShell() = default;
    // ShellExecuteW "open" with SW_SHOW: its result (above 32 is success).
    virtual int32_t ShellOpen(const std::u16string& target) = 0;
    // Runs an 8-bit command line with SW_SHOW: its result (above 31 is success).
    virtual int32_t RunCommandLine(const std::string& commandLine) = 0;
    // Exclamation beep and the error box.
    virtual void ShowOpenError(const std::u16string& text) = 0;
};

// The shell first, then the ".htm" handler, then the error box: true when the
// target was opened (the link becomes visited).
bool OpenLinkTarget(LinkShell& shell, const std::u16string& target);

}  // namespace brut
