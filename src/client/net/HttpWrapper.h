#pragma once
// Form POSTs to the update service over the platform's Internet session.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Internet.h"

namespace brut {

// PostUrl results besides HTTP statuses and WinINet codes.
constexpr uint32_t kPostOk = 0;
constexpr uint32_t kPostNotSent = 1;        // no connection, no request, or not sent
constexpr uint32_t kPostNoStatus = 2;       // the status code could not be read
constexpr uint32_t kPostBodyTooLarge = 3;   // the body exceeded kMaxReplyBytes
constexpr uint32_t kPostTimedOut = 4;       // the time limit passed first
constexpr std::size_t kMaxReplyBytes = 1024u * 1024u;  // real replies are a few hundred bytes
// The statuses HTTP defines; anything else reads as kPostNoStatus.
constexpr uint32_t kFirstHttpStatus = 100;
constexpr uint32_t kLastHttpStatus = 599;

class CHttpWrapper {
public:
    // Opens the session with the executable's base name as agent. A failure is
    // remembered (and left as the thread's last error); PostUrl then fails.
    CHttpWrapper();
    virtual ~CHttpWrapper();
    CHttpWrapper(const CHttpWrapper&) = delete;
    CHttpWrapper& operator=(const CHttpWrapper&) = delete;

    int AddPostArgument(const std::u16string& name, const std::u16string& value);
    // From now on, the posts of this wrapper together end within `milliseconds`.
    void SetTimeLimit(uint32_t milliseconds);
    // 0 with the body in `output`; 1, 2, 3, an HTTP status (100-599) or a WinINet code otherwise.
    uint32_t PostUrl(const std::u16string& url, std::u16string& output);

    const std::u16string& FormBody() const { return mFormBody; }

private:
    uint32_t TimeLeft() const;  // UINT32_MAX without a limit
    uint32_t GiveUp(const std::u16string& server) const;

    std::unique_ptr<plat::InternetSession> mSession;
    plat::InetError mSessionError;
    std::u16string mFormBody;
    uint64_t mStart = 0;
    uint32_t mLimitMs = 0;  // 0: none
};

// Splits "https://host[:port]/path" into the secure flag, server and object path.
void ExtractServerAndObject(const std::u16string& url, bool& secure, std::u16string& server,
                            std::u16string& object);
// Form encoding per UTF-16 code unit: alphanumerics kept, blank -> "+", else "%" + hex.
std::u16string UrlEncode(const std::u16string& text);

// The session agent: the executable's base name.
std::u16string AgentName();

}  // namespace brut
