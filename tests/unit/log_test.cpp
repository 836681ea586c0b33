#include <gtest/gtest.h>

#include <thread>

#include "fakes/FakePlatform.h"
#include "fakes/TestSupport.h"
#include "log/Log.h"

using namespace brut;

namespace {

const std::u16string& kLogDir = fake::kWorkRoot;
// FakeSystem: 2026-12-07 11:58:05.123 UTC, local offset +60 minutes, thread 0xa2c.
const std::string kDate = "07.12.2026 12:58:05:123 ";

std::vector<std::string> Lines(const std::string& bytes) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t pos; (pos = bytes.find("\r\n", start)) != std::string::npos; start = pos + 2)
        out.push_back(bytes.substr(start, pos - start));
    EXPECT_EQ(start, bytes.size()) << "text after the last CR LF";
    return out;
}

class LogTest : public ::testing::Test {
protected:
    std::string FileOf(const std::u16string& name) { return fp.files.Contents(kLogDir + u"20261207115805_" + name + u".log"); }

    fake::FakePlatform fp;
    fake::FreshLog freshLog{fp};
};

TEST_F(LogTest, SetupWritesStartLineIntoStampedFile) {
    SetupLog(u"Foo");
    const std::u16string path = kLogDir + u"20261207115805_Foo.log";
    ASSERT_TRUE(fp.files.HasFile(path));
    EXPECT_EQ(GetLog().Path(), path);
    EXPECT_TRUE(fp.files.lastOpenWriteThrough);
    EXPECT_EQ(fp.files.Contents(path), kDate + "AUD: BRUT:[08a2c] STARTING LOG\r\n");
    EXPECT_EQ(GetLog().Threshold(), 15);
}

TEST_F(LogTest, ShortcutLineHasExactBytes) {
    SetupLog(u"Foo");
    fp.system.threadId = 0x1f4;
    LogInfo(u"a %s b", u"x");
    LogWarning(u"n=%d", -3);
    LogError(u"%s", std::u16string(u"e"));
    const auto lines = Lines(FileOf(u"Foo"));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], kDate + "INF: BRUT:[081f4] a x b");
    EXPECT_EQ(lines[2], kDate + "WAR: BRUT:[081f4] n=-3");
    EXPECT_EQ(lines[3], kDate + "ERR: BRUT:[081f4] e");
    EXPECT_EQ(fp.files.flushes, 4);
}

TEST_F(LogTest, FirstUseSetsUpUnderTheUpdaterName) {
    LogInfo(u"early");
    const auto lines = Lines(FileOf(u"BRUptide"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], kDate + "AUD: BRUT:[08a2c] STARTING LOG");
    EXPECT_EQ(lines[1], kDate + "INF: BRUT:[08a2c] early");
}

TEST_F(LogTest, SecondSetupLeavesTwoFiles) {
    LogInfo(u"before");
    SetupLog(u"Foo");
    LogInfo(u"after");
    const auto first = Lines(FileOf(u"BRUptide"));
    const auto second = Lines(FileOf(u"Foo"));
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first.back(), kDate + "INF: BRUT:[08a2c] before");
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0], kDate + "AUD: BRUT:[08a2c] STARTING LOG");
    EXPECT_EQ(second[1], kDate + "INF: BRUT:[08a2c] after");
}

TEST_F(LogTest, FileNameStampAndProcessId) {
    struct Case { plat::DateTime utc; int bias; const char16_t* want; };
    const Case cases[] = {
        {{2026, 12, 7, 11, 58, 5, 123}, 0, u"20261207115805"},
        {{2026, 12, 7, 11, 58, 5, 123}, -60, u"20261207125805"},   // daylight saving: one hour on
        {{2026, 12, 31, 23, 30, 59, 0}, -60, u"20270101003059"},   // across the year end
        {{2028, 2, 28, 23, 10, 0, 0}, -60, u"20280229001000"},     // into a leap day
        {{2027, 3, 1, 0, 15, 0, 0}, 30, u"20270228234500"},        // a positive bias goes back
    };
    CLog log;
    for (const auto& c : cases) {
        fp.system.utcNow = c.utc;
        fp.system.daylightBias = c.bias;
        EXPECT_EQ(log.ExpandTemplate(u"x\\%D_%P.log"), u"x\\" + std::u16string(c.want) + u"_4242.log")
            << ToUtf8(c.want);
    }
    EXPECT_EQ(log.ExpandTemplate(u"%P%P"), u"42424242");
}

TEST_F(LogTest, FileNames) {
    const std::u16string stamp = u"20261207115805_";
    // What a 259-character path leaves for the name beside the directory, the stamp, "_" and ".log".
    const std::size_t room = kLogPathChars - kLogDir.size() - stamp.size() - 4;
    const std::u16string fits(room, u'n');
    const std::u16string user = u"C:\\Users\\%Dave\\";
    struct Case { const char* what; std::u16string name, tempPath, path; };
    const Case cases[] = {
        {"empty name", u"", fake::kTempDir, kLogDir + stamp + u".log"},
        {"path syntax", u"..\\..\\a:b/c*?\"<>|", fake::kTempDir, kLogDir + stamp + u".._.._a_b_c______.log"},
        {"control characters", u"a\tb\x1f", fake::kTempDir, kLogDir + stamp + u"a_b_.log"},
        {"longest name", fits, fake::kTempDir, kLogDir + stamp + fits + u".log"},
        {"one character more", fits + u"x", fake::kTempDir, kLogDir + stamp + fits + u".log"},
        {"cut inside a surrogate pair", fits.substr(1) + u"\xD83D\xDE00", fake::kTempDir,
         kLogDir + stamp + fits.substr(1) + u".log"},
        // Percent signs in the name or the temporary path are text, not fields.
        {"percent in the name", u"50%Discount %P", fake::kTempDir, kLogDir + stamp + u"50%Discount %P.log"},
        {"percent in the temporary path", u"Foo", user, user + u"ZI Vodidure\\BR Uptide\\" + stamp + u"Foo.log"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fp.system.tempPath = c.tempPath;
        fp.files.AddDirectory(c.tempPath);
        SetupLog(c.name);
        EXPECT_EQ(GetLog().Path(), c.path);
        EXPECT_LE(GetLog().Path().size(), kLogPathChars);
        EXPECT_TRUE(fp.files.HasFile(c.path));
    }
}

TEST_F(LogTest, NoFileWhenTheLogDirectoryCannotBeCreated) {
    fp.files.createDirectoryErrors[u"c:\\temp\\zi vodidure\\br uptide"] = plat::kErrAccessDenied;
    SetupLog(u"Foo");
    LogInfo(u"dropped");
    LogTextError(u"dropped too");
    EXPECT_TRUE(fp.files.FilesIn(u"").empty());
    EXPECT_FALSE(GetLog().IsOpen());
}

TEST_F(LogTest, ReportsDuringSetupFollowTheStartLine) {
    // The directory functions report through the log that is being set up.
    fp.files.requireParentDirectory = false;
    fp.files.createDirectoryErrors[u"c:\\temp\\zi vodidure"] = plat::kErrAccessDenied;
    fp.system.errorMessages[plat::kErrAccessDenied] = u"Access is denied.\r\n";
    SetupLog(u"Foo");
    const auto lines = Lines(FileOf(u"Foo"));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], kDate + "AUD: BRUT:[08a2c] STARTING LOG");
    EXPECT_EQ(lines[1], kDate + "ERR: BRUT:[08a2c] can not create directory C:\\Temp\\ZI Vodidure because: "
                                "\"Access is denied. (5)\"");
    EXPECT_EQ(lines[2], kDate + "ERR: BRUT:[08a2c] can not create directory C:\\Temp\\ZI Vodidure\\BR Uptide "
                                "because: \" (3)\"");
}

TEST_F(LogTest, WithoutTempPathTheFileGoesToTheCurrentDirectory) {
    fp.files.requireParentDirectory = false;
    fp.system.tempPath.clear();
    fp.system.lastError = 2;
    SetupLog(u"Foo");
    const auto lines = Lines(fp.files.Contents(u"20261207115805_Foo.log"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], kDate + "ERR: BRUT:[08a2c] GetTempPath failed:  (2)");
}

TEST_F(LogTest, ThresholdAndAlwaysLevel) {
    SetupLog(u"Foo");
    for (int32_t level = 16; level <= 21; ++level) GetLog().Log(level, u"BRUT", u"hidden %d", {level});
    GetLog().Log(15, u"BRUT", u"always", {});
    GetLog().Log(14, u"BRUT", u"rs5", {});
    ASSERT_TRUE(GetLog().Initialise(-4, true));
    EXPECT_EQ(GetLog().Threshold(), 0);
    GetLog().Log(LOG_ALW, u"BRUT", u"still", {});
    GetLog().Log(LOG_CRI, u"BRUT", u"gone", {});
    GetLog().Log(LOG_OFF, u"BRUT", u"off", {});
    const auto lines = Lines(FileOf(u"Foo"));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1], kDate + "ALW: BRUT:[08a2c] always");
    EXPECT_EQ(lines[2], kDate + "RS5: BRUT:[08a2c] rs5");
    EXPECT_EQ(lines[3], kDate + "ALW: BRUT:[08a2c] still");
    EXPECT_EQ(lines[4], kDate + "off: BRUT:[08a2c] off");
}

TEST_F(LogTest, LevelTagsAndLineShape) {
    const std::pair<int32_t, const char16_t*> cases[] = {
        {0, u"off"}, {1, u"CRI"}, {4, u"INF"}, {5, u"AUD"}, {9, u"DB4"}, {10, u"RS1"}, {15, u"ALW"},
        {16, u"RS6"}, {20, u"RSA"}, {21, u"TRM"}, {22, u"TRM"}, {100000, u"TRM"}, {-1, u"off"},
    };
    for (const auto& c : cases) EXPECT_EQ(std::u16string(LevelTag(c.first)), c.second) << c.first;

    CLog log;
    const plat::DateTime utc{2026, 1, 2, 3, 4, 5, 6};
    EXPECT_EQ(log.RenderLine(4, u"BRUT", u"m", utc), "02.01.2026 04:04:05:006 INF: BRUT:m");
    EXPECT_EQ(log.RenderLine(4, u"", u"m", utc), "02.01.2026 04:04:05:006 INF: m");
    EXPECT_EQ(log.RenderLine(99, u"X", u"", utc), "02.01.2026 04:04:05:006 TRM: X:");
}

TEST_F(LogTest, EightBitTextAndLineCut) {
    SetupLog(u"Foo");
    LogInfo(u"%s", u"caf\u00e9 \u3042 \U0001F600!");
    LogInfo(u"%s", std::u16string(20000, u'x'));
    LogTextInfo(std::u16string(9000, u'\u3042'));
    const auto lines = Lines(FileOf(u"Foo"));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], kDate + "INF: BRUT:[08a2c] caf\xe9 ? ?!");
    const std::string head = kDate + "INF: BRUT:[08a2c] ";
    EXPECT_EQ(lines[2], head + std::string(kLogLineBytes - head.size(), 'x'));
    EXPECT_EQ(lines[3], head + std::string(kLogLineBytes - head.size(), '?'));
}

TEST_F(LogTest, OneTrailingLineFeedIsDropped) {
    SetupLog(u"Foo");
    LogInfo(u"one\n");
    LogInfo(u"two\n\n");
    LogInfo(u"three\r\n");
    EXPECT_EQ(FileOf(u"Foo").substr(FileOf(u"Foo").find("\r\n") + 2),
              kDate + "INF: BRUT:[08a2c] one\r\n" + kDate + "INF: BRUT:[08a2c] two\n\r\n" + kDate +
                  "INF: BRUT:[08a2c] three\r\r\n");
}

TEST_F(LogTest, ShortcutTakesAtMostSixArguments) {
    SetupLog(u"Foo");
    LogInfo(u"%d %d %d %d %d %d %d", 1, 2, 3, 4, 5, 6, 7);
    LogInfo(u"%d%% %d %d %d %d %d", 1, 2, 3, 4, 5, 6);  // "%%" counts as one
    LogInfo(u"%d %s %d %s %d %s", 1, u"b", 3, u"d", 5, u"f");
    const auto lines = Lines(FileOf(u"Foo"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], kDate + "INF: BRUT:[08a2c] 1 b 3 d 5 f");

    const std::pair<const char16_t*, int> counts[] = {
        {u"", 0}, {u"%%", 1}, {u"%s%", 2}, {u"100%", 1}, {u"%%%", 2}, {u"a%sb%dc", 2}, {nullptr, 0},
    };
    for (const auto& c : counts) EXPECT_EQ(CountFormatArguments(c.first), c.second);
}

TEST_F(LogTest, TextsFromOutsideAreNeverFormats) {
    SetupLog(u"Foo");
    LogTextInfo(u"<a>%s %d %n %%</a>");
    LogTextError(u"%s%s%s%s%s%s%s%s");
    LogInfo(u"reply: %s", u"%d %s");
    const auto lines = Lines(FileOf(u"Foo"));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], kDate + "INF: BRUT:[08a2c] <a>%s %d %n %%</a>");
    EXPECT_EQ(lines[2], kDate + "ERR: BRUT:[08a2c] %s%s%s%s%s%s%s%s");
    EXPECT_EQ(lines[3], kDate + "INF: BRUT:[08a2c] reply: %d %s");
}

TEST_F(LogTest, InstanceOperations) {
    CLog log;
    fp.files.AddDirectory(u"C:\\L");
    ASSERT_TRUE(log.Initialise(15, false));
    EXPECT_EQ(log.OpenFile(u"C:\\L\\%P.log"), 1);
    log.Log(LOG_INF, u"S", u"no id", {});
    EXPECT_EQ(log.OpenFile(u""), 0);
    EXPECT_FALSE(log.IsOpen());
    log.Log(LOG_INF, u"S", u"closed", {});
    fp.files.unopenable.insert(u"c:\\l\\x.log");
    EXPECT_EQ(log.OpenFile(u"C:\\L\\x.log"), 0);
    log.Log(LOG_INF, u"S", u"nowhere", {});
    EXPECT_EQ(log.OpenFile(u"C:\\L\\%P.log"), 1);  // reopened: appended
    log.Log(LOG_INF, u"S", u"again", {});
    log.Close();
    EXPECT_EQ(Lines(fp.files.Contents(u"C:\\L\\4242.log")),
              (std::vector<std::string>{kDate + "INF: S:no id", kDate + "INF: S:again"}));

    log.Shutdown();
    EXPECT_FALSE(log.Initialise(15, true));
    EXPECT_EQ(log.OpenFile(u"C:\\L\\y.log"), 0);
    log.Log(LOG_ALW, u"S", u"late", {});
    EXPECT_FALSE(fp.files.HasFile(u"C:\\L\\y.log"));
}

TEST_F(LogTest, HeldLinesAreBounded) {
    CLog log;
    fp.files.AddDirectory(u"C:\\L");
    log.Initialise(15, true);
    log.HoldLines();
    for (int i = 0; i < 100; ++i) log.Log(LOG_INF, u"S", u"%d", {i});
    log.OpenFile(u"C:\\L\\h.log");
    log.Log(LOG_INF, u"S", u"open", {});
    log.ReleaseHeldLines();
    log.Log(LOG_INF, u"S", u"after", {});
    const auto lines = Lines(fp.files.Contents(u"C:\\L\\h.log"));
    ASSERT_EQ(lines.size(), 2 + kLogHeldLines);
    EXPECT_EQ(lines[0], kDate + "INF: S:[08a2c] open");
    EXPECT_EQ(lines[1], kDate + "INF: S:[08a2c] 0");
    EXPECT_EQ(lines[kLogHeldLines], kDate + "INF: S:[08a2c] 63");
    EXPECT_EQ(lines.back(), kDate + "INF: S:[08a2c] after");
}

TEST_F(LogTest, LinesFromThreadsNeverInterleave) {
    SetupLog(u"Foo");
    const std::u16string body(500, u'z');
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&body, t] {
            for (int i = 0; i < 200; ++i) LogInfo(u"%d:%s", t, body);
        });
    for (auto& th : threads) th.join();
    const auto lines = Lines(FileOf(u"Foo"));
    ASSERT_EQ(lines.size(), 801u);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        ASSERT_EQ(l.size(), kDate.size() + 18 + 2 + 500) << i;
        EXPECT_EQ(l.substr(l.size() - 500), std::string(500, 'z')) << i;
    }
}

TEST(LogWithoutPlatform, DropsMessagesInsteadOfCrashing) {
    ResetLogForTests();
    LogInfo(u"nobody listens %d", 1);
    LogTextError(u"x");
    SetupLog(u"Foo");
    EXPECT_FALSE(GetLog().IsOpen());
}

}  // namespace
