#include "platform/win32/Win32Platform.h"

#include <urlmon.h>

#include "platform/win32/Win32Libraries.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace plat::win32 {

namespace {

// WinINet and urlmon are no protected system DLLs: taken from the system directory on
// first use, never by a search that would find a namesake beside the program.
constexpr wchar_t kWinInet[] = L"wininet.dll";

struct WinInetApi {
    using Open = HINTERNET(WINAPI*)(LPCWSTR, DWORD, LPCWSTR, LPCWSTR, DWORD);
    using Connect = HINTERNET(WINAPI*)(HINTERNET, LPCWSTR, INTERNET_PORT, LPCWSTR, LPCWSTR, DWORD, DWORD,
                                       DWORD_PTR);
    using OpenRequest = HINTERNET(WINAPI*)(HINTERNET, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR*, DWORD,
                                           DWORD_PTR);
    using SendRequest = BOOL(WINAPI*)(HINTERNET, LPCWSTR, DWORD, LPVOID, DWORD);
    using QueryInfo = BOOL(WINAPI*)(HINTERNET, DWORD, LPVOID, LPDWORD, LPDWORD);
    using ReadFile = BOOL(WINAPI*)(HINTERNET, LPVOID, DWORD, LPDWORD);
    using CloseHandle = BOOL(WINAPI*)(HINTERNET);
    using SetOption = BOOL(WINAPI*)(HINTERNET, DWORD, LPVOID, DWORD);
    using ConnectedState = BOOL(WINAPI*)(LPDWORD, DWORD);
    using DeleteCacheEntry = BOOL(WINAPI*)(LPCWSTR);
    using LastResponseInfo = BOOL(WINAPI*)(LPDWORD, LPWSTR, LPDWORD);

    HMODULE module = SystemLibrary(kWinInet);  // its message table describes its errors
    SystemProc<Open> open{kWinInet, "InternetOpenW"};
    SystemProc<Connect> connect{kWinInet, "InternetConnectW"};
    SystemProc<OpenRequest> openRequest{kWinInet, "HttpOpenRequestW"};
    SystemProc<SendRequest> sendRequest{kWinInet, "HttpSendRequestW"};
    SystemProc<QueryInfo> queryInfo{kWinInet, "HttpQueryInfoW"};
    SystemProc<ReadFile> readFile{kWinInet, "InternetReadFile"};
    SystemProc<CloseHandle> closeHandle{kWinInet, "InternetCloseHandle"};
    SystemProc<SetOption> setOption{kWinInet, "InternetSetOptionW"};
    SystemProc<ConnectedState> connectedState{kWinInet, "InternetGetConnectedState"};
    SystemProc<DeleteCacheEntry> deleteCacheEntry{kWinInet, "DeleteUrlCacheEntryW"};
    SystemProc<LastResponseInfo> lastResponseInfo{kWinInet, "InternetGetLastResponseInfoW"};
};

const WinInetApi& WinInet() {
    static const WinInetApi api;
    return api;
}

using DownloadToFileFn = HRESULT(WINAPI*)(LPUNKNOWN, LPCWSTR, LPCWSTR, DWORD, LPBINDSTATUSCALLBACK);

const SystemProc<DownloadToFileFn>& UrlDownloadToFile() {
    static const SystemProc<DownloadToFileFn> fn{L"urlmon.dll", "URLDownloadToFileW"};
    return fn;
}

// A timer-queue timer per deadline that no dialog loop watches.
class QueueTimers : public Deadlines::Timers {
public:
    uint64_t Arm(uint32_t ms, Deadlines::Stop stop) override {
        auto* armed = new Armed{nullptr, std::move(stop)};
        if (!::CreateTimerQueueTimer(&armed->timer, nullptr, &QueueTimers::Fire, armed, ms, 0, WT_EXECUTEONLYONCE)) {
            delete armed;
            return 0;
        }
        return reinterpret_cast<uintptr_t>(armed);
    }
    void Disarm(uint64_t timer) override {
        auto* armed = reinterpret_cast<Armed*>(static_cast<uintptr_t>(timer));
        ::DeleteTimerQueueTimer(nullptr, armed->timer, INVALID_HANDLE_VALUE);
        delete armed;
    }

private:
    struct Armed {
        HANDLE timer;
        Deadlines::Stop stop;
    };
    static void CALLBACK Fire(void* armed, BOOLEAN) { static_cast<Armed*>(armed)->stop(); }
};

}  // namespace

Deadlines& RequestDeadlines() {
    static QueueTimers* const timers = new QueueTimers;
    static Deadlines* const deadlines = new Deadlines(*timers);
    return *deadlines;
}

namespace {

// An Internet handle shared by its children, so that a connection or session
// is closed only after every request opened from it, whatever the order in
// which the caller drops them.
class InetHandle {
public:
    explicit InetHandle(HINTERNET h) : mHandle(h) {}
    ~InetHandle() { Close(); }
    InetHandle(const InetHandle&) = delete;
    InetHandle& operator=(const InetHandle&) = delete;
    HINTERNET Get() const { return mHandle; }
    // Once only, from whichever thread comes first: closing a request ends a step
    // under way on it.
    void Close() {
        std::lock_guard<std::mutex> guard(mLock);
        if (mClosed) return;
        mClosed = true;
        WinInet().closeHandle.Call(FALSE, mHandle);
    }

private:
    HINTERNET mHandle;
    std::mutex mLock;
    bool mClosed = false;
};
using SharedHandle = std::shared_ptr<InetHandle>;

void Fail(InetError& error) { FillInetError(::GetLastError(), error); }

class Win32HttpRequest : public HttpRequest {
public:
    Win32HttpRequest(SharedHandle connection, HINTERNET request)
        : mConnection(std::move(connection)), mRequest(std::make_shared<InetHandle>(request)) {}
    ~Win32HttpRequest() override {
        if (mWatch) RequestDeadlines().Unwatch(mWatch);
    }
    Win32HttpRequest(const Win32HttpRequest&) = delete;
    Win32HttpRequest& operator=(const Win32HttpRequest&) = delete;

    void LimitTime(uint32_t milliseconds) override {
        DWORD ms = milliseconds == 0 ? 1 : milliseconds;
        for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                             INTERNET_OPTION_RECEIVE_TIMEOUT})
            WinInet().setOption.Call(FALSE, mRequest->Get(), option, &ms, static_cast<DWORD>(sizeof ms));
        // The waits above restart with every byte: a server that drips its answer is
        // stopped by closing the request when the time is up.
        if (mWatch) RequestDeadlines().Unwatch(mWatch);
        mWatch = RequestDeadlines().Watch(ms, [request = mRequest] { request->Close(); });
    }

    bool Send(const std::u16string& headers, const std::string& body, InetError& error) override {
        BOOL ok = WinInet().sendRequest.Call(FALSE, mRequest->Get(), headers.empty() ? nullptr : W(headers),
                                             static_cast<DWORD>(headers.size()),
                                             body.empty() ? nullptr : const_cast<char*>(body.data()),
                                             static_cast<DWORD>(body.size()));
        if (!ok) Fail(error);
        return ok != FALSE;
    }

    bool QueryStatusCode(uint32_t& status) override {
        DWORD code = 0, len = sizeof code;
        if (!WinInet().queryInfo.Call(FALSE, mRequest->Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code,
                                      &len, nullptr))
            return false;
        // Wine answers 0 for a request that got no response (never sent, or
        // failed); Windows fails the query. No server sends status 0.
        if (code == 0) {
            ::SetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
            return false;
        }
        status = code;
        return true;
    }

    std::size_t Read(void* buffer, std::size_t size, InetError& error) override {
        DWORD got = 0;
        DWORD want = size > 0x7fffffff ? 0x7fffffff : static_cast<DWORD>(size);
        if (!WinInet().readFile.Call(FALSE, mRequest->Get(), buffer, want, &got)) {
            Fail(error);
            return 0;
        }
        return got;
    }

private:
    SharedHandle mConnection;  // kept open while the request lives
    SharedHandle mRequest;
    uint64_t mWatch = 0;
};

class Win32HttpConnection : public HttpConnection {
public:
    Win32HttpConnection(SharedHandle session, HINTERNET connection)
        : mSession(std::move(session)), mConnection(std::make_shared<InetHandle>(connection)) {}

    std::unique_ptr<HttpRequest> OpenRequest(const std::u16string& verb, const std::u16string& object, uint32_t flags,
                                             InetError& error) override {
        HINTERNET h = WinInet().openRequest.Call(nullptr, mConnection->Get(), W(verb), W(object), nullptr, nullptr,
                                                 nullptr, flags, 1);
        if (!h) {
            Fail(error);
            return nullptr;
        }
        return std::make_unique<Win32HttpRequest>(mConnection, h);
    }

private:
    SharedHandle mSession;
    SharedHandle mConnection;
};

class Win32InternetSession : public InternetSession {
public:
    explicit Win32InternetSession(HINTERNET session) : mSession(std::make_shared<InetHandle>(session)) {}

    std::unique_ptr<HttpConnection> Connect(const std::u16string& server, bool secure, InetError& error) override {
        std::u16string host;
        uint16_t port = 0;
        SplitServer(server, host, port);
        if (!port) port = secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
        HINTERNET h = WinInet().connect.Call(nullptr, mSession->Get(), W(host), port, nullptr, nullptr,
                                             INTERNET_SERVICE_HTTP, secure ? INTERNET_FLAG_SECURE : 0, 1);
        if (!h) {
            Fail(error);
            return nullptr;
        }
        return std::make_unique<Win32HttpConnection>(mSession, h);
    }

private:
    SharedHandle mSession;
};

// One download, shared by the caller and the thread that runs it: a caller that
// gives up leaves the thread behind, and whichever of the two comes last removes
// the partial file.
struct DownloadJob {
    std::wstring url;
    std::wstring partPath;            // the file is written here, then moved to the target
    std::mutex lock;
    DownloadProgress* progress;       // null once the caller has given up (guarded by lock)
    bool abandoned = false;           // guarded by lock
    bool finished = false;            // guarded by lock
    HRESULT result = E_FAIL;
    HRESULT stopResult = S_OK;
    DWORD httpStatus = 0;             // 0: no HTTP response seen
};

// Bind-status callback for URLDownloadToFileW. It lives on the download
// thread's stack for the one synchronous download, so reference counting is
// not needed. Besides forwarding progress it answers IHttpNegotiate to learn
// the HTTP status, because urlmon (Wine's at least) reports success for an
// error page and saves it as the file.
class DownloadStatus : public IBindStatusCallback, public IHttpNegotiate {
public:
    explicit DownloadStatus(DownloadJob& job) : mJob(job) {}
    virtual ~DownloadStatus() = default;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == __uuidof(IUnknown) || riid == __uuidof(IBindStatusCallback)) {
            *ppv = static_cast<IBindStatusCallback*>(this);
            return S_OK;
        }
        if (riid == __uuidof(IHttpNegotiate)) {
            *ppv = static_cast<IHttpNegotiate*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 0; }
    STDMETHODIMP_(ULONG) Release() override { return 0; }  // never freed through it

    // IBindStatusCallback
    STDMETHODIMP OnStartBinding(DWORD, IBinding*) override { return E_NOTIMPL; }
    STDMETHODIMP GetPriority(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP OnLowResource(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode, LPCWSTR statusText) override {
        std::lock_guard<std::mutex> hold(mJob.lock);
        if (mJob.abandoned) return E_ABORT;
        if (!mJob.progress) return S_OK;
        return mJob.progress->OnProgress(progress, progressMax, statusCode, U16(statusText));
    }
    STDMETHODIMP OnStopBinding(HRESULT hresult, LPCWSTR) override {
        mJob.stopResult = hresult;
        return S_OK;
    }
    STDMETHODIMP GetBindInfo(DWORD*, BINDINFO*) override { return E_NOTIMPL; }
    STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return E_NOTIMPL; }

    // IHttpNegotiate
    STDMETHODIMP BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* additionalHeaders) override {
        if (additionalHeaders) *additionalHeaders = nullptr;
        return S_OK;
    }
    STDMETHODIMP OnResponse(DWORD responseCode, LPCWSTR, LPCWSTR, LPWSTR* additionalRequestHeaders) override {
        mJob.httpStatus = responseCode;
        if (additionalRequestHeaders) *additionalRequestHeaders = nullptr;
        return S_OK;
    }

private:
    DownloadJob& mJob;
};

DWORD WINAPI DownloadThread(LPVOID param) {
    std::unique_ptr<std::shared_ptr<DownloadJob>> owner(static_cast<std::shared_ptr<DownloadJob>*>(param));
    DownloadJob& job = **owner;
    const HRESULT com = late::CoInitialize(nullptr);
    DownloadStatus status(job);
    const auto& download = UrlDownloadToFile();
    job.result = download.Call(HRESULT_FROM_WIN32(download.Error()), nullptr, job.url.c_str(), job.partPath.c_str(),
                               0, &status);
    if (SUCCEEDED(com)) late::CoUninitialize();
    std::lock_guard<std::mutex> hold(job.lock);
    job.finished = true;
    if (job.abandoned) ::DeleteFileW(job.partPath.c_str());
    return 0;
}

// The download's outcome once its thread has ended: the file moved into place, or
// nothing left behind.
HRESULT Finish(DownloadJob& job, const std::wstring& target) {
    HRESULT hr = job.result;
    if (SUCCEEDED(hr) && FAILED(job.stopResult)) hr = job.stopResult;
    // An error page is not the file that was asked for.
    if (SUCCEEDED(hr) && job.httpStatus >= 400)
        hr = job.httpStatus == 404 || job.httpStatus == 410 ? INET_E_OBJECT_NOT_FOUND : INET_E_DOWNLOAD_FAILURE;
    if (SUCCEEDED(hr)) {
        DWORD attributes = ::GetFileAttributesW(job.partPath.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            DWORD err = ::GetLastError();
            return err ? HRESULT_FROM_WIN32(err) : E_FAIL;
        }
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
        if (::MoveFileExW(job.partPath.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return hr;
        DWORD err = ::GetLastError();
        hr = err ? HRESULT_FROM_WIN32(err) : E_FAIL;
    }
    ::DeleteFileW(job.partPath.c_str());
    return hr;
}

}  // namespace

void SplitServer(const std::u16string& server, std::u16string& host, uint16_t& port) {
    host = server;
    port = 0;
    std::size_t colon = server.rfind(u':');
    if (colon == std::u16string::npos) return;
    std::size_t bracket = server.rfind(u']');
    // A bare IPv6 address has colons but no port.
    if (bracket == std::u16string::npos ? server.find(u':') != colon : colon < bracket) return;
    std::u16string digits = server.substr(colon + 1);
    if (digits.empty() || digits.size() > 5) return;
    uint32_t value = 0;
    for (char16_t c : digits) {
        if (c < u'0' || c > u'9') return;
        value = value * 10 + (c - u'0');
    }
    if (value == 0 || value > 65535) return;
    host = server.substr(0, colon);
    if (host.size() >= 2 && host.front() == u'[' && host.back() == u']') host = host.substr(1, host.size() - 2);
    port = static_cast<uint16_t>(value);
}

// Texts for WinINet errors that some WinINet builds (Wine's) have no message for.
static std::u16string KnownInetText(uint32_t code) {
    switch (code) {
    case ERROR_INTERNET_EXTENDED_ERROR: return u"An extended error was returned from the server.\r\n";
    case ERROR_INTERNET_CONNECTION_RESET: return u"The connection with the server has been reset.\r\n";
    case ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED: return u"The server is requesting client authentication.\r\n";
    case ERROR_INTERNET_INVALID_CA: return u"The certificate authority is invalid or incorrect.\r\n";
    case ERROR_INTERNET_SEC_CERT_ERRORS: return u"The SSL certificate contains errors.\r\n";
    case ERROR_INTERNET_SEC_CERT_REV_FAILED: return u"The revocation check of the SSL certificate failed.\r\n";
    case ERROR_HTTP_INVALID_SERVER_RESPONSE: return u"The server response could not be parsed.\r\n";
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR: return u"An error occurred in the secure channel support.\r\n";
    case ERROR_INTERNET_SEC_INVALID_CERT: return u"The SSL certificate is invalid.\r\n";
    case ERROR_INTERNET_SEC_CERT_REVOKED: return u"The SSL certificate was revoked.\r\n";
    default: return {};
    }
}

void FillInetError(uint32_t code, InetError& error) {
    error.thrown = true;
    error.code = code;
    // The WinINet message table first, then the system's, as the framework does.
    const WinInetApi& inet = WinInet();
    std::u16string text = FormatMessageText(code, inet.module);
    if (text.empty()) text = FormatMessageText(code, nullptr);
    if (text.empty()) text = KnownInetText(code);
    if (code == ERROR_INTERNET_EXTENDED_ERROR && !text.empty()) {
        DWORD detailCode = 0, len = 0;
        if (!inet.lastResponseInfo.Call(FALSE, &detailCode, nullptr, &len) &&
            ::GetLastError() == ERROR_INSUFFICIENT_BUFFER && len) {
            std::wstring detail(len + 1, L'\0');
            if (inet.lastResponseInfo.Call(FALSE, &detailCode, &detail[0], &len))
                text += u"\r\n" + U16(detail.c_str(), wcsnlen(detail.c_str(), detail.size()));
        }
    }
    error.description = text;
    // The failure stays the thread's last error, as after the framework's exception.
    ::SetLastError(code);
}

std::unique_ptr<InternetSession> Win32Internet::OpenSession(const std::u16string& agent, InetError& error) {
    HINTERNET h = WinInet().open.Call(nullptr, W(agent), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!h) {
        Fail(error);
        return nullptr;
    }
    return std::make_unique<Win32InternetSession>(h);
}

bool Win32Internet::IsConnected() {
    DWORD flags = 0;
    return WinInet().connectedState.Call(FALSE, &flags, 0) != FALSE;
}

int32_t Win32Internet::CoInitialize() { return late::CoInitialize(nullptr); }
void Win32Internet::CoUninitialize() { late::CoUninitialize(); }
void Win32Internet::DropUrlCacheEntry(const std::u16string& url) { WinInet().deleteCacheEntry.Call(FALSE, W(url)); }

int32_t Win32Internet::DownloadToFile(const std::u16string& url, const std::u16string& path,
                                      DownloadProgress* progress) {
    static std::atomic<unsigned> counter{0};
    auto job = std::make_shared<DownloadJob>();
    job->url.assign(W(url), url.size());
    const std::wstring target(W(path), path.size());
    // A name of its own per download: a thread left behind by an earlier one may still write its file.
    job->partPath = target + L"." + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++counter) +
                    L".part";
    job->progress = progress;

    // The download runs on a thread of its own so that a server that stops sending can be left behind.
    auto* arg = new std::shared_ptr<DownloadJob>(job);
    HANDLE thread = ::CreateThread(nullptr, 0, &DownloadThread, arg, 0, nullptr);
    if (!thread) {
        DWORD err = ::GetLastError();
        delete arg;
        return err ? HRESULT_FROM_WIN32(err) : E_FAIL;
    }
    for (;;) {
        DWORD wait = ::WaitForSingleObject(thread, 1000);
        if (wait == WAIT_OBJECT_0) break;
        if (wait == WAIT_FAILED || (progress && progress->ShouldGiveUp())) {
            std::lock_guard<std::mutex> hold(job->lock);
            job->abandoned = true;
            job->progress = nullptr;
            if (job->finished) ::DeleteFileW(job->partPath.c_str());
            ::CloseHandle(thread);
            return E_ABORT;
        }
    }
    ::CloseHandle(thread);
    return Finish(*job, target);
}

}  // namespace plat::win32
