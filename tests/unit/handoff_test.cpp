#include <gtest/gtest.h>

#include "app/CmdLineInfo.h"
#include "fakes/FakePlatform.h"
#include "fakes/TestSupport.h"
#include "update/HandOff.h"
#include "util/Text.h"

using namespace brut;

namespace {

// --- The worker's command line ---------------------------------------------------------------

TEST(WorkerCommandLine, PiecesOrderAndForms) {
    struct Case {
        const char* what;
        std::function<void(CmdLineInfo&, ProgramInfo&)> set;
        std::u16string want;
    };
    const Case cases[] = {
        {"nothing set", [](CmdLineInfo&, ProgramInfo&) {}, u""},
        {"the documented example",
         [](CmdLineInfo& c, ProgramInfo& p) {
             c.mForwardedParams = u"QuickCheck UpdateSilent ";
             p.ProgramName = u"Foo";
             p.ProgramVersionNumber = u"5.1.2";
             p.InstallLocation = u"C:\\Foo\\";
         },
         u"QuickCheck UpdateSilent -ProgramName \"Foo\" -ProgramVersion 5.1.2 -InstalledLocation \"C:\\Foo\\\\\" "},
        {"all fourteen pieces in order",
         [](CmdLineInfo& c, ProgramInfo& p) {
             c.mForwardedParams = u"UpdateSilent ";
             p.IsStubExe = 1;
             p.ProgramName = u"Foo";
             p.DisplayName = u"Foo Pro";
             p.ProgramVersionNumber = u"5.1.2";
             p.ProgramInstallDate = u"20240315";
             p.InstallLocation = u"C:\\Foo";
             p.FileList = {u"a.dll", u"b.dll"};
             p.ProgramLanguage = 1031;
             p.AffiliateId = u"aff 1";
             c.mUpdateIntervalInHours = 24;
             c.mWindowRec = u"10 20";
             c.mWindowCaption = u"My Updater";
             c.mIsUpdateFromVersionV1 = 1;
         },
         u"UpdateSilent -IsStubExe -ProgramName \"Foo\" -DisplayName \"Foo Pro\" -ProgramVersion 5.1.2 "
         u"-InstallDate 20240315 -InstalledLocation \"C:\\Foo\\\\\" -FileList \"a.dll;b.dll;\" -Language 1031 "
         u"-AffiliateId \"aff 1\" -UpdateIntervalInHours 24 -WindowRec \"10 20\" -WindowCaption \"My Updater\" "
         u"-UpdateFromVersionV1 "},
        {"a quote inside a value stays unescaped",
         [](CmdLineInfo&, ProgramInfo& p) { p.DisplayName = u"Say \"Hi\""; }, u"-DisplayName \"Say \"Hi\"\" "},
        {"IsStubExe forwarded bare and passed again",
         [](CmdLineInfo& c, ProgramInfo& p) {
             c.mForwardedParams = u"IsStubExe ";
             p.IsStubExe = 1;
         },
         u"IsStubExe -IsStubExe "},
        {"a version-1 directory forwarded bare",
         [](CmdLineInfo& c, ProgramInfo&) { c.mForwardedParams = u"C:\\Program Files\\Foo\\ QuickCheck "; },
         u"C:\\Program Files\\Foo\\ QuickCheck "},
        {"language 0 and interval 0 are left out",
         [](CmdLineInfo& c, ProgramInfo& p) {
             p.ProgramLanguage = 0;
             c.mUpdateIntervalInHours = 0;
             p.ProgramName = u"Foo";
         },
         u"-ProgramName \"Foo\" "},
        {"a negative interval is passed as it is",
         [](CmdLineInfo& c, ProgramInfo&) { c.mUpdateIntervalInHours = -5; }, u"-UpdateIntervalInHours -5 "},
        {"every trailing backslash becomes the two",
         [](CmdLineInfo&, ProgramInfo& p) { p.InstallLocation = u"D:\\A B\\\\\\"; },
         u"-InstalledLocation \"D:\\A B\\\\\" "},
        {"a one-entry file list keeps its separator",
         [](CmdLineInfo&, ProgramInfo& p) { p.FileList = {u"x y.dll"}; }, u"-FileList \"x y.dll;\" "},
    };
    for (const auto& c : cases) {
        CmdLineInfo cmd;
        ProgramInfo info;
        c.set(cmd, info);
        EXPECT_EQ(ToUtf8(BuildWorkerCommandLine(cmd, info)), ToUtf8(c.want)) << c.what;
    }
}

// What the worker's runtime makes of it: the location arrives with exactly one backslash; the
// quotes inside a value are not passed on (the documented format).
TEST(WorkerCommandLine, AsTheWorkerSplitsIt) {
    CmdLineInfo cmd;
    ProgramInfo info;
    info.DisplayName = u"Say \"Hi\" now";
    info.InstallLocation = u"C:\\Program Files\\Foo\\";
    const auto tokens = SplitCommandLine(u"\"C:\\w\\BRUptideWorker.exe\" " + BuildWorkerCommandLine(cmd, info));
    const std::vector<std::u16string> want = {u"C:\\w\\BRUptideWorker.exe", u"-DisplayName", u"Say Hi now",
                                              u"-InstalledLocation", u"C:\\Program Files\\Foo\\"};
    EXPECT_EQ(tokens, want);
}

// --- Starting a process --------------------------------------------------------------------

class StartProcessTest : public ::testing::Test {
protected:
    fake::FakePlatform fp;
    fake::FreshLog freshLog{fp};
};

TEST_F(StartProcessTest, ElevatedOrPlainWithOrWithoutWaiting) {
    struct Case {
        const char* what;
        bool elevate, wait;
        std::u16string path;
        bool shell;
        std::u16string program, commandLine;
        int waits;
        std::vector<std::u16string> log;
    };
    const Case cases[] = {
        {"elevated, waiting", true, true, u"C:\\w\\W.exe", true, u"C:\\w\\W.exe", u"-A \"b\" ", 1,
         {u"INF Try start application C:\\w\\W.exe per UseShellExecute with commandline: -A \"b\" ",
          u"INF ShellExecuteEx successful"}},
        {"elevated, not waiting", true, false, u"C:\\w\\W.exe", true, u"C:\\w\\W.exe", u"-A \"b\" ", 0,
         {u"INF Try start application C:\\w\\W.exe per UseShellExecute with commandline: -A \"b\" ",
          u"INF ShellExecuteEx successful"}},
        {"plain: the quoted path heads the command line", false, true, u"C:\\w x\\W.exe", false, u"C:\\w x\\W.exe",
         u"\"C:\\w x\\W.exe\" -A \"b\" ", 1,
         {u"INF Try start application C:\\w x\\W.exe per CreateProcess with commandline: \"C:\\w x\\W.exe\" -A \"b\" ",
          u"INF CreateProcess successful"}},
        {"plain without a path: the command line alone", false, false, u"", false, u"", u"-A \"b\" ", 0,
         {u"INF Try start application  per CreateProcess with commandline: -A \"b\" ",
          u"INF CreateProcess successful"}},
    };
    for (const auto& c : cases) {
        fake::ClearLog(fp);
        fp.processes = fake::FakeProcesses();
        fp.processes.exitCode = 0xFFFFFFFF;
        int32_t exitCode = 77;
        EXPECT_EQ(StartProcess(c.path, u"-A \"b\" ", c.wait, exitCode, c.elevate), 0u) << c.what;
        ASSERT_EQ(fp.processes.starts.size(), 1u) << c.what;
        EXPECT_EQ(fp.processes.starts[0].shell, c.shell) << c.what;
        EXPECT_EQ(fp.processes.starts[0].program, c.program) << c.what;
        EXPECT_EQ(fp.processes.starts[0].commandLine, c.commandLine) << c.what;
        EXPECT_EQ(fp.processes.waits, c.waits) << c.what;
        EXPECT_EQ(exitCode, c.wait ? -1 : 0) << c.what;  // 0xFFFFFFFF read back as -1
        EXPECT_TRUE(fp.processes.open.empty()) << c.what;  // the handle is released either way
        EXPECT_EQ(fake::LogLines(fp), c.log) << c.what;
    }
}

TEST_F(StartProcessTest, FailuresGiveTheErrorCodeAndExitCodeZero) {
    fp.system.errorMessages[2] = u"The system cannot find the file specified.\r\n";
    struct Case {
        const char* what;
        std::function<void(fake::FakeProcesses&)> set;
        bool elevate;
        uint32_t result;
        bool errLine;
    };
    const Case cases[] = {
        {"shell refuses", [](fake::FakeProcesses& p) { p.startError = 2; }, true, 2, true},
        {"user declines elevation", [](fake::FakeProcesses& p) { p.startError = 1223; }, true, 1223, true},
        {"process creation refused", [](fake::FakeProcesses& p) { p.startError = 2; }, false, 2, true},
        {"exit code unreadable", [](fake::FakeProcesses& p) { p.exitCodeError = 5; }, false, 5, false},
        {"wait fails", [](fake::FakeProcesses& p) { p.waitError = 6; }, true, 6, false},
        {"the shell started no process of its own", [](fake::FakeProcesses& p) { p.shellGivesNoHandle = true; },
         true, 6, false},
    };
    for (const auto& c : cases) {
        fake::ClearLog(fp);
        fp.processes = fake::FakeProcesses();
        fp.processes.exitCode = 3;
        c.set(fp.processes);
        int32_t exitCode = 77;
        EXPECT_EQ(StartProcess(u"C:\\w\\W.exe", u"-A ", true, exitCode, c.elevate), c.result) << c.what;
        EXPECT_EQ(exitCode, 0) << c.what;
        EXPECT_TRUE(fp.processes.open.empty()) << c.what;
        const auto errors = fake::LogErrors(fp);
        if (c.errLine) {
            ASSERT_EQ(errors.size(), 1u) << c.what;
            EXPECT_EQ(errors[0], u"StartProcess for C:\\w\\W.exe failed because: \"" +
                                     GetErrorText(c.result) + u"\"") << c.what;
        } else {
            EXPECT_TRUE(errors.empty()) << c.what;
        }
    }
    EXPECT_EQ(GetErrorText(2), u"The system cannot find the file specified. (2)");
}

// --- Progress ---------------------------------------------------------------------------------

TEST(ProgressPercent, Arithmetic) {
    struct Case { uint32_t done, total; int want; };
    const Case cases[] = {
        {0, 0, 0}, {0, 100, 0}, {50, 0, 0}, {1, 3, 33}, {2, 3, 66}, {1, 100, 1}, {99, 100, 99},
        {100, 100, 100}, {0xFFFFFFFFu, 0xFFFFFFFFu, 100},  // no 32-bit overflow
        {42949673u, 0xFFFFFFFFu, 1}, {42949672u, 0xFFFFFFFFu, 0},
        {150, 100, 100},  // more than announced: a full bar, never past it
    };
    for (const auto& c : cases) EXPECT_EQ(ProgressPercent(c.done, c.total), c.want) << c.done << "/" << c.total;
}

}  // namespace
