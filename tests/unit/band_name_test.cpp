#include <gtest/gtest.h>

#include "ui/BandName.h"
#include "util/Text.h"

using namespace brut;

namespace {

TEST(BandName, BothLinesForScreenReaders) {
    struct Case { std::u16string title, versionLine, name; };
    const Case cases[] = {
        {u"Sample Pro", u"Version 5.1 Build 0", u"Sample Pro\r\nVersion 5.1 Build 0"},
        {u"Sample Pro", u"", u"Sample Pro"},
        {u"", u"Version 5", u"Version 5"},
        {u"", u"", u""},
        // The proxy drops the first single ampersand as a mnemonic: doubled, every one survives.
        {u"A&B && C", u"Version 5", u"A&&B &&&& C\r\nVersion 5"},
        {u"\u3042\u3044", u"Version 6", u"\u3042\u3044\r\nVersion 6"},
    };
    for (const Case& c : cases) EXPECT_EQ(HeaderBandName(c.title, c.versionLine), c.name) << ToUtf8(c.title);
}

}  // namespace
