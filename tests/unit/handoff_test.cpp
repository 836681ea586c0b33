#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "app/CommandLine.h"
#include "fakes/FakeInternet.h"
#include "fakes/FakePlatform.h"
#include "fakes/TestSupport.h"
#include "net/Download.h"
#include "update/HandOff.h"
#include "update/QuickCheck.h"
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

// What the worker's runtime makes of it: the location arrives with exactly one backslash, any
// other value ending in backslashes with all of them (they must not escape its closing quote);
// the quotes inside a value are not passed on (the documented format).
TEST(WorkerCommandLine, AsTheWorkerSplitsIt) {
    CmdLineInfo cmd;
    ProgramInfo info;
    info.DisplayName = u"Say \"Hi\" now";
    info.InstallLocation = u"C:\\Program Files\\Foo\\";
    cmd.mWindowCaption = u"Tools\\\\";
    cmd.mIsUpdateFromVersionV1 = 1;
    const auto tokens = SplitCommandLine(u"\"C:\\w\\BRUptideWorker.exe\" " + BuildWorkerCommandLine(cmd, info));
    const std::vector<std::u16string> want = {u"C:\\w\\BRUptideWorker.exe", u"-DisplayName", u"Say Hi now",
                                              u"-InstalledLocation", u"C:\\Program Files\\Foo\\",
                                              u"-WindowCaption", u"Tools\\\\", u"-UpdateFromVersionV1"};
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

// --- The hand-off --------------------------------------------------------------------------------

namespace {

using plat::Hive;

const std::u16string kWorkDir = fake::kWorkRoot + u"PhotoStudio 21\\";
const std::u16string kWorkerExe = kWorkDir + u"BRUptideWorker.exe";
const std::u16string kProductKey = u"Software\\Brindle\\Brindle Uptide\\PhotoStudio";

struct FakeWindow : HandOffWindow {
    bool hidden = false;
    bool hasPosition = true;
    bool ended = false;
    void HideForHandOff() override { hidden = true; }
    bool EndedByUser() const override { return ended; }
    bool ScreenPosition(int32_t& left, int32_t& top) override {
        left = -5;
        top = 20;
        return hasPosition;
    }
};

class StartWorkerTest : public ::testing::Test {
public:
    void SetUp() override {
        info.ProgramName = u"PhotoStudio";
        info.ProgramVersionNumber = u"21.0";
        check.SetProgramInfo(fake::Borrowed(info));
        check.mCmdLineInfo = &cmd;
        check.mHandOffWindow = &window;
        check.mWorkerUrl = u"https://dl.example/w.exe";
        fp.files.AddDirectory(fake::kTempDir);
        net.downloadHandler = [this](const std::u16string&, const std::u16string& path, plat::DownloadProgress*) {
            if (downloadResult >= 0) fp.files.AddFile(path, "MZ");
            return downloadResult;
        };
        fp.processes.exitCode = 7;
        // What the hand-off had done when the worker was started.
        fp.processes.onStart = [this](const fake::FakeProcesses::Start&) { hiddenAtStart = window.hidden; };
    }
    // Runs the hand-off: the exit code when it ended the process, else -1000 - the result.
    int Run() {
        try {
            ResultPair r = check.StartWorker(nullptr);
            EXPECT_EQ(r.mUpdateId, 0);
            return -1000 - r.mUpdateResult;
        } catch (const fake::ProcessExit& e) {
            return e.code;
        }
    }

    fake::FakeInternet net;
    fake::FakePlatform fp{&net};
    fake::FreshLog freshLog{fp};
    ProgramInfo info;
    CmdLineInfo cmd;
    FakeWindow window;
    QuickCheck check;
    int32_t downloadResult = 0;
    bool hiddenAtStart = false;
};

constexpr int kReturned = -1014;  // StartWorker came back with {14, 0}

}  // namespace

// Any of the three conditions hides the dialog and waits for the worker, whose code ends the client.
TEST_F(StartWorkerTest, HideSwitchTruthTable) {
    for (int bits = 0; bits < 8; ++bits) {
        SCOPED_TRACE(bits);
        fp.processes = fake::FakeProcesses();
        fp.processes.exitCode = 7;
        fp.processes.onStart = [this](const fake::FakeProcesses::Start&) { hiddenAtStart = window.hidden; };
        window.hidden = hiddenAtStart = false;
        info.IsStubExe = bits & 1;
        cmd.mIsWriteCheckResultToReg = (bits >> 1) & 1;
        cmd.mIsHideUpdateCheckResult = (bits >> 2) & 1;
        const bool hide = bits != 0;
        EXPECT_EQ(Run(), hide ? 7 : 0);
        EXPECT_EQ(hiddenAtStart, hide);
        EXPECT_EQ(fp.processes.waits, hide ? 1 : 0);
        EXPECT_TRUE(fake::LogHasLine(fp, hide ? u"INF exitCodeApplication 7" : u"INF exitCodeApplication 0"));
    }
}

TEST_F(StartWorkerTest, ElevationByOsVersion) {
    struct Case { uint32_t major; uint32_t rtlStatus; bool shell; };
    const Case cases[] = {{5, 0, false}, {6, 0, true}, {10, 0, true}, {10, 0xC0000001, false}};
    for (const auto& c : cases) {
        fp.processes.starts.clear();
        fp.system.osVersion.majorVersion = c.major;
        fp.system.rtlStatus = c.rtlStatus;
        EXPECT_EQ(Run(), 0) << c.major;
        ASSERT_EQ(fp.processes.starts.size(), 1u);
        const auto& start = fp.processes.starts[0];
        EXPECT_EQ(start.shell, c.shell) << c.major;
        EXPECT_EQ(start.program, kWorkerExe);
        const std::u16string args = u"-ProgramName \"PhotoStudio\" -ProgramVersion 21.0 -WindowRec \"-5 20\" ";
        EXPECT_EQ(start.commandLine, c.shell ? args : u"\"" + kWorkerExe + u"\" " + args) << c.major;
    }
}

TEST_F(StartWorkerTest, WindowPositionDebugBoxAndCachedWorker) {
    // No position from the window: the command line's value stays.
    window.hasPosition = false;
    cmd.mWindowRec = u"1 2";
    check.mWorkerUrl.clear();  // the cached worker is started, nothing downloaded
    fp.registry.SetDword(Hive::CurrentUser, u"Software\\Brindle\\Brindle Uptide", u"Debug", 1);
    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(net.downloads.empty());
    ASSERT_EQ(fp.processes.starts.size(), 1u);
    EXPECT_NE(fp.processes.starts[0].commandLine.find(u"-WindowRec \"1 2\" "), std::u16string::npos);
    ASSERT_EQ(fp.system.boxes.size(), 1u);
    EXPECT_EQ(fp.system.boxes[0].text, u"BRUptideWorker starting ...");
    EXPECT_EQ(fp.system.boxes[0].caption, u"Debug");
    // With a position it replaces the value and is what the worker is told.
    window.hasPosition = true;
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(cmd.mWindowRec, u"-5 20");
}

TEST_F(StartWorkerTest, EveryFailureComesBackAs14) {
    struct Case {
        const char* what;
        std::function<void(StartWorkerTest&)> set;
        size_t starts;
    };
    const Case cases[] = {
        {"worker download fails (13)", [](StartWorkerTest& t) { t.downloadResult = static_cast<int32_t>(0x800C0005); }, 0},
        {"old worker cannot be deleted (12)",
         [](StartWorkerTest& t) {
             t.fp.files.AddFile(kWorkerExe, "MZ old");
             t.fp.files.undeletable.insert(ToLowerAscii(kWorkerExe));
         },
         0},
        {"the start is refused", [](StartWorkerTest& t) { t.fp.processes.startError = 1223; }, 1},
        {"the user ended the update during the download", [](StartWorkerTest& t) { t.window.ended = true; }, 0},
        {"the exit code cannot be read",
         [](StartWorkerTest& t) {
             t.cmd.mIsHideUpdateCheckResult = 1;
             t.fp.processes.exitCodeError = 5;
         },
         1},
    };
    for (const auto& c : cases) {
        fp.processes = fake::FakeProcesses();
        fp.files.undeletable.clear();
        fp.files.RemoveFile(kWorkerExe);
        downloadResult = 0;
        cmd.mIsHideUpdateCheckResult = 0;
        window.ended = false;
        c.set(*this);
        EXPECT_EQ(Run(), kReturned) << c.what;
        EXPECT_EQ(fp.processes.starts.size(), c.starts) << c.what;
        EXPECT_FALSE(fake::LogHasLineStarting(fp, u"INF exitCodeApplication")) << c.what;
    }
}

// Without a version the working folder's name carries the current second: a download that takes
// seconds must not leave the worker in one folder and start it from another.
TEST_F(StartWorkerTest, OneWorkingDirectoryForDownloadsAndStart) {
    info.ProgramVersionNumber.clear();
    check.mAdViewerUrl = u"https://dl.example/v.exe";
    const std::u16string dir = fake::kWorkRoot + u"PhotoStudio " + DecimalText(fp.system.unixNow) + u"\\";
    net.downloadHandler = [this](const std::u16string&, const std::u16string& path, plat::DownloadProgress*) {
        fp.system.unixNow += 2;
        fp.files.AddFile(path, "MZ");
        return 0;
    };
    EXPECT_EQ(Run(), 0);
    ASSERT_EQ(net.downloads.size(), 2u);
    EXPECT_EQ(net.downloads[0].path, dir + u"BRAdViewer.exe");
    EXPECT_EQ(net.downloads[1].path, dir + u"BRUptideWorker.exe");
    ASSERT_EQ(fp.processes.starts.size(), 1u);
    EXPECT_EQ(fp.processes.starts[0].program, dir + u"BRUptideWorker.exe");
}

// The worker says another instance runs: the sentence goes to the registry, in the product's language,
// with the program's own name replaced by the caller's caption.
TEST_F(StartWorkerTest, AnotherInstanceSentence) {
    struct Case { int32_t language; std::u16string caption, want; };
    const Case cases[] = {
        {1033, u"", u"An other instance of the Brindle Uptide is still running."},
        {1033, u"Foo Updater", u"An other instance of the Foo Updater is still running."},
        {1031, u"Foo Updater", u"Es l\u00E4uft bereits eine Instance des Foo Updater."},
        {1041, u"Foo Updater", u"\u5225\u306EFoo Updater\u304C\u5B9F\u884C\u4E2D\u3067\u3059\u3002"},
        {0, u"", u"An other instance of the Brindle Uptide is still running."},  // system default 1033
    };
    cmd.mIsWriteCheckResultToReg = 1;
    fp.processes.exitCode = 0xFFFFFFFF;
    for (const auto& c : cases) {
        info.ProgramLanguage = c.language;
        cmd.mWindowCaption = c.caption;
        EXPECT_EQ(Run(), -1) << c.language;
        EXPECT_EQ(fp.registry.TextOf(Hive::CurrentUser, kProductKey, u"UpdateResultString"), c.want) << c.language;
        EXPECT_TRUE(fake::LogHasLine(fp, u"INF exitCodeApplication -1"));
    }
    // Other exit codes store nothing.
    fp.registry = fake::FakeRegistry();
    fp.processes.exitCode = 3;
    EXPECT_EQ(Run(), 3);
    EXPECT_FALSE(fp.registry.HasValue(Hive::CurrentUser, kProductKey, u"UpdateResultString"));
}

// An answer that came over plain http after https failed names no program: the cached worker or none.
TEST_F(StartWorkerTest, AnswerOverHttpRetryNamesNoProgram) {
    check.mWorkerUrl.clear();
    cmd.mIsQuickCheck = 0;
    fake::Exchange refused;
    refused.sendError = fake::Thrown(12029, u"cannot connect");
    fake::Exchange answer;
    answer.body = "<string>&lt;R&gt;&lt;UptideWorkerUrl&gt;http://evil.example/w.exe&lt;/UptideWorkerUrl&gt;"
                  "&lt;AdViewerUrl&gt;http://evil.example/v.exe&lt;/AdViewerUrl&gt;&lt;/R&gt;</string>";
    for (bool cached : {false, true}) {
        SCOPED_TRACE(cached);
        if (cached) {
            fp.files.AddFile(kWorkerExe, "MZ");
            fp.versions.SetSimple(kWorkerExe, {{u"ProductVersion", u"3.1.0"}});
        }
        net.script = {refused, answer};
        check.mWorkerUrl.clear();
        check.mAdViewerUrl.clear();
        EXPECT_EQ(check.CheckForUpdate().mUpdateResult, cached ? 6 : 7);
        EXPECT_TRUE(check.mWorkerUrl.empty());
        EXPECT_TRUE(check.mAdViewerUrl.empty());
        EXPECT_TRUE(fake::LogHasLine(fp, u"WAR UptideWorkerUrl and AdViewerUrl of an answer without SSL are not used"));
    }
    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(net.downloads.empty());
    EXPECT_EQ(fp.processes.starts.size(), 1u);
}

// --- Who may be started ----------------------------------------------------------------------

namespace {

const std::u16string kClientExe = u"C:\\Program Files\\Brindle\\BRUptide.exe";
const std::u16string kViewerExe = kWorkDir + u"BRAdViewer.exe";
const std::u16string kMaker = u"C=DE, O=Brindle GmbH, CN=Brindle GmbH";

plat::Signature Signed(const std::u16string& subject, int32_t status = 0, int32_t revocation = 0) {
    plat::Signature s;
    s.status = status;
    s.revocation = revocation;
    s.subject = subject;
    return s;
}

}  // namespace

// Checked through the hold, right before the start; held while the start runs, released
// before the wait; a refused worker is deleted and the hand-off fails as any failed start.
TEST_F(StartWorkerTest, OnlyAVerifiedWorkerStarts) {
    struct Case {
        const char* what;
        std::optional<plat::Signature> client;  // none: an unsigned client
        std::vector<std::u16string> buildSigners;
        std::optional<plat::Signature> worker;  // none: unsigned
        std::function<void(StartWorkerTest&)> more;
        bool started;
        std::u16string line;  // a line of the log starts so
    };
    const std::u16string notStarted = u"ERR " + kWorkerExe + u" is not started: ";
    const std::u16string verified = u"INF " + kWorkerExe + u" verified: signed by '";
    const Case cases[] = {
        {"signed by the client's own signer", Signed(kMaker), {}, Signed(kMaker), nullptr, true, verified + kMaker + u"'"},
        {"signed by a subject named at build time", std::nullopt, {u"CN=Pinned", u"CN=Other"}, Signed(u"CN=Other"),
         nullptr, true, verified + u"CN=Other'"},
        {"a subject beyond ASCII", Signed(u"CN=Br\u00EFndle \u682A\u5F0F\u4F1A\u793E"), {},
         Signed(u"CN=Br\u00EFndle \u682A\u5F0F\u4F1A\u793E"), nullptr, true,
         verified + u"CN=Br\u00EFndle "},  // the log file's 8-bit text ends the line for us
        {"revocation unknown offline", Signed(kMaker), {}, Signed(kMaker, 0, static_cast<int32_t>(0x80092013)), nullptr,
         true, u"WAR Revocation of the signer of " + kWorkerExe + u" is not known offline (0x80092013)"},
        {"unsigned client, no signer named", std::nullopt, {}, std::nullopt, nullptr, true,
         u"WAR " + kWorkerExe + u" is started unverified: this client is not signed and names no signer"},
        {"the client's own signature is broken", Signed(kMaker, plat::kTrustBadDigest), {}, std::nullopt, nullptr, true,
         u"ERR The signature of " + kClientExe + u" does not verify (0x80096010): the client counts as unsigned"},
        {"unsigned worker", Signed(kMaker), {}, std::nullopt, nullptr, false, notStarted + u"it is not signed"},
        {"not a program", Signed(kMaker), {}, Signed(u"", plat::kTrustSubjectUnknown), nullptr, false,
         notStarted + u"it is not signed"},
        {"content changed after signing", Signed(kMaker), {}, Signed(kMaker, plat::kTrustBadDigest), nullptr, false,
         notStarted + u"its content does not match its signature"},
        {"signed by someone else", Signed(kMaker), {}, Signed(u"CN=Mallory"), nullptr, false,
         notStarted + u"it is signed by someone else ('CN=Mallory')"},
        {"a subject that differs in case only", Signed(kMaker), {}, Signed(ToLowerAscii(kMaker)), nullptr, false,
         notStarted + u"it is signed by someone else ('" + ToLowerAscii(kMaker) + u"')"},
        {"an untrusted chain", Signed(kMaker), {}, Signed(kMaker, static_cast<int32_t>(0x800B0109)), nullptr, false,
         notStarted + u"its signature does not verify (0x800B0109)"},
        {"a revoked certificate", Signed(kMaker), {}, Signed(kMaker, 0, plat::kCertRevoked), nullptr, false,
         notStarted + u"its certificate is revoked"},
        {"cannot be opened", Signed(kMaker), {}, Signed(kMaker),
         [](StartWorkerTest& t) { t.fp.trust.holdErrors[fake::FakeTrust::Key(kWorkerExe)] = 32; }, false,
         notStarted + u"it cannot be opened ( (32))"},
        {"its folder is a junction", Signed(kMaker), {}, Signed(kMaker),
         [](StartWorkerTest& t) { t.fp.trust.links.insert(fake::FakeTrust::Key(kWorkerExe)); }, false,
         notStarted + u"it or its folder is a link to another place"},
        {"a cached worker signed by someone else", Signed(kMaker), {}, Signed(u"CN=Mallory"),
         [](StartWorkerTest& t) {
             t.check.mWorkerUrl.clear();
             t.fp.files.AddFile(kWorkerExe, "MZ cached");
         },
         false, notStarted + u"it is signed by someone else ('CN=Mallory')"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake::ClearLog(fp);
        fp.processes = fake::FakeProcesses();
        fp.processes.exitCode = 7;
        fp.trust = fake::FakeTrust();
        fp.files.RemoveFile(kWorkerExe);
        check.mWorkerUrl = u"https://dl.example/w.exe";
        check.mTrustedSigners = c.buildSigners;
        cmd.mIsHideUpdateCheckResult = 1;  // waits for the worker
        if (c.client) fp.trust.signatures[fake::FakeTrust::Key(kClientExe)] = *c.client;
        if (c.worker) fp.trust.signatures[fake::FakeTrust::Key(kWorkerExe)] = *c.worker;
        if (c.more) c.more(*this);
        std::size_t heldAtStart = 0, heldAtWait = 99;
        fp.processes.onStart = [&](const fake::FakeProcesses::Start&) { heldAtStart = fp.trust.open.size(); };
        fp.processes.onWait = [&] { heldAtWait = fp.trust.open.size(); };

        EXPECT_EQ(Run(), c.started ? 7 : kReturned);
        EXPECT_EQ(fp.processes.starts.size(), c.started ? 1u : 0u);
        EXPECT_TRUE(fake::LogHasLineStarting(fp, c.line)) << ToUtf8(c.line);
        EXPECT_TRUE(fp.trust.open.empty());
        EXPECT_EQ(fp.files.HasFile(kWorkerExe), c.started);
        const bool verifies = c.client.has_value() && c.client->status == 0 ? true : !c.buildSigners.empty();
        if (c.started) {
            EXPECT_EQ(heldAtStart, verifies ? 1u : 0u);
            EXPECT_EQ(heldAtWait, 0u);
        }
        for (const auto& v : fp.trust.checks) {
            if (v.path == kWorkerExe) {
                EXPECT_TRUE(v.throughHold);
            }
        }
    }
}

// Libraries beside the worker can only be left-overs or plants: deleted, or no start.
TEST_F(StartWorkerTest, LibrariesBesideTheWorker) {
    struct Case { std::vector<std::u16string> files; std::u16string undeletable; bool started; std::vector<std::u16string> left; };
    const Case cases[] = {
        {{u"version.dll", u"WININET.DLL"}, u"", true, {}},
        {{u"notes.dllx", u"a.dll"}, u"", true, {u"notes.dllx"}},  // "*.dll" also matches by short name
        {{u"a.dll", u"iphlpapi.dll"}, u"iphlpapi.dll", false, {u"iphlpapi.dll"}},
    };
    for (const auto& c : cases) {
        fake::ClearLog(fp);
        fp.processes = fake::FakeProcesses();
        fp.files.undeletable.clear();
        for (const auto& f : c.files) fp.files.AddFile(kWorkDir + f, "MZ");
        if (!c.undeletable.empty()) fp.files.undeletable.insert(ToLowerAscii(kWorkDir + c.undeletable));
        EXPECT_EQ(Run(), c.started ? 0 : kReturned) << c.files.size();
        EXPECT_EQ(fp.processes.starts.size(), c.started ? 1u : 0u);
        for (const auto& f : c.files) {
            const bool left = std::find(c.left.begin(), c.left.end(), f) != c.left.end();
            EXPECT_EQ(fp.files.HasFile(kWorkDir + f), left) << ToUtf8(f);
            if (!left) {
                EXPECT_TRUE(fake::LogHasLine(fp, u"WAR " + kWorkDir + f + u" deleted: no library belongs beside the worker"));
            }
            fp.files.RemoveFile(kWorkDir + f);
        }
        if (!c.started) {
            EXPECT_TRUE(fake::LogHasLineStarting(fp, u"ERR " + kWorkDir + c.undeletable + u" cannot be deleted ("));
        }
    }
}

// The client never starts the ad viewer, but nothing unverified stays beside the worker.
TEST_F(StartWorkerTest, AnUnverifiedAdViewerIsDeletedAndTheHandOffGoesOn) {
    check.mAdViewerUrl = u"https://dl.example/v.exe";
    fp.trust.Sign(kClientExe, kMaker);
    fp.trust.Sign(kWorkerExe, kMaker);
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(fp.processes.starts.size(), 1u);
    EXPECT_FALSE(fp.files.HasFile(kViewerExe));
    EXPECT_TRUE(fake::LogHasLine(fp, u"WAR " + kViewerExe + u" deleted: it is not signed"));
    // Signed as it should be, it stays.
    fp.trust.Sign(kViewerExe, kMaker);
    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(fp.files.HasFile(kViewerExe));
}
