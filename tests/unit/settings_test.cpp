#include <gtest/gtest.h>

#include <limits>

#include "fakes/FakePlatform.h"
#include "product/ProgramInfo.h"
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

TEST_F(SettingsTest, LastUpdateCheckWrites) {
    enum class Op { Write, Now, Reset };
    struct Case {
        const char* what;
        Op op;
        int64_t time;
        bool stub, denied;
        const char16_t* stored;  // nullptr: no value
        int32_t read;
    };
    const int32_t max = std::numeric_limits<int32_t>::max(), min = std::numeric_limits<int32_t>::min();
    const Case cases[] = {
        {"time", Op::Write, 1796644685, false, false, u"1796644685", 1796644685},
        {"zero", Op::Write, 0, false, false, u"0", 0},
        {"negative", Op::Write, -5, false, false, u"-5", -5},
        // Written from all 64 bits; read back saturated to 32.
        {"beyond 32 bits", Op::Write, 5000000000LL, false, false, u"5000000000", max},
        {"lowest", Op::Write, std::numeric_limits<int64_t>::min(), false, false, u"-9223372036854775808", min},
        {"now", Op::Now, 0, false, false, u"1700000000", 1700000000},
        {"reset", Op::Reset, 0, false, false, u"0", 0},
        // Stub runs neither write nor open the key; without rights the earlier value stays.
        {"stub", Op::Write, 1700000000, true, false, nullptr, 0},
        {"stub now", Op::Now, 0, true, false, nullptr, 0},
        {"stub reset", Op::Reset, 0, true, false, nullptr, 0},
        {"without rights", Op::Write, 1700000000, false, true, u"42", 42},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        platform.registry = fake::FakeRegistry{};
        platform.system.unixNow = 1700000000;
        if (c.denied) {
            platform.registry.SetText(Hive::LocalMachine, kVersion, u"LastUpdateCheck", u"42");
            platform.registry.denyWrite.insert({Hive::LocalMachine, u"Software"});
        }
        info.IsStubExe = c.stub ? 1 : 0;
        switch (c.op) {
            case Op::Write: WriteLastUpdateCheck(info, c.time); break;
            case Op::Now: WriteLastUpdateCheckNow(info); break;
            case Op::Reset: ResetLastUpdateCheck(info); break;
        }
        if (c.stub) {
            EXPECT_TRUE(platform.registry.accesses.empty());
        } else if (!c.denied) {
            ExpectAccess(Hive::LocalMachine, kVersion, kAll64, true);
        }
        const fake::RegValue* v = platform.registry.Value(Hive::LocalMachine, kVersion, u"LastUpdateCheck");
        if (!c.stored) {
            EXPECT_EQ(v, nullptr);
            continue;
        }
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->type, plat::kRegSz);
        EXPECT_EQ(v->data, Utf16Bytes(c.stored)) << "stored without terminating zero";
        // Reading needs no write rights, and nothing is kept per user.
        platform.registry.accesses.clear();
        int32_t stored = 12345;
        EXPECT_TRUE(ReadLastUpdateCheck(info, stored));
        EXPECT_EQ(stored, c.read);
        ExpectAccess(Hive::LocalMachine, kVersion, kRead64, false);
        EXPECT_FALSE(platform.registry.HasKey(Hive::CurrentUser, kVersion));
    }
}

TEST_F(SettingsTest, LastUpdateCheckReads) {
    struct Case { const char* what; bool key; uint32_t type; std::vector<uint8_t> data; bool ok; int32_t value; };
    const Case cases[] = {
        {"no key", false, plat::kRegNone, {}, false, 77},
        {"no value", true, plat::kRegNone, {}, false, 77},
        {"a number", true, plat::kRegDword, {1, 0, 0, 0}, false, 77},
        {"blanks and a terminator", true, plat::kRegSz, Utf16Bytes(std::u16string(u"  1700000000") + u'\0'), true,
         1700000000},
        {"no digits", true, plat::kRegSz, Utf16Bytes(u"never"), true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        platform.registry = fake::FakeRegistry{};
        if (c.key) platform.registry.AddKey(Hive::LocalMachine, kVersion);
        if (c.type != plat::kRegNone)
            platform.registry.SetRaw(Hive::LocalMachine, kVersion, u"LastUpdateCheck", c.type, c.data);
        int32_t stored = 77;
        EXPECT_EQ(ReadLastUpdateCheck(info, stored), c.ok);
        EXPECT_EQ(stored, c.value);
    }
}

TEST_F(SettingsTest, UpdateResultPair) {
    enum class Op { Write, Clear };
    struct Case {
        const char* what;
        Op op;
        std::vector<std::u16string> denied;  // keys that cannot be created
        bool productHas, versionHas;         // the pair under each key afterwards
    };
    const Case cases[] = {
        {"written under both keys", Op::Write, {}, true, true},
        {"a key that cannot be created is skipped", Op::Write, {kVersion}, true, false},
        {"cleared under both keys", Op::Clear, {}, false, false},
        {"without rights nothing is cleared", Op::Clear, {kSettings}, true, true},
    };
    const std::u16string sentence = u"Eine aktuellere Programmversion ist verfügbar.";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        platform.registry = fake::FakeRegistry{};
        if (c.op == Op::Clear) {
            // An earlier run's pair, an unrelated value, and a pair value of the wrong type.
            WriteUpdateResult(info, 1, sentence);
            platform.registry.SetText(Hive::CurrentUser, kProduct, u"IgnoreProductMajorVersionUpgrade", u"22");
            platform.registry.SetText(Hive::CurrentUser, kVersion, u"UpdateResult", u"text, not a number");
            platform.registry.accesses.clear();
        }
        for (const auto& d : c.denied) platform.registry.denyWrite.insert({Hive::CurrentUser, d});
        if (c.op == Op::Write)
            WriteUpdateResult(info, 1, sentence);
        else
            ClearUpdateResult(info);

        for (const auto& [path, has] : {std::pair(kProduct, c.productHas), std::pair(kVersion, c.versionHas)}) {
            SCOPED_TRACE(ToUtf8(path));
            EXPECT_EQ(platform.registry.HasValue(Hive::CurrentUser, path, u"UpdateResult"), has);
            EXPECT_EQ(platform.registry.HasValue(Hive::CurrentUser, path, u"UpdateResultString"), has);
            if (c.denied.empty()) {
                ExpectAccess(Hive::CurrentUser, path, kAll64, true);
            }
            if (c.op == Op::Write && has) {
                EXPECT_EQ(platform.registry.Value(Hive::CurrentUser, path, u"UpdateResult")->data,
                          (std::vector<uint8_t>{1, 0, 0, 0}));
                const fake::RegValue* text = platform.registry.Value(Hive::CurrentUser, path, u"UpdateResultString");
                EXPECT_EQ(text->type, plat::kRegSz);
                EXPECT_EQ(text->data, Utf16Bytes(sentence));
            }
        }
        EXPECT_FALSE(platform.registry.HasKey(Hive::LocalMachine, kProduct));
        if (c.op == Op::Clear && c.denied.empty()) {
            // Clearing creates both keys and leaves other values.
            EXPECT_TRUE(platform.registry.HasValue(Hive::CurrentUser, kProduct, u"IgnoreProductMajorVersionUpgrade"));
        }
    }
    // The next write replaces both values; clearing keys that do not exist yet creates them.
    platform.registry = fake::FakeRegistry{};
    ClearUpdateResult(info);
    EXPECT_TRUE(platform.registry.HasKey(Hive::CurrentUser, kProduct));
    EXPECT_TRUE(platform.registry.HasKey(Hive::CurrentUser, kVersion));
    WriteUpdateResult(info, 1, sentence);
    WriteUpdateResult(info, 0, u"You already have the most recent version.");
    EXPECT_EQ(platform.registry.TextOf(Hive::CurrentUser, kVersion, u"UpdateResultString"),
              u"You already have the most recent version.");
    EXPECT_EQ(platform.registry.Value(Hive::CurrentUser, kVersion, u"UpdateResult")->data,
              (std::vector<uint8_t>{0, 0, 0, 0}));
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
