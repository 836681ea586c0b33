#include <gtest/gtest.h>

#include <thread>

#include "fakes/FakePlatform.h"
#include "fakes/TestSupport.h"
#include "system/SystemFacts.h"
#include "util/Text.h"

using namespace brut;
using plat::Hive;
using fake::kWorkRoot;
using fake::UsableAdapter;

namespace {

class SystemFactsTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(fp.registry.openHandles, 0) << "a key was left open"; }

    fake::FakePlatform fp;
    fake::FreshLog freshLog{fp};
    fake::FreshMacAddress freshMac;
};

// --- MakePlainName -------------------------------------------------------------------

TEST(PlainName, Rules) {
    struct Case { std::u16string in, out; };
    const Case cases[] = {
        {u"Photo Studio 21.0", u"Photo Studio 21.0"},
        {u"A-B_C/D\\E:F&G", u"ABCDEFG"},
        {u"Caf\u00E9", u"Caf"},
        {u"\u00C4\u00D6\u00DC\u00DF\u0080\u00FF", u""},
        {u"\u3042", u"~48E"},
        {u"\u0100", u"~1W"},
        {u"\uFFFF", u"~257P"},
        {u"X \u30D5\u30A9\u30C8 1.0", u"X ~49V~48D~48I 1.0"},
        {u"\u00E9\u3042", u"~48E"},
        {u"", u""},
    };
    for (const Case& c : cases) EXPECT_EQ(MakePlainName(c.in), c.out) << ToUtf8(c.in);
}

// --- Working directory and the worker's version ---------------------------------------

TEST_F(SystemFactsTest, WorkingDirectory) {
    struct Case { std::u16string name, version; bool backslash; std::u16string dir; };
    const Case cases[] = {
        {u"PhotoStudio", u"12.5.300", false, kWorkRoot + u"PhotoStudio 12"},
        {u"PhotoStudio", u"12.5.300", true, kWorkRoot + u"PhotoStudio 12\\"},
        // No version part: no trailing blank, which Windows would drop from the directory.
        {u"PhotoStudio", u"12", false, kWorkRoot + u"PhotoStudio"},
        {u"PhotoStudio", u".5", true, kWorkRoot + u"PhotoStudio\\"},
        {u"Tool.", u"7", false, kWorkRoot + u"Tool"},
        // Nothing left of the name: the maker's folder itself, without a doubled separator.
        {u"\u00E9\u00E8", u"7", true, kWorkRoot.substr(0, kWorkRoot.size() - 1) + u"\\"},
        {u"PhotoStudio", u"", false, kWorkRoot + u"PhotoStudio 1796644685"},
        {u"\u3042\u3044 Pro", u"3.0", false, kWorkRoot + u"~48E~48G Pro 3"},
        {u"\u00C9t\u00E9", u"1.0", false, kWorkRoot + u"t 1"},
    };
    for (const Case& c : cases) {
        ProgramInfo info;
        info.ProgramName = c.name;
        info.ProgramVersionNumber = c.version;
        std::u16string dir;
        EXPECT_EQ(GetWorkingDirectory(info, dir, c.backslash), 1);
        EXPECT_EQ(dir, c.dir);
        EXPECT_TRUE(fp.files.HasDirectory(c.dir)) << ToUtf8(c.dir);
    }
    EXPECT_TRUE(fp.files.HasDirectory(u"C:\\Temp\\ZI Vodidure\\BR Uptide"));
}

TEST_F(SystemFactsTest, WorkingDirectoryWithoutVersionChangesEverySecond) {
    ProgramInfo info;
    info.ProgramName = u"P";
    std::u16string first, second;
    EXPECT_EQ(GetWorkingDirectory(info, first, false), 1);
    fp.system.unixNow += 1;
    EXPECT_EQ(GetWorkingDirectory(info, second, false), 1);
    EXPECT_NE(first, second);
}

TEST_F(SystemFactsTest, WorkingDirectoryNeedsTheTemporaryPath) {
    fp.system.tempPath.clear();
    ProgramInfo info;
    info.ProgramName = u"P";
    std::u16string dir = u"unchanged";
    EXPECT_EQ(GetWorkingDirectory(info, dir, true), 0);
    EXPECT_EQ(dir, u"unchanged");
    std::u16string version;
    EXPECT_EQ(GetWorkerVersion(info, version), 0);
}

TEST_F(SystemFactsTest, WorkerVersion) {
    ProgramInfo info;
    info.ProgramName = u"PhotoStudio";
    info.ProgramVersionNumber = u"21.0";
    const std::u16string worker = kWorkRoot + u"PhotoStudio 21\\BRUptideWorker.exe";
    std::u16string version;
    EXPECT_EQ(GetWorkerVersion(info, version), 0);  // no cached worker

    fp.versions.SetSimple(worker, {{u"ProductVersion", u" 9.1.0 "}});
    EXPECT_EQ(GetWorkerVersion(info, version), 0);  // a resource, but no file to open

    fp.files.AddFile(worker, "MZ");
    EXPECT_EQ(GetWorkerVersion(info, version), 1);
    EXPECT_EQ(version, u"9.1.0");

    fp.files.unopenable.insert(ToLowerAscii(worker));
    EXPECT_EQ(GetWorkerVersion(info, version), 0);
}

// --- ReadVersionString --------------------------------------------------------------

TEST_F(SystemFactsTest, VersionStringJoinsTranslations) {
    struct Case {
        const char* what;
        std::vector<std::pair<uint16_t, uint16_t>> translations;
        std::map<std::u16string, std::u16string> strings;
        int result;
        std::u16string text;
    };
    const std::u16string en = u"\\StringFileInfo\\040904b0\\ProductVersion";
    const std::u16string de = u"\\StringFileInfo\\040704e4\\ProductVersion";
    const std::pair<uint16_t, uint16_t> tEn{0x0409, 0x04b0}, tDe{0x0407, 0x04e4};
    const Case cases[] = {
        {"one translation", {tEn}, {{en, u"1.2.3"}}, 1, u"1.2.3"},
        {"both have it", {tEn, tDe}, {{en, u"1.2"}, {de, u"1.3"}}, 1, u"1.2 / 1.3"},
        {"only the second", {tEn, tDe}, {{de, u"1.3"}}, 1, u"/ 1.3"},
        {"only the first", {tEn, tDe}, {{en, u"1.2"}}, 1, u"1.2 / "},
        {"neither", {tEn, tDe}, {}, 0, u" / "},
        {"trimmed", {tEn}, {{en, u" \t1.2 \r\n"}}, 1, u"1.2"},
        {"no translations", {}, {{en, u"1.2"}}, 0, u""},
        {"upper-case hex is another key", {tEn}, {{u"\\StringFileInfo\\040904B0\\ProductVersion", u"1"}}, 0, u""},
    };
    for (const Case& c : cases) {
        fake::FakeVersionBlock block;
        block.translations = c.translations;
        block.strings = c.strings;
        fp.versions.blocks[u"c:\\f.exe"] = block;
        std::u16string text = u"old";
        EXPECT_EQ(ReadVersionString(u"C:\\f.exe", text, u"ProductVersion"), c.result) << c.what;
        EXPECT_EQ(text, c.text) << c.what;
    }
}

TEST_F(SystemFactsTest, VersionStringWithoutResourceOrWithAnOverlongKey) {
    std::u16string text = u"old";
    EXPECT_EQ(ReadVersionString(u"C:\\none.exe", text, u"ProductVersion"), 0);
    EXPECT_EQ(text, u"");
    // "\StringFileInfo\xxxxxxxx\" leaves 24 characters of the 50-character key for the name.
    const std::u16string fits(24, u'n'), tooLong(25, u'n');
    fp.versions.SetSimple(u"C:\\f.exe", {{fits, u"a"}, {tooLong, u"b"}});
    EXPECT_EQ(ReadVersionString(u"C:\\f.exe", text, fits), 1);
    EXPECT_EQ(text, u"a");
    EXPECT_EQ(ReadVersionString(u"C:\\f.exe", text, tooLong), 0);
}

// --- Hardware address ------------------------------------------------------------------

TEST_F(SystemFactsTest, MacAddressFormatAndFilter) {
    plat::Adapter down = UsableAdapter({1, 1, 1, 1, 1, 1});
    down.operStatus = 2;
    plat::Adapter noAddress = UsableAdapter({2, 2, 2, 2, 2, 2});
    noAddress.unicast.clear();
    plat::Adapter transient = UsableAdapter({3, 3, 3, 3, 3, 3});
    transient.unicast[0].transient = true;
    plat::Adapter notDns = UsableAdapter({4, 4, 4, 4, 4, 4});
    notDns.unicast[0].dnsEligible = false;
    plat::Adapter ipv6 = UsableAdapter({5, 5, 5, 5, 5, 5});
    ipv6.unicast[0].family = 23;
    plat::Adapter longSockaddr = UsableAdapter({6, 6, 6, 6, 6, 6});
    longSockaddr.unicast[0].sockaddrLength = 28;
    plat::Adapter second = UsableAdapter({7, 7, 7, 7, 7, 7});
    plat::UnicastAddress ok = second.unicast[0];
    second.unicast[0].transient = true;
    second.unicast.push_back(ok);  // the second address qualifies
    fp.system.adapters = {down, noAddress, transient, notDns, ipv6, longSockaddr, second,
                          UsableAdapter({0x00, 0x1A, 0x2B, 0x03, 0x4D, 0x5E})};
    std::u16string mac;
    EXPECT_EQ(GetMacAddress(mac), 1);
    EXPECT_EQ(mac, u"7:7:7:7:7:7");

    ResetMacAddressForTests();
    fp.system.adapters = {down, UsableAdapter({0x00, 0x1A, 0x2B, 0x03, 0x4D, 0x5E, 0x77, 0x88})};
    EXPECT_EQ(GetMacAddress(mac), 1);
    EXPECT_EQ(mac, u"0:1A:2B:3:4D:5E");

    ResetMacAddressForTests();
    fp.system.adapters = {UsableAdapter({0xAB, 0xCD})};
    EXPECT_EQ(GetMacAddress(mac), 1);
    EXPECT_EQ(mac, u"AB:CD:0:0:0:0");
}

TEST_F(SystemFactsTest, MacAddressIsRememberedOnlyOnceFound) {
    std::u16string mac = u"old";
    EXPECT_EQ(GetMacAddress(mac), 0);
    EXPECT_EQ(mac, u"old");
    EXPECT_EQ(fp.system.adapterCalls, 1);
    fp.system.adapters = {UsableAdapter({0, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E})};
    EXPECT_EQ(GetMacAddress(mac), 1);
    EXPECT_EQ(mac, u"0:1A:2B:3C:4D:5E");
    fp.system.adapters.clear();
    EXPECT_EQ(GetMacAddress(mac), 1);
    EXPECT_EQ(mac, u"0:1A:2B:3C:4D:5E");
    EXPECT_EQ(fp.system.adapterCalls, 2);
}

TEST_F(SystemFactsTest, MacAddressBufferProtocol) {
    struct Case { const char* what; std::vector<uint32_t> answers; int result; int calls; bool mallocLogged; };
    const Case cases[] = {
        {"grows once", {plat::kErrBufferOverflow, 0}, 1, 2, false},
        {"grows twice", {plat::kErrBufferOverflow, plat::kErrBufferOverflow, 0}, 1, 3, false},
        {"other error", {plat::kErrInvalidParameter}, 0, 1, false},
        {"no memory", {plat::kErrBufferOverflow, plat::kErrNotEnoughMemory}, 0, 2, true},
        {"never large enough", std::vector<uint32_t>(100, plat::kErrBufferOverflow), 0, 11, true},
    };
    for (const Case& c : cases) {
        ResetMacAddressForTests();
        ClearLog(fp);
        fp.system.adapterCalls = 0;
        fp.system.adapterAnswers = c.answers;
        fp.system.adapters = {UsableAdapter({1, 2, 3, 4, 5, 6})};
        std::u16string mac;
        EXPECT_EQ(GetMacAddress(mac), c.result) << c.what;
        EXPECT_EQ(fp.system.adapterCalls, c.calls) << c.what;
        EXPECT_EQ(LogTextHasLine(fp, u"ERR: BRUT:[08a2c] malloc ulAdapterAddressesSize failed because:  (8)"),
                  c.mallocLogged)
            << c.what;
    }
}

TEST_F(SystemFactsTest, MacAddressFirstCallsFromSeveralThreadsAskOnce) {
    fp.system.adapters = {UsableAdapter({1, 2, 3, 4, 5, 6})};
    std::vector<std::u16string> results(8);
    std::vector<std::thread> threads;
    for (auto& r : results) threads.emplace_back([&r] { GetMacAddress(r); });
    for (auto& t : threads) t.join();
    for (const auto& r : results) EXPECT_EQ(r, u"1:2:3:4:5:6");
    EXPECT_EQ(fp.system.adapterCalls, 1);
}

// --- Machine GUID, OS version, threads -----------------------------------------------------

TEST_F(SystemFactsTest, MachineGuid) {
    const std::u16string key = u"SOFTWARE\\Microsoft\\Cryptography";
    std::u16string guid = u"old";
    EXPECT_EQ(GetMachineGuid(guid), 0);
    fp.registry.SetDword(Hive::LocalMachine, key, u"MachineGuid", 7);
    EXPECT_EQ(GetMachineGuid(guid), 0);
    EXPECT_EQ(guid, u"old");
    fp.registry.SetText(Hive::CurrentUser, key, u"MachineGuid", u"user");
    EXPECT_EQ(GetMachineGuid(guid), 0);
    fp.registry.SetText(Hive::LocalMachine, key, u"MachineGuid", u"0f8fad5b-d9cb-469f-a165-70867728950e", true);
    EXPECT_EQ(GetMachineGuid(guid), 1);
    EXPECT_EQ(guid, u"0f8fad5b-d9cb-469f-a165-70867728950e");
    for (const auto& a : fp.registry.accesses) {
        EXPECT_EQ(a.hive, Hive::LocalMachine);
        EXPECT_EQ(a.sam, plat::kKeyRead | plat::kKeyWow64_64);
    }
}

TEST_F(SystemFactsTest, OsVersion) {
    fp.system.osVersion.majorVersion = 6;
    fp.system.osVersion.minorVersion = 1;
    fp.system.osVersion.productType = 3;
    plat::OsVersionRecord r;
    r.majorVersion = 99;
    EXPECT_EQ(GetOsVersion(r), 0u);
    EXPECT_EQ(r.size, 284u);
    EXPECT_EQ(r.majorVersion, 6u);
    EXPECT_EQ(r.minorVersion, 1u);
    EXPECT_EQ(r.productType, 3);

    fp.system.rtlStatus = 0xC0000135;
    EXPECT_EQ(GetOsVersion(r), 0xC0000135u);
    EXPECT_EQ(r.size, 0u);
    EXPECT_EQ(r.majorVersion, 0u);
    EXPECT_EQ(r.productType, 0);
}

struct ThreadProbe {
    plat::ThreadHandle* handle;
    plat::ThreadHandle seen = 0;
};

uint32_t Probe(void* arg) {
    auto* p = static_cast<ThreadProbe*>(arg);
    p->seen = *p->handle;
    return 0;
}

TEST_F(SystemFactsTest, StartThreadHandle) {
    plat::ThreadHandle handle = 0;
    ThreadProbe probe{&handle};
    EXPECT_EQ(StartThread(&Probe, &probe, handle), 1);
    EXPECT_EQ(probe.seen, -1);  // the fake runs the routine before the start returns
    EXPECT_EQ(handle, 1001);

    fp.system.threadStartFails = true;
    EXPECT_EQ(StartThread(&Probe, &probe, handle), 0);
    EXPECT_EQ(handle, 0);
}

}  // namespace
