#include <gtest/gtest.h>

#include "options/CmdLineInfo.h"
#include "fakes/FakeInternet.h"
#include "fakes/FakePlatform.h"
#include "fakes/TestSupport.h"
#include "net/HttpWrapper.h"
#include "update/QuickCheck.h"
#include "update/XmlGuard.h"
#include "util/Text.h"

using namespace brut;
using plat::Hive;

namespace {

const std::u16string kProductKey = u"Software\\Brindle\\Brindle Uptide\\PhotoStudio";
const std::u16string kVersionKey = kProductKey + u"\\21.0";
const std::u16string kWorker = fake::kWorkRoot + u"PhotoStudio 21\\BRUptideWorker.exe";

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else out += c;
    }
    return out;
}

// The service's envelope: its root's text is the inner reply.
std::string Envelope(const std::string& inner) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<string xmlns=\"http://uptide.brindle.example/\">" +
           Escape(inner) + "</string>";
}

std::string Reply(const std::string& children) {
    return "<QuickCheckResponse>" + children + "</QuickCheckResponse>";
}

std::string Repeat(const std::string& piece, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += piece;
    return out;
}

class QuickCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        info.ProgramName = u"PhotoStudio";
        info.ProgramVersionNumber = u"21.0";
        check.SetProgramInfo(fake::Borrowed(info));
        check.mCmdLineInfo = &cmd;
        cmd.mIsQuickCheck = 1;
    }
    void Answer(const std::string& body, uint32_t status = 200) {
        fake::Exchange e;
        e.status = status;
        e.body = body;
        net.script.push_back(e);
    }
    void Fail(uint32_t code) {
        fake::Exchange e;
        e.sendError = fake::Thrown(code, u"failure " + FromLatin1(std::to_string(code)));
        net.script.push_back(e);
    }
    void CacheWorker() {
        fp.files.AddFile(kWorker, "MZ");
        fp.versions.SetSimple(kWorker, {{u"ProductVersion", u"3.1.0"}});
    }
    std::u16string LastUpdateCheck() {
        return fp.registry.HasValue(Hive::LocalMachine, kVersionKey, u"LastUpdateCheck")
                   ? fp.registry.TextOf(Hive::LocalMachine, kVersionKey, u"LastUpdateCheck")
                   : u"(none)";
    }
    void Restart() {
        check = QuickCheck();
        check.SetProgramInfo(fake::Borrowed(info));
        check.mCmdLineInfo = &cmd;
        net.requests.clear();
        net.script.clear();
        ClearLog(fp, fake::kWorkRoot + u"2");  // log files only (named from the year on): a cached worker stays
    }

    fake::FakeInternet net;
    fake::FakePlatform fp{&net};
    fake::FreshLog freshLog{fp};
    fake::FreshMacAddress freshMac;
    ProgramInfo info;
    CmdLineInfo cmd;
    QuickCheck check;
};

}  // namespace

// --- Interval gate ---------------------------------------------------------------------------

TEST_F(QuickCheckTest, IntervalGateArithmetic) {
    struct Case {
        const char* name;
        int32_t stub;
        int32_t interval;
        const char16_t* stored;  // null: no value
        bool due;
        const char16_t* line;    // INF line expected, or null
        const char16_t* after;   // LastUpdateCheck afterwards
    };
    const Case cases[] = {
        {"stub always checks", 1, 24, u"1796644685", true, nullptr, u"1796644685"},
        {"interval 0 always checks", 0, 0, u"1796644685", true, nullptr, u"1796644685"},
        {"missing value is reset", 0, 24, nullptr, true, u"ResetLastUpdateCheck()", u"0"},
        {"zero is long ago", 0, 24, u"0", true, nullptr, u"0"},
        {"23 hours ago", 0, 24, u"1796561885", false,
         u"UpdateCheck not necessary because it is only 23 hours since last Update.", u"1796561885"},
        {"exactly 24 hours ago", 0, 24, u"1796558285", true, nullptr, u"1796558285"},
        {"two hours ahead", 0, 24, u"1796651885", false,
         u"UpdateCheck not necessary because it is only -2 hours since last Update.", u"1796651885"},
        {"minus one reads as 4294967295", 0, 24, u"-1", false,
         u"UpdateCheck not necessary because it is only -693978 hours since last Update.", u"-1"},
        {"negative interval is huge", 0, -1, u"1", false,
         u"UpdateCheck not necessary because it is only 499067 hours since last Update.", u"1"},
        {"no digits read as 0", 0, 24, u"abc", true, nullptr, u"abc"},
        {"leading blanks and trailing text", 0, 1, u"  1796644000xyz", false,
         u"UpdateCheck not necessary because it is only 0 hours since last Update.", u"  1796644000xyz"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fp.registry = fake::FakeRegistry();
        Restart();
        info.IsStubExe = c.stub;
        cmd.mUpdateIntervalInHours = c.interval;
        if (c.stored) fp.registry.SetText(Hive::LocalMachine, kVersionKey, u"LastUpdateCheck", c.stored);
        EXPECT_EQ(check.IntervalGate(), c.due);
        const auto lines = LogLines(fp);
        if (c.line) {
            EXPECT_EQ(lines, std::vector<std::u16string>{u"INF " + std::u16string(c.line)});
        } else {
            EXPECT_TRUE(lines.empty());
        }
        EXPECT_EQ(LastUpdateCheck(), c.after);
    }
    info.IsStubExe = 0;
}

TEST_F(QuickCheckTest, UnreadableStoredTypeIsReset) {
    cmd.mUpdateIntervalInHours = 24;
    fp.registry.SetDword(Hive::LocalMachine, kVersionKey, u"LastUpdateCheck", 5);
    EXPECT_TRUE(check.IntervalGate());
    EXPECT_EQ(LastUpdateCheck(), u"0");
}

TEST_F(QuickCheckTest, NotDueMakesNoRequest) {
    cmd.mUpdateIntervalInHours = 24;
    fp.registry.SetText(Hive::LocalMachine, kVersionKey, u"LastUpdateCheck", u"1796644685");
    EXPECT_EQ(check.CheckForUpdate(), (ResultPair{0, 0}));
    EXPECT_TRUE(net.requests.empty());
}

// --- Decision ---------------------------------------------------------------------------------

TEST_F(QuickCheckTest, DecisionWithQuickCheckSwitch) {
    struct Case { const char* children; int32_t code; const char16_t* offered; int32_t major; };
    const Case cases[] = {
        {"<MaxUpdateableProductVersionExistingOnServer>21.0.4</MaxUpdateableProductVersionExistingOnServer>", 3, u"21.0.4", 0},
        {"<MaxUpdateableProductVersionExistingOnServer>21.0.4</MaxUpdateableProductVersionExistingOnServer>"
         "<MajorUpgradeProductVersion>22</MajorUpgradeProductVersion>", 4, u"21.0.4", 22},
        {"<MaxUpdateableProductVersionExistingOnServer></MaxUpdateableProductVersionExistingOnServer>", 1, u"", 0},
        {"<MaxUpdateableProductVersionExistingOnServer />", 1, u"", 0},
        {"<MajorUpgradeProductVersion>22</MajorUpgradeProductVersion>", 16, u"", 22},
        {"<MajorUpgradeProductVersion>0</MajorUpgradeProductVersion>", 1, u"", 0},
        {"<MajorUpgradeProductVersion>abc</MajorUpgradeProductVersion>", 1, u"", 0},
        {"<MajorUpgradeProductVersion>  23rc</MajorUpgradeProductVersion>", 16, u"", 23},
        {"<MajorUpgradeProductVersion>-3</MajorUpgradeProductVersion>", 16, u"", -3},
        {"<Other>1</Other>", 1, u"", 0},
        {"<ErrorMessage></ErrorMessage>", 1, u"", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.children);
        Restart();
        Answer(Envelope(Reply(c.children)));
        EXPECT_EQ(check.CheckForUpdate(), (ResultPair{c.code, 0}));
        EXPECT_EQ(check.mReply.mOfferedVersion, c.offered);
        EXPECT_EQ(check.mReply.mOfferedMajorVersion, c.major);
        EXPECT_EQ(check.mReply.mIsServerError, 0);
        EXPECT_EQ(LastUpdateCheck(), u"(none)");  // a successful check stores no time
    }
}

TEST_F(QuickCheckTest, DecisionWithoutQuickCheckSwitch) {
    cmd.mIsQuickCheck = 0;
    const std::string offered =
        "<MaxUpdateableProductVersionExistingOnServer>21.0.4</MaxUpdateableProductVersionExistingOnServer>";
    const std::string worker = "<UptideWorkerUrl>https://dl.example/BRUptideWorker.exe</UptideWorkerUrl>";
    struct Case { std::string children; bool cached; int32_t code; const char16_t* line; };
    const Case cases[] = {
        {worker, false, 5, u"INF New UptideWorker available from https://dl.example/BRUptideWorker.exe"},
        // The offered worker replaces a cached one.
        {worker, true, 5, u"INF New UptideWorker available from https://dl.example/BRUptideWorker.exe"},
        {offered, true, 6, u"INF Use old UptideWorker."},
        {offered, false, 7, u"ERR No Uptider available."},
        {"<UptideWorkerUrl></UptideWorkerUrl>", false, 7, u"ERR No Uptider available."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.children);
        Restart();
        fp.files.RemoveFile(kWorker);
        if (c.cached) CacheWorker();
        Answer(Envelope(Reply(c.children)));
        EXPECT_EQ(check.CheckForUpdate().mUpdateResult, c.code);
        EXPECT_TRUE(LogHasLine(fp, c.line));
    }
    // The request then carries only the machine's elements.
    EXPECT_EQ(net.requests[0].body.find("ProgramName"), std::string::npos);
}

TEST_F(QuickCheckTest, ReplyValuesAreReadAndLogged) {
    Answer(Envelope(Reply("<UptideWorkerUrl>https://dl.example/w.exe</UptideWorkerUrl>"
                          "<AdViewerUrl>https://dl.example/a.exe</AdViewerUrl>"
                          "<MaxUpdateableProductVersionExistingOnServer>21.0.4</MaxUpdateableProductVersionExistingOnServer>"
                          "<MaxUpdateableProductVersionExistingOnServer>99</MaxUpdateableProductVersionExistingOnServer>"
                          "<MajorUpgradeProductVersion>22</MajorUpgradeProductVersion>")));
    EXPECT_EQ(check.CheckForUpdate().mUpdateResult, 4);
    EXPECT_EQ(check.mWorkerUrl, u"https://dl.example/w.exe");
    EXPECT_EQ(check.mAdViewerUrl, u"https://dl.example/a.exe");
    EXPECT_EQ(check.mReply.mOfferedVersion, u"21.0.4");  // the first of repeated elements
    for (const char16_t* line : {u"INF start LoadAndReadResponseXML", u"INF uptideWorkerUrl = https://dl.example/w.exe",
                                 u"INF MaxpdateableProductVersionExistingOnServer = 21.0.4",
                                 u"INF MajorUpgradeProductVersion = 22", u"INF adViewerDownloadUrl = https://dl.example/a.exe",
                                 u"INF end LoadAndReadResponseXML"})
        EXPECT_TRUE(LogHasLine(fp, line)) << ToUtf8(line);
    EXPECT_FALSE(check.AnsweredOverHttpRetry());
}

TEST_F(QuickCheckTest, ServerErrorMessageWinsAndIsLoggedVerbatim) {
    CacheWorker();
    Answer(Envelope(Reply("<ErrorMessage>Fehler %s %d %n 100%</ErrorMessage>"
                          "<MaxUpdateableProductVersionExistingOnServer>21.0.4</MaxUpdateableProductVersionExistingOnServer>"
                          "<UptideWorkerUrl>https://dl.example/w.exe</UptideWorkerUrl>")));
    EXPECT_EQ(check.CheckForUpdate(), (ResultPair{12, 0}));
    EXPECT_EQ(check.mReply.mIsServerError, 1);
    EXPECT_EQ(check.mWorkerUrl, u"https://dl.example/w.exe");
    EXPECT_EQ(LastUpdateCheck(), u"1796644685");
    const auto lines = LogLines(fp);
    auto at = std::find(lines.begin(), lines.end(), u"ERR QuickCheckResponse.xml contains ServerErrorMessage");
    ASSERT_NE(at, lines.end());
    EXPECT_EQ(*(at + 1), u"ERR Fehler %s %d %n 100%");
    EXPECT_TRUE(LogHasLine(fp, u"ERR ResponseString contains ServerErrorMesage! "));
}

// --- Exchange failures ---------------------------------------------------------------------------

TEST_F(QuickCheckTest, FailedExchangesTable) {
    struct Case { const char* name; bool online; int kind; int32_t code; const char16_t* stored; const char16_t* line; };
    // kind: 0 status 500, 1 thrown 12007, 2 empty root text, 3 not XML, 4 empty body, 5 envelope without root
    const Case cases[] = {
        {"500 online", true, 0, 9, u"1796644685", u"ERR result != S_OK"},
        {"500 offline", false, 0, 10, u"(none)", u"ERR result != S_OK"},
        {"unresolved online", true, 1, 9, u"1796644685", u"ERR /QuickCheck result = 12007"},
        {"unresolved offline", false, 1, 10, u"(none)", u"ERR result != S_OK"},
        {"empty envelope text", true, 2, 9, u"1796644685", u"ERR Length of responseString = 0"},
        {"not XML", true, 3, 9, u"1796644685", u"ERR Length of responseString = 0"},
        {"empty body", true, 4, 9, u"1796644685", u"ERR Length of responseString = 0"},
        {"no root", true, 5, 9, u"1796644685", u"ERR Length of responseString = 0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fp.registry = fake::FakeRegistry();
        Restart();
        net.connected = c.online;
        switch (c.kind) {
            case 0: Answer("oops", 500); break;
            case 1: Fail(12007); break;
            case 2: Answer("<string xmlns=\"x\"></string>"); break;
            case 3: Answer("Service Unavailable"); break;
            case 4: Answer(""); break;
            case 5: Answer("<?xml version=\"1.0\"?><!-- nothing -->"); break;
        }
        EXPECT_EQ(check.CheckForUpdate(), (ResultPair{c.code, 0}));
        EXPECT_EQ(LastUpdateCheck(), c.stored);
        EXPECT_TRUE(LogHasLine(fp, c.line));
    }
}

// --- Result sentences -------------------------------------------------------------------------------

TEST_F(QuickCheckTest, ResultSentencesInThreeLanguages) {
    cmd.mWindowCaption = u"Foto Helfer";
    struct Case { int32_t code; int32_t language; uint32_t flag; std::u16string text; };
    const Case cases[] = {
        {3, 1033, 1, u"A more up-to-date program version is available. Would you like to install it now?\n"
                     u"Please close all programs before starting the installation!"},
        {4, 1031, 1, u"Eine aktuellere Programmversion ist verfügbar. Möchten Sie diese jetzt installieren?\n"
                     u"Bitte schließen Sie alle Programme vor dem Ausführen der Installation!"},
        {7, 1041, 0, u"サーバーはメンテナンス中により一時的に利用できません。"},
        {9, 1033, 0, u"Server is temporarily unavailable during maintenance."},
        {10, 1031, 0, u"Es konnte keine Verbindung zum Server aufgebaut werden. Bitte überprüfen Sie ihre Internetverbindung."},
        {12, 1033, 0, u"Foto Helfer has encountered an error. Please contact the support."},
        {12, 1031, 0, u"Foto Helfer hat einen Fehler festgestellt, bitte kontaktieren Sie unseren Kundenservice."},
        {12, 1041, 0, u"Foto Helferにエラーが発生しました。サポートまでお問い合わせください。"},
        {16, 3079, 0, u"You already have the most recent version."},
        {16, 0, 0, u"Es wird keine Aktualisierung benötigt, die aktuellste Version ist bereits installiert."},
    };
    fp.system.defaultLcid = 1031;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        fp.registry = fake::FakeRegistry();
        info.ProgramLanguage = c.language;
        check.StoreResultText(c.code);
        for (const auto& key : {kProductKey, kVersionKey}) {
            const fake::RegValue* flag = fp.registry.Value(Hive::CurrentUser, key, u"UpdateResult");
            ASSERT_NE(flag, nullptr);
            EXPECT_EQ(flag->data, (std::vector<uint8_t>{static_cast<uint8_t>(c.flag), 0, 0, 0}));
            EXPECT_EQ(fp.registry.TextOf(Hive::CurrentUser, key, u"UpdateResultString"), c.text);
        }
    }
    // Codes without a sentence store nothing.
    for (int32_t code : {0, 1, 5, 6, 11, 14}) {
        fp.registry = fake::FakeRegistry();
        check.StoreResultText(code);
        EXPECT_FALSE(fp.registry.HasValue(Hive::CurrentUser, kProductKey, u"UpdateResult")) << code;
    }
}

TEST_F(QuickCheckTest, CheckStoresSentenceOnlyWhenAsked) {
    info.ProgramLanguage = 1033;
    Answer(Envelope(Reply("<ErrorMessage>down</ErrorMessage>")));
    check.CheckForUpdate();
    EXPECT_FALSE(fp.registry.HasValue(Hive::CurrentUser, kProductKey, u"UpdateResultString"));

    Restart();
    cmd.mIsWriteCheckResultToReg = 1;
    Answer(Envelope(Reply("<ErrorMessage>down</ErrorMessage>")));
    EXPECT_EQ(check.CheckForUpdate().mUpdateResult, 12);
    EXPECT_EQ(fp.registry.TextOf(Hive::CurrentUser, kVersionKey, u"UpdateResultString"),
              u"Brindle Uptide has encountered an error. Please contact the support.");

    fp.registry = fake::FakeRegistry();
    Restart();
    Answer(Envelope(Reply("")));
    EXPECT_EQ(check.CheckForUpdate().mUpdateResult, 1);
    EXPECT_FALSE(fp.registry.HasValue(Hive::CurrentUser, kProductKey, u"UpdateResult"));
}

// --- https to http retry ------------------------------------------------------------------------------

TEST_F(QuickCheckTest, RetryOverHttpOnlyForTheFourCodesOnHttps) {
    struct Case { uint32_t code; bool httpsBase; std::size_t requests; };
    const Case cases[] = {
        {12029, true, 2}, {12037, true, 2}, {12045, true, 2}, {12057, true, 2},
        {12002, true, 1}, {12007, true, 1}, {12029, false, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        fp.registry = fake::FakeRegistry();
        if (!c.httpsBase)
            fp.registry.SetText(Hive::CurrentUser, kProductKey, u"DebugUrl_v2", u"http://127.0.0.1:8080/Uptide/");
        Restart();
        Fail(c.code);
        Answer(Envelope(Reply("<MaxUpdateableProductVersionExistingOnServer>21.0.4</MaxUpdateableProductVersionExistingOnServer>")));
        const int32_t code = check.CheckForUpdate().mUpdateResult;
        ASSERT_EQ(net.requests.size(), c.requests);
        if (c.requests == 2) {
            EXPECT_EQ(code, 3);
            EXPECT_TRUE(net.requests[0].secure);
            EXPECT_FALSE(net.requests[1].secure);
            EXPECT_EQ(net.requests[1].server, u"uptide.brindle.example");
            EXPECT_EQ(net.requests[1].object, u"Uptide/BRUTWebservice.asmx/QuickCheck");
            EXPECT_EQ(net.requests[1].body, net.requests[0].body);
            EXPECT_TRUE(check.AnsweredOverHttpRetry());
            EXPECT_TRUE(LogHasLine(
                fp, u"WAR Try to connect without SSL: http://uptide.brindle.example/Uptide/BRUTWebservice.asmx/QuickCheck"));
            EXPECT_TRUE(LogHasLine(fp, u"INF /QuickCheck result = 0"));
            EXPECT_TRUE(LogHasLine(fp, u"WAR /QuickCheck answered over http without SSL: "
                                       u"download addresses from this answer will not be used"));
        } else {
            EXPECT_EQ(code, 9);
            EXPECT_FALSE(check.AnsweredOverHttpRetry());
        }
        EXPECT_TRUE(LogHasLine(fp, u"ERR /QuickCheck result = " + FromLatin1(std::to_string(c.code))));
    }
}

TEST_F(QuickCheckTest, FailedRetryLogsBothResults) {
    Fail(12029);
    Fail(12029);
    EXPECT_EQ(check.CheckForUpdate().mUpdateResult, 9);
    const auto lines = LogLines(fp);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), u"ERR /QuickCheck result = 12029"), 2);
    EXPECT_FALSE(check.AnsweredOverHttpRetry());
}

// --- Hostile replies --------------------------------------------------------------------------------

TEST_F(QuickCheckTest, HostileRepliesEndWithDefinedCodes) {
    const std::string offered = "<MaxUpdateableProductVersionExistingOnServer>7</MaxUpdateableProductVersionExistingOnServer>";
    // An inner reply with the offer and `count` of `piece` inside its root: Reply(offered) holds four "<".
    auto padded = [&](const std::string& piece, std::size_t count) { return Reply(offered + Repeat(piece, count)); };
    // The envelope's root with `count` attributes around the escaped offer.
    auto attributed = [&](std::size_t count) {
        std::string a;
        for (std::size_t i = 0; i < count; ++i) a += " a" + std::to_string(i) + "=\"1\"";
        return "<string" + a + ">" + Escape(Reply(offered)) + "</string>";
    };
    const std::string laughs =
        "<!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]>"
        "<R><MaxUpdateableProductVersionExistingOnServer>&b;</MaxUpdateableProductVersionExistingOnServer></R>";

    struct Case { const char* name; std::string body; int32_t code; const char16_t* offered; const char16_t* line; };
    const Case cases[] = {
        // Nesting and width are bounded by the "<" of a document, whatever the parser makes of them.
        {"deep envelope", Repeat("<a>", 200000), 9, u"", u"ERR Reply envelope rejected: more than 512 \"<\" characters"},
        {"deep inner reply", Envelope(Repeat("<b>", 100000)), 9, u"",
         u"ERR QuickCheckResponse.xml rejected: more than 512 \"<\" characters"},
        {"512 \"<\"", Envelope(padded("<x/>", 508)), 3, u"7", nullptr},
        {"513 \"<\"", Envelope(padded("<x/>", 509)), 9, u"",
         u"ERR QuickCheckResponse.xml rejected: more than 512 \"<\" characters"},
        // The envelope carries the inner reply's "=" unescaped: both documents hold the same count.
        {"4096 \"=\"", "<string>" + Escape(padded("<P>" + std::string(4096, '=') + "</P>", 1)) + "</string>", 3, u"7",
         nullptr},
        {"4097 \"=\"", "<string>" + Escape(padded("<P>" + std::string(4097, '=') + "</P>", 1)) + "</string>", 9, u"",
         u"ERR Reply envelope rejected: more than 4096 \"=\" characters"},
        {"64 attributes", attributed(64), 3, u"7", nullptr},
        {"65 attributes", attributed(65), 9, u"", u"ERR Reply envelope rejected: more than 64 attributes in one element"},
        {"thousands of attributes", attributed(5000), 9, u"",
         u"ERR Reply envelope rejected: more than 4096 \"=\" characters"},
        {"inner reply not XML", Envelope("garbage"), 9, u"", u"ERR QuickCheckResponse.xml unusable: not well-formed"},
        {"inner reply broken", Envelope("<R><MajorUpgradeProductVersion>5</R>"), 9, u"", u"ERR QuickCheckResponse.xml could not be read (10)"},
        {"a DOCTYPE leaves no root", Envelope(laughs), 9, u"", u"ERR QuickCheckResponse.xml unusable: no root element"},
        {"unknown entities are not expanded",
         Envelope(Reply("<MaxUpdateableProductVersionExistingOnServer>&b;x</MaxUpdateableProductVersionExistingOnServer>")),
         3, u"b;x", nullptr},
        {"escaped markup in a value", Envelope(Reply("<MaxUpdateableProductVersionExistingOnServer>1 &amp; &lt;2&gt;"
                                                     "</MaxUpdateableProductVersionExistingOnServer>")),
         3, u"1 & <2>", nullptr},
        {"NUL inside the envelope", std::string("<string>&lt;R&gt;\0&lt;/R&gt;</string>", 38), 9, u"", nullptr},
        {"bytes above 0x7F", "<string>&lt;R&gt;&lt;MaxUpdateableProductVersionExistingOnServer&gt;Caf\xE9\xFF"
                             "&lt;/MaxUpdateableProductVersionExistingOnServer&gt;&lt;/R&gt;</string>",
         3, u"Caf\u00E9\u00FF", nullptr},
        {"UTF-8 lead byte at the end", "<?xml version=\"1.0\" encoding=\"utf-8\"?><string>abc\xE3", 9, u"",
         u"ERR Reply envelope unusable: not well-formed"},
        {"several envelope roots", "<s>" + Escape(Reply(offered)) + "</s><s>x</s>", 3, u"7", nullptr},
        {"several inner roots", Envelope(Reply(offered) + "<R><MajorUpgradeProductVersion>9</MajorUpgradeProductVersion></R>"),
         3, u"7", nullptr},
        {"empty error message", Envelope("<R><ErrorMessage><![CDATA[]]></ErrorMessage>" + offered + "</R>"), 3, u"7",
         nullptr},
        {"comment hides nothing", Envelope("<R><!-- <MaxUpdateableProductVersionExistingOnServer>1"
                                           "</MaxUpdateableProductVersionExistingOnServer> -->" + offered + "</R>"),
         3, u"7", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Restart();
        Answer(c.body);
        const int32_t code = check.CheckForUpdate().mUpdateResult;
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(check.mReply.mOfferedVersion, c.offered);
        if (c.line) {
            EXPECT_TRUE(LogHasLineStarting(fp, c.line));
        }
    }
}

TEST_F(QuickCheckTest, HugeReplyIsRefused) {
    fake::Exchange e;
    e.body = "<string>";
    e.fillBytes = kMaxReplyBytes;
    net.script.push_back(e);
    EXPECT_EQ(check.CheckForUpdate().mUpdateResult, 9);
    EXPECT_TRUE(LogHasLine(fp, u"ERR /QuickCheck result = 3"));
}

TEST_F(QuickCheckTest, ExtractReplyTextCutsToTheBuffer) {
    std::string text = "untouched";
    EXPECT_EQ(check.ExtractReplyText(u"<s>abcdef</s>", text, 4), 0);
    EXPECT_EQ(text, "abc");
    EXPECT_EQ(check.ExtractReplyText(u"<s/>", text, 10), 0);
    EXPECT_EQ(text, "");
    text = "untouched";
    EXPECT_EQ(check.ExtractReplyText(u"<s>", text, 10), kReplyNotWellFormed);
    EXPECT_EQ(text, "");
    EXPECT_EQ(check.ExtractReplyText(u"<?xml version=\"1.0\"?>", text, 10), kReplyNoRoot);
    EXPECT_EQ(check.LoadAndReadResponseXML(""), kReplyNoText);
    EXPECT_EQ(check.LoadAndReadResponseXML("<a><b></a>"), kReplyNotWellFormed);
    EXPECT_EQ(check.LoadAndReadResponseXML("<!-- only -->"), kReplyNoRoot);
}
