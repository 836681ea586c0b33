#include <gtest/gtest.h>

#include "util/Text.h"

using namespace brut;

TEST(Format, ConversionsAsTheLogAndTextsUseThem) {
    struct Case { std::u16string got, want; };
    const Case cases[] = {
        {Format(u"a %s b", u"x"), u"a x b"},
        {Format(u"%d|%u|%x|%X", -5, 7u, 0xa2cu, 0x1Au), u"-5|7|a2c|1A"},
        {Format(u"%02lu.%04lu %03lu", 7, 2026, 5), u"07.2026 005"},
        {Format(u"[08%x] %s%s%s%s%s", 0x1f4, u"m", u"", u"", u"", u""), u"[081f4] m"},
        {Format(u"%-20s|", u"abc"), u"abc                 |"},
        {Format(u"%04x%04x", 0x409, 0x4b0), u"040904b0"},
        {Format(u"100%% %s"), u"100% "},
        {Format(u"%d %s"), u"0 "},
        {Format(u"%d", -2147483647 - 1), u"-2147483648"},
        {Format(u"%q"), u"%q"},
        {Format(u"%lld|%I64d|%llu|%I64x", 5000000000LL, -5000000000LL, 5000000000ULL, 0x123456789ULL),
         u"5000000000|-5000000000|5000000000|123456789"},
        {Format(u"%d|%ld", 5000000000LL, 5000000000LL), u"705032704|705032704"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.want) << ToUtf8(c.want);
}

TEST(Format, TextArgumentIsNeverAFormat) {
    EXPECT_EQ(Format(u"%s", u"%s%d%n"), u"%s%d%n");
}

TEST(Format, ResultIsCutAtTheLimit) {
    std::u16string big(20000, u'x');
    EXPECT_EQ(FormatV(u"%s", {FmtArg(big)}, 12288).size(), 12288u);
}

TEST(ParseInt32, StrtolRules) {
    struct Case { const char16_t* in; int32_t want; };
    const Case cases[] = {
        {u"  42abc", 42}, {u"-7", -7}, {u"+9", 9}, {u"abc", 0}, {u"", 0}, {u"7 ", 7},
        {u"99999999999", 2147483647}, {u"-99999999999", -2147483647 - 1}, {u"2147483648", 2147483647},
        {u"-2147483648", -2147483647 - 1}, {u"\t\n 12", 12}, {u"- 5", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseInt32(c.in), c.want) << ToUtf8(c.in);
}

TEST(ParseNumberTruncated, DecimalNumbersCutToInteger) {
    EXPECT_EQ(ParseNumberTruncated(u"1031"), 1031);
    EXPECT_EQ(ParseNumberTruncated(u"1031.9"), 1031);
    EXPECT_EQ(ParseNumberTruncated(u"-3.5"), -3);
    EXPECT_EQ(ParseNumberTruncated(u"x"), 0);
    EXPECT_EQ(ParseNumberTruncated(u"1e30"), 2147483647);
}

TEST(TextHelpers, TrimCaseReplaceBackslash) {
    EXPECT_EQ(Trim(u" \t a b \r\n"), u"a b");
    EXPECT_EQ(ToLowerAscii(u"ÄbC"), u"Äbc");
    EXPECT_EQ(ReplaceAll(u"a\\Programme\\b\\Programme\\", u"\\Programme\\", u"\\Program Files\\"),
              u"a\\Program Files\\b\\Program Files\\");
    EXPECT_EQ(WithOneTrailingBackslash(u"C:\\x\\\\\\"), u"C:\\x\\");
    EXPECT_EQ(WithOneTrailingBackslash(u""), u"\\");
    EXPECT_EQ(ToUtf8(FromUtf8("Café 不明")), "Café 不明");
}
