#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <vector>

#include "fakes/FakeInstaller.h"
#include "fakes/FakePlatform.h"
#include "fakes/TestSupport.h"
#include "product/sources/Sources.h"
#include "util/Text.h"

using namespace brut;
using plat::Hive;
using fake::kUninstall;
using fake::Utf16Bytes;

namespace {

const std::u16string kSelf = u"C:\\Program Files\\Brindle\\BRUptide.exe";
const std::u16string kDir = u"C:\\Program Files\\Brindle\\PhotoStudio\\";

class SourcesTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(fp.registry.openHandles, 0) << "a key was left open"; }

    fake::FakeInstaller msi;
    fake::FakeWmi wmi;
    fake::FakePlatform fp{&msi, &wmi};
    fake::FreshLog freshLog{fp};
};

// --- ReadFromVersionResource -------------------------------------------------

TEST_F(SourcesTest, VersionResourceOfAStub) {
    struct Case {
        const char* what;
        std::map<std::u16string, std::u16string> values;
        int result;
        std::u16string name, version;
        int32_t language, stub;
    };
    const Case cases[] = {
        {"complete", {{u"ProductName", u"PhotoStudio"}, {u"ProductVersion", u"21.0.3"}, {u"Comments", u"1031 de"}},
         1, u"PhotoStudio", u"21.0.3", 1031, 1},
        {"without Comments", {{u"ProductName", u"PhotoStudio"}, {u"ProductVersion", u"21.0.3"}},
         0, u"PhotoStudio", u"21.0.3", 0, 1},
        {"without ProductVersion", {{u"ProductName", u"PhotoStudio"}, {u"Comments", u"1041"}},
         0, u"PhotoStudio", u"", 0, 1},
        {"the updater itself", {{u"ProductName", u"Brindle Uptide"}, {u"ProductVersion", u"9.0.8"}, {u"Comments", u"1031"}},
         0, u"", u"", 0, 0},
        {"without ProductName", {{u"ProductVersion", u"1.0"}}, 0, u"", u"", 0, 7},
        {"Comments without digits", {{u"ProductName", u"A"}, {u"ProductVersion", u"1"}, {u"Comments", u"German"}},
         1, u"A", u"1", 0, 1},
    };
    for (const Case& c : cases) {
        fp.versions.SetSimple(kSelf, c.values);
        ProgramInfo r;
        r.DisplayName = u"before";
        r.IsStubExe = 7;
        EXPECT_EQ(ReadFromVersionResource(r), c.result) << c.what;
        EXPECT_EQ(r.ProgramName, c.name) << c.what;
        if (c.stub != 7) {
            EXPECT_EQ(r.DisplayName, c.name) << c.what;
        }
        EXPECT_EQ(r.ProgramVersionNumber, c.version) << c.what;
        EXPECT_EQ(r.ProgramLanguage, c.language) << c.what;
        EXPECT_EQ(r.IsStubExe, c.stub) << c.what;
    }
}

TEST_F(SourcesTest, VersionResourceMissingOrModulePathUnknown) {
    ProgramInfo r;
    EXPECT_EQ(ReadFromVersionResource(r), 0);  // no resource at all
    fp.versions.SetSimple(kSelf, {{u"ProductName", u"A"}, {u"ProductVersion", u"1"}, {u"Comments", u"1033"}});
    fp.system.modulePath.clear();
    EXPECT_EQ(ReadFromVersionResource(r), 0);
    EXPECT_EQ(r.IsStubExe, 0);
    EXPECT_TRUE(r.ProgramName.empty());
}

// --- ReadFromVersionInfoFile -------------------------------------------------

TEST_F(SourcesTest, VersionInfoFile) {
    struct Case {
        const char* what;
        std::string content;
        int result;
        std::u16string name, version;
        int32_t language;
        std::u16string code;
        const char16_t* log;  // expected ERR text, or null
    };
    const std::string hugeLine(100000, 'x');
    const Case cases[] = {
        {"CR LF", "PhotoStudio\r\n21.0\r\n1031\r\n{ABC}\r\n", 1, u"PhotoStudio", u"21.0", 1031, u"{ABC}", nullptr},
        {"LF, last line without end", "P\n2\n1041\nK", 1, u"P", u"2", 1041, u"K", nullptr},
        {"empty lines are values", "P\n\n\n\n", 1, u"P", u"", 0, u"", nullptr},
        {"further lines ignored", "P\n1\n1033\nK\nmore\n\x01\x02", 1, u"P", u"1", 1033, u"K", nullptr},
        {"one CR stripped", "P\r\r\n1\n1\nK\n", 1, u"P\r", u"1", 1, u"K", nullptr},
        {"ANSI text", "Caf\xE9\n1\n1\nK\n", 1, u"Caf\u00E9", u"1", 1, u"K", nullptr},
        {"three lines", "P\n21.0\n1031\n", 0, u"P", u"21.0", 1031, u"old", u": line 4 is missing"},
        {"one line", "P", 0, u"P", u"old", 0, u"old", u": line 2 is missing"},
        {"empty file", "", 0, u"old", u"old", 0, u"old", u": line 1 is missing"},
        {"binary line 1", std::string("P\0x\n1\n1\nK\n", 10), 0, u"old", u"old", 0, u"old", u": line 1 holds binary data"},
        {"UTF-16 file", std::string("\xFF\xFEP\0\n\0", 6), 0, u"old", u"old", 0, u"old", u": line 1 holds binary data"},
        {"binary line 4", std::string("P\n1\n2\nK\0\n", 9), 0, u"P", u"1", 2, u"old", u": line 4 holds binary data"},
        {"huge line 1", hugeLine + "\n1\n1\nK\n", 0, u"old", u"old", 0, u"old", u": line 1 is longer than 1024 bytes"},
        {"huge line 3", "P\n1\n" + hugeLine + "\nK\n", 0, u"P", u"1", 0, u"old", u": line 3 is longer than 1024 bytes"},
    };
    for (const Case& c : cases) {
        ClearLog(fp);
        fp.files.AddFile(kDir + u"VersionInfo.txt", c.content);
        ProgramInfo r;
        r.InstallLocation = kDir;
        r.ProgramName = r.DisplayName = r.ProgramVersionNumber = r.ProductCode = u"old";
        EXPECT_EQ(ReadFromVersionInfoFile(r), c.result) << c.what;
        EXPECT_EQ(r.ProgramName, c.name) << c.what;
        EXPECT_EQ(r.DisplayName, c.name) << c.what;
        EXPECT_EQ(r.ProgramVersionNumber, c.version) << c.what;
        EXPECT_EQ(r.ProgramLanguage, c.language) << c.what;
        EXPECT_EQ(r.ProductCode, c.code) << c.what;
        if (c.log) {
            EXPECT_TRUE(LogTextHas(fp, u"ERR: BRUT:[08a2c] " + kDir + u"VersionInfo.txt" + c.log)) << c.what;
        } else {
            EXPECT_FALSE(LogTextHas(fp, u"ERR:")) << c.what;
        }
    }
}

TEST_F(SourcesTest, VersionInfoFileNeedsADirectory) {
    fp.files.AddFile(u"C:\\P\\VersionInfo.txt", "P\n1\n1\nK\n");
    ProgramInfo r;
    EXPECT_EQ(ReadFromVersionInfoFile(r), 0);
    r.InstallLocation = u"C:\\Q\\";
    EXPECT_EQ(ReadFromVersionInfoFile(r), 0);  // no such file
    r.InstallLocation = u"C:\\P";              // the file is still found without the backslash
    EXPECT_EQ(ReadFromVersionInfoFile(r), 1);
    EXPECT_EQ(r.ProductCode, u"K");
    EXPECT_EQ(r.InstallLocation, u"C:\\P");
}

// --- GetUninstallRegKey / ReadFromRegistry ------------------------------------

TEST_F(SourcesTest, UninstallKeyLatestInstallDateWinsLaterKeyOnTies) {
    struct Case { const char16_t* dateA; const char16_t* dateB; const char16_t* winner; };
    const Case cases[] = {
        {u"20240101", u"20230101", u"A"},
        {u"20230101", u"20240101", u"B"},
        {u"20240101", u"20240101", u"B"},
        {nullptr, nullptr, u"B"},
        {u"20240101x", nullptr, u"A"},
        {u"garbage", u"7", u"B"},
    };
    AddUninstall(fp.registry, u"Other", {{u"InstallLocation", u"C:\\Elsewhere\\"}, {u"InstallDate", u"29991231"}});
    int n = 0;
    for (const Case& c : cases) {
        // Each case gets its own directory and pair of keys, A enumerated before B.
        const std::u16string dir = Format(u"C:\\Case%d\\Brindle", ++n);
        const std::u16string a = Format(u"A%d", n), b = Format(u"B%d", n);
        AddUninstall(fp.registry, a, {{u"InstallLocation", dir + u"\\"}});
        AddUninstall(fp.registry, b, {{u"InstallLocation", ToLowerAscii(dir)}});
        if (c.dateA) fp.registry.SetText(Hive::LocalMachine, kUninstall + u"\\" + a, u"InstallDate", c.dateA);
        if (c.dateB) fp.registry.SetText(Hive::LocalMachine, kUninstall + u"\\" + b, u"InstallDate", c.dateB);
        std::u16string key;
        EXPECT_EQ(GetUninstallRegKey(u"InstallLocation", dir + u"\\", key), 1);
        EXPECT_EQ(key, c.winner + Format(u"%d", n)) << n;
    }
}

TEST_F(SourcesTest, UninstallValueLimitsAndTypes) {
    const std::u16string v129(129, u'a'), v130(130, u'a');
    struct Case {
        const char* what;
        uint32_t type;
        std::vector<uint8_t> data;
        std::u16string wanted;
        int result;
    };
    auto withZero = [](std::u16string s) { s += u'\0'; return Utf16Bytes(s); };
    const Case cases[] = {
        {"129 characters", plat::kRegSz, withZero(v129), v129, 1},
        {"129 characters without zero", plat::kRegSz, Utf16Bytes(v129), v129, 1},
        {"130 characters", plat::kRegSz, withZero(v130), v130, 0},
        {"130 characters without zero", plat::kRegSz, Utf16Bytes(v130), v130, 0},
        {"expandable text", plat::kRegExpandSz, Utf16Bytes(u"C:\\P\\"), u"C:\\P", 1},
        {"number", plat::kRegDword, {0x43, 0, 0x3A, 0}, u"C:", 0},
        {"binary", plat::kRegBinary, Utf16Bytes(u"C:\\P"), u"C:\\P", 0},
        {"one trailing backslash only", plat::kRegSz, Utf16Bytes(u"C:\\P\\\\"), u"C:\\P\\", 0},
        {"both with two backslashes", plat::kRegSz, Utf16Bytes(u"C:\\P\\\\"), u"C:\\P\\\\", 1},
        {"odd byte count", plat::kRegSz, {'C', 0, ':', 0, 'x'}, u"C:", 1},
        {"only A-Z lowered", plat::kRegSz, Utf16Bytes(u"\u00C9T\u00C9"), u"\u00E9t\u00E9", 0},
    };
    for (const Case& c : cases) {
        fp.registry.SetRaw(Hive::LocalMachine, kUninstall + u"\\K", u"InstallLocation", c.type, c.data);
        std::u16string key;
        EXPECT_EQ(GetUninstallRegKey(u"InstallLocation", c.wanted, key), c.result) << c.what;
    }
}

TEST_F(SourcesTest, UninstallKeyIsOpenedForReadingInThe64BitView) {
    // A user without administrative rights cannot open the key for writing.
    fp.registry.denyWrite.insert({Hive::LocalMachine, kUninstall});
    AddUninstall(fp.registry, u"{P}", {{u"InstallLocation", kDir}});
    std::u16string key;
    EXPECT_EQ(GetUninstallRegKey(u"InstallLocation", kDir, key), 1);
    EXPECT_EQ(key, u"{P}");
    ASSERT_FALSE(fp.registry.accesses.empty());
    for (const auto& a : fp.registry.accesses) {
        EXPECT_EQ(a.hive, Hive::LocalMachine);
        EXPECT_EQ(a.sam, plat::kKeyRead | plat::kKeyWow64_64) << ToUtf8(a.path);
    }
}

TEST_F(SourcesTest, ThousandsOfUninstallKeysAreSearchedToTheEnd) {
    for (int i = 0; i < 5000; ++i)
        AddUninstall(fp.registry, Format(u"{%d}", i), {{u"DisplayName", Format(u"Product %d", i)},
                                                       {u"InstallLocation", Format(u"C:\\Apps\\%d\\", i)},
                                                       {u"InstallDate", u"20200101"}});
    AddUninstall(fp.registry, u"{late}", {{u"InstallLocation", u"C:\\Apps\\4711"}, {u"InstallDate", u"20200101"}});
    std::u16string key;
    EXPECT_EQ(GetUninstallRegKey(u"InstallLocation", u"C:\\Apps\\4711\\", key), 1);
    EXPECT_EQ(key, u"{late}");
    EXPECT_EQ(GetUninstallRegKey(u"InstallLocation", u"C:\\Apps\\none\\", key), 0);
}

TEST_F(SourcesTest, ReadFromRegistryFillsTheRecord) {
    AddUninstall(fp.registry, u"{PS}", {{u"DisplayName", u"  PhotoStudio 21 \t"},
                                        {u"DisplayVersion", u"21.0.3"},
                                        {u"InstallDate", u"20240315"},
                                        {u"InstallLocation", u"D:\\PS"}});
    fp.registry.SetDword(Hive::LocalMachine, kUninstall + u"\\{PS}", u"Language", 1031);
    ProgramInfo r;
    r.InstallLocation = u"d:\\ps\\";
    EXPECT_EQ(ReadFromRegistry(r), 1);
    EXPECT_EQ(r.ProductCode, u"{PS}");
    EXPECT_EQ(r.ProgramName, u"PhotoStudio 21");
    EXPECT_EQ(r.DisplayName, u"PhotoStudio 21");
    EXPECT_EQ(r.ProgramVersionNumber, u"21.0.3");
    EXPECT_EQ(r.ProgramInstallDate, u"20240315");
    EXPECT_EQ(r.InstallLocation, u"D:\\PS\\");
    EXPECT_EQ(r.ProgramLanguage, 1031);
}

TEST_F(SourcesTest, ReadFromRegistryKeepsFieldsWhoseValuesDoNotFit) {
    const std::u16string long260(260, u'n');
    AddUninstall(fp.registry, u"{PS}", {{u"ProgramName", u"PhotoStudio"},
                                        {u"DisplayName", long260},
                                        {u"DisplayVersion", std::u16string(259, u'1')},
                                        {u"InstallLocation", u""}});
    fp.registry.SetText(Hive::LocalMachine, kUninstall + u"\\{PS}", u"Language", u"1031");
    fp.registry.SetDword(Hive::LocalMachine, kUninstall + u"\\{PS}", u"InstallDate", 20240315);
    ProgramInfo r;
    r.ProgramName = r.DisplayName = u"PhotoStudio";
    r.ProgramInstallDate = u"keep";
    r.ProgramLanguage = 1033;
    EXPECT_EQ(ReadFromRegistry(r), 1);
    EXPECT_EQ(r.ProgramName, u"PhotoStudio");  // 260 characters leave no room for the terminator
    EXPECT_EQ(r.ProgramVersionNumber, std::u16string(259, u'1'));
    EXPECT_EQ(r.ProgramInstallDate, u"keep");
    EXPECT_EQ(r.InstallLocation, u"");  // empty value: no backslash appended
    EXPECT_EQ(r.ProgramLanguage, 1033);
}

TEST_F(SourcesTest, ReadFromRegistryLookupOrder) {
    AddUninstall(fp.registry, u"{German}", {{u"InstallLocation", u"C:\\Program Files\\Brindle\\PS\\"}, {u"DisplayName", u"G"}});
    AddUninstall(fp.registry, u"{ByName}", {{u"ProgramName", u"PhotoStudio"}, {u"DisplayName", u"N"}});
    struct Case { std::u16string location, name, key; int result; };
    const Case cases[] = {
        {u"C:\\Programme\\Brindle\\PS\\", u"PhotoStudio", u"{German}", 1},
        {u"C:\\Programme\\Brindle\\Other\\", u"PhotoStudio", u"{ByName}", 1},
        {u"", u"photostudio", u"{ByName}", 1},
        {u"C:\\Nowhere\\", u"", u"", 0},
        {u"", u"", u"", 0},
    };
    for (const Case& c : cases) {
        ClearLog(fp);
        ProgramInfo r;
        r.InstallLocation = c.location;
        r.ProgramName = c.name;
        EXPECT_EQ(ReadFromRegistry(r), c.result) << ToUtf8(c.location) << ToUtf8(c.name);
        EXPECT_EQ(r.ProductCode, c.key);
        EXPECT_EQ(LogTextHasLine(fp, u"ERR: BRUT:[08a2c] GetUninstallRegKey failed"), c.result == 0);
    }
}

TEST_F(SourcesTest, ReadFromRegistryWithoutUninstallKey) {
    ProgramInfo r;
    r.InstallLocation = kDir;
    EXPECT_EQ(ReadFromRegistry(r), 0);
    EXPECT_TRUE(LogTextHasLine(fp, u"ERR: BRUT:[08a2c] GetUninstallRegKey failed"));
}

// --- ReadFromMsiDB -------------------------------------------------------------

std::map<std::u16string, std::u16string> MsiProps(const std::u16string& location, const std::u16string& name) {
    return {{u"InstallLocation", location}, {u"ProductName", name}, {u"VersionString", u"21.0.3"},
            {u"InstallDate", u"20240315"}, {u"Language", u"1031.9"}};
}

TEST_F(SourcesTest, MsiMatchByInstallLocationWithoutTrailingBackslash) {
    msi.Add(u"{00000000-0000-0000-0000-000000000001}", MsiProps(u"C:\\Other\\", u"Other"));
    msi.Add(u"{00000000-0000-0000-0000-000000000002}", MsiProps(u"", u"Empty"));
    msi.Add(u"{00000000-0000-0000-0000-000000000003}", MsiProps(u"C:\\PS", u"  PhotoStudio "));
    ProgramInfo r;
    r.InstallLocation = u"C:\\PS";
    EXPECT_EQ(ReadFromMsiDB(r), 1);
    EXPECT_EQ(r.ProductCode, u"{00000000-0000-0000-0000-000000000003}");
    EXPECT_EQ(r.InstallLocation, u"C:\\PS");  // as the installer returns it
    EXPECT_EQ(r.ProgramName, u"PhotoStudio");
    EXPECT_EQ(r.DisplayName, u"PhotoStudio");
    EXPECT_EQ(r.ProgramVersionNumber, u"21.0.3");
    EXPECT_EQ(r.ProgramInstallDate, u"20240315");
    EXPECT_EQ(r.ProgramLanguage, 1031);
    for (const auto& call : msi.infoCalls) EXPECT_EQ(call.capacity, 512u);
    EXPECT_TRUE(LogTextHasLine(fp, u"INF: BRUT:[08a2c] Find product guid"));
    EXPECT_TRUE(LogTextHasLine(fp, u"INF: BRUT:[08a2c] ReadFromMsiDB succeeded"));
}

TEST_F(SourcesTest, MsiNothingToLookFor) {
    msi.Add(u"{1}", MsiProps(u"C:\\A\\", u""));
    ProgramInfo r;
    EXPECT_EQ(ReadFromMsiDB(r), 0);
    EXPECT_TRUE(msi.infoCalls.empty());
    EXPECT_EQ(ReadFromWin32_Products(r), 0);
    EXPECT_TRUE(wmi.gets.empty());
    EXPECT_EQ(wmi.initialisedComs, 0);

    // Only a name to look for, and the product list holds objects.
    wmi = fake::FakeWmi{};
    wmi.objects = {fake::WmiObjectData::Strings({{u"Name", u"X"}})};
    EXPECT_EQ(ReadFromWin32_Products(r), 0);
    EXPECT_TRUE(wmi.gets.empty());
    EXPECT_EQ(wmi.initialisedComs, 0);
    EXPECT_EQ(wmi.objectsReleasedAfterUninitialize, 0);
}

TEST_F(SourcesTest, MsiFailures) {
    struct Case {
        const char* what;
        std::function<void(fake::FakeInstaller&)> products;
        std::u16string location, name;  // what the record looks for
        int result;
        std::u16string code, nameAfter;  // ProductCode and ProgramName afterwards
        const char16_t* error;           // an ERR line, nullptr for none
    };
    const Case cases[] = {
        {"location unreadable", [](fake::FakeInstaller& m) {
             m.Add(u"{1}", MsiProps(u"C:\\A\\", u"PhotoStudio"));
             m.products.back().errors[u"InstallLocation"] = 1610;
         }, u"C:\\A\\", u"", 0, u"", u"", u"MsiGetProductInfo 'INSTALLPROPERTY_INSTALLLOCATION' failed and returned: 1610"},
        // Names match exactly; a property failing after the match ends the source with what was read.
        {"property failing after the name matched", [](fake::FakeInstaller& m) {
             m.Add(u"{1}", MsiProps(u"C:\\A\\", u"PhotoStudio "));
             m.Add(u"{2}", MsiProps(u"C:\\B\\", u"PhotoStudio"));
             m.products.back().errors[u"VersionString"] = plat::kErrUnknownProperty;
         }, u"", u"PhotoStudio", 0, u"{2}", u"PhotoStudio",
         u"MsiGetProductInfo 'INSTALLPROPERTY_VERSIONSTRING' failed and returned: 1608"},
        // A location of 512 characters does not fit the property buffer with its terminator; 511 do.
        {"property too long", [](fake::FakeInstaller& m) {
             m.Add(u"{1}", MsiProps(std::u16string(512, u'x'), u"A"));
             m.Add(u"{2}", MsiProps(std::u16string(510, u'y') + u"\\", u"B"));
         }, std::u16string(510, u'y'), u"", 1, u"{2}", u"B",
         u"MsiGetProductInfo 'INSTALLPROPERTY_INSTALLLOCATION' failed and returned: 234"},
        {"product code of 39 characters", [](fake::FakeInstaller& m) {
             m.Add(u"{00000000-0000-0000-0000-0000000000001}", MsiProps(u"C:\\Long\\", u"C"));
         }, u"C:\\Long\\", u"", 0, u"", u"", nullptr},
        {"enumeration fails", [](fake::FakeInstaller& m) {
             m.Add(u"{1}", MsiProps(u"C:\\A\\", u"A"));
             m.Add(u"{2}", MsiProps(u"C:\\Long\\", u"B"));
             m.enumErrors[1] = 1610;
         }, u"C:\\Long\\", u"", 0, u"", u"", u"MsiEnumProducts failed and returned: 1610"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClearLog(fp);
        msi = fake::FakeInstaller{};
        c.products(msi);
        ProgramInfo r;
        r.InstallLocation = c.location;
        r.ProgramName = c.name;
        EXPECT_EQ(ReadFromMsiDB(r), c.result);
        EXPECT_EQ(r.ProductCode, c.code);
        EXPECT_EQ(r.ProgramName, c.nameAfter);
        if (c.error) {
            EXPECT_TRUE(LogTextHasLine(fp, u"ERR: BRUT:[08a2c] " + std::u16string(c.error)));
        }
    }
    // An enumeration error ends the walk at once: it would come again for every index.
    EXPECT_EQ(msi.enumCalls, 2);
}

// --- ReadFromWin32_Products ------------------------------------------------------

fake::WmiObjectData WmiProduct(const std::u16string& location, const std::u16string& name) {
    return fake::WmiObjectData::Strings({{u"IdentifyingNumber", u"{" + name + u"}"},
                                         {u"InstallLocation", location},
                                         {u"Name", name},
                                         {u"Version", u"21.0.3"},
                                         {u"InstallDate2", u"20240315123000.000000+060"},
                                         {u"Language", u"1041"}});
}

TEST_F(SourcesTest, WmiMatchByInstallLocation) {
    wmi.objects = {WmiProduct(u"C:\\Other\\", u"Other"), WmiProduct(u"", u"Empty"),
                   WmiProduct(u"C:\\PS", u" PhotoStudio ")};
    ProgramInfo r;
    r.InstallLocation = u"C:\\PS";
    EXPECT_EQ(ReadFromWin32_Products(r), 1);
    EXPECT_EQ(r.ProductCode, u"{ PhotoStudio }");
    EXPECT_EQ(r.InstallLocation, u"C:\\PS");
    EXPECT_EQ(r.ProgramName, u" PhotoStudio ");  // not trimmed
    EXPECT_EQ(r.DisplayName, u" PhotoStudio ");
    EXPECT_EQ(r.ProgramVersionNumber, u"21.0.3");
    EXPECT_EQ(r.ProgramInstallDate, u"20240315");
    EXPECT_EQ(r.ProgramLanguage, 1041);
    EXPECT_EQ(wmi.connectedNamespace, u"ROOT\\CIMV2");
    EXPECT_EQ(wmi.queryLanguage, u"WQL");
    EXPECT_EQ(wmi.queryText, u"SELECT * FROM Win32_Product");
    for (uint32_t t : wmi.nextTimeouts) EXPECT_EQ(t, 5000u);
    EXPECT_EQ(wmi.initialisedComs, 0);
    EXPECT_EQ(wmi.releases, 1);
    EXPECT_EQ(wmi.objectsReleasedAfterUninitialize, 0);
    EXPECT_TRUE(LogTextHasLine(fp, u"INF: BRUT:[08a2c] Connected to ROOT\\CIMV2 WMI namespace"));
    EXPECT_TRUE(LogTextHasLine(fp, u"INF: BRUT:[08a2c] Find product guid"));
    EXPECT_FALSE(LogTextHas(fp, u"ERR:"));
}

TEST_F(SourcesTest, WmiStepFailures) {
    struct Case {
        const char* what;
        int32_t fake::FakeWmi::*step;  // answers E_FAIL; nullptr: every step succeeds
        std::vector<fake::WmiObjectData> objects;
        std::map<int, int32_t> nextWithoutObject;
        std::u16string log;
        int releases, nextCalls;
    };
    const std::u16string failed = u"Unspecified error (2147500037)";
    const std::vector<fake::WmiObjectData> match = {WmiProduct(kDir, u"PhotoStudio")};
    const std::vector<fake::WmiObjectData> other = {WmiProduct(u"C:\\Other\\", u"Other")};
    const Case cases[] = {
        {"COM", &fake::FakeWmi::coInitialize, match, {}, u"Failed to initialize COM library. " + failed, 0, 0},
        {"security", &fake::FakeWmi::security, match, {}, u"Failed to initialize security. " + failed, 0, 0},
        {"locator", &fake::FakeWmi::locator, match, {}, u"Failed to create IWbemLocator object. " + failed, 0, 0},
        {"connect", &fake::FakeWmi::connect, match, {}, u"Could not connect. " + failed, 1, 0},
        {"blanket", &fake::FakeWmi::blanket, match, {}, u"Could not set proxy blanket. " + failed, 1, 0},
        {"query", &fake::FakeWmi::query, match, {}, u"Query for product failed. " + failed, 1, 0},
        // The list ends (S_FALSE) or Next times out before a match.
        {"end of the list", nullptr, other, {}, u"pEnumerator->Next() failed and returned: 1", 1, 2},
        {"time-out", nullptr, {other[0], match[0]}, {{1, plat::kWbemSTimedOut}},
         u"pEnumerator->Next() failed and returned: 262148", 1, 2},
    };
    // COM answers with an HRESULT, not through the thread's last error.
    fp.system.errorMessages[static_cast<uint32_t>(plat::kEFail)] = u"Unspecified error\r\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClearLog(fp);
        fake::FakeWmi w;
        w.objects = c.objects;
        w.nextWithoutObject = c.nextWithoutObject;
        if (c.step) w.*c.step = plat::kEFail;
        fp.wmi = &w;
        fp.InstallAll();
        ProgramInfo r;
        r.InstallLocation = kDir;
        EXPECT_EQ(ReadFromWin32_Products(r), 0);
        EXPECT_TRUE(LogTextHasLine(fp, u"ERR: BRUT:[08a2c] " + c.log));
        EXPECT_EQ(w.initialisedComs, 0);
        EXPECT_EQ(w.releases, c.releases);
        EXPECT_EQ(w.nextCalls, c.nextCalls);
        EXPECT_TRUE(r.ProductCode.empty());
    }
}

TEST_F(SourcesTest, WmiSecuritySetEarlierInTheProcessStillAllowsASearch) {
    wmi.objects = {WmiProduct(kDir, u"PhotoStudio")};
    ProgramInfo first;
    first.InstallLocation = kDir;
    EXPECT_EQ(ReadFromWin32_Products(first), 1);
    ProgramInfo second;
    second.InstallLocation = kDir;
    EXPECT_EQ(ReadFromWin32_Products(second), 1);
    EXPECT_EQ(second.ProgramName, u"PhotoStudio");
    EXPECT_FALSE(LogTextHas(fp, u"Failed to initialize security."));
    EXPECT_EQ(wmi.initialisedComs, 0);
}

TEST_F(SourcesTest, WmiPropertiesThatAreNotTextOrFail) {
    auto notText = WmiProduct(kDir, u"First");
    notText.properties[u"InstallDate2"] = plat::WmiValue{false, u""};
    auto badDate = WmiProduct(kDir, u"Second");
    badDate.properties[u"InstallDate2"] = plat::WmiValue{true, u"2024-03-15"};
    wmi.objects = {notText, badDate};
    ProgramInfo r;
    r.InstallLocation = kDir;
    r.ProgramInstallDate = u"keep";
    EXPECT_EQ(ReadFromWin32_Products(r), 1);
    EXPECT_EQ(r.ProgramName, u"Second");
    EXPECT_EQ(r.ProgramInstallDate, u"keep");

    fake::FakeWmi failing;
    auto noVersion = WmiProduct(kDir, u"Third");
    noVersion.errors[u"Version"] = fake::kWbemENotFound;
    failing.objects = {noVersion, WmiProduct(kDir, u"Fourth")};
    fp.wmi = &failing;
    fp.InstallAll();
    ProgramInfo f;
    f.InstallLocation = kDir;
    EXPECT_EQ(ReadFromWin32_Products(f), 0);
    EXPECT_EQ(f.ProgramName, u"Third");  // fields read before the failure stay
    EXPECT_EQ(f.ProductCode, u"{Third}");
    EXPECT_TRUE(f.ProgramVersionNumber.empty());
    EXPECT_EQ(failing.initialisedComs, 0);
    EXPECT_EQ(failing.objectsReleasedAfterUninitialize, 0);
    EXPECT_EQ(wmi.objectsReleasedAfterUninitialize, 0);
}

TEST_F(SourcesTest, WmiMatchByNameAndGetErrors) {
    auto broken = WmiProduct(u"C:\\X\\", u"PhotoStudio");
    broken.errors[u"Name"] = plat::kEFail;
    broken.errors[u"InstallLocation"] = plat::kEFail;
    auto numeric = WmiProduct(u"C:\\Y\\", u"PhotoStudio");
    numeric.properties[u"Name"] = plat::WmiValue{false, u"PhotoStudio"};
    wmi.objects = {broken, numeric, WmiProduct(u"C:\\Z\\", u"PhotoStudio")};
    ProgramInfo r;
    r.ProgramName = u"PhotoStudio";
    EXPECT_EQ(ReadFromWin32_Products(r), 1);
    EXPECT_EQ(r.InstallLocation, u"C:\\Z\\");
    EXPECT_TRUE(LogTextHasLine(fp, u"ERR: BRUT:[08a2c] MsiGetProductInfo 'Name' failed and returned: -2147467259"));

    fake::FakeWmi second;
    second.objects = {broken, WmiProduct(u"C:\\Z\\", u"PhotoStudio")};
    fp.wmi = &second;
    fp.InstallAll();
    ProgramInfo byLocation;
    byLocation.InstallLocation = u"C:\\Z\\";
    EXPECT_EQ(ReadFromWin32_Products(byLocation), 1);
    EXPECT_TRUE(LogTextHasLine(fp, u"ERR: BRUT:[08a2c] Get 'INSTALLPROPERTY_INSTALLLOCATION' failed and returned: -2147467259"));
}

}  // namespace
