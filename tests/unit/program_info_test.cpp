#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

#include "fakes/FakeInstaller.h"
#include "fakes/FakePlatform.h"
#include "fakes/TestSupport.h"
#include "log/Log.h"
#include "product/ProgramInfo.h"
#include "util/Text.h"

using namespace brut;
using plat::Hive;

namespace {

const std::u16string kSuffix = u" [Preview Channel]";
const std::u16string kSelf = u"C:\\Program Files\\Brindle\\Uptide\\BRUptide.exe";
const std::u16string kSelfDir = u"C:\\Program Files\\Brindle\\Uptide\\";
const std::u16string kDir = u"C:\\Program Files\\Brindle\\PhotoStudio\\";
const std::u16string kOtherKey = u"SOFTWARE\\Brindle\\Brindle Vaultly\\{7C3E1A92-4B6D-4F08-A1E5-3D9B2C6F8E41}";

class ProgramInfoTest : public ::testing::Test {
protected:
    ProgramInfoTest() {
        fp.system.modulePath = kSelf;
        ResetProgramInfoForTests();
    }
    void TearDown() override {
        ResetProgramInfoForTests();
        SetProgramInfoLockWaitForTests(0);
        EXPECT_EQ(fp.registry.openHandles, 0) << "a key was left open";
    }

    // A fresh machine for the next case of a table.
    void ResetMachine() {
        ResetProgramInfoForTests();
        ResetLogForTests();
        fp.registry = fake::FakeRegistry{};
        fp.files = fake::FakeFiles{};
        fp.files.AddDirectory(fake::kTempDir);
        msi = fake::FakeInstaller{};
        wmi = fake::FakeWmi{};
    }
    // No discovery source was consulted.
    void ExpectNoSourceAsked() {
        EXPECT_EQ(msi.enumCalls, 0);
        EXPECT_TRUE(wmi.steps.empty());
        for (const auto& a : fp.registry.accesses)
            EXPECT_FALSE(StartsWith(ToLowerAscii(a.path), ToLowerAscii(fake::kUninstall))) << ToUtf8(a.path);
        EXPECT_FALSE(LogTextHas(fp, u"ERR:"));
    }

    static ProgramInfo AllGiven() {
        ProgramInfo r;
        r.ProgramName = u"PhotoStudio";
        r.DisplayName = u"PhotoStudio Professional";
        r.ProgramVersionNumber = u"21.0.3";
        r.InstallLocation = kDir;
        r.ProgramLanguage = 1031;
        r.ProgramInstallDate = u"20240315";
        r.FileList = {u"a.dll", u"b.dll"};
        r.AffiliateId = u"aff";
        return r;
    }

    fake::FakeInstaller msi;
    fake::FakeWmi wmi;
    fake::FakePlatform fp{&msi, &wmi};
    fake::FreshLog freshLog{fp};
};

// --- Small rules ----------------------------------------------------------------

TEST(ProgramInfoRules, EscapeAmpersands) {
    EXPECT_EQ(EscapeAmpersands(u"A & B"), u"A && B");
    EXPECT_EQ(EscapeAmpersands(u"&&x&"), u"&&&&x&&");
    EXPECT_EQ(EscapeAmpersands(u"plain"), u"plain");
    EXPECT_EQ(EscapeAmpersands(u""), u"");
}

TEST(ProgramInfoRules, MakeEditionName) {
    struct Case { const char16_t* in; const char16_t* out; };
    const Case cases[] = {
        {u"X Professional", u"X Professional Edition"},
        {u"X Media", u"X Media Edition"},
        {u"X Home", u"X Home"},
        {u"X Workstation Server", u"X Workstation Server Edition"},
        {u"X Server Workstation", u"X Server Edition Workstation"},
        {u"X Tech", u"X Tech Edition"},
        {u"X Admin", u"X Admin Edition"},
        {u"X Express", u"X Express Edition"},
        {u"X professional", u"X professional"},
        // Nothing or one character after the word: appended, whatever that character is.
        {u"X Tech2", u"X Tech2 Edition"},
        {u"X Professional!", u"X Professional! Edition"},
        {u"X Professional ", u"X Professional  Edition"},
        {u"X Professional\u7248", u"X Professional\u7248 Edition"},
        {u"HiTech", u"HiTech Edition"},
        // Two or more: "Edition" goes right after the word, never glued to what follows.
        {u"X Tech 2", u"X Tech Edition 2"},
        {u"X Professional 2024", u"X Professional Edition 2024"},
        {u"X (Professional) 2", u"X (Professional Edition) 2"},
        {u"X Professional Edition 2024", u"X Professional Edition 2024"},
        {u"X Professional Edition", u"X Professional Edition"},
        {u"X Professional  Edition", u"X Professional  Edition"},
        // Part of a longer word is no edition word; the search goes on.
        {u"X Tech22", u"X Tech22"},
        {u"X Technology", u"X Technology"},
        {u"HiTech Suite", u"HiTech Suite"},
        {u"SuperAdmin Tool 3", u"SuperAdmin Tool 3"},
        {u"X Technology Admin", u"X Technology Admin Edition"},
        {u"X Technology Tech", u"X Technology Tech Edition"},
        {u"X Servers Tech 3", u"X Servers Tech Edition 3"},
        {u"X Professional\u7248\u672C", u"X Professional\u7248\u672C"},
        {u"X Professional\u2013Suite", u"X Professional Edition\u2013Suite"},
        // "Media" only when it ends the text.
        {u"X Media Center", u"X Media Center"},
        {u"X Media Media", u"X Media Media"},
        {u"", u""},
    };
    for (const Case& c : cases) EXPECT_EQ(MakeEditionName(c.in), c.out) << ToUtf8(c.in);
}

TEST(ProgramInfoRules, PreviewSuffixEndsTheName) {
    EXPECT_EQ(std::u16string(kPreviewSuffix), kSuffix);
    EXPECT_EQ(kSuffix.size(), 18u);
    EXPECT_TRUE(HasPreviewSuffix(u"Foo" + kSuffix));
    EXPECT_TRUE(HasPreviewSuffix(kSuffix));
    EXPECT_FALSE(HasPreviewSuffix(kSuffix.substr(1)));
    EXPECT_FALSE(HasPreviewSuffix(u"Foo [preview channel]"));
    EXPECT_FALSE(HasPreviewSuffix(u"Foo" + kSuffix + u" "));
}

TEST_F(ProgramInfoTest, PreviewChannelSetting) {
    const std::u16string key = u"Software\\Brindle\\Brindle Uptide\\PhotoStudio";
    struct Case { const char* what; uint32_t type; std::vector<uint8_t> data; bool set; };
    const Case cases[] = {
        {"DWORD 1", plat::kRegDword, {1, 0, 0, 0}, true},
        {"DWORD 2", plat::kRegDword, {2, 0, 0, 0}, false},
        {"DWORD 0", plat::kRegDword, {0, 0, 0, 0}, false},
        {"text 1", plat::kRegSz, {'1', 0}, false},
        {"QWORD 1", plat::kRegQword, {1, 0, 0, 0, 0, 0, 0, 0}, false},
        {"short DWORD", plat::kRegDword, {1, 0}, false},
    };
    EXPECT_FALSE(IsPreviewChannelSet(u"PhotoStudio"));
    for (const Case& c : cases) {
        fp.registry.SetRaw(Hive::LocalMachine, key, u"PreviewChannel", c.type, c.data);
        EXPECT_EQ(IsPreviewChannelSet(u"PhotoStudio"), c.set) << c.what;
    }
    fake::FakeRegistry& reg = fp.registry;
    reg.SetDword(Hive::CurrentUser, u"Software\\Brindle\\Brindle Uptide\\Other", u"PreviewChannel", 1);
    EXPECT_FALSE(IsPreviewChannelSet(u"Other"));  // machine-wide only
    for (const auto& a : reg.accesses) {
        EXPECT_EQ(a.hive, Hive::LocalMachine);
        EXPECT_EQ(a.sam, plat::kKeyRead | plat::kKeyWow64_64);
    }
}

// --- DiscoverProgramInfo ------------------------------------------------------------

TEST_F(ProgramInfoTest, EverythingGivenAsksNoSource) {
    ProgramInfo r = AllGiven();
    EXPECT_EQ(DiscoverProgramInfo(r), 1);
    const ProgramInfoPtr published = GetProgramInfo();
    const ProgramInfo& p = *published;
    EXPECT_EQ(p.ProgramName, u"PhotoStudio");
    EXPECT_EQ(p.DisplayName, u"PhotoStudio Professional");
    EXPECT_EQ(p.EditionDisplayName, u"PhotoStudio Professional Edition");
    EXPECT_EQ(p.ProgramVersionNumber, u"21.0.3");
    EXPECT_EQ(p.ProgramInstallDate, u"20240315");
    EXPECT_EQ(p.InstallLocation, kDir);
    EXPECT_EQ(p.ProgramLanguage, 1031);
    EXPECT_EQ(p.FileList, (std::vector<std::u16string>{u"a.dll", u"b.dll"}));
    EXPECT_EQ(p.AffiliateId, u"aff");
    EXPECT_EQ(p.EditionDisplayName, r.EditionDisplayName);  // the caller's record is completed too
    ExpectNoSourceAsked();
}

TEST_F(ProgramInfoTest, PreviewNamesFromTheCommandLineKeepOneSuffix) {
    ProgramInfo r = AllGiven();
    r.ProgramName = u"Foo" + kSuffix;
    r.DisplayName = u"Foo" + kSuffix;
    EXPECT_EQ(DiscoverProgramInfo(r), 1);
    const ProgramInfoPtr published = GetProgramInfo();
    const ProgramInfo& p = *published;
    EXPECT_EQ(p.ProgramName, u"Foo" + kSuffix);
    EXPECT_EQ(p.DisplayName, u"Foo" + kSuffix);
    EXPECT_EQ(p.EditionDisplayName, u"Foo" + kSuffix);
    ExpectNoSourceAsked();
}

TEST_F(ProgramInfoTest, PreviewOnlyInTheDisplayNameIsNotDetected) {
    // Start-up looks at the program name only; the display name keeps its text.
    ProgramInfo r = AllGiven();
    r.DisplayName = u"Foo" + kSuffix;
    EXPECT_EQ(DiscoverProgramInfo(r), 1);
    EXPECT_EQ(GetProgramInfo()->ProgramName, u"PhotoStudio");
    EXPECT_EQ(GetProgramInfo()->DisplayName, u"Foo" + kSuffix);
}

TEST_F(ProgramInfoTest, PreviewChannelSettingAppendsTheSuffix) {
    fp.registry.SetDword(Hive::LocalMachine, u"Software\\Brindle\\Brindle Uptide\\PhotoStudio", u"PreviewChannel", 1);
    ProgramInfo r = AllGiven();
    EXPECT_EQ(DiscoverProgramInfo(r), 1);
    const ProgramInfoPtr published = GetProgramInfo();
    const ProgramInfo& p = *published;
    EXPECT_EQ(p.ProgramName, u"PhotoStudio" + kSuffix);
    EXPECT_EQ(p.DisplayName, u"PhotoStudio Professional" + kSuffix);
    EXPECT_EQ(p.EditionDisplayName, u"PhotoStudio Professional Edition" + kSuffix);
}

TEST_F(ProgramInfoTest, StubStartAsksNoSource) {
    ProgramInfo r;
    r.IsStubExe = 1;
    r.ProgramName = u"PhotoStudio";
    r.InstallLocation = kDir;
    fp.files.AddFile(kDir + u"VersionInfo.txt", "Other\n1\n1\nK\n");
    EXPECT_EQ(DiscoverProgramInfo(r), 1);
    EXPECT_EQ(GetProgramInfo()->InstallLocation, u"");
    EXPECT_EQ(GetProgramInfo()->ProgramName, u"PhotoStudio");
    EXPECT_EQ(GetProgramInfo()->IsStubExe, 1);
    ExpectNoSourceAsked();
}

TEST_F(ProgramInfoTest, InstallDateFromTheFileDate) {
    struct Case {
        const char* what;
        std::u16string modulePath;
        bool productExe, ownExe;
        std::u16string date;
        const char16_t* log;
    };
    const Case cases[] = {
        {"bruptide.exe", kSelf, true, true, u"20260305", nullptr},
        {"own file name", u"C:\\Elsewhere\\Updater.exe", false, true, u"20240709", nullptr},
        {"neither", u"C:\\Elsewhere\\Updater.exe", false, false, u"", nullptr},
        {"module path unknown", u"", false, true, u"", u"ERR: BRUT:[08a2c] GetModuleFileName failed:  (0)"},
        {"module path without backslash", u"Updater.exe", false, true, u"", u"ERR: BRUT:[08a2c] GetModuleFileName failed!"},
    };
    for (const Case& c : cases) {
        ResetMachine();
        // Late in the evening UTC is the next day locally (UTC+1 in the fake).
        if (c.productExe) fp.files.AddFile(kDir + u"BRUptide.exe", "x", plat::DateTime{2026, 3, 4, 23, 30, 0, 0});
        if (c.ownExe) fp.files.AddFile(kDir + u"Updater.exe", "x", plat::DateTime{2024, 7, 9, 8, 0, 0, 0});
        fp.system.modulePath = c.modulePath;
        ProgramInfo r = AllGiven();
        r.ProgramInstallDate.clear();
        r.InstallLocation = kDir.substr(0, kDir.size() - 1);  // the directory is joined with a backslash
        EXPECT_EQ(DiscoverProgramInfo(r), 1) << c.what;
        EXPECT_EQ(GetProgramInfo()->ProgramInstallDate, c.date) << c.what;
        if (c.log) {
            EXPECT_TRUE(LogTextHasLine(fp, c.log)) << c.what;
        }
    }
}

TEST_F(ProgramInfoTest, NothingGivenDropsTheRecordAndBuildsOnFirstUse) {
    ProgramInfo given = AllGiven();
    EXPECT_EQ(DiscoverProgramInfo(given), 1);
    const ProgramInfoPtr before = GetProgramInfo();

    fp.versions.SetSimple(kSelf, {{u"ProductName", u"Stubbed"}, {u"ProductVersion", u"3.1"}, {u"Comments", u"1041"}});
    ProgramInfo empty;
    empty.ProgramVersionNumber = u"1.0";
    EXPECT_EQ(DiscoverProgramInfo(empty), 0);
    EXPECT_EQ(before->ProgramName, u"PhotoStudio");  // a record once got stays as it was
    const ProgramInfoPtr built = GetProgramInfo();
    EXPECT_EQ(built->ProgramName, u"Stubbed");
    EXPECT_EQ(built->IsStubExe, 1);
    EXPECT_EQ(built->ProgramLanguage, 1041);
}

TEST_F(ProgramInfoTest, SourceChainOrder) {
    struct Case {
        const char* what;
        bool versionInfo, uninstall, installer, wmiProduct;
        std::u16string name;
        std::vector<std::u16string> errors;
    };
    const std::u16string reg = u"ERR: BRUT:[08a2c] ReadFromRegistry failed";
    const std::u16string db = u"ERR: BRUT:[08a2c] ReadFromMsiDB failed";
    const std::u16string w = u"ERR: BRUT:[08a2c] ReadFromWin32_Products failed";
    const Case cases[] = {
        {"file", true, true, true, true, u"FromFile", {}},
        {"uninstall entry", false, true, true, true, u"FromRegistry", {}},
        {"installer", false, false, true, true, u"FromMsi", {reg}},
        {"WMI", false, false, false, true, u"FromWmi", {reg, db}},
    };
    for (const Case& c : cases) {
        ResetMachine();
        if (c.versionInfo) fp.files.AddFile(kDir + u"VersionInfo.txt", "FromFile\n1\n1031\nK\n");
        if (c.uninstall)
            AddUninstall(fp.registry, u"{R}", {{u"InstallLocation", kDir}, {u"DisplayName", u"FromRegistry"}});
        if (c.installer)
            msi.Add(u"{M}", {{u"InstallLocation", kDir}, {u"ProductName", u"FromMsi"}, {u"VersionString", u"1"},
                             {u"InstallDate", u"20240101"}, {u"Language", u"1031"}});
        if (c.wmiProduct)
            wmi.objects = {fake::WmiObjectData::Strings({{u"IdentifyingNumber", u"{W}"}, {u"InstallLocation", kDir},
                                                          {u"Name", u"FromWmi"}, {u"Version", u"1"},
                                                          {u"InstallDate2", u"20240101000000.000000+000"},
                                                          {u"Language", u"1031"}})};
        ProgramInfo r;
        r.ProgramName = u"PhotoStudio";
        r.InstallLocation = kDir;
        EXPECT_EQ(DiscoverProgramInfo(r), 1) << c.what;
        EXPECT_EQ(GetProgramInfo()->ProgramName, c.name) << c.what;
        for (const auto& e : c.errors) EXPECT_TRUE(LogTextHasLine(fp, e)) << c.what;
        EXPECT_FALSE(LogTextHasLine(fp, w)) << c.what;
        EXPECT_EQ(LogTextHasLine(fp, reg), !c.errors.empty()) << c.what;
    }
}

TEST_F(ProgramInfoTest, AllSourcesFailingPublishesNothing) {
    ProgramInfo given = AllGiven();
    EXPECT_EQ(DiscoverProgramInfo(given), 1);
    ProgramInfo r;
    r.ProgramName = u"Unknown Product";
    EXPECT_EQ(DiscoverProgramInfo(r), 0);
    EXPECT_TRUE(LogTextHasLine(fp, u"ERR: BRUT:[08a2c] ReadFromRegistry failed"));
    EXPECT_TRUE(LogTextHasLine(fp, u"ERR: BRUT:[08a2c] ReadFromMsiDB failed"));
    EXPECT_TRUE(LogTextHasLine(fp, u"ERR: BRUT:[08a2c] ReadFromWin32_Products failed"));
    // The earlier record was dropped: the next reader builds one.
    EXPECT_EQ(GetProgramInfo()->ProgramName, u"Unknown");
}

TEST_F(ProgramInfoTest, OtherProductEdition) {
    struct Case { const char* what; std::u16string name, version; bool key; std::u16string published; int result; };
    const Case cases[] = {
        {"4.10.11", u"Brindle Vaultly", u"4.10.11", true, u"Brindle Vaultly Ultimate", 1},
        {"4.10.16", u"Brindle Vaultly", u"4.10.16", true, u"Brindle Vaultly Ultimate", 1},
        {"other version", u"Brindle Vaultly", u"4.10.12", true, u"Brindle Vaultly", 1},
        {"other product", u"Brindle vaultly", u"4.10.11", true, u"Brindle vaultly", 1},
        {"key missing", u"Brindle Vaultly", u"4.10.11", false, u"", 0},
    };
    for (const Case& c : cases) {
        ResetMachine();
        if (c.key) fp.registry.SetText(Hive::LocalMachine, kOtherKey, u"InstalledProductEdition", u"Ultimate");
        ProgramInfo r = AllGiven();
        r.ProgramName = c.name;
        r.DisplayName = c.name;
        r.ProgramVersionNumber = c.version;
        EXPECT_EQ(DiscoverProgramInfo(r), c.result) << c.what;
        const ProgramInfoPtr published = GetProgramInfo();
        const ProgramInfo& p = *published;
        EXPECT_EQ(p.ProgramName, c.published) << c.what;
        EXPECT_EQ(p.DisplayName, c.published) << c.what;
        if (c.key) {
            for (const auto& a : fp.registry.accesses)
                if (ToLowerAscii(a.path) == ToLowerAscii(kOtherKey)) {
                    EXPECT_EQ(a.sam, plat::kKeyRead | plat::kKeyWow64_64);
                }
        } else {
            // The shared record stays empty and is not built anew.
            EXPECT_TRUE(LogTextHasLine(fp, u"ERR: BRUT:[08a2c] Can\u00B4t open RegKey: " + kOtherKey)) << c.what;
            EXPECT_TRUE(p.InstallLocation.empty());
            EXPECT_EQ(p.ProgramLanguage, 0);
        }
    }
}

TEST_F(ProgramInfoTest, OtherProductEditionValues) {
    struct Case { const char* what; bool value; std::u16string edition; std::u16string name; };
    const std::u16string longest(260, u'e');
    const Case cases[] = {
        {"value missing", false, u"", u"Brindle Vaultly"},
        {"value empty", true, u"", u"Brindle Vaultly"},
        {"260 characters", true, longest, u"Brindle Vaultly " + longest},
        {"261 characters", true, longest + u"e", u"Brindle Vaultly"},
    };
    for (const Case& c : cases) {
        ResetMachine();
        fp.registry.AddKey(Hive::LocalMachine, kOtherKey);
        if (c.value) fp.registry.SetText(Hive::LocalMachine, kOtherKey, u"InstalledProductEdition", c.edition, true);
        ProgramInfo r = AllGiven();
        r.ProgramName = r.DisplayName = u"Brindle Vaultly";
        r.ProgramVersionNumber = u"4.10.16";
        EXPECT_EQ(DiscoverProgramInfo(r), 1) << c.what;
        EXPECT_EQ(GetProgramInfo()->ProgramName, c.name) << c.what;
        EXPECT_EQ(GetProgramInfo()->DisplayName, c.name) << c.what;
    }
}

TEST_F(ProgramInfoTest, LockHeldElsewhere) {
    SetProgramInfoLockWaitForTests(50);
    std::atomic<bool> held{false}, release{false};
    std::thread holder([&] {
        std::lock_guard<std::recursive_timed_mutex> lock(ProgramInfoLock());
        held = true;
        while (!release) std::this_thread::yield();
    });
    while (!held) std::this_thread::yield();

    ProgramInfo r = AllGiven();
    EXPECT_EQ(DiscoverProgramInfo(r), 0);
    EXPECT_TRUE(r.EditionDisplayName.empty());
    // No record and no way to build one: an empty record, not a crash.
    EXPECT_TRUE(GetProgramInfo()->ProgramName.empty());
    EXPECT_EQ(msi.enumCalls, 0);  // nothing was built
    release = true;
    holder.join();

    EXPECT_EQ(DiscoverProgramInfo(r), 1);
    const ProgramInfoPtr published = GetProgramInfo();
    held = false;
    release = false;
    std::thread again([&] {
        std::lock_guard<std::recursive_timed_mutex> lock(ProgramInfoLock());
        held = true;
        while (!release) std::this_thread::yield();
    });
    while (!held) std::this_thread::yield();
    EXPECT_EQ(GetProgramInfo(), published);  // the published record, without the lock
    release = true;
    again.join();
    EXPECT_TRUE(LogTextHas(fp, u"ProgramInfoLock not taken within 50 ms"));
}

// An installer database that answers only once the test lets it: discovery stays in the middle of its chain.
class HeldInstaller : public fake::FakeInstaller {
public:
    uint32_t EnumProducts(uint32_t index, std::u16string& code) override {
        entered = true;
        while (!released) std::this_thread::yield();
        return fake::FakeInstaller::EnumProducts(index, code);
    }
    std::atomic<bool> entered{false}, released{false};
};

TEST(ProgramInfoPublication, WhatAReaderGotNeverChanges) {
    HeldInstaller msi;
    fake::FakeWmi wmi;
    fake::FakePlatform fp{&msi, &wmi};
    fake::FreshLog freshLog{fp};
    fp.system.modulePath = kSelf;
    ResetProgramInfoForTests();
    SetProgramInfoLockWaitForTests(50);

    // A reader that gives up waiting while the first use builds the record gets an empty one, not the half-built one.
    ProgramInfoPtr built;
    std::thread builder([&] { built = GetProgramInfo(); });
    while (!msi.entered) std::this_thread::yield();
    const ProgramInfoPtr early = GetProgramInfo();
    const ProgramInfo seen = *early;
    msi.released = true;
    builder.join();
    EXPECT_TRUE(seen.ProgramName.empty() && seen.InstallLocation.empty());
    EXPECT_EQ(early->ProgramName, seen.ProgramName);
    EXPECT_EQ(early->InstallLocation, seen.InstallLocation);
    EXPECT_EQ(built->ProgramName, u"Unknown");
    EXPECT_EQ(GetProgramInfo(), built);

    // A later discovery publishes a new record; the one held stays as it was.
    ProgramInfo r;
    r.ProgramName = r.DisplayName = u"PhotoStudio";
    r.ProgramVersionNumber = u"21.0";
    r.InstallLocation = kDir;
    r.ProgramLanguage = 1033;
    EXPECT_EQ(DiscoverProgramInfo(r), 1);
    EXPECT_EQ(built->ProgramName, u"Unknown");
    EXPECT_EQ(built->InstallLocation, kSelfDir);
    EXPECT_EQ(GetProgramInfo()->ProgramName, u"PhotoStudio");

    ResetProgramInfoForTests();
    SetProgramInfoLockWaitForTests(0);
}

// --- Building on first use ---------------------------------------------------------

TEST_F(ProgramInfoTest, FirstUse) {
    using Strings = std::map<std::u16string, std::u16string>;
    struct Case {
        const char* what;
        Strings resource;         // the updater's own version resource
        std::string versionInfo;  // VersionInfo.txt beside the updater
        std::u16string modulePath;
        uint32_t lcid;
        std::u16string name, edition, version, location, code;
        int32_t language, stub;
        const char16_t* error;  // an ERR line the build writes
    };
    const Strings stub = {{u"ProductName", u"PhotoStudio Professional"}, {u"ProductVersion", u"21.0"},
                          {u"Comments", u"1031"}};
    const Strings updater = {{u"ProductName", u"Brindle Uptide"}, {u"ProductVersion", u"9.0.8"}};
    const char16_t* chainFailed = u"ERR: BRUT:[08a2c] ReadFromWin32_Products failed";
    const Case cases[] = {
        {"a stub's version resource", stub, "", kSelf, 1033, u"PhotoStudio Professional",
         u"PhotoStudio Professional Edition", u"21.0", u"", u"", 1031, 1, nullptr},
        // A resource naming the updater itself: the chain runs from the updater's directory.
        {"the updater itself", updater, "PhotoStudio\n21.0\n1033\n{K}\n", kSelf, 1033, u"PhotoStudio", u"PhotoStudio",
         u"21.0", kSelfDir, u"{K}", 1033, 0, nullptr},
        // Every source fails: the fallback name in the product's or the system's language.
        {"German system", {}, "", kSelf, 1031, u"Unbekannt", u"Unbekannt", u"", kSelfDir, u"", 0, 0, chainFailed},
        {"Japanese system", {}, "", kSelf, 1041, u"\u4E0D\u660E", u"\u4E0D\u660E", u"", kSelfDir, u"", 0, 0, chainFailed},
        {"English system", {}, "", kSelf, 1033, u"Unknown", u"Unknown", u"", kSelfDir, u"", 0, 0, chainFailed},
        {"French system", {}, "", kSelf, 1036, u"Unknown", u"Unknown", u"", kSelfDir, u"", 0, 0, chainFailed},
        {"language from a partly read file", {}, "Half\n1\n1041\n", kSelf, 1031, u"\u4E0D\u660E", u"\u4E0D\u660E",
         u"1", kSelfDir, u"", 1041, 0, chainFailed},
        {"module path unknown", {}, "", u"", 1033, u"Unknown", u"Unknown", u"", u"", u"", 0, 0,
         u"ERR: BRUT:[08a2c] GetModulDirectory failed:  (0)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetMachine();
        fp.versions = fake::FakeVersionInfo{};
        if (!c.resource.empty()) fp.versions.SetSimple(kSelf, c.resource);
        if (!c.versionInfo.empty()) fp.files.AddFile(kSelfDir + u"VersionInfo.txt", c.versionInfo);
        fp.system.modulePath = c.modulePath;
        fp.system.defaultLcid = c.lcid;
        const ProgramInfoPtr published = GetProgramInfo();
        const ProgramInfo& p = *published;
        EXPECT_EQ(p.ProgramName, c.name);
        EXPECT_EQ(p.DisplayName, c.name);
        EXPECT_EQ(p.EditionDisplayName, c.edition);
        EXPECT_EQ(p.ProgramVersionNumber, c.version);
        EXPECT_EQ(p.InstallLocation, c.location);
        EXPECT_EQ(p.ProductCode, c.code);
        EXPECT_EQ(p.ProgramLanguage, c.language);
        EXPECT_EQ(p.IsStubExe, c.stub);
        if (c.error) {
            EXPECT_TRUE(LogTextHasLine(fp, c.error));
        } else {
            EXPECT_FALSE(LogTextHas(fp, u"ERR:"));
        }
        EXPECT_EQ(GetProgramInfo(), published);  // built once
    }
}

TEST_F(ProgramInfoTest, FirstUsePreviewFromTheVersionResource) {
    struct Case { std::u16string productName; bool previewSetting; std::u16string name; };
    const Case cases[] = {
        {u"Foo" + kSuffix, false, u"Foo" + kSuffix},
        {u"Foo" + kSuffix + u" X" + kSuffix, false, u"Foo X" + kSuffix},
        {u"Foo", true, u"Foo" + kSuffix},
        {u"Foo", false, u"Foo"},
    };
    for (const Case& c : cases) {
        ResetMachine();
        if (c.previewSetting)
            fp.registry.SetDword(Hive::LocalMachine, u"Software\\Brindle\\Brindle Uptide\\Foo", u"PreviewChannel", 1);
        fp.versions.SetSimple(kSelf, {{u"ProductName", c.productName}, {u"ProductVersion", u"1"}, {u"Comments", u"0"}});
        const ProgramInfoPtr published = GetProgramInfo();
        const ProgramInfo& p = *published;
        EXPECT_EQ(p.ProgramName, c.name) << ToUtf8(c.productName);
        EXPECT_EQ(p.DisplayName, c.name) << ToUtf8(c.productName);
        EXPECT_EQ(p.EditionDisplayName, c.name) << ToUtf8(c.productName);
    }
}

}  // namespace
