#include <gtest/gtest.h>

#include "app/BRUptide.h"
#include "options/CmdLineInfo.h"
#include "fakes/FakeInternet.h"
#include "fakes/FakePlatform.h"
#include "fakes/TestSupport.h"
#include "system/Settings.h"
#include "update/StatusReports.h"
#include "update/UpdaterBase.h"
#include "util/Text.h"

using namespace brut;
using plat::Hive;

namespace {

const std::u16string kExe = u"\"C:\\Program Files\\Brindle\\BRUptide.exe\"";
const std::u16string kProduct = u" -ProgramName Foo -ProgramVersion 1.2.3 -InstalledLocation C:\\Foo -Language 1033";
const std::u16string kProductKey = u"Software\\Brindle\\Brindle Uptide\\Foo";

// What the dialog found when start-up handed the run over.
struct DialogRunnerFake : DialogRunner {
    int RunModal(CmdLineInfo& cmdLine, UpdaterBase& checker, intptr_t bannerThread) override {
        ++runs;
        updateSilent = cmdLine.mIsUpdateSilent;
        hasCmdLine = checker.mCmdLineInfo == &cmdLine;
        banner = bannerThread;
        boxesBefore = fp->system.boxes.size();
        closedBefore = fp->system.closedThreads.size();
        resultCleared = !fp->registry.HasValue(Hive::CurrentUser, kProductKey, u"UpdateResult");
        if (startReport) StartUpdateStatusReport(-1, 0);
        return endCode;
    }
    fake::FakePlatform* fp = nullptr;
    int endCode = 5;
    int runs = 0;
    int32_t updateSilent = -1;
    bool hasCmdLine = false;
    intptr_t banner = 0;
    std::size_t boxesBefore = 0, closedBefore = 0;
    bool resultCleared = false;
    bool startReport = false;  // the dialog's last act: a report, still being sent when it returns
};

// The banner routine reads the published record, as the real one does.
std::u16string gBannerSaw;
uint32_t BannerFake(void*) {
    gBannerSaw = GetProgramInfo()->DisplayName;
    return 0;
}

class StartupTest : public ::testing::Test {
protected:
    StartupTest() {
        runner.fp = &fp;
        InstallDialogRunner(&runner);
        InstallBannerRoutine(&BannerFake);
        ResetProgramInfoForTests();
        gBannerSaw.clear();
    }
    ~StartupTest() override {
        InstallDialogRunner(nullptr);
        InstallBannerRoutine(nullptr);
        ResetProgramInfoForTests();
    }

    fake::FakeInternet net;
    fake::FakePlatform fp{&net};
    fake::FreshLog freshLog{fp};
    DialogRunnerFake runner;
};

TEST_F(StartupTest, RunSequence) {
    struct Case {
        const char* what;
        std::u16string args;
        uint32_t debugType;
        std::vector<uint8_t> debugData;
        bool bannerStarts;
        bool bannerFails;
        std::vector<std::u16string> boxes;
        bool realThread = false;
        bool reportInFlight = false;
    };
    const std::vector<uint8_t> one = {1, 0, 0, 0};
    const Case cases[] = {
        {"plain", kProduct, plat::kRegNone, {}, true, false, {}},
        {"Debug 1", kProduct, plat::kRegDword, one, true, false, {u"BRUptide start", u"BRUptide end"}},
        {"Debug as text", kProduct, plat::kRegSz, {'1', 0}, true, false, {}},
        {"Debug as 64 bits", kProduct, plat::kRegQword, {1, 0, 0, 0, 0, 0, 0, 0}, true, false, {}},
        {"UpdateSilent", kProduct + u" -UpdateSilent", plat::kRegNone, {}, false, false, {}},
        {"banner thread refused", kProduct, plat::kRegNone, {}, true, true, {}},
        {"banner beside the dialog", kProduct, plat::kRegNone, {}, true, false, {}, true},
        {"a report still in flight at the end", kProduct + u" -UpdateSilent", plat::kRegNone, {}, false, false, {},
         false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClearLog(fp);
        ResetProgramInfoForTests();
        fp.registry = fake::FakeRegistry{};
        fp.system.boxes.clear();
        fp.system.closedThreads.clear();
        fp.system.threadsStarted = 0;
        fp.system.threadStartFails = c.bannerFails;
        fp.system.realThreads = c.realThread;
        gBannerSaw.clear();
        runner = DialogRunnerFake{};
        runner.fp = &fp;
        if (c.debugType != plat::kRegNone)
            fp.registry.SetRaw(Hive::CurrentUser, u"Software\\Brindle\\Brindle Uptide", u"Debug", c.debugType,
                               c.debugData);
        fp.registry.SetDword(Hive::CurrentUser, kProductKey, u"UpdateResult", 1);
        // The start box comes before anything is logged.
        std::size_t logAtFirstBox = 99;
        fp.system.onBox = [&](const fake::FakeSystem::Box&) {
            if (logAtFirstBox == 99) logAtFirstBox = LogLines(fp).size();
        };
        fp.system.commandLine = kExe + c.args;
        runner.startReport = c.reportInFlight;
        std::vector<uint32_t> reportWaits;
        fp.system.waitHandler = nullptr;
        if (c.reportInFlight)
            fp.system.waitHandler = [&](plat::ThreadHandle, uint32_t ms) {
                reportWaits.push_back(ms);
                return plat::kWaitTimeout;
            };

        BRUptide app;
        EXPECT_FALSE(app.InitInstance());
        const int exitCode = app.ExitInstance();
        fp.system.onBox = nullptr;
        fp.system.JoinThreads();

        EXPECT_EQ(exitCode, 5);
        EXPECT_EQ(runner.runs, 1);
        EXPECT_TRUE(runner.hasCmdLine);
        EXPECT_TRUE(runner.resultCleared);
        std::vector<std::u16string> boxes;
        for (const auto& b : fp.system.boxes) {
            boxes.push_back(b.text);
            EXPECT_EQ(b.caption, u"Debug");
            EXPECT_EQ(b.flags, plat::kMbOk);
        }
        EXPECT_EQ(boxes, c.boxes);
        if (!c.boxes.empty()) {
            EXPECT_EQ(runner.boxesBefore, 1u);
            EXPECT_EQ(logAtFirstBox, 0u);
        }
        if (!c.bannerStarts) {
            EXPECT_EQ(fp.system.threadsStarted, c.reportInFlight ? 1 : 0);
            EXPECT_EQ(runner.banner, -1);
        } else if (c.bannerFails) {
            EXPECT_EQ(runner.banner, 0);
        } else {
            // The record was published before the banner thread read it; the handle is closed
            // once the dialog has ended, never before.
            EXPECT_EQ(gBannerSaw, u"Foo");
            EXPECT_GT(runner.banner, 0);
            EXPECT_EQ(runner.closedBefore, 0u);
            EXPECT_EQ(fp.system.closedThreads, std::vector<plat::ThreadHandle>{runner.banner});
        }
        fp.system.waitHandler = nullptr;
        auto lines = LogLines(fp);
        // The normal end gives a report in flight its grace time, and says when it was cut off.
        EXPECT_EQ(reportWaits, c.reportInFlight ? std::vector<uint32_t>{kReportGraceMs} : std::vector<uint32_t>{});
        if (c.reportInFlight) {
            ASSERT_FALSE(lines.empty());
            EXPECT_EQ(lines.back(),
                      u"WAR A status report was still being sent after 2000 ms: cut off by the end of the process");
            lines.pop_back();
        }
        ASSERT_GE(lines.size(), 9u);
        EXPECT_EQ(lines[0], u"INF Foo(Foo) Uptide v9.0.8 started");
        EXPECT_EQ(lines[7], u"INF StartParameter: " + kExe + c.args);
        EXPECT_EQ(lines.back(), u"INF ExitCode 5");
    }
}

}  // namespace
