#include "net/HttpWrapper.h"

#include <algorithm>
#include <array>

#include "log/Log.h"
#include "platform/Platform.h"

namespace brut {

namespace {

const char16_t* const kFormHeader = u"Content-Type: application/x-www-form-urlencoded";
constexpr std::size_t kMaxErrorDescription = 1023;
constexpr std::size_t kReadChunk = 4096;

// A platform failure must never read as success.
uint32_t FailureCode(const plat::InetError& error) { return error.code != 0 ? error.code : kPostNotSent; }

// A thrown failure: its description becomes the output and is logged after
// `prefix`; the result is its code.
uint32_t ReportThrown(const plat::InetError& error, const char16_t* prefix, std::u16string& output) {
    output = error.description.substr(0, kMaxErrorDescription);
    LogTextError(prefix + output);
    return FailureCode(error);
}

// One UTF-16 code unit per body byte. Bytes below 0x80 are themselves; the
// others take the ANSI code page's character when that converts back to the
// same single byte, so on single-byte code pages ExtractReplyText gets the
// server's bytes back exactly. Bytes without such a character (DBCS lead
// bytes) keep their value and come back as "?": the service keeps its
// envelope ASCII for that reason.
std::array<char16_t, 256> ByteWidening() {
    std::array<char16_t, 256> table{};
    plat::System& sys = plat::Sys();
    for (int b = 0; b < 256; ++b) {
        table[b] = static_cast<char16_t>(b);
        if (b < 0x80) continue;
        const std::string byte(1, static_cast<char>(b));
        const std::u16string wide = sys.FromAnsi(byte);
        if (wide.size() == 1 && sys.ToAnsi(wide) == byte) table[b] = wide[0];
    }
    return table;
}

}  // namespace

std::u16string AgentName() {
    std::u16string path = plat::Sys().ModulePath();
    std::size_t slash = path.find_last_of(u"\\/");
    std::u16string name = slash == std::u16string::npos ? path : path.substr(slash + 1);
    std::size_t dot = name.rfind(u'.');
    if (dot != std::u16string::npos && dot > 0) name.erase(dot);
    return name.empty() ? std::u16string(u"BRUptide") : name;
}

CHttpWrapper::CHttpWrapper() {
    plat::Internet* internet = plat::Get().internet;
    if (!internet) {
        mSessionError.thrown = true;
        mSessionError.code = kPostNotSent;
        return;
    }
    mSession = internet->OpenSession(AgentName(), mSessionError);
    if (!mSession) {
        mSessionError.thrown = true;
        if (mSessionError.code == 0) mSessionError.code = kPostNotSent;
        plat::Sys().SetLastError(mSessionError.code);
    }
}

CHttpWrapper::~CHttpWrapper() = default;

void CHttpWrapper::SetTimeLimit(uint32_t milliseconds) {
    mStart = plat::Proc().TickCount();
    mLimitMs = milliseconds;
}

uint32_t CHttpWrapper::TimeLeft() const {
    if (mLimitMs == 0) return UINT32_MAX;
    const uint64_t spent = plat::Proc().TickCount() - mStart;
    return spent >= mLimitMs ? 0 : static_cast<uint32_t>(mLimitMs - spent);
}

uint32_t CHttpWrapper::GiveUp(const std::u16string& server) const {
    LogWarning(u"Exchange with %s given up: no answer within %d s", server, static_cast<int>(mLimitMs / 1000));
    return kPostTimedOut;
}

int CHttpWrapper::AddPostArgument(const std::u16string& name, const std::u16string& value) {
    if (!mFormBody.empty()) mFormBody += u"&";
    mFormBody += name;
    mFormBody += u"=";
    mFormBody += UrlEncode(value);
    return 1;
}

uint32_t CHttpWrapper::PostUrl(const std::u16string& url, std::u16string& output) {
    const std::u16string headers = kFormHeader;

    bool secure = false;
    std::u16string server, object;
    ExtractServerAndObject(url, secure, server, object);

    if (!mSession) {
        return ReportThrown(mSessionError, u"no Internet session because: ", output);
    }

    if (TimeLeft() == 0) return GiveUp(server);
    plat::InetError error;
    std::unique_ptr<plat::HttpConnection> connection = mSession->Connect(server, secure, error);
    if (error.thrown) {
        return ReportThrown(error, u"extract server and objects failed because: ", output);
    }
    if (!connection) {
        LogError(u"Can´t get an httpConnection");
        return kPostNotSent;
    }

    uint32_t flags = plat::kInetFlagExistingConnect | (secure ? plat::kInetFlagSecure : 0u);
    error = plat::InetError{};
    std::unique_ptr<plat::HttpRequest> request = connection->OpenRequest(u"POST", object, flags, error);
    if (error.thrown) {
        return ReportThrown(error, u"open request failed because: ", output);
    }
    if (!request) {
        LogError(u"Can´t open Http request.");
        return kPostNotSent;
    }
    // A server that drips its answer must not keep a silent run (and the product
    // waiting for its exit code) alive: whatever a step reports, the limit wins.
    if (mLimitMs != 0) {
        const uint32_t left = TimeLeft();
        if (left == 0) return GiveUp(server);
        request->LimitTime(left);
    }

    if (!mFormBody.empty()) {
        const std::string body = plat::Sys().ToAnsi(mFormBody);
        error = plat::InetError{};
        bool sent = !body.empty() && request->Send(headers, body, error);
        if (TimeLeft() == 0) return GiveUp(server);
        if (error.thrown) {
            uint32_t result = ReportThrown(error, u"send the request failed because: ", output);
            LogTextError(output);
            return result;
        }
        if (!sent) {
            LogError(u"Can´t send request.");
            return kPostNotSent;
        }
    }

    uint32_t status = 0;
    if (!request->QueryStatusCode(status)) {
        LogError(u"Can´t read status code.");
        return kPostNoStatus;
    }
    // Results share their range with the statuses: a "status" such as 0, 1 or
    // 12029 would read as success, a refused step or a WinINet failure.
    if (status < kFirstHttpStatus || status > kLastHttpStatus) {
        LogError(u"Can´t read status code: %u is no HTTP status.", status);
        return kPostNoStatus;
    }
    if (status != 200) return status;

    output.clear();
    const std::array<char16_t, 256> widen = ByteWidening();
    std::u16string body;
    char buffer[kReadChunk];
    for (;;) {
        error = plat::InetError{};
        std::size_t got = request->Read(buffer, sizeof buffer, error);
        if (got == 0 && !error.thrown) break;  // the whole answer, if only just in time
        if (TimeLeft() == 0) return GiveUp(server);
        if (error.thrown) {
            return ReportThrown(error, u"read the response failed because: ", output);
        }
        got = std::min(got, sizeof buffer);
        if (body.size() + got > kMaxReplyBytes) {
            LogError(u"Reply body larger than %d bytes: not read", static_cast<uint32_t>(kMaxReplyBytes));
            return kPostBodyTooLarge;
        }
        for (std::size_t i = 0; i < got; ++i) body += widen[static_cast<unsigned char>(buffer[i])];
    }
    output.swap(body);
    return kPostOk;
}

void ExtractServerAndObject(const std::u16string& url, bool& secure, std::u16string& server,
                            std::u16string& object) {
    std::u16string rest = url;
    secure = false;
    if (StartsWith(rest, u"https://")) {
        rest.erase(0, 8);
        secure = true;
    } else if (StartsWith(rest, u"http://")) {
        rest.erase(0, 7);
    }
    std::size_t slash = rest.find(u'/');
    if (slash == std::u16string::npos) {
        server = rest;
        object.clear();
    } else {
        server = rest.substr(0, slash);
        object = rest.substr(slash + 1);
    }
}

std::u16string UrlEncode(const std::u16string& text) {
    static const char16_t kHex[] = u"0123456789abcdef";
    std::u16string out;
    out.reserve(text.size() * 3);
    for (char16_t c : text) {
        if ((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z')) {
            out += c;
        } else if (c == u' ') {
            out += u'+';
        } else {
            out += u'%';
            char16_t digits[4];
            int n = 0;
            unsigned v = c;
            do {
                digits[n++] = kHex[v & 0xF];
                v >>= 4;
            } while (v != 0);
            if (n < 2) digits[n++] = u'0';
            while (n > 0) out += digits[--n];
        }
    }
    return out;
}

}  // namespace brut
