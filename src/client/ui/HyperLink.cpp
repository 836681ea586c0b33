#include "ui/HyperLink.h"

#include "log/Log.h"
#include "platform/Platform.h"
#include "platform/RegistryValues.h"
#include "system/Settings.h"

namespace brut {

namespace {

struct ErrorText {
    int32_t result;
    const char16_t* text;
};
// The shell's documented failure results; English in every UI language.
const ErrorText kOpenErrors[] = {
    {0, u"The operating system is out\nof memory or resources."},
    {2, u"The specified file was not found."},
    {3, u"The specified path was not found."},
    {5, u"The operating system denied\naccess to the specified file."},
    {8, u"There was not enough memory to complete the operation."},
    {11, u"The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."},
    {26, u"A sharing violation occurred. "},
    {27, u"The filename association is\nincomplete or invalid."},
    {28, u"The DDE transaction could not\nbe completed because the request timed out."},
    {29, u"The DDE transaction failed."},
    {30, u"The DDE transaction could not\nbe completed because other DDE transactions\nwere being processed."},
    {31, u"There is no application associated\nwith the given filename extension."},
    {32, u"The specified dynamic-link library was not found."},
};

bool ReadClassesRootDefault(const std::u16string& path, std::u16string& value) {
    plat::ScopedKey key(plat::Reg());
    if (plat::Reg().OpenKey(plat::Hive::ClassesRoot, path, plat::kKeyQueryValue, key.Handle()) != plat::kErrSuccess)
        return false;
    return plat::ReadRegistryText(key.Get(), u"", value);
}

}  // namespace

uint32_t LinkTextColour(uint32_t style, bool hovering, bool pressed, bool visited) {
    if (hovering && (style & kLinkUseHover)) return kHoverColour;
    if (!(style & kLinkNeverFocusColour) && pressed) return kFocusColour;
    return visited ? kVisitedColour : kLinkColour;
}

LinkRect SizeLinkToText(const LinkRect& window, const LinkRect& client, int32_t textWidth, int32_t textHeight,
                        uint32_t staticStyle) {
    // The borders stay around the text.
    const int32_t width = textWidth + window.Width() - client.Width();
    const int32_t height = textHeight + window.Height() - client.Height();
    LinkRect r = window;
    if (staticStyle & kSsCenterImage) {
        const int32_t shrink = (r.Height() - height) / 2;
        r.top += shrink;
        r.bottom -= shrink;
    } else {
        r.bottom = r.top + height;
    }
    if (staticStyle & kSsCenter) {
        const int32_t shrink = (r.Width() - (width + 8)) / 2;
        r.left += shrink;
        r.right -= shrink;
    } else if (staticStyle & kSsRight) {
        r.left = r.right - width;
    } else {
        r.right = r.left + width;
    }
    return r;
}

LinkRect LinkRoomForFocus(const LinkRect& window, uint32_t staticStyle, int32_t margin) {
    LinkRect r = window;
    if (staticStyle & kSsCenter) {
        r.left -= margin;
        r.right += margin;
    } else if (staticStyle & kSsRight) {
        r.right += margin;
    } else {
        r.left -= margin;
    }
    return r;
}

bool LinkWantsKey(uint32_t message, uint64_t key) {
    return (message == kWmKeyDown || message == kWmChar) && (key == kVkReturn || key == kVkSpace);
}

bool LinkOpensOnKey(uint64_t key, bool repeated) { return !repeated && (key == kVkReturn || key == kVkSpace); }

std::u16string HtmlHandlerCommandLine(const std::u16string& handlerCommand, const std::u16string& target) {
    std::size_t cut = handlerCommand.find(u"\"%1\"");
    if (cut == std::u16string::npos) cut = handlerCommand.find(u"%1");
    std::u16string line = cut == std::u16string::npos ? handlerCommand : handlerCommand.substr(0, cut);
    return line + u" " + target;
}

std::string LinkCommandBytes(const std::u16string& commandLine) {
    constexpr std::size_t limit = kLinkCommandBytes - 1;
    std::string bytes = plat::Sys().ToAnsi(commandLine);
    if (bytes.size() <= limit) return bytes;
    // The longest run of whole characters (a surrogate pair counts as one) that fits.
    std::size_t lo = 0, hi = commandLine.size();
    while (lo < hi) {
        std::size_t mid = (lo + hi + 1) / 2;
        if (plat::Sys().ToAnsi(commandLine.substr(0, mid)).size() <= limit)
            lo = mid;
        else
            hi = mid - 1;
    }
    if (lo > 0 && commandLine[lo - 1] >= 0xD800 && commandLine[lo - 1] <= 0xDBFF) --lo;
    return plat::Sys().ToAnsi(commandLine.substr(0, lo));
}

std::u16string LinkOpenErrorText(int32_t result) {
    std::u16string text = u"Can't open link:\n\n";
    for (const ErrorText& e : kOpenErrors)
        if (e.result == result) return text + e.text;
    return text + Format(u"Unknown Error (%d) occurred.", result);
}

bool OpenLinkTarget(LinkShell& shell, const std::u16string& target) {
    int32_t result = shell.ShellOpen(target);
    if (result <= 32) {
        std::u16string className, command;
        if (ReadClassesRootDefault(u".htm", className) &&
            ReadClassesRootDefault(className + u"\\shell\\open\\command", command)) {
            result = shell.RunCommandLine(LinkCommandBytes(HtmlHandlerCommandLine(command, target)));
        }
    }
    if (result <= 32) {
        LogWarning(u"CHyperLink: Can't open link %s (%d)", target, result);
        shell.ShowOpenError(LinkOpenErrorText(result));
        return false;
    }
    return true;
}

}  // namespace brut
