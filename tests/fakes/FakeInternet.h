#pragma once
// Scripted Windows Internet API: one exchange per connection, every request
// recorded, failures (thrown or plain) injected per step.
#include <cstddef>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace fake {

// A failure the framework would throw (CInternetException).
plat::InetError Thrown(uint32_t code, const std::u16string& description);

// What the server side does for one POST, step by step.
struct Exchange {
    bool connectRefused = false;     // Connect returns null
    plat::InetError connectError;    // thrown when .thrown
    bool openRefused = false;
    plat::InetError openError;
    bool sendRefused = false;
    plat::InetError sendError;
    bool statusUnreadable = false;
    uint32_t status = 200;
    std::string body;
    std::size_t readChunk = 0;       // bytes per Read at most (0: as many as asked)
    // After this many body bytes the next Read fails with readError (npos: never).
    std::size_t readFailsAfter = std::string::npos;
    plat::InetError readError;
    // A body of this many extra bytes of `fillByte` after `body`, produced on the fly.
    std::size_t fillBytes = 0;
    char fillByte = 'x';
    // Run as the step begins (e.g. to move the clock: the server takes its time).
    std::function<void()> onSend, onRead;
};

// One request as the client made it.
struct RecordedRequest {
    std::u16string server;
    bool secure = false;
    bool opened = false;
    std::u16string verb;
    std::u16string object;
    uint32_t flags = 0;
    bool sent = false;
    std::u16string headers;
    std::string body;
    bool statusQueried = false;
    std::size_t bytesRead = 0;
    std::vector<uint32_t> timeLimits;  // every LimitTime, in order
};

class FakeInternet : public plat::Internet {
public:
    std::unique_ptr<plat::InternetSession> OpenSession(const std::u16string& agent, plat::InetError& error) override;
    bool IsConnected() override { return connected; }
    int32_t CoInitialize() override;
    void CoUninitialize() override { ++coUninitialized; }
    void DropUrlCacheEntry(const std::u16string& url) override { deletedCacheEntries.push_back(url); }
    int32_t DownloadToFile(const std::u16string& url, const std::u16string& path,
                           plat::DownloadProgress* progress) override;

    // Session
    bool sessionFails = false;
    plat::InetError sessionError;
    std::vector<std::u16string> agents;
    std::atomic<int> sessionsClosed{0};

    bool connected = true;

    // Each connection takes the next exchange; when none is left, `fallback`.
    std::deque<Exchange> script;
    Exchange fallback;
    std::deque<RecordedRequest> requests;

    // Downloads: the handler decides (default: S_OK); every call is recorded.
    struct Download { std::u16string url, path; };
    std::vector<Download> downloads;
    std::function<int32_t(const std::u16string& url, const std::u16string& path, plat::DownloadProgress*)> downloadHandler;
    int32_t coInitializeResult = 0;
    std::atomic<int> coInitialized{0};
    std::atomic<int> coUninitialized{0};
    std::vector<std::u16string> deletedCacheEntries;

    // Used by the session objects.
    Exchange NextExchange();
    // Report and hand-off threads post at the same time: the recording above is
    // guarded by this; read it once the threads have ended.
    std::mutex guard;
};

}  // namespace fake
