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
    // Every later step of this request ends once `milliseconds` have passed from now:
    // its waits are limited to what is left, and the request is closed when the time
    // is up (a step under way then fails).
    virtual void LimitTime(uint32_t milliseconds) = 0;
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

// What a download reports while it runs (IBindStatusCallback::OnProgress).
constexpr uint32_t kBindStatusRedirecting = 3;
constexpr uint32_t kBindStatusBeginDownloadData = 4;
constexpr uint32_t kBindStatusDownloadingData = 5;
constexpr uint32_t kBindStatusEndDownloadData = 6;

class DownloadProgress {
public:
    virtual ~DownloadProgress() = default;
    // On the downloading thread, once per report of the platform: kSOk goes on,
    // anything else aborts the download. `statusText` is the new address when redirecting.
    virtual int32_t OnProgress(uint32_t progress, uint32_t progressMax, uint32_t statusCode,
                               const std::u16string& statusText) = 0;
    // Asked about once a second on the calling thread while the download runs:
    // true gives the download up at once.
    virtual bool ShouldGiveUp() { return false; }
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
    // An HTTP error status fails it; on any failure nothing is left at `path`.
    virtual int32_t DownloadToFile(const std::u16string& url, const std::u16string& path,
                                   DownloadProgress* progress) = 0;
};

}  // namespace plat
