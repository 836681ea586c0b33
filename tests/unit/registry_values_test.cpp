#include <gtest/gtest.h>

#include "fakes/FakePlatform.h"
#include "platform/RegistryValues.h"
#include "util/Text.h"

using namespace plat;
using fake::Utf16Bytes;

namespace {

const std::u16string kKey = u"Software\\Brindle\\Brindle Uptide";
constexpr uint32_t kRead64 = kKeyRead | kKeyWow64_64;
constexpr uint32_t kAll64 = kKeyAllAccess | kKeyWow64_64;

class RegistryValuesTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(fp.registry.openHandles, 0) << "a key was left open"; }

    bool ReadText(const std::u16string& name, std::u16string& text) {
        ScopedKey key(fp.registry);
        EXPECT_EQ(fp.registry.OpenKey(Hive::CurrentUser, kKey, kRead64, key.Handle()), 0u);
        return ReadRegistryText(key.Get(), name, text);
    }
    bool ReadDword(const std::u16string& name, uint32_t& value) {
        ScopedKey key(fp.registry);
        EXPECT_EQ(fp.registry.OpenKey(Hive::CurrentUser, kKey, kRead64, key.Handle()), 0u);
        return ReadRegistryDword(key.Get(), name, value);
    }

    fake::FakePlatform fp;
};

TEST_F(RegistryValuesTest, ReadRegistryTextDecodesOnlyStringValues) {
    struct Case { const char* what; uint32_t type; std::vector<uint8_t> data; bool ok; std::u16string want; };
    std::vector<uint8_t> odd = Utf16Bytes(u"abc");
    odd.push_back('d');
    std::vector<uint8_t> twoZeros = Utf16Bytes(u"ab");
    twoZeros.insert(twoZeros.end(), {0, 0, 0, 0});
    const Case cases[] = {
        {"without zero", kRegSz, Utf16Bytes(u"https://x/"), true, u"https://x/"},
        {"with zero", kRegSz, Utf16Bytes(std::u16string(u"https://x/") + u'\0'), true, u"https://x/"},
        {"several zeros", kRegSz, twoZeros, true, u"ab"},
        {"odd byte count", kRegSz, odd, true, u"abc"},
        {"single byte", kRegSz, {'a'}, true, u""},
        {"empty", kRegSz, {}, true, u""},
        {"non-ASCII", kRegSz, Utf16Bytes(u"Lösche 自動"), true, u"Lösche 自動"},
        {"expand string", kRegExpandSz, Utf16Bytes(u"x"), false, u""},
        {"multi string", kRegMultiSz, Utf16Bytes(std::u16string(u"x\0\0", 3)), false, u""},
        {"dword", kRegDword, {1, 0, 0, 0}, false, u""},
        {"binary", kRegBinary, Utf16Bytes(u"x"), false, u""},
    };
    for (const auto& c : cases) {
        fp.registry.SetRaw(Hive::CurrentUser, kKey, u"V", c.type, c.data);
        std::u16string text = u"stale";
        EXPECT_EQ(ReadText(u"V", text), c.ok) << c.what;
        EXPECT_EQ(text, c.want) << c.what;
    }
    std::u16string text = u"stale";
    EXPECT_FALSE(ReadText(u"Missing", text));
    EXPECT_TRUE(text.empty());
    EXPECT_FALSE(ReadRegistryText(0, u"V", text));
}

TEST_F(RegistryValuesTest, ReadRegistryTextTakesLargeValuesWhole) {
    const std::u16string big(512 * 1024, u'x');
    fp.registry.SetText(Hive::CurrentUser, kKey, u"Big", big, true);
    std::u16string text;
    ASSERT_TRUE(ReadText(u"Big", text));
    EXPECT_EQ(text.size(), big.size());
}

TEST_F(RegistryValuesTest, ReadRegistryDwordNeedsFourBytesOfTypeDword) {
    struct Case { const char* what; uint32_t type; std::vector<uint8_t> data; bool ok; uint32_t want; };
    const Case cases[] = {
        {"dword", kRegDword, {0x78, 0x56, 0x34, 0x12}, true, 0x12345678},
        {"all ones", kRegDword, {0xFF, 0xFF, 0xFF, 0xFF}, true, 0xFFFFFFFF},
        {"short", kRegDword, {1, 0, 0}, false, 99},
        {"long", kRegDword, {1, 0, 0, 0, 0}, false, 99},
        {"qword", kRegQword, {1, 0, 0, 0, 0, 0, 0, 0}, false, 99},
        {"text 1", kRegSz, Utf16Bytes(u"1"), false, 99},
        {"binary of four", kRegBinary, {1, 0, 0, 0}, false, 99},
    };
    for (const auto& c : cases) {
        fp.registry.SetRaw(Hive::CurrentUser, kKey, u"N", c.type, c.data);
        uint32_t value = 99;
        EXPECT_EQ(ReadDword(u"N", value), c.ok) << c.what;
        EXPECT_EQ(value, c.want) << c.what;
    }
}

TEST_F(RegistryValuesTest, WritersStoreLittleEndianWithoutTerminatingZero) {
    ScopedKey key(fp.registry);
    ASSERT_EQ(fp.registry.CreateKey(Hive::CurrentUser, kKey, kAll64, key.Handle()), 0u);
    EXPECT_EQ(WriteRegistryText(key.Get(), u"T", u"Ä1"), 0u);
    EXPECT_EQ(WriteRegistryText(key.Get(), u"E", u""), 0u);
    EXPECT_EQ(WriteRegistryDword(key.Get(), u"D", 0x01020304), 0u);
    key.Close();

    const fake::RegValue* t = fp.registry.Value(Hive::CurrentUser, kKey, u"T");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->type, kRegSz);
    EXPECT_EQ(t->data, (std::vector<uint8_t>{0xC4, 0x00, '1', 0x00}));
    const fake::RegValue* e = fp.registry.Value(Hive::CurrentUser, kKey, u"E");
    ASSERT_NE(e, nullptr);
    EXPECT_TRUE(e->data.empty());
    const fake::RegValue* d = fp.registry.Value(Hive::CurrentUser, kKey, u"D");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->type, kRegDword);
    EXPECT_EQ(d->data, (std::vector<uint8_t>{4, 3, 2, 1}));

    EXPECT_NE(WriteRegistryText(0, u"T", u"x"), 0u);
    EXPECT_NE(WriteRegistryDword(0, u"D", 1), 0u);
}

}  // namespace
