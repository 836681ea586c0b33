#pragma once
// The Windows Internet API as the HTTP client uses it. A failing step that the
// framework would throw as CInternetException reports it through `InetError`.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace plat {

struct InetError {
    bool thrown = false;
    uint32_t code = 0;            // m_dwError, e.g. 12029
    std::u16string description;   // GetErrorMessage
};

constexpr uint32_t kInetFlagSecure = 0x00800000;
constexpr uint32_t kInetFlagExistingConnect = 0x20000000;

class HttpRequest {
public:
    virtual ~HttpRequest() = default;
    // HttpSendRequest with headers and body (no terminating zero); false when refused.
    virtual bool Send(const std::u16string& headers, const std::string& body, InetError& error) = 0;
    virtual bool QueryStatusCode(uint32_t& status) = 0;
    // InternetReadFile: bytes read, 0 at the end of the body.
    virtual std::size_t Read(void* buffer, std::size_t size, InetError& error) = 0;
};

class HttpConnection {
public:
    virtual ~HttpConnection() = default;
    virtual std::unique_ptr<HttpRequest> OpenRequest(const std::u16string& verb, const std::u16string& object,
                                                     uint32_t flags, InetError& error) = 0;
};

class InternetSession {
public:
    virtual ~InternetSession() = default;
    // Connection to `server` (host, optionally ":port") on the scheme's default port.
    virtual std::unique_ptr<HttpConnection> Connect(const std::u16string& server, bool secure,
                                                    InetError& error) = 0;
};

// Cache-bypassing download of a URL into a file (URLDownloadToFileW and friends).
class DownloadProgress {
public:
    virtual ~DownloadProgress() = default;
    virtual void OnProgress(uint32_t progress, uint32_t progressMax, uint32_t statusCode) = 0;
};

class Internet {
public:
    virtual ~Internet() = default;
    // InternetOpen with the preconfigured settings; null (and `error`) when it fails.
    virtual std::unique_ptr<InternetSession> OpenSession(const std::u16string& agent, InetError& error) = 0;
    virtual bool IsConnected() = 0;  // InternetGetConnectedState
    // Per-thread COM set-up around downloads: HRESULTs.
    virtual int32_t CoInitialize() = 0;
    virtual void CoUninitialize() = 0;
    virtual void DropUrlCacheEntry(const std::u16string& url) = 0;
    // URLDownloadToFileW semantics plus a check that the file really arrived: HRESULT.
    virtual int32_t DownloadToFile(const std::u16string& url, const std::u16string& path,
                                   DownloadProgress* progress) = 0;
};

}  // namespace plat
