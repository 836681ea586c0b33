#include <gtest/gtest.h>

#include "fakes/FakeInternet.h"
#include "fakes/FakePlatform.h"
#include "fakes/TestSupport.h"
#include "net/HttpWrapper.h"
#include "update/WebService.h"
#include "util/Text.h"

using namespace brut;

namespace {

const std::u16string kUrl = u"https://uptide.brindle.example/Uptide/BRUTWebservice.asmx/QuickCheck";

class HttpTest : public ::testing::Test {
protected:
    // One form post answered by `e`; `out` starts as "before".
    uint32_t Post(const fake::Exchange& e, std::u16string& out) {
        net.script.push_back(e);
        CHttpWrapper http;
        http.AddPostArgument(u"A", u"1");
        out = u"before";
        return http.PostUrl(kUrl, out);
    }

    fake::FakeInternet net;
    fake::FakePlatform fp{&net};
    fake::FreshLog freshLog{fp};
};

}  // namespace

TEST(UrlEncode, CodeUnitRules) {
    struct Case { std::u16string in, out; };
    const Case cases[] = {
        {u"", u""},
        {u"azAZ09", u"azAZ09"},
        {u" ", u"+"},
        {u"&", u"%26"},
        {u"\n", u"%0a"},
        {u"\u0001", u"%01"},
        {u"\u00FC", u"%fc"},
        {u"\u0100", u"%100"},
        {u"\u20AC", u"%20ac"},
        {u"-_.~*", u"%2d%5f%2e%7e%2a"},
        {u"<a b=\"1\"/>", u"%3ca+b%3d%221%22%2f%3e"},
    };
    for (const auto& c : cases) EXPECT_EQ(UrlEncode(c.in), c.out) << ToUtf8(c.in);
    // The service receives documents encoded twice.
    EXPECT_EQ(UrlEncode(UrlEncode(u"<")), u"%253c");
    EXPECT_EQ(UrlEncode(UrlEncode(u" ")), u"%2b");
}

TEST(ExtractServerAndObject, Splitting) {
    struct Case { std::u16string url; bool secure; std::u16string server, object; };
    const Case cases[] = {
        {kUrl, true, u"uptide.brindle.example", u"Uptide/BRUTWebservice.asmx/QuickCheck"},
        {u"http://host", false, u"host", u""},
        {u"http://host/", false, u"host", u""},
        {u"http://127.0.0.1:8080/https/x", false, u"127.0.0.1:8080", u"https/x"},
        {u"HTTPS://host/x", false, u"HTTPS:", u"/host/x"},
        {u"host/a/b", false, u"host", u"a/b"},
        {u"", false, u"", u""},
    };
    for (const auto& c : cases) {
        bool secure = !c.secure;
        std::u16string server = u"old", object = u"old";
        ExtractServerAndObject(c.url, secure, server, object);
        EXPECT_EQ(secure, c.secure) << ToUtf8(c.url);
        EXPECT_EQ(server, c.server) << ToUtf8(c.url);
        EXPECT_EQ(object, c.object) << ToUtf8(c.url);
    }
}

TEST_F(HttpTest, PostsFormAndReturnsBody) {
    fake::Exchange ok;
    ok.body = "<string>reply</string>";
    ok.readChunk = 3;
    net.script.push_back(ok);
    {
        CHttpWrapper http;
        EXPECT_EQ(http.AddPostArgument(u"A", u"x y"), 1);
        EXPECT_EQ(http.AddPostArgument(u"B&", u"<"), 1);
        EXPECT_EQ(http.FormBody(), u"A=x+y&B&=%3c");
        std::u16string out = u"stale";
        EXPECT_EQ(http.PostUrl(kUrl, out), 0u);
        EXPECT_EQ(out, u"<string>reply</string>");
    }
    ASSERT_EQ(net.agents.size(), 1u);
    EXPECT_EQ(net.agents[0], u"BRUptide");
    EXPECT_EQ(net.sessionsClosed, 1);
    ASSERT_EQ(net.requests.size(), 1u);
    const auto& r = net.requests[0];
    EXPECT_EQ(r.server, u"uptide.brindle.example");
    EXPECT_TRUE(r.secure);
    EXPECT_EQ(r.verb, u"POST");
    EXPECT_EQ(r.object, u"Uptide/BRUTWebservice.asmx/QuickCheck");
    EXPECT_EQ(r.flags, plat::kInetFlagSecure | plat::kInetFlagExistingConnect);
    EXPECT_EQ(r.headers, u"Content-Type: application/x-www-form-urlencoded");
    EXPECT_EQ(r.body, "A=x+y&B&=%3c");
    EXPECT_TRUE(LogErrors(fp).empty());
}

TEST_F(HttpTest, PlainHttpHasNoSecureFlagAndAgentIsExeBaseName) {
    fp.system.modulePath = u"D:\\Stub\\PhotoStudio_Setup.v2.exe";
    CHttpWrapper http;
    http.AddPostArgument(u"A", u"1");
    std::u16string out;
    EXPECT_EQ(http.PostUrl(u"http://localhost:8080/U/x", out), 0u);
    EXPECT_EQ(net.agents[0], u"PhotoStudio_Setup.v2");
    EXPECT_EQ(net.requests[0].server, u"localhost:8080");
    EXPECT_FALSE(net.requests[0].secure);
    EXPECT_EQ(net.requests[0].flags, plat::kInetFlagExistingConnect);
}

TEST_F(HttpTest, StatusOtherThan200LeavesOutputUnchanged) {
    struct Case { uint32_t status, result; std::vector<std::u16string> errors; };
    auto noStatus = [](const char16_t* status) {
        return std::vector<std::u16string>{u"Can´t read status code: " + std::u16string(status) + u" is no HTTP status."};
    };
    const Case cases[] = {
        {500, 500, {}},
        {404, 404, {}},
        {100, 100, {}},
        {599, 599, {}},
        // Outside the statuses HTTP defines: never a success, a refused step or a WinINet code.
        {0, kPostNoStatus, noStatus(u"0")},
        {1, kPostNoStatus, noStatus(u"1")},
        {3, kPostNoStatus, noStatus(u"3")},
        {99, kPostNoStatus, noStatus(u"99")},
        {600, kPostNoStatus, noStatus(u"600")},
        {12029, kPostNoStatus, noStatus(u"12029")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        ClearLog(fp);
        net.requests.clear();
        fake::Exchange e;
        e.status = c.status;
        e.body = "server error page";
        std::u16string out;
        EXPECT_EQ(Post(e, out), c.result);
        EXPECT_EQ(out, u"before");
        EXPECT_EQ(net.requests[0].bytesRead, 0u);
        EXPECT_EQ(LogErrors(fp), c.errors);
    }
}

TEST_F(HttpTest, ThrownFailuresGiveCodeDescriptionAndPrefixedLine) {
    struct Case {
        const char* step;
        uint32_t code;
        std::u16string description;
        uint32_t result;
        std::vector<std::u16string> errors;
    };
    const std::u16string d = u"The server name or address could not be resolved";
    const std::u16string cut(1023, u'd');
    const Case cases[] = {
        {"session", 12001, d, 12001, {u"no Internet session because: " + d}},
        {"connect", 12007, d, 12007, {u"extract server and objects failed because: " + d}},
        {"open", 12029, d, 12029, {u"open request failed because: " + d}},
        {"send", 12045, d, 12045, {u"send the request failed because: " + d, d}},
        {"read", 12030, d, 12030, {u"read the response failed because: " + d}},
        // A thrown code 0 must not read as success; a description is kept to 1023 characters.
        {"connect", 0, cut, kPostNotSent, {u"extract server and objects failed because: " + cut}},
        {"connect", 12007, cut + u"d", 12007, {u"extract server and objects failed because: " + cut}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.step) + " " + std::to_string(c.code) + " " + std::to_string(c.description.size()));
        ClearLog(fp);
        net.requests.clear();
        net.script.clear();
        fake::Exchange e;
        e.body = "partial body";
        const plat::InetError thrown = fake::Thrown(c.code, c.description);
        const std::string step = c.step;
        net.sessionFails = step == "session";
        net.sessionError = thrown;
        if (step == "connect") e.connectError = thrown;
        if (step == "open") e.openError = thrown;
        if (step == "send") e.sendError = thrown;
        if (step == "read") {
            e.readError = thrown;
            e.readFailsAfter = 4;
        }
        fp.system.lastError = 0;
        std::u16string out;
        EXPECT_EQ(Post(e, out), c.result);
        EXPECT_EQ(out, c.description.substr(0, 1023));
        EXPECT_EQ(LogErrors(fp), c.errors);
        if (step == "session") {
            // Remembered as the thread's last error, not thrown; nothing is sent.
            EXPECT_EQ(fp.system.lastError, c.code);
            EXPECT_TRUE(net.requests.empty());
        }
    }
}

TEST_F(HttpTest, RefusedStepsGiveOneOrTwo) {
    struct Case { const char* step; uint32_t result; std::u16string error; };
    const Case cases[] = {
        {"connect", 1, u"Can´t get an httpConnection"},
        {"open", 1, u"Can´t open Http request."},
        {"send", 1, u"Can´t send request."},
        {"status", 2, u"Can´t read status code."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        ClearLog(fp);
        fake::Exchange e;
        e.body = "body";
        e.connectRefused = std::string(c.step) == "connect";
        e.openRefused = std::string(c.step) == "open";
        e.sendRefused = std::string(c.step) == "send";
        e.statusUnreadable = std::string(c.step) == "status";
        std::u16string out;
        EXPECT_EQ(Post(e, out), c.result);
        EXPECT_EQ(out, u"before");
        EXPECT_EQ(LogErrors(fp), std::vector<std::u16string>{c.error});
    }
}

TEST_F(HttpTest, EmptyFormIsNotSent) {
    fake::Exchange e;
    e.body = "ok";
    net.script.push_back(e);
    CHttpWrapper http;
    std::u16string out;
    EXPECT_EQ(http.PostUrl(kUrl, out), 0u);
    EXPECT_EQ(out, u"ok");
    EXPECT_FALSE(net.requests[0].sent);
    EXPECT_TRUE(net.requests[0].statusQueried);
}

TEST_F(HttpTest, EveryBodyByteBecomesOneCharacter) {
    fake::Exchange e;
    for (int b = 0; b < 256; ++b) e.body += static_cast<char>(b);
    e.readChunk = 7;
    net.script.push_back(e);
    CHttpWrapper http;
    std::u16string out;
    EXPECT_EQ(http.PostUrl(kUrl, out), 0u);
    ASSERT_EQ(out.size(), 256u);
    // Latin-1 code page of the fake: every code unit equals its byte.
    for (int b = 0; b < 256; ++b) EXPECT_EQ(out[b], static_cast<char16_t>(b));
    EXPECT_EQ(fp.system.ToAnsi(out), e.body);
}

namespace {

// A code page where 0x80 is the euro sign and 0x83 only a lead byte.
class CodePageSystem : public fake::FakeSystem {
public:
    std::string ToAnsi(const std::u16string& text) override {
        std::string out;
        for (char16_t c : text) {
            if (c == u'\u20AC') out += '\x80';
            else if (c == u'\u30FB') out += "\x81\x45";
            else if (c == 0x80 || c == 0x83 || c > 0xFF) out += '?';
            else out += static_cast<char>(c);
        }
        return out;
    }
    std::u16string FromAnsi(const std::string& bytes) override {
        std::u16string out;
        for (unsigned char b : bytes) {
            if (b == 0x80) out += u'\u20AC';
            else if (b == 0x83) out += u'\u30FB';
            else out += static_cast<char16_t>(b);
        }
        return out;
    }
};

}  // namespace

TEST_F(HttpTest, BodyBytesRoundTripThroughTheCodePage) {
    CodePageSystem cp;
    plat::Platform p = plat::Get();
    p.system = &cp;
    plat::Install(p);
    cp.tempPath.clear();  // no log file for this platform
    fake::Exchange e;
    e.body = "a\x80\xE9";
    net.script.push_back(e);
    fake::Exchange lead;
    lead.body = "\x83";
    net.script.push_back(lead);
    CHttpWrapper http;
    std::u16string out;
    EXPECT_EQ(http.PostUrl(kUrl, out), 0u);
    EXPECT_EQ(out, std::u16string(u"a\u20AC\u00E9"));
    EXPECT_EQ(cp.ToAnsi(out), e.body);
    // A byte without a character of its own keeps its value.
    EXPECT_EQ(http.PostUrl(kUrl, out), 0u);
    EXPECT_EQ(out, std::u16string(u"\u0083"));
    fp.InstallAll();
}

TEST_F(HttpTest, OversizedBodyIsRefused) {
    fake::Exchange e;
    e.fillBytes = kMaxReplyBytes + 1;
    net.script.push_back(e);
    CHttpWrapper http;
    std::u16string out = u"before";
    EXPECT_EQ(http.PostUrl(kUrl, out), kPostBodyTooLarge);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(LogErrors(fp).size(), 1u);

    fake::Exchange limit;
    limit.fillBytes = kMaxReplyBytes;
    net.script.push_back(limit);
    EXPECT_EQ(http.PostUrl(kUrl, out), 0u);
    EXPECT_EQ(out.size(), kMaxReplyBytes);
}

// A server that takes its time or drips its answer: the whole exchange, the http retry
// included, ends within kExchangeLimitMs of wall time, like any failed exchange.
TEST_F(HttpTest, TheExchangeEndsWithinItsTimeLimit) {
    struct Case {
        const char* what;
        uint64_t sendMs, readMs;  // the clock moves so much as each step begins
        std::size_t bytes;
        uint32_t result;
        std::vector<uint32_t> limits;
    };
    constexpr uint32_t kLimit = kExchangeLimitMs;
    const Case cases[] = {
        {"answered in time", 1000, 0, 10, kPostOk, {kLimit}},
        {"the last byte just in time", 0, 1000, 299, kPostOk, {kLimit}},  // the end of the body at 300 s
        {"a byte at the limit", 0, 1000, 300, kPostTimedOut, {kLimit}},
        {"the answer to the request comes too late", kLimit, 0, 10, kPostTimedOut, {kLimit}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake::ClearLog(fp);
        net.requests.clear();
        fake::Exchange e;
        e.body = std::string(c.bytes, 'a');
        e.readChunk = 1;
        e.onSend = [&] { fp.processes.tick += c.sendMs; };
        e.onRead = [&] { fp.processes.tick += c.readMs; };
        net.script.push_back(e);
        CHttpWrapper http;
        http.SetTimeLimit(kLimit);
        http.AddPostArgument(u"A", u"1");
        std::u16string out;
        EXPECT_EQ(http.PostUrl(kUrl, out), c.result);
        ASSERT_EQ(net.requests.size(), 1u);
        EXPECT_EQ(net.requests[0].timeLimits, c.limits);
        EXPECT_EQ(fake::LogHasLine(fp, u"WAR Exchange with uptide.brindle.example given up: no answer within 300 s"),
                  c.result == kPostTimedOut);
    }
}

// The retry over http shares the one budget; without time left it is not even tried.
TEST_F(HttpTest, TheRetryGetsWhatIsLeft) {
    ProgramInfo info;
    info.ProgramName = u"PhotoStudio";
    TiXmlDocument doc;
    doc.LinkEndChild(new TiXmlElement("R"));
    struct Case { uint64_t firstMs; std::size_t requests; std::vector<uint32_t> retryLimits; uint32_t result; };
    const Case cases[] = {
        {200000, 2, {100000}, kPostOk},
        {kExchangeLimitMs, 1, {}, kPostTimedOut},
    };
    for (const auto& c : cases) {
        net.requests.clear();
        fake::Exchange refused;
        refused.sendError = fake::Thrown(12029, u"cannot connect");
        refused.onSend = [&] { fp.processes.tick += c.firstMs; };
        fake::Exchange answer;
        answer.body = "<string>x</string>";
        net.script = {refused, answer};
        const WebServiceResult r = CallWebService(info, doc, u"/QuickCheck", u"QuickCheckXML");
        EXPECT_EQ(r.Result, c.result) << c.firstMs;
        ASSERT_EQ(net.requests.size(), c.requests) << c.firstMs;
        if (c.requests == 2) {
            EXPECT_EQ(net.requests[1].timeLimits, c.retryLimits);
        }
    }
}
