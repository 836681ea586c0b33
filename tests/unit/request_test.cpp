#include <gtest/gtest.h>

#include "fakes/FakeInternet.h"
#include "fakes/FakePlatform.h"
#include "fakes/TestSupport.h"
#include "system/Settings.h"
#include "update/RequestDocument.h"
#include "update/WebService.h"
#include "util/Text.h"

using namespace brut;
using plat::Hive;

namespace {

const std::u16string kWorker = fake::kWorkRoot + u"PhotoStudio 21\\BRUptideWorker.exe";
const char16_t* const kGuid = u"6f1c2e3a-0b4d-4c5e-9f60-718293a4b5c6";

class RequestTest : public ::testing::Test {
protected:
    void SetUp() override {
        fp.system.adapters = {fake::UsableAdapter({0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E})};
        fp.system.osVersion.majorVersion = 10;
        fp.system.osVersion.minorVersion = 0;
        fp.system.osVersion.productType = 1;
        fp.system.defaultLcid = 1031;
        fp.system.wow64 = true;
        fp.registry.SetText(Hive::LocalMachine, u"SOFTWARE\\Microsoft\\Cryptography", u"MachineGuid", kGuid);
        fp.files.AddFile(kWorker, "MZ");
        fp.versions.SetSimple(kWorker, {{u"ProductVersion", u"3.1.0"}});
        info.ProgramName = u"PhotoStudio";
        info.ProgramVersionNumber = u"21.0.3";
        info.ProgramLanguage = 1031;
        info.ProgramInstallDate = u"2026-01-05";
    }
    std::string Build(bool isQuickCheck) {
        int error = -1;
        std::unique_ptr<TiXmlDocument> doc = BuildQuickCheckXml(&error, info, isQuickCheck);
        EXPECT_EQ(error, 0);
        return doc ? SerializeXml(*doc) : std::string("(none)");
    }

    fake::FakeInternet net;
    fake::FakePlatform fp{&net};
    fake::FreshLog freshLog{fp};
    fake::FreshMacAddress freshMac;
    ProgramInfo info;
};

}  // namespace

TEST(ToXmlText, SingleBytesOrPlainName) {
    struct Case { std::u16string in; std::string out; };
    const Case cases[] = {
        {u"", ""},
        {u"Caf\u00E9 & <Co>", "Caf\xE9 & <Co>"},
        {u"\u00FF\u0001", "\xFF\x01"},
        {u"\u0100", "~1W"},  // the first unit beyond a single byte
        {u"Caf\u00E9 \u3042-1.0", "Caf ~48E1.0"},      // any unit >= 256: the whole value is rewritten
        {u"\u20AC", "~32S"},
    };
    for (const auto& c : cases) {
        bool cut = true;
        EXPECT_EQ(ToXmlText(c.in, &cut), c.out) << ToUtf8(c.in);
        EXPECT_FALSE(cut);
    }
    bool cut = false;
    EXPECT_EQ(ToXmlText(std::u16string(260, u'a'), &cut), std::string(260, 'a'));
    EXPECT_FALSE(cut);
    EXPECT_EQ(ToXmlText(std::u16string(261, u'a'), &cut), std::string(260, 'a'));
    EXPECT_TRUE(cut);
}

TEST_F(RequestTest, FullDocumentAndLogInOrder) {
    info.ProgramName = u"Photo & Co";
    info.ProgramVersionNumber = u"21.0.3";
    info.AffiliateId = u"";
    // The working directory follows the name.
    fp.files.AddFile(u"C:\\Temp\\ZI Vodidure\\BR Uptide\\Photo  Co 21\\BRUptideWorker.exe", "MZ");
    fp.versions.SetSimple(u"C:\\Temp\\ZI Vodidure\\BR Uptide\\Photo  Co 21\\BRUptideWorker.exe",
                          {{u"ProductVersion", u"3.1.0"}});
    EXPECT_EQ(Build(true),
              "<QuickCheck>\n"
              "    <Version>9.0.8</Version>\n"
              "    <MAC>0:1A:2B:3C:4D:5E</MAC>\n"
              "    <UptideWorkerVersion>3.1.0</UptideWorkerVersion>\n"
              "    <OsVersion>10.0</OsVersion>\n"
              "    <OsProductType>WorkStation</OsProductType>\n"
              "    <OsLanguage>1031</OsLanguage>\n"
              "    <OsArchitecture>64</OsArchitecture>\n"
              "    <MachineGuid>6f1c2e3a-0b4d-4c5e-9f60-718293a4b5c6</MachineGuid>\n"
              "    <ProgramName>Photo &amp; Co</ProgramName>\n"
              "    <ProgramVersionNumber>21.0.3</ProgramVersionNumber>\n"
              "    <ProgramLanguage>1031</ProgramLanguage>\n"
              "    <ProgramInstallDate>2026-01-05</ProgramInstallDate>\n"
              "    <AffiliateId></AffiliateId>\n"
              "</QuickCheck>\n");
    const std::vector<std::u16string> want = {
        u"INF start to build QuickCheck.xml",
        u"INF Version: 9.0.8",
        u"INF Mac: 0:1A:2B:3C:4D:5E",
        u"INF UptideWorkerVersion: 3.1.0",
        u"INF Os Verison: 10.0",
        u"INF Os Type: WorkStation",
        u"INF Os Language: 1031",
        u"INF Os Architexture: x64",
        std::u16string(u"INF MachineGuid: ") + kGuid,
        u"INF ProgramName: Photo & Co",
        u"INF ProgramVersionNumber: 21.0.3",
        u"INF ProgramLanguage: 1031",
        u"INF ProgramInstallDate: 2026-01-05",
        u"INF AffiliateId: ",
        u"INF QuickCheck.xml fertig",
    };
    EXPECT_EQ(LogLines(fp), want);
}

TEST_F(RequestTest, WithoutSwitchOnlyMachineFactsAndMissingFactsAreEmptyElements) {
    fp.system.adapters.clear();
    fp.files.RemoveFile(kWorker);
    fp.registry = fake::FakeRegistry();
    fp.system.wow64CallOk = false;
    fp.system.osVersion.productType = 2;
    EXPECT_EQ(Build(false),
              "<QuickCheck>\n"
              "    <Version>9.0.8</Version>\n"
              "    <MAC />\n"
              "    <UptideWorkerVersion />\n"
              "    <OsVersion>10.0</OsVersion>\n"
              "    <OsProductType>DomainController</OsProductType>\n"
              "    <OsLanguage>1031</OsLanguage>\n"
              "    <OsArchitecture>32</OsArchitecture>\n"
              "    <MachineGuid />\n"
              "</QuickCheck>\n");
    const auto lines = LogLines(fp);
    const std::vector<std::u16string> want = {
        u"INF start to build QuickCheck.xml", u"INF Version: 9.0.8", u"ERR Mac konnte nicht ermittelt werden.",
        u"INF UptideWorker not found", u"INF Os Verison: 10.0", u"INF Os Type: DomainController",
        u"INF Os Language: 1031", u"INF Os Architexture: x32", u"INF MachineGuid not found",
        u"INF QuickCheck.xml fertig",
    };
    EXPECT_EQ(lines, want);
}

TEST_F(RequestTest, OsFactsTable) {
    struct Case { uint8_t type; bool callOk, wow64; uint32_t rtl; std::string version, typeWord, arch; };
    const Case cases[] = {
        {1, true, false, 0, "10.0", "WorkStation", "32"},
        {3, true, true, 0, "10.0", "Server", "64"},
        {0, false, true, 0, "10.0", "Server", "32"},
        {1, true, true, 0xC0000001, "0.0", "Server", "64"},  // no version record: all zero
    };
    for (const auto& c : cases) {
        fp.system.osVersion.productType = c.type;
        fp.system.wow64CallOk = c.callOk;
        fp.system.wow64 = c.wow64;
        fp.system.rtlStatus = c.rtl;
        const std::string doc = Build(false);
        EXPECT_NE(doc.find("<OsVersion>" + c.version + "</OsVersion>"), std::string::npos) << doc;
        EXPECT_NE(doc.find("<OsProductType>" + c.typeWord + "</OsProductType>"), std::string::npos) << doc;
        EXPECT_NE(doc.find("<OsArchitecture>" + c.arch + "</OsArchitecture>"), std::string::npos) << doc;
    }
}

TEST_F(RequestTest, ProductValuesAsSingleBytes) {
    struct Case { std::u16string name; std::string element; std::u16string logged; };
    const Case cases[] = {
        {u"Caf\u00E9", "<ProgramName>Caf\xE9</ProgramName>", u"INF ProgramName: Caf\u00E9"},
        // The log file holds single bytes: only the Latin-1 part of these lines is checked.
        {u"Caf\u00E9 \u3042", "<ProgramName>Caf ~48E</ProgramName>", u"INF ProgramName: Caf\u00E9 "},
        {u"\u3042\u3044", "<ProgramName>~48E~48G</ProgramName>", u"INF ProgramName: "},
        {u"", "<ProgramName></ProgramName>", u"INF ProgramName: "},
        {u"a\u0001<b>\"'", "<ProgramName>a&#x01;&lt;b&gt;&quot;&apos;</ProgramName>", u"INF ProgramName: a\u0001<b>\"'"},
    };
    for (const auto& c : cases) {
        ClearLog(fp);
        info.ProgramName = c.name;
        info.ProgramLanguage = 0;
        info.ProgramInstallDate.clear();
        const std::string doc = Build(true);
        EXPECT_NE(doc.find("    " + c.element + "\n"), std::string::npos) << doc;
        EXPECT_NE(doc.find("    <ProgramLanguage>0</ProgramLanguage>\n"), std::string::npos) << doc;
        EXPECT_NE(doc.find("    <ProgramInstallDate></ProgramInstallDate>\n"), std::string::npos) << doc;
        EXPECT_TRUE(LogHasLineStarting(fp, c.logged)) << ToUtf8(c.name);
    }
}

TEST_F(RequestTest, OverlongValueIsCutWithWarning) {
    info.AffiliateId = std::u16string(300, u'7');
    const std::string doc = Build(true);
    EXPECT_NE(doc.find("<AffiliateId>" + std::string(260, '7') + "</AffiliateId>"), std::string::npos);
    const auto lines = LogLines(fp);
    EXPECT_NE(std::find(lines.begin(), lines.end(), u"WAR Value of AffiliateId longer than 260 bytes: cut"),
              lines.end());
    // The product line shows the record's value, uncut.
    EXPECT_NE(std::find(lines.begin(), lines.end(), u"INF AffiliateId: " + info.AffiliateId), lines.end());
}

// --- The document on the wire ------------------------------------------------------------

TEST_F(RequestTest, CallWebServiceEncodesTwiceAndLogsTheCall) {
    info.ProgramName = u"Caf\u00E9";
    fp.files.AddFile(u"C:\\Temp\\ZI Vodidure\\BR Uptide\\Caf 21\\BRUptideWorker.exe", "MZ");
    int error = 0;
    auto doc = BuildQuickCheckXml(&error, info, true);
    ASSERT_TRUE(doc);
    const std::string serialized = SerializeXml(*doc);
    fake::Exchange reply;
    reply.body = "<string>x</string>";
    net.script.push_back(reply);
    ClearLog(fp);

    WebServiceResult r = CallWebService(info, *doc, u"/QuickCheck", u"QuickCheckXML");
    EXPECT_EQ(r.Result, 0u);
    EXPECT_EQ(r.Reply, u"<string>x</string>");
    EXPECT_FALSE(r.IsAnsweredOverHttpRetry);

    ASSERT_EQ(net.requests.size(), 1u);
    const auto& q = net.requests[0];
    EXPECT_EQ(q.server, u"uptide.brindle.example");
    EXPECT_TRUE(q.secure);
    EXPECT_EQ(q.object, u"Uptide/BRUTWebservice.asmx/QuickCheck");
    const std::string head = "QuickCheckXML=%253cQuickCheck%253e%250a%2b%2b%2b%2b%253cVersion%253e9%252e0%252e8%253c%252fVersion%253e";
    EXPECT_EQ(q.body.compare(0, head.size(), head), 0) << q.body;
    EXPECT_NE(q.body.find("%253cProgramName%253eCaf%25e9%253c%252fProgramName%253e"), std::string::npos) << q.body;
    // Nothing but the form's own characters travels.
    EXPECT_EQ(q.body.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789%+="), std::string::npos);

    const auto lines = LogLines(fp);
    ASSERT_EQ(lines.size(), 3u);
    // The document verbatim; the log drops the final line feed.
    EXPECT_EQ(lines[0] + u"\n", u"INF " + FromLatin1(serialized));
    EXPECT_EQ(lines[1], u"INF url to Webserver: https://uptide.brindle.example/Uptide/BRUTWebservice.asmx/QuickCheck");
    EXPECT_EQ(lines[2], u"INF /QuickCheck result = 0");
}

TEST_F(RequestTest, DebugUrlReplacesTheBaseUnchanged) {
    EXPECT_EQ(ServiceBaseUrl(info), std::u16string(kDefaultServiceBaseUrl));
    EXPECT_EQ(std::u16string(kDefaultServiceBaseUrl), u"https://uptide.brindle.example/Uptide/");
    TiXmlDocument doc;
    doc.LinkEndChild(new TiXmlElement("UpdateStatus"));

    fp.registry.SetText(Hive::CurrentUser, u"Software\\Brindle\\Brindle Uptide", u"DebugUrl_v2", u"http://127.0.0.1:8080/U");
    CallWebService(info, doc, u"/ReportUpdateStatus", u"UpdateStatusXML");
    fp.registry.SetText(Hive::CurrentUser, u"Software\\Brindle\\Brindle Uptide\\PhotoStudio", u"DebugUrl_v2",
                        u"http://localhost:9/Uptide/");
    CallWebService(info, doc, u"/ReportUpdateStatus", u"UpdateStatusXML");
    ASSERT_EQ(net.requests.size(), 2u);
    EXPECT_EQ(net.requests[0].server, u"127.0.0.1:8080");
    EXPECT_EQ(net.requests[0].object, u"UBRUTWebservice.asmx/ReportUpdateStatus");
    EXPECT_FALSE(net.requests[0].secure);
    EXPECT_EQ(net.requests[0].body, "UpdateStatusXML=%253cUpdateStatus%2b%252f%253e%250a");
    EXPECT_EQ(net.requests[1].server, u"localhost:9");
    EXPECT_EQ(net.requests[1].object, u"Uptide/BRUTWebservice.asmx/ReportUpdateStatus");
}

TEST_F(RequestTest, LastErrorsAfterEachStepAreLoggedAndCleared) {
    net.sessionFails = true;
    net.sessionError = fake::Thrown(12001, u"No more handles");
    fp.system.errorMessages[12001] = u"No more handles.\r\n";
    fp.system.lastError = 87;  // stale: cleared before the wrapper is made
    TiXmlDocument doc;
    doc.LinkEndChild(new TiXmlElement("X"));
    WebServiceResult r = CallWebService(info, doc, u"/QuickCheck", u"QuickCheckXML");
    EXPECT_EQ(r.Result, 12001u);
    EXPECT_EQ(r.Reply, u"No more handles");
    EXPECT_EQ(fp.system.lastError, 0u);
    const std::vector<std::u16string> want = {
        u"After Create CHttpWrapper: \"No more handles. (12001)\" (12001)",
        u"no Internet session because: No more handles",
        u"/QuickCheck result = 12001",
    };
    EXPECT_EQ(LogErrors(fp), want);
}
