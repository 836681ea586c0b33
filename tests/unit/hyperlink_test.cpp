#include <gtest/gtest.h>

#include "fakes/FakePlatform.h"
#include "fakes/TestSupport.h"
#include "ui/HyperLink.h"
#include "util/Text.h"

using namespace brut;
using plat::Hive;

namespace {

TEST(HyperLinkColour, RuleOverFlags) {
    struct Case { uint32_t style; bool hover, pressed, visited; uint32_t colour; };
    const Case cases[] = {
        {kLinkDefaultStyle, false, false, false, kLinkColour},
        {kLinkDefaultStyle, true, false, false, kLinkColour},  // hover colour not asked for
        {kLinkDefaultStyle, false, true, false, kFocusColour},
        {kLinkDefaultStyle, false, true, true, kFocusColour},
        {kLinkDefaultStyle, false, false, true, kVisitedColour},
        {kLinkDefaultStyle | kLinkUseHover, true, true, true, kHoverColour},
        {kLinkDefaultStyle | kLinkUseHover, false, true, false, kFocusColour},
        {kLinkDefaultStyle | kLinkNeverFocusColour, false, true, false, kLinkColour},
        {kLinkDefaultStyle | kLinkNeverFocusColour, false, true, true, kVisitedColour},
        {kLinkUseHover | kLinkNeverFocusColour, true, true, true, kHoverColour},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LinkTextColour(c.style, c.hover, c.pressed, c.visited), c.colour)
            << c.style << c.hover << c.pressed << c.visited;
}

TEST(HyperLinkSize, EachAlignment) {
    // A 233 x 13 window with a one-pixel border around a 231 x 11 client area.
    const LinkRect window{100, 50, 333, 63};
    const LinkRect client{0, 0, 231, 11};
    struct Case { uint32_t style; int32_t textWidth, textHeight; LinkRect result; };
    const Case cases[] = {
        {0, 150, 9, {100, 50, 252, 61}},
        {kSsRight, 150, 9, {181, 50, 333, 61}},
        {kSsCenter, 150, 9, {136, 50, 297, 61}},  // (233 - (152 + 8)) / 2 = 36 from each side
        {kSsCenterImage, 150, 9, {100, 51, 252, 62}},  // (13 - 11) / 2 = 1 from top and bottom
        {kSsCenter | kSsCenterImage, 150, 7, {136, 52, 297, 61}},
        {0, 400, 20, {100, 50, 502, 72}},  // wider than the window: it grows
    };
    for (const Case& c : cases) {
        const LinkRect r = SizeLinkToText(window, client, c.textWidth, c.textHeight, c.style);
        EXPECT_EQ(r.left, c.result.left) << c.style;
        EXPECT_EQ(r.top, c.result.top) << c.style;
        EXPECT_EQ(r.right, c.result.right) << c.style;
        EXPECT_EQ(r.bottom, c.result.bottom) << c.style;
    }
}

TEST(HyperLinkSize, RoomForTheFocusRectangleKeepsTheText) {
    const LinkRect window{100, 50, 333, 63};
    struct Case { uint32_t style; LinkRect result; };
    const Case cases[] = {
        {0, {98, 50, 333, 63}},
        {kSsCenterImage, {98, 50, 333, 63}},
        {kSsRight, {100, 50, 335, 63}},
        {kSsCenter, {98, 50, 335, 63}},
    };
    for (const Case& c : cases) {
        const LinkRect r = LinkRoomForFocus(window, c.style, 2);
        EXPECT_EQ(r.left, c.result.left) << c.style;
        EXPECT_EQ(r.top, c.result.top) << c.style;
        EXPECT_EQ(r.right, c.result.right) << c.style;
        EXPECT_EQ(r.bottom, c.result.bottom) << c.style;
    }
    // Sized around text plus the margins afterwards, the text drawn 2 pixels in starts where it did.
    const LinkRect room = LinkRoomForFocus(window, 0, 2);
    const LinkRect sized = SizeLinkToText(room, {0, 0, room.Width(), room.Height()}, 150 + 4, 9 + 4, 0);
    EXPECT_EQ(sized.left + 2, window.left);
    EXPECT_EQ(sized.Width(), 154);
    const LinkRect right = LinkRoomForFocus(window, kSsRight, 2);
    const LinkRect sizedRight = SizeLinkToText(right, {0, 0, right.Width(), right.Height()}, 154, 13, kSsRight);
    EXPECT_EQ(sizedRight.right - 2, window.right);
}

TEST(HyperLinkKeys, SpaceAndEnterBelongToTheLink) {
    struct Case { uint32_t message; uint64_t key; bool wanted; };
    const Case cases[] = {
        {kWmKeyDown, kVkReturn, true},
        {kWmKeyDown, kVkSpace, true},
        {kWmChar, u'\r', true},
        {kWmChar, u' ', true},
        {kWmKeyDown, 0x09, false},  // Tab moves on
        {kWmKeyDown, 0x1B, false},  // Escape stays the dialog's
        {kWmKeyDown, 0x28, false},  // arrows
        {kWmChar, u'a', false},     // mnemonics
        {0x0101, kVkSpace, false},  // key-up
        {0x0104, kVkReturn, false}, // Alt+Enter
    };
    for (const Case& c : cases) EXPECT_EQ(LinkWantsKey(c.message, c.key), c.wanted) << c.message << " " << c.key;
}

TEST(HyperLinkKeys, OpensOncePerPress) {
    EXPECT_TRUE(LinkOpensOnKey(kVkSpace, false));
    EXPECT_TRUE(LinkOpensOnKey(kVkReturn, false));
    EXPECT_FALSE(LinkOpensOnKey(kVkSpace, true));  // held down: the repeats do not open it again
    EXPECT_FALSE(LinkOpensOnKey(kVkReturn, true));
    EXPECT_FALSE(LinkOpensOnKey(0x41, false));
    EXPECT_FALSE(LinkOpensOnKey(0x09, false));
}

TEST(HyperLinkCommand, CutAtThePlaceholder) {
    struct Case { std::u16string handler, line; };
    const Case cases[] = {
        {u"\"C:\\Browser\\b.exe\" -url \"%1\"", u"\"C:\\Browser\\b.exe\" -url  T"},
        {u"C:\\b.exe %1 -new", u"C:\\b.exe  T"},
        {u"C:\\b.exe %1 \"%1\"", u"C:\\b.exe %1  T"},  // a quoted one wins over an earlier bare one
        {u"C:\\b.exe -nohome", u"C:\\b.exe -nohome T"},
        {u"", u" T"},
    };
    for (const Case& c : cases) EXPECT_EQ(HtmlHandlerCommandLine(c.handler, u"T"), c.line) << ToUtf8(c.handler);
}

TEST(HyperLinkCommand, EightBitLimit) {
    fake::FakePlatform fp;  // Latin-1 code page, one byte a character
    struct Case { std::u16string line; std::size_t bytes; };
    const Case cases[] = {
        {std::u16string(519, u'a'), 519},
        {std::u16string(520, u'a'), 519},
        {std::u16string(2000, u'a'), 519},
        {std::u16string(518, u'a') + u"\U0001F600", 518},  // a pair is never split
        {u"b\u00E9", 2},
    };
    for (const Case& c : cases) EXPECT_EQ(LinkCommandBytes(c.line).size(), c.bytes) << c.line.size();
    EXPECT_EQ(LinkCommandBytes(u"b\u00E9"), "b\xE9");
}

TEST(HyperLinkErrors, TextByResult) {
    struct Case { int32_t result; std::u16string text; };
    const Case cases[] = {
        {0, u"The operating system is out\nof memory or resources."},
        {2, u"The specified file was not found."},
        {26, u"A sharing violation occurred. "},
        {31, u"There is no application associated\nwith the given filename extension."},
        {32, u"The specified dynamic-link library was not found."},
        {1, u"Unknown Error (1) occurred."},
        {33, u"Unknown Error (33) occurred."},
        {-5, u"Unknown Error (-5) occurred."},
    };
    for (const Case& c : cases) EXPECT_EQ(LinkOpenErrorText(c.result), u"Can't open link:\n\n" + c.text) << c.result;
}

class FakeShell : public LinkShell {
public:
    int32_t ShellOpen(const std::u16string& target) override {
        opened.push_back(target);
        return shellResult;
    }
    int32_t RunCommandLine(const std::string& commandLine) override {
        run.push_back(commandLine);
        return runResult;
    }
    void ShowOpenError(const std::u16string& text) override { errors.push_back(text); }

    int32_t shellResult = 42;
    int32_t runResult = 33;
    std::vector<std::u16string> opened;
    std::vector<std::string> run;
    std::vector<std::u16string> errors;
};

TEST(HyperLinkOpen, ShellThenHtmlHandlerThenErrorBox) {
    struct Case {
        const char* what;
        int32_t shellResult;
        bool htmClass, htmCommand;
        int32_t runResult;
        bool opened;
        std::vector<std::string> run;
        std::vector<std::u16string> errors;
    };
    const std::string runLine = "\"C:\\b.exe\" -osint -url  http://t/";
    const Case cases[] = {
        {"the shell opens it", 33, true, true, 33, true, {}, {}},
        {"the handler opens it", 31, true, true, 42, true, {runLine}, {}},
        {"the handler fails too", 2, true, true, 11, false, {runLine}, {LinkOpenErrorText(11)}},
        {"the handler answers 32", 2, true, true, 32, false, {runLine}, {LinkOpenErrorText(32)}},
        {"no .htm class", 31, false, true, 42, false, {}, {LinkOpenErrorText(31)}},
        {"no handler command", 0, true, false, 42, false, {}, {LinkOpenErrorText(0)}},
    };
    for (const Case& c : cases) {
        fake::FakePlatform fp;
        fake::FreshLog log(fp);
        if (c.htmClass) fp.registry.SetText(Hive::ClassesRoot, u".htm", u"", u"htmlfile");
        if (c.htmCommand)
            fp.registry.SetText(Hive::ClassesRoot, u"htmlfile\\shell\\open\\command", u"",
                                u"\"C:\\b.exe\" -osint -url \"%1\"");
        FakeShell shell;
        shell.shellResult = c.shellResult;
        shell.runResult = c.runResult;
        EXPECT_EQ(OpenLinkTarget(shell, u"http://t/"), c.opened) << c.what;
        EXPECT_EQ(shell.opened, std::vector<std::u16string>{u"http://t/"}) << c.what;
        EXPECT_EQ(shell.run, c.run) << c.what;
        EXPECT_EQ(shell.errors, c.errors) << c.what;
        EXPECT_EQ(fake::LogHasLineStarting(fp, u"WAR CHyperLink: Can't open link http://t/"), !c.opened) << c.what;
    }
}

}  // namespace
