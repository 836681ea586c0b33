#include <gtest/gtest.h>

#include <limits>

#include "fakes/FakePlatform.h"
#include "system/Settings.h"
#include "util/Text.h"

using namespace brut;
using plat::Hive;
using fake::Utf16Bytes;

namespace {

const std::u16string kSettings = u"Software\\Brindle\\Brindle Uptide";
const std::u16string kProduct = kSettings + u"\\PhotoStudio";
const std::u16string kVersion = kProduct + u"\\21.0";

constexpr uint32_t kRead64 = plat::kKeyRead | plat::kKeyWow64_64;
constexpr uint32_t kAll64 = plat::kKeyAllAccess | plat::kKeyWow64_64;
constexpr uint32_t kDebugRights = plat::kKeyQueryValue | plat::kKeySetValue | plat::kKeyCreateSubKey;

class SettingsTest : public ::testing::Test {
protected:
    SettingsTest() {
        info.ProgramName = u"PhotoStudio";
        info.ProgramVersionNumber = u"21.0";
    }
    void TearDown() override {
        EXPECT_EQ(platform.registry.openHandles, 0) << "a key was left open";
        // Only the "Debug" read stays in the default view.
        for (const auto& a : platform.registry.accesses)
            EXPECT_TRUE(a.sam == kDebugRights || (a.sam & plat::kKeyWow64_64)) << ToUtf8(a.path);
    }

    // Every open (or every create) of `path` asked for exactly `sam`, and there was one.
    void ExpectAccess(Hive hive, const std::u16string& path, uint32_t sam, bool create) {
        bool seen = false;
        for (const auto& a : platform.registry.accesses) {
            if (a.hive != hive || a.create != create || ToLowerAscii(a.path) != ToLowerAscii(path)) continue;
            seen = true;
            EXPECT_EQ(a.sam, sam) << ToUtf8(path);
        }
        EXPECT_TRUE(seen) << "no " << (create ? "create" : "open") << " of " << ToUtf8(path);
    }

    // Reads through an opened key as other subsystems do.
    bool ReadText(const std::u16string& name, std::u16string& text) {
        plat::ScopedKey key(platform.registry);
        EXPECT_EQ(platform.registry.OpenKey(Hive::CurrentUser, kSettings, kRead64, key.Handle()), 0u);
        return ReadRegistryText(key.Get(), name, text);
    }
    bool ReadDword(const std::u16string& name, uint32_t& value) {
        plat::ScopedKey key(platform.registry);
        EXPECT_EQ(platform.registry.OpenKey(Hive::CurrentUser, kSettings, kRead64, key.Handle()), 0u);
        return ReadRegistryDword(key.Get(), name, value);
    }

    fake::FakePlatform platform;
    ProgramInfo info;
};

}  // namespace

TEST_F(SettingsTest, KeyPaths) {
    EXPECT_EQ(std::u16string(kSettingsKey), kSettings);
    EXPECT_EQ(ProductKey(info), kProduct);
    EXPECT_EQ(VersionKey(info), kVersion);

    // Empty parts never leave a trailing or doubled separator.
    ProgramInfo unnamed;
    EXPECT_EQ(ProductKey(unnamed), kSettings);
    unnamed.ProgramVersionNumber = u"3.1";
    EXPECT_EQ(VersionKey(unnamed), kSettings + u"\\3.1");
    info.ProgramVersionNumber.clear();
    EXPECT_EQ(VersionKey(info), kProduct);
}

TEST_F(SettingsTest, ReadRegistryTextDecodesOnlyStringValues) {
    struct Case { const char* what; uint32_t type; std::vector<uint8_t> data; bool ok; std::u16string want; };
    std::vector<uint8_t> odd = Utf16Bytes(u"abc");
    odd.push_back('d');
    std::vector<uint8_t> twoZeros = Utf16Bytes(u"ab");
    twoZeros.insert(twoZeros.end(), {0, 0, 0, 0});
    const Case cases[] = {
        {"without zero", plat::kRegSz, Utf16Bytes(u"https://x/"), true, u"https://x/"},
        {"with zero", plat::kRegSz, Utf16Bytes(std::u16string(u"https://x/") + u'\0'), true, u"https://x/"},
        {"several zeros", plat::kRegSz, twoZeros, true, u"ab"},
        {"odd byte count", plat::kRegSz, odd, true, u"abc"},
        {"single byte", plat::kRegSz, {'a'}, true, u""},
        {"empty", plat::kRegSz, {}, true, u""},
        {"non-ASCII", plat::kRegSz, Utf16Bytes(u"Lösche 自動"), true, u"Lösche 自動"},
        {"expand string", plat::kRegExpandSz, Utf16Bytes(u"x"), false, u""},
        {"multi string", plat::kRegMultiSz, Utf16Bytes(std::u16string(u"x\0\0", 3)), false, u""},
        {"dword", plat::kRegDword, {1, 0, 0, 0}, false, u""},
        {"binary", plat::kRegBinary, Utf16Bytes(u"x"), false, u""},
    };
    for (const auto& c : cases) {
        platform.registry.SetRaw(Hive::CurrentUser, kSettings, u"V", c.type, c.data);
        std::u16string text = u"stale";
        EXPECT_EQ(ReadText(u"V", text), c.ok) << c.what;
        EXPECT_EQ(text, c.want) << c.what;
    }
    std::u16string text = u"stale";
    EXPECT_FALSE(ReadText(u"Missing", text));
    EXPECT_TRUE(text.empty());
    EXPECT_FALSE(ReadRegistryText(0, u"V", text));
}

TEST_F(SettingsTest, ReadRegistryTextTakesLargeValuesWhole) {
    const std::u16string big(512 * 1024, u'x');
    platform.registry.SetText(Hive::CurrentUser, kSettings, u"Big", big, true);
    std::u16string text;
    ASSERT_TRUE(ReadText(u"Big", text));
    EXPECT_EQ(text.size(), big.size());
}

TEST_F(SettingsTest, ReadRegistryDwordNeedsFourBytesOfTypeDword) {
    struct Case { const char* what; uint32_t type; std::vector<uint8_t> data; bool ok; uint32_t want; };
    const Case cases[] = {
        {"dword", plat::kRegDword, {0x78, 0x56, 0x34, 0x12}, true, 0x12345678},
        {"all ones", plat::kRegDword, {0xFF, 0xFF, 0xFF, 0xFF}, true, 0xFFFFFFFF},
        {"short", plat::kRegDword, {1, 0, 0}, false, 99},
        {"long", plat::kRegDword, {1, 0, 0, 0, 0}, false, 99},
        {"qword", plat::kRegQword, {1, 0, 0, 0, 0, 0, 0, 0}, false, 99},
        {"text 1", plat::kRegSz, Utf16Bytes(u"1"), false, 99},
        {"binary of four", plat::kRegBinary, {1, 0, 0, 0}, false, 99},
    };
    for (const auto& c : cases) {
        platform.registry.SetRaw(Hive::CurrentUser, kSettings, u"N", c.type, c.data);
        uint32_t value = 99;
        EXPECT_EQ(ReadDword(u"N", value), c.ok) << c.what;
        EXPECT_EQ(value, c.want) << c.what;
    }
}

TEST_F(SettingsTest, WritersStoreLittleEndianWithoutTerminatingZero) {
    plat::ScopedKey key(platform.registry);
    ASSERT_EQ(platform.registry.CreateKey(Hive::CurrentUser, kSettings, kAll64, key.Handle()), 0u);
    EXPECT_EQ(WriteRegistryText(key.Get(), u"T", u"Ä1"), 0u);
    EXPECT_EQ(WriteRegistryText(key.Get(), u"E", u""), 0u);
    EXPECT_EQ(WriteRegistryDword(key.Get(), u"D", 0x01020304), 0u);
    key.Close();

    const fake::RegValue* t = platform.registry.Value(Hive::CurrentUser, kSettings, u"T");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->type, plat::kRegSz);
    EXPECT_EQ(t->data, (std::vector<uint8_t>{0xC4, 0x00, '1', 0x00}));
    const fake::RegValue* e = platform.registry.Value(Hive::CurrentUser, kSettings, u"E");
    ASSERT_NE(e, nullptr);
    EXPECT_TRUE(e->data.empty());
    const fake::RegValue* d = platform.registry.Value(Hive::CurrentUser, kSettings, u"D");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->type, plat::kRegDword);
    EXPECT_EQ(d->data, (std::vector<uint8_t>{4, 3, 2, 1}));

    EXPECT_NE(WriteRegistryText(0, u"T", u"x"), 0u);
    EXPECT_NE(WriteRegistryDword(0, u"D", 1), 0u);
}

TEST_F(SettingsTest, DebugFlag) {
    EXPECT_EQ(ReadDebugFlag(), 0u);  // no key

    platform.registry.SetDword(Hive::CurrentUser, kSettings, u"Debug", 1);
    EXPECT_EQ(ReadDebugFlag(), 1u);
    platform.registry.SetText(Hive::CurrentUser, kSettings, u"Debug", u"1");
    EXPECT_EQ(ReadDebugFlag(), 0u);
    platform.registry.SetRaw(Hive::CurrentUser, kSettings, u"Debug", plat::kRegQword, {1, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(ReadDebugFlag(), 0u);

    // Default view: the flag is not looked up in the 64-bit view.
    ExpectAccess(Hive::CurrentUser, kSettings, kDebugRights, false);
}

TEST_F(SettingsTest, ProductSettingPrefersTheProductKey) {
    EXPECT_EQ(GetDebugUrl(info), u"");

    platform.registry.SetText(Hive::CurrentUser, kSettings, u"DebugUrl_v2", u"http://all/");
    EXPECT_EQ(GetDebugUrl(info), u"http://all/");
    ProgramInfo other;
    other.ProgramName = u"Other";
    EXPECT_EQ(GetDebugUrl(other), u"http://all/");

    // An unreadable value under the product key falls back as a missing one does.
    platform.registry.SetDword(Hive::CurrentUser, kProduct, u"DebugUrl_v2", 5);
    EXPECT_EQ(GetDebugUrl(info), u"http://all/");

    platform.registry.SetText(Hive::CurrentUser, kProduct, u"DebugUrl_v2", u"http://photo/", true);
    EXPECT_EQ(GetDebugUrl(info), u"http://photo/");
    EXPECT_EQ(GetDebugUrl(other), u"http://all/");
    // Values are per user: the machine hive is never asked.
    platform.registry.SetText(Hive::LocalMachine, kSettings, u"DebugUrl_v2", u"http://machine/");
    EXPECT_EQ(GetDebugUrl(other), u"http://all/");

    ExpectAccess(Hive::CurrentUser, kProduct, kRead64, false);
    ExpectAccess(Hive::CurrentUser, kSettings, kRead64, false);
}

TEST_F(SettingsTest, BannerUrlFallsBackToTheServiceUrl) {
    EXPECT_EQ(GetDebugBannerDownloadUrl(info), u"");

    platform.registry.SetText(Hive::CurrentUser, kSettings, u"DebugUrl_v2", u"http://svc/");
    EXPECT_EQ(GetDebugBannerDownloadUrl(info), u"http://svc/");
    platform.registry.SetText(Hive::CurrentUser, kProduct, u"DebugBannerDownloadUrl_v2", u"");
    EXPECT_EQ(GetDebugBannerDownloadUrl(info), u"http://svc/");
    platform.registry.SetText(Hive::CurrentUser, kSettings, u"DebugBannerDownloadUrl_v2", u"http://ban/");
    // The empty value under the product key was read: no look at the settings key's banner value.
    EXPECT_EQ(GetDebugBannerDownloadUrl(info), u"http://svc/");
    platform.registry.SetText(Hive::CurrentUser, kProduct, u"DebugBannerDownloadUrl_v2", u"http://pban/");
    EXPECT_EQ(GetDebugBannerDownloadUrl(info), u"http://pban/");
}

TEST_F(SettingsTest, LastUpdateCheckRoundTrip) {
    struct Case { int64_t time; const char16_t* text; int32_t read; };
    const Case cases[] = {
        {1796644685, u"1796644685", 1796644685},
        {0, u"0", 0},
        {-5, u"-5", -5},
        // Written from all 64 bits; read back saturated to 32.
        {5000000000LL, u"5000000000", std::numeric_limits<int32_t>::max()},
        {std::numeric_limits<int64_t>::min(), u"-9223372036854775808", std::numeric_limits<int32_t>::min()},
    };
    for (const auto& c : cases) {
        WriteLastUpdateCheck(info, c.time);
        const fake::RegValue* v = platform.registry.Value(Hive::LocalMachine, kVersion, u"LastUpdateCheck");
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->type, plat::kRegSz);
        EXPECT_EQ(v->data, Utf16Bytes(c.text)) << "stored without terminating zero";
        int32_t stored = 12345;
        EXPECT_TRUE(ReadLastUpdateCheck(info, stored));
        EXPECT_EQ(stored, c.read) << c.time;
    }
    ExpectAccess(Hive::LocalMachine, kVersion, kAll64, true);

    platform.registry.accesses.clear();
    int32_t stored = 0;
    EXPECT_TRUE(ReadLastUpdateCheck(info, stored));
    ExpectAccess(Hive::LocalMachine, kVersion, kRead64, false);
}

TEST_F(SettingsTest, LastUpdateCheckNowAndReset) {
    platform.system.unixNow = 1700000000;
    WriteLastUpdateCheckNow(info);
    EXPECT_EQ(platform.registry.TextOf(Hive::LocalMachine, kVersion, u"LastUpdateCheck"), u"1700000000");
    ResetLastUpdateCheck(info);
    EXPECT_EQ(platform.registry.TextOf(Hive::LocalMachine, kVersion, u"LastUpdateCheck"), u"0");
    // Per user nothing is kept.
    EXPECT_FALSE(platform.registry.HasKey(Hive::CurrentUser, kVersion));
}

TEST_F(SettingsTest, LastUpdateCheckUnreadable) {
    int32_t stored = 77;
    EXPECT_FALSE(ReadLastUpdateCheck(info, stored));  // no key
    platform.registry.AddKey(Hive::LocalMachine, kVersion);
    EXPECT_FALSE(ReadLastUpdateCheck(info, stored));  // no value
    platform.registry.SetDword(Hive::LocalMachine, kVersion, u"LastUpdateCheck", 1700000000);
    EXPECT_FALSE(ReadLastUpdateCheck(info, stored));  // wrong type
    EXPECT_EQ(stored, 77);

    platform.registry.SetText(Hive::LocalMachine, kVersion, u"LastUpdateCheck", u"  1700000000", true);
    EXPECT_TRUE(ReadLastUpdateCheck(info, stored));
    EXPECT_EQ(stored, 1700000000);
    platform.registry.SetText(Hive::LocalMachine, kVersion, u"LastUpdateCheck", u"never");
    EXPECT_TRUE(ReadLastUpdateCheck(info, stored));
    EXPECT_EQ(stored, 0);
}

TEST_F(SettingsTest, LastUpdateCheckNotStoredForStubsOrWithoutRights) {
    info.IsStubExe = 1;
    WriteLastUpdateCheck(info, 1700000000);
    WriteLastUpdateCheckNow(info);
    ResetLastUpdateCheck(info);
    EXPECT_FALSE(platform.registry.HasKey(Hive::LocalMachine, kVersion));
    EXPECT_TRUE(platform.registry.accesses.empty());

    info.IsStubExe = 0;
    platform.registry.SetText(Hive::LocalMachine, kVersion, u"LastUpdateCheck", u"42");
    platform.registry.denyWrite.insert({Hive::LocalMachine, u"Software"});
    WriteLastUpdateCheck(info, 1700000000);
    EXPECT_EQ(platform.registry.TextOf(Hive::LocalMachine, kVersion, u"LastUpdateCheck"), u"42");
    int32_t stored = 0;
    EXPECT_TRUE(ReadLastUpdateCheck(info, stored));  // reading needs no write rights
    EXPECT_EQ(stored, 42);
}

TEST_F(SettingsTest, UpdateResultUnderBothKeys) {
    WriteUpdateResult(info, 1, u"Eine aktuellere Programmversion ist verfügbar.");
    for (const std::u16string& path : {kProduct, kVersion}) {
        const fake::RegValue* r = platform.registry.Value(Hive::CurrentUser, path, u"UpdateResult");
        ASSERT_NE(r, nullptr) << ToUtf8(path);
        EXPECT_EQ(r->type, plat::kRegDword);
        EXPECT_EQ(r->data, (std::vector<uint8_t>{1, 0, 0, 0}));
        const fake::RegValue* s = platform.registry.Value(Hive::CurrentUser, path, u"UpdateResultString");
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->type, plat::kRegSz);
        EXPECT_EQ(s->data, Utf16Bytes(u"Eine aktuellere Programmversion ist verfügbar."));
        ExpectAccess(Hive::CurrentUser, path, kAll64, true);
    }
    EXPECT_FALSE(platform.registry.HasKey(Hive::LocalMachine, kProduct));

    // The next write replaces both values.
    WriteUpdateResult(info, 0, u"You already have the most recent version.");
    EXPECT_EQ(platform.registry.TextOf(Hive::CurrentUser, kVersion, u"UpdateResultString"),
              u"You already have the most recent version.");
    EXPECT_EQ(platform.registry.Value(Hive::CurrentUser, kVersion, u"UpdateResult")->data,
              (std::vector<uint8_t>{0, 0, 0, 0}));
}

TEST_F(SettingsTest, UpdateResultSkipsAKeyThatCannotBeCreated) {
    platform.registry.denyWrite.insert({Hive::CurrentUser, kVersion});
    WriteUpdateResult(info, 1, u"x");
    EXPECT_TRUE(platform.registry.HasValue(Hive::CurrentUser, kProduct, u"UpdateResultString"));
    EXPECT_FALSE(platform.registry.HasKey(Hive::CurrentUser, kVersion));
}

TEST_F(SettingsTest, ClearUpdateResultDeletesUnderBothKeysAndCreatesThem) {
    ClearUpdateResult(info);  // nothing there yet: no error, both keys now exist
    EXPECT_TRUE(platform.registry.HasKey(Hive::CurrentUser, kProduct));
    EXPECT_TRUE(platform.registry.HasKey(Hive::CurrentUser, kVersion));
    ExpectAccess(Hive::CurrentUser, kProduct, kAll64, true);
    ExpectAccess(Hive::CurrentUser, kVersion, kAll64, true);

    WriteUpdateResult(info, 1, u"x");
    platform.registry.SetText(Hive::CurrentUser, kProduct, u"IgnoreProductMajorVersionUpgrade", u"22");
    platform.registry.SetText(Hive::CurrentUser, kVersion, u"UpdateResult", u"text, not a number");
    ClearUpdateResult(info);
    for (const std::u16string& path : {kProduct, kVersion}) {
        EXPECT_FALSE(platform.registry.HasValue(Hive::CurrentUser, path, u"UpdateResult")) << ToUtf8(path);
        EXPECT_FALSE(platform.registry.HasValue(Hive::CurrentUser, path, u"UpdateResultString")) << ToUtf8(path);
    }
    EXPECT_TRUE(platform.registry.HasValue(Hive::CurrentUser, kProduct, u"IgnoreProductMajorVersionUpgrade"));
}

TEST_F(SettingsTest, ClearUpdateResultWithoutRightsLeavesValues) {
    platform.registry.SetDword(Hive::CurrentUser, kVersion, u"UpdateResult", 1);
    platform.registry.denyWrite.insert({Hive::CurrentUser, kSettings});
    ClearUpdateResult(info);
    EXPECT_TRUE(platform.registry.HasValue(Hive::CurrentUser, kVersion, u"UpdateResult"));
}

TEST_F(SettingsTest, IgnoredVersion) {
    EXPECT_EQ(ReadIgnoredVersion(info), u"-1");
    platform.registry.AddKey(Hive::CurrentUser, kVersion);
    EXPECT_EQ(ReadIgnoredVersion(info), u"-1");
    platform.registry.SetDword(Hive::CurrentUser, kVersion, u"IgnoreProductVersionUpdate", 3);
    EXPECT_EQ(ReadIgnoredVersion(info), u"-1");

    WriteIgnoredVersion(info, u"21.0.4.17");
    EXPECT_EQ(ReadIgnoredVersion(info), u"21.0.4.17");
    EXPECT_EQ(platform.registry.Value(Hive::CurrentUser, kVersion, u"IgnoreProductVersionUpdate")->data,
              Utf16Bytes(u"21.0.4.17"));

    ClearIgnoredVersion(info);
    EXPECT_EQ(ReadIgnoredVersion(info), u"");
    EXPECT_TRUE(platform.registry.Value(Hive::CurrentUser, kVersion, u"IgnoreProductVersionUpdate")->data.empty());

    // Per version: the next version of the product starts without one.
    ProgramInfo next = info;
    next.ProgramVersionNumber = u"22.0";
    EXPECT_EQ(ReadIgnoredVersion(next), u"-1");
    ExpectAccess(Hive::CurrentUser, kVersion, kAll64, true);
}

TEST_F(SettingsTest, IgnoredMajorVersion) {
    EXPECT_EQ(ReadIgnoredMajorVersion(info), -1);

    struct Case { const char16_t* stored; int32_t want; };
    const Case cases[] = {
        {u"7 ", 7}, {u"22", 22}, {u"-3", -3}, {u"none", 0}, {u"", 0}, {u" +8x", 8},
        {u"99999999999", std::numeric_limits<int32_t>::max()},
    };
    for (const auto& c : cases) {
        platform.registry.SetText(Hive::CurrentUser, kProduct, u"IgnoreProductMajorVersionUpgrade", c.stored);
        EXPECT_EQ(ReadIgnoredMajorVersion(info), c.want) << ToUtf8(c.stored);
    }
    platform.registry.SetDword(Hive::CurrentUser, kProduct, u"IgnoreProductMajorVersionUpgrade", 7);
    EXPECT_EQ(ReadIgnoredMajorVersion(info), -1);

    WriteIgnoredMajorVersion(info, 23);
    EXPECT_EQ(platform.registry.Value(Hive::CurrentUser, kProduct, u"IgnoreProductMajorVersionUpgrade")->data,
              Utf16Bytes(u"23"));
    EXPECT_EQ(ReadIgnoredMajorVersion(info), 23);
    WriteIgnoredMajorVersion(info, std::numeric_limits<int32_t>::min());
    EXPECT_EQ(ReadIgnoredMajorVersion(info), std::numeric_limits<int32_t>::min());
    ExpectAccess(Hive::CurrentUser, kProduct, kAll64, true);
}
