#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "fakes/FakePlatform.h"
#include "util/Text.h"

using namespace brut;

namespace {

using Tokens = std::vector<std::u16string>;

TEST(SplitCommandLine, RuntimeArgumentRules) {
    struct Case { const char16_t* line; Tokens want; };
    const Case cases[] = {
        {u"", {u""}},
        {u"prog", {u"prog"}},
        {u"prog a  b\tc ", {u"prog", u"a", u"b", u"c"}},
        // The program path: quotes only delimit it, backslashes are plain.
        {u"\"C:\\Program Files\\B\\x.exe\" -Q", {u"C:\\Program Files\\B\\x.exe", u"-Q"}},
        {u"\"C:\\a b\\\"rest", {u"C:\\a b\\", u"rest"}},
        {u"C:\\dir\\x.exe\" a", {u"C:\\dir\\x.exe\"", u"a"}},
        {u"\"unclosed program", {u"unclosed program"}},
        {u"  p a", {u"", u"p", u"a"}},
        // Quotes group, backslashes only matter before a quote.
        {u"p \"a b\" c\"d e\"f", {u"p", u"a b", u"cd ef"}},
        {u"p a\\b\\\\c", {u"p", u"a\\b\\\\c"}},
        {u"p \"C:\\dir\\\\\" next", {u"p", u"C:\\dir\\", u"next"}},
        {u"p a\\\"b", {u"p", u"a\"b"}},
        {u"p a\\\\\\\"b", {u"p", u"a\\\"b"}},
        {u"p a\\\\\"b c\"", {u"p", u"a\\b c"}},
        {u"p \"a\"\"b\" c", {u"p", u"a\"b", u"c"}},
        {u"p \"\" x", {u"p", u"", u"x"}},
        {u"p a\"\"b", {u"p", u"ab"}},
        {u"p \"unbalanced rest", {u"p", u"unbalanced rest"}},
        {u"p trailing\\", {u"p", u"trailing\\"}},
        {u"p \"\u3042 \u00e9\"", {u"p", u"\u3042 \u00e9"}},
    };
    for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.want) << ToUtf8(c.line);
}

class CmdLineTest : public ::testing::Test {
protected:
    CmdLineInfo Parse(const std::u16string& args) {
        CmdLineInfo info;
        ParseCommandLine(info, u"\"C:\\Program Files\\Brindle\\BRUptide.exe\" " + args);
        return info;
    }
    fake::FakePlatform fp;
};

TEST_F(CmdLineTest, ProductOptionsWithAnyPrefix) {
    for (const char16_t* args : {u"-ProgramName Foo", u"/ProgramName Foo", u"ProgramName Foo"}) {
        CmdLineInfo info = Parse(args);
        EXPECT_EQ(info.mProgramInfo.ProgramName, u"Foo") << ToUtf8(args);
        EXPECT_EQ(info.mProgramInfo.DisplayName, u"Foo") << ToUtf8(args);
        EXPECT_EQ(info.mForwardedParams, u"") << ToUtf8(args);
    }
    CmdLineInfo info = Parse(u"-DisplayName Bar -ProgramName Foo");
    EXPECT_EQ(info.mProgramInfo.DisplayName, u"Bar");
    EXPECT_EQ(info.mProgramInfo.ProgramName, u"Foo");
}

TEST_F(CmdLineTest, EveryValueOption) {
    CmdLineInfo info = Parse(
        u"-QuickCheck -ProgramVersion 12.5.300 -InstallDate 20260101 -Language 1031 "
        u"-InstalledLocation \"C:\\P F\\\\\\\\\" -UpdateIntervalInHours \" 24h\" -FileList \"a.dll;;b.dll; \" "
        u"-FileList c.dll -WindowRec \"-1200 20\" -WindowCaption \"My App\" -AffiliateId aff7 -DisplayName \"D N\"");
    const ProgramInfo& p = info.mProgramInfo;
    EXPECT_EQ(p.ProgramVersionNumber, u"12.5.300");
    EXPECT_EQ(p.ProgramInstallDate, u"20260101");
    EXPECT_EQ(p.ProgramLanguage, 1031);
    EXPECT_EQ(p.InstallLocation, u"C:\\P F\\");
    EXPECT_EQ(info.mUpdateIntervalInHours, 24);
    EXPECT_EQ(p.FileList, (Tokens{u"a.dll", u"b.dll", u"", u"c.dll"}));
    EXPECT_EQ(info.mWindowRec, u"-1200 20");
    EXPECT_EQ(info.mWindowCaption, u"My App");
    EXPECT_EQ(p.AffiliateId, u"aff7");
    EXPECT_EQ(p.DisplayName, u"D N");
    EXPECT_EQ(p.ProgramName, u"");
    EXPECT_EQ(info.mIsQuickCheck, 1);
    EXPECT_EQ(info.mForwardedParams, u"QuickCheck ");
    EXPECT_EQ(info.mPendingOption, PendingOption::None);
}

TEST_F(CmdLineTest, ValueConversions) {
    struct Case { const char16_t* args; int32_t language; int32_t interval; const char16_t* location; };
    const Case cases[] = {
        {u"-Language -1", 1, 0, u""},  // a value loses its "-" like any token
        {u"-Language --5 -UpdateIntervalInHours x", -5, 0, u""},
        {u"-Language 99999999999 -UpdateIntervalInHours \"--99999999999\"", 2147483647, INT32_MIN, u""},
        {u"/Language /3", 3, 0, u""},
        {u"-UpdateIntervalInHours \" -7\"", 0, -7, u""},
        {u"-InstalledLocation C:\\x", 0, 0, u"C:\\x\\"},
        {u"-InstalledLocation C:\\x\\\\\\", 0, 0, u"C:\\x\\"},
        {u"-InstalledLocation \"\"", 0, 0, u"\\"},
    };
    for (const auto& c : cases) {
        CmdLineInfo info = Parse(c.args);
        EXPECT_EQ(info.mProgramInfo.ProgramLanguage, c.language) << ToUtf8(c.args);
        EXPECT_EQ(info.mUpdateIntervalInHours, c.interval) << ToUtf8(c.args);
        EXPECT_EQ(info.mProgramInfo.InstallLocation, c.location) << ToUtf8(c.args);
    }
}

TEST_F(CmdLineTest, FileListPieces) {
    struct Case { const char16_t* value; Tokens want; };
    const Case cases[] = {
        {u"a.dll;;b.dll; ", {u"a.dll", u"b.dll", u""}},
        {u";;a;", {u"a"}},
        {u"", {}},
        {u" x y ;\t", {u"x y", u""}},
    };
    for (const auto& c : cases) {
        CmdLineInfo info;
        info.ParseParam(u"FileList");
        info.ParseParam(c.value);
        EXPECT_EQ(info.mProgramInfo.FileList, c.want) << ToUtf8(c.value);
    }
}

TEST_F(CmdLineTest, SwitchesAndForwarding) {
    struct Case { const char16_t* args; const char16_t* forwarded; };
    const Case cases[] = {
        {u"-QuickCheck -UpdateSilent", u"QuickCheck UpdateSilent "},
        {u"-UpdateSilent -programname Foo", u"UpdateSilent programname Foo "},
        {u"-ProgramName QuickCheck", u""},
        {u"/IsStubExe ForceUpdate -OnlyDownload", u"IsStubExe ForceUpdate OnlyDownload "},
        {u"--QuickCheck", u"-QuickCheck "},
        {u"-", u" "},
    };
    for (const auto& c : cases) EXPECT_EQ(Parse(c.args).mForwardedParams, c.forwarded) << ToUtf8(c.args);

    CmdLineInfo info = Parse(
        u"-IsStubExe -QuickCheck -UpdateCheckSilent -UpdateSilent -WriteCheckResultToReg -HideUpdateCheckResult "
        u"-OnlyDownload -RestartAfterSelfUpdate");
    EXPECT_EQ(info.mProgramInfo.IsStubExe, 1);
    EXPECT_EQ(info.mIsQuickCheck + info.mIsUpdateCheckSilent + info.mIsUpdateSilent + info.mIsWriteCheckResultToReg +
                  info.mIsHideUpdateCheckResult + info.mIsOnlyDownload + info.mIsRestartAfterSelfUpdate,
              7);
    EXPECT_EQ(info.mIsUpdateFromVersionV1, 0);

    CmdLineInfo misspelt = Parse(u"-UpdateSilent -programname Foo");
    EXPECT_EQ(misspelt.mIsUpdateSilent, 1);
    EXPECT_EQ(misspelt.mProgramInfo.ProgramName, u"");

    CmdLineInfo named = Parse(u"-ProgramName QuickCheck");
    EXPECT_EQ(named.mProgramInfo.ProgramName, u"QuickCheck");
    EXPECT_EQ(named.mIsQuickCheck, 0);
    EXPECT_EQ(Parse(u"-quickcheck").mIsQuickCheck, 0);
}

TEST_F(CmdLineTest, OptionAsLastTokenStoresNothing) {
    CmdLineInfo info = Parse(u"-DisplayName Bar -ProgramName");
    EXPECT_EQ(info.mProgramInfo.ProgramName, u"");
    EXPECT_EQ(info.mProgramInfo.DisplayName, u"Bar");
    EXPECT_EQ(info.mPendingOption, PendingOption::ProgramName);
    EXPECT_EQ(info.mForwardedParams, u"");
}

TEST_F(CmdLineTest, OwnPathIsIgnoredEvenWhenAnOptionWaits) {
    CmdLineInfo info = Parse(u"-ProgramName \"C:\\Program Files\\Brindle\\BRUptide.exe\" Foo");
    EXPECT_EQ(info.mProgramInfo.ProgramName, u"Foo");
    EXPECT_EQ(info.mParamCount, 1);

    // The own path does not count: the next token is still the first.
    fp.files.AddDirectory(u"C:\\Old");
    CmdLineInfo first = Parse(u"\"C:\\Program Files\\Brindle\\BRUptide.exe\" C:\\Old");
    EXPECT_EQ(first.mProgramInfo.InstallLocation, u"C:\\Old\\");
    EXPECT_EQ(first.mIsUpdateFromVersionV1, 1);

    // Case matters.
    EXPECT_EQ(Parse(u"\"c:\\program files\\brindle\\bruptide.exe\"").mForwardedParams,
              u"c:\\program files\\brindle\\bruptide.exe ");
}

TEST_F(CmdLineTest, VersionOneFirstToken) {
    fp.files.AddDirectory(u"C:\\Old\\App");
    fp.files.AddFile(u"C:\\Old\\file.txt", "x");

    CmdLineInfo dir = Parse(u"\"C:\\Old\\App\\\\\" -QuickCheck");
    EXPECT_EQ(dir.mProgramInfo.InstallLocation, u"C:\\Old\\App\\");
    EXPECT_EQ(dir.mIsUpdateFromVersionV1, 1);
    EXPECT_EQ(dir.mForwardedParams, u"C:\\Old\\App\\ QuickCheck ");

    CmdLineInfo file = Parse(u"C:\\Old\\file.txt");
    EXPECT_EQ(file.mProgramInfo.InstallLocation, u"C:\\Old\\file.txt\\");
    EXPECT_EQ(file.mIsUpdateFromVersionV1, 1);

    fp.files.createDirectoryErrors[u"a<b"] = plat::kErrInvalidName;
    EXPECT_EQ(Parse(u"a<b").mProgramInfo.InstallLocation, u"a<b\\");

    CmdLineInfo second = Parse(u"-QuickCheck C:\\Old\\App");
    EXPECT_EQ(second.mProgramInfo.InstallLocation, u"");
    EXPECT_EQ(second.mIsUpdateFromVersionV1, 0);
    EXPECT_EQ(second.mForwardedParams, u"QuickCheck C:\\Old\\App ");

    // An unknown first word is a directory the system could create: it stays.
    CmdLineInfo word = Parse(u"ForceUpdate");
    EXPECT_EQ(word.mIsUpdateFromVersionV1, 0);
    EXPECT_EQ(word.mProgramInfo.InstallLocation, u"");
    EXPECT_EQ(fp.files.createdDirectories, Tokens{u"ForceUpdate"});

    // Refusals that do not mean "exists" or "invalid name" leave the word alone.
    fp.files.createDirectoryErrors[u"forceupdate"] = plat::kErrAccessDenied;
    fp.files.createDirectoryErrors[u"c:\\gone\\app"] = plat::kErrPathNotFound;
    for (const char16_t* args : {u"ForceUpdate -IsStubExe", u"C:\\Gone\\App"}) {
        CmdLineInfo refused = Parse(args);
        EXPECT_EQ(refused.mIsUpdateFromVersionV1, 0) << ToUtf8(args);
        EXPECT_EQ(refused.mProgramInfo.InstallLocation, u"") << ToUtf8(args);
    }

    // Switches and options are never probed.
    Parse(u"-QuickCheck");
    Parse(u"-ProgramName x");
    EXPECT_EQ(fp.files.createdDirectories.size(), 1u);
}

TEST_F(CmdLineTest, BlankFirstTokenIsNoInstallLocation) {
    for (const char16_t* args : {u"\"\" -QuickCheck", u"\" \"", u"-"}) {
        CmdLineInfo info = Parse(args);
        EXPECT_EQ(info.mIsUpdateFromVersionV1, 0) << ToUtf8(args);
        EXPECT_EQ(info.mProgramInfo.InstallLocation, u"") << ToUtf8(args);
    }
    EXPECT_TRUE(fp.files.createdDirectories.empty());
}

TEST_F(CmdLineTest, VersionOneSwitch) {
    CmdLineInfo bare = Parse(u"-UpdateFromVersionV1");
    EXPECT_EQ(bare.mIsUpdateFromVersionV1, 1);
    EXPECT_EQ(bare.mProgramInfo.InstallLocation, u"\\");
    EXPECT_EQ(bare.mForwardedParams, u"UpdateFromVersionV1 ");
    EXPECT_TRUE(fp.files.createdDirectories.empty());

    CmdLineInfo located = Parse(u"-InstalledLocation C:\\P -UpdateFromVersionV1");
    EXPECT_EQ(located.mProgramInfo.InstallLocation, u"C:\\P\\");
    EXPECT_EQ(located.mIsUpdateFromVersionV1, 1);
}

TEST_F(CmdLineTest, ProcessCommandLineFromThePlatform) {
    fp.system.commandLine = u"\"C:\\Program Files\\Brindle\\BRUptide.exe\" -QuickCheck -ProgramName \"\u30c6\u30b9\u30c8\"";
    CmdLineInfo info;
    ParseCommandLine(info);
    EXPECT_EQ(info.mIsQuickCheck, 1);
    EXPECT_EQ(info.mProgramInfo.ProgramName, u"\u30c6\u30b9\u30c8");
}

TEST_F(CmdLineTest, ManyTokensAndLongValues) {
    std::u16string args;
    for (int i = 0; i < 10000; ++i) args += u"-QuickCheck ";
    const std::u16string longValue(100000, u'\u00e9');
    args += u"-WindowCaption \"" + longValue + u"\" -FileList \"" + std::u16string(50000, u';') + u"z\"";
    CmdLineInfo info = Parse(args);
    EXPECT_EQ(info.mParamCount, 10003);
    EXPECT_EQ(info.mForwardedParams.size(), 10000u * 11);
    EXPECT_EQ(info.mWindowCaption, longValue);
    EXPECT_EQ(info.mProgramInfo.FileList, Tokens{u"z"});
}

}  // namespace
