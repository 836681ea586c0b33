#include <gtest/gtest.h>

#include "fakes/FakeInternet.h"
#include "fakes/FakePlatform.h"
#include "fakes/TestSupport.h"
#include "update/RequestDocument.h"
#include "update/StatusReports.h"
#include "util/Text.h"

using namespace brut;
using plat::Hive;

namespace {

const char16_t* const kGuid = u"6f1c2e3a-0b4d-4c5e-9f60-718293a4b5c6";

class ReportsTest : public ::testing::Test {
protected:
    void SetUp() override {
        fp.system.adapters = {fake::UsableAdapter({0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E})};
        fp.registry.SetText(Hive::LocalMachine, u"SOFTWARE\\Microsoft\\Cryptography", u"MachineGuid", kGuid);
    }
    void TearDown() override { ResetProgramInfoForTests(); }

    fake::FakeInternet net;
    fake::FakePlatform fp{&net};
    fake::FreshLog freshLog{fp};
    fake::FreshMacAddress freshMac;
};

const std::vector<std::u16string> kMachineLines = {
    u"INF Version: 9.0.8", u"INF Mac: 0:1A:2B:3C:4D:5E", std::u16string(u"INF MachineGuid: ") + kGuid};

std::vector<std::u16string> Lines(std::vector<std::u16string> head, const std::vector<std::u16string>& middle,
                                  std::vector<std::u16string> tail) {
    head.insert(head.end(), middle.begin(), middle.end());
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

}  // namespace

TEST_F(ReportsTest, UpdateStatusDocuments) {
    struct Case {
        const char* what;
        int32_t status, updateId, isStub;
        bool mac;
        std::string xml;
        std::vector<std::u16string> ownLines;  // after the machine lines
    };
    const Case cases[] = {
        {"start of an update: -1, update id 0", -1, 0, 0, true,
         "<UpdateStatus>\n"
         "    <Version>9.0.8</Version>\n"
         "    <MAC>0:1A:2B:3C:4D:5E</MAC>\n"
         "    <MachineGuid>6f1c2e3a-0b4d-4c5e-9f60-718293a4b5c6</MachineGuid>\n"
         "    <IsStub>0</IsStub>\n"
         "    <Status>-1</Status>\n"
         "    <UpdateId />\n"
         "</UpdateStatus>\n",
         {u"INF IsStub = false", u"INF Status: -1", u"INF UpdateId == 0"}},
        {"stub run with an update id", 5, 17, 2, true,
         "<UpdateStatus>\n"
         "    <Version>9.0.8</Version>\n"
         "    <MAC>0:1A:2B:3C:4D:5E</MAC>\n"
         "    <MachineGuid>6f1c2e3a-0b4d-4c5e-9f60-718293a4b5c6</MachineGuid>\n"
         "    <IsStub>1</IsStub>\n"
         "    <Status>5</Status>\n"
         "    <UpdateId>17</UpdateId>\n"
         "</UpdateStatus>\n",
         {u"INF IsStub = true", u"INF Status: 5", u"INF UpdateId: 17"}},
    };
    for (const auto& c : cases) {
        fake::ClearLog(fp);
        ProgramInfo info;
        info.IsStubExe = c.isStub;
        TiXmlDocument document;
        CreateUpdateStatusXml(document, UpdateStatusRecord{c.status, c.updateId}, info);
        EXPECT_EQ(SerializeXml(document), c.xml) << c.what;
        EXPECT_EQ(fake::LogLines(fp),
                  Lines({u"INF CreateUpdateStatusXml start", u"INF start to build UpdateStatus.xml"},
                        kMachineLines, Lines(c.ownLines, {}, {u"INF CreateUpdateStatusXml end"})))
            << c.what;
    }
}

TEST_F(ReportsTest, UpgradeOfferStatusDocuments) {
    struct Case {
        const char* what;
        UpgradeOfferStatusRecord record;
        std::string xml;
        std::vector<std::u16string> ownLines;
    };
    const Case cases[] = {
        {"remind me later, major version 22", {3, u"Photo & Co", u"21.0.3", 22},
         "<UpgradeOfferStatus>\n"
         "    <Version>9.0.8</Version>\n"
         "    <MAC>0:1A:2B:3C:4D:5E</MAC>\n"
         "    <MachineGuid>6f1c2e3a-0b4d-4c5e-9f60-718293a4b5c6</MachineGuid>\n"
         "    <ProgramName>Photo &amp; Co</ProgramName>\n"
         "    <ProgramVersionNumber>21.0.3</ProgramVersionNumber>\n"
         "    <MajorVersion>22</MajorVersion>\n"
         "    <Status>3</Status>\n"
         "</UpgradeOfferStatus>\n",
         {u"INF ProgramName: Photo & Co", u"INF ProgramVersionNumber: 21.0.3", u"INF MajorVersion: 22",
          u"INF Status: 3"}},
        {"empty name and version, major version 0", {1, u"", u"", 0},
         "<UpgradeOfferStatus>\n"
         "    <Version>9.0.8</Version>\n"
         "    <MAC>0:1A:2B:3C:4D:5E</MAC>\n"
         "    <MachineGuid>6f1c2e3a-0b4d-4c5e-9f60-718293a4b5c6</MachineGuid>\n"
         "    <ProgramName></ProgramName>\n"
         "    <ProgramVersionNumber></ProgramVersionNumber>\n"
         "    <MajorVersion />\n"
         "    <Status>1</Status>\n"
         "</UpgradeOfferStatus>\n",
         {u"INF ProgramName: ", u"INF ProgramVersionNumber: ", u"INF MajorVersion == 0", u"INF Status: 1"}},
    };
    for (const auto& c : cases) {
        fake::ClearLog(fp);
        TiXmlDocument document;
        CreateUpdateStatusXml(document, c.record);
        EXPECT_EQ(SerializeXml(document), c.xml) << c.what;
        EXPECT_EQ(fake::LogLines(fp),
                  Lines({u"INF CreateUpdateStatusXml start", u"INF start to build UpgradeOfferStatus.xml"},
                        kMachineLines, Lines(c.ownLines, {}, {u"INF CreateUpdateStatusXml end"})))
            << c.what;
    }
}

TEST_F(ReportsTest, EachReportIsPostedToItsMethodWithItsArgument) {
    ProgramInfo product;
    product.ProgramName = u"PhotoStudio";
    product.ProgramVersionNumber = u"21.0";
    StartUpdateStatusReport(-1, 0);
    StartUpgradeOfferStatusReport(2, product, 22);
    ASSERT_EQ(net.requests.size(), 2u);
    EXPECT_EQ(net.requests[0].object, u"Uptide/BRUTWebservice.asmx/ReportUpdateStatus");
    EXPECT_EQ(net.requests[0].body.rfind("UpdateStatusXML=%253cUpdateStatus%253e", 0), 0u) << net.requests[0].body;
    EXPECT_NE(net.requests[0].body.find("%253cStatus%253e%252d1%253c%252fStatus%253e"), std::string::npos);
    EXPECT_EQ(net.requests[1].object, u"Uptide/BRUTWebservice.asmx/ReportUpgradeOfferStatus");
    EXPECT_EQ(net.requests[1].body.rfind("UpgradeOfferStatusXML=%253cUpgradeOfferStatus%253e", 0), 0u);
    EXPECT_NE(net.requests[1].body.find("%253cProgramName%253ePhotoStudio%253c%252fProgramName%253e"),
              std::string::npos);
    EXPECT_EQ(fp.system.threadsStarted, 2);
    EXPECT_TRUE(fake::LogHasLine(fp, u"INF /ReportUpdateStatus result = 0"));
    EXPECT_TRUE(fake::LogHasLine(fp, u"INF /ReportUpgradeOfferStatus result = 0"));
}

TEST_F(ReportsTest, AnUndeliveredReportLeavesOnlyItsLogLines) {
    fake::Exchange refused;
    refused.sendError = fake::Thrown(12007, u"name not resolved");
    net.fallback = refused;
    StartUpdateStatusReport(4, 0);
    EXPECT_TRUE(fake::LogHasLine(fp, u"ERR /ReportUpdateStatus result = 12007"));
}

TEST_F(ReportsTest, NoThreadNoReport) {
    fp.system.threadStartFails = true;
    StartUpdateStatusReport(1, 0);
    StartUpgradeOfferStatusReport(3, ProgramInfo{}, 0);
    EXPECT_TRUE(net.requests.empty());
    EXPECT_EQ(fake::LogErrors(fp), (std::vector<std::u16string>{u"UpdateStatus report not sent: no thread could be started",
                                                                 u"UpgradeOfferStatus report not sent: no thread could be started"}));
}

// Reports still running share one budget: each later wait gets what the earlier ones left.
TEST_F(ReportsTest, WaitingForReportsSharesOneBudget) {
    struct Case {
        const char* what;
        std::vector<uint32_t> spent;     // ms each wait takes
        std::vector<bool> ends;          // whether the thread ended within its wait
        std::vector<uint32_t> given;     // ms each wait was given
        int cutOff;
    };
    const Case cases[] = {
        {"all end in time", {300, 200}, {true, true}, {2000, 1700}, 0},
        {"the first uses 1999 ms, the second gets 1", {1999, 1}, {true, false}, {2000, 1}, 1},
        {"the first uses it all, the rest get nothing", {2000, 0, 0}, {false, false, true}, {2000, 0, 0}, 2},
    };
    for (const auto& c : cases) {
        fake::ClearLog(fp);
        // The report threads count as running until WaitForReports waits for them.
        bool waiting = false;
        std::vector<uint32_t> given;
        size_t call = 0;
        fp.system.waitHandler = [&](plat::ThreadHandle, uint32_t ms) {
            if (!waiting) return plat::kWaitTimeout;
            given.push_back(ms);
            fp.processes.tick += c.spent[call];
            return c.ends[call++] ? plat::kWaitObject0 : plat::kWaitTimeout;
        };
        for (size_t i = 0; i < c.spent.size(); ++i) StartUpdateStatusReport(1, 0);
        waiting = true;
        WaitForReports(2000);
        EXPECT_EQ(given, c.given) << c.what;
        int warnings = 0;
        for (const auto& line : fake::LogLines(fp))
            if (line == u"WAR A status report was still being sent after 2000 ms: cut off by the end of the process")
                ++warnings;
        EXPECT_EQ(warnings, c.cutOff) << c.what;
        fp.system.waitHandler = nullptr;
        WaitForReports(2000);  // nothing left from this case
        EXPECT_EQ(given.size(), c.given.size()) << c.what;
    }
}
