#include "fakes/FakeInternet.h"

#include <algorithm>
#include <cstring>

namespace fake {

plat::InetError Thrown(uint32_t code, const std::u16string& description) {
    plat::InetError e;
    e.thrown = true;
    e.code = code;
    e.description = description;
    return e;
}

namespace {

class FakeRequest : public plat::HttpRequest {
public:
    FakeRequest(FakeInternet& owner, std::size_t index, const Exchange& exchange)
        : mOwner(owner), mIndex(index), mExchange(exchange) {}

    bool Send(const std::u16string& headers, const std::string& body, plat::InetError& error) override {
        if (mExchange.onSend) mExchange.onSend();
        std::lock_guard<std::mutex> hold(mOwner.guard);
        RecordedRequest& r = Record();
        r.headers = headers;
        r.body = body;
        if (mExchange.sendError.thrown) {
            error = mExchange.sendError;
            return false;
        }
        if (mExchange.sendRefused) return false;
        r.sent = true;
        return true;
    }

    bool QueryStatusCode(uint32_t& status) override {
        std::lock_guard<std::mutex> hold(mOwner.guard);
        Record().statusQueried = true;
        if (mExchange.statusUnreadable) return false;
        status = mExchange.status;
        return true;
    }

    void LimitTime(uint32_t milliseconds) override {
        std::lock_guard<std::mutex> hold(mOwner.guard);
        Record().timeLimits.push_back(milliseconds);
    }

    std::size_t Read(void* buffer, std::size_t size, plat::InetError& error) override {
        if (mExchange.onRead) mExchange.onRead();
        const std::size_t total = mExchange.body.size() + mExchange.fillBytes;
        if (mPos >= mExchange.readFailsAfter && mExchange.readError.thrown) {
            error = mExchange.readError;
            return 0;
        }
        std::size_t n = std::min(size, total - mPos);
        if (mExchange.readChunk) n = std::min(n, mExchange.readChunk);
        if (mExchange.readFailsAfter != std::string::npos) n = std::min(n, mExchange.readFailsAfter - mPos);
        char* out = static_cast<char*>(buffer);
        for (std::size_t i = 0; i < n; ++i) {
            std::size_t at = mPos + i;
            out[i] = at < mExchange.body.size() ? mExchange.body[at] : mExchange.fillByte;
        }
        mPos += n;
        std::lock_guard<std::mutex> hold(mOwner.guard);
        Record().bytesRead = mPos;
        return n;
    }

private:
    // The caller holds mOwner.guard.
    RecordedRequest& Record() { return mOwner.requests[mIndex]; }
    FakeInternet& mOwner;
    std::size_t mIndex;
    Exchange mExchange;
    std::size_t mPos = 0;
};

class FakeConnection : public plat::HttpConnection {
public:
    FakeConnection(FakeInternet& owner, std::size_t index, const Exchange& exchange)
        : mOwner(owner), mIndex(index), mExchange(exchange) {}

    std::unique_ptr<plat::HttpRequest> OpenRequest(const std::u16string& verb, const std::u16string& object,
                                                   uint32_t flags, plat::InetError& error) override {
        std::lock_guard<std::mutex> hold(mOwner.guard);
        RecordedRequest& r = mOwner.requests[mIndex];
        r.verb = verb;
        r.object = object;
        r.flags = flags;
        if (mExchange.openError.thrown) {
            error = mExchange.openError;
            return nullptr;
        }
        if (mExchange.openRefused) return nullptr;
        r.opened = true;
        return std::make_unique<FakeRequest>(mOwner, mIndex, mExchange);
    }

private:
    FakeInternet& mOwner;
    std::size_t mIndex;
    Exchange mExchange;
};

class FakeSession : public plat::InternetSession {
public:
    explicit FakeSession(FakeInternet& owner) : mOwner(owner) {}
    ~FakeSession() override { ++mOwner.sessionsClosed; }

    std::unique_ptr<plat::HttpConnection> Connect(const std::u16string& server, bool secure,
                                                  plat::InetError& error) override {
        std::unique_lock<std::mutex> hold(mOwner.guard);
        Exchange exchange = mOwner.NextExchange();
        RecordedRequest r;
        r.server = server;
        r.secure = secure;
        mOwner.requests.push_back(r);
        const std::size_t index = mOwner.requests.size() - 1;
        hold.unlock();
        if (exchange.connectError.thrown) {
            error = exchange.connectError;
            return nullptr;
        }
        if (exchange.connectRefused) return nullptr;
        return std::make_unique<FakeConnection>(mOwner, index, exchange);
    }

private:
    FakeInternet& mOwner;
};

}  // namespace

Exchange FakeInternet::NextExchange() {
    if (script.empty()) return fallback;
    Exchange e = script.front();
    script.pop_front();
    return e;
}

std::unique_ptr<plat::InternetSession> FakeInternet::OpenSession(const std::u16string& agent, plat::InetError& error) {
    std::lock_guard<std::mutex> hold(guard);
    agents.push_back(agent);
    if (sessionFails) {
        error = sessionError;
        return nullptr;
    }
    return std::make_unique<FakeSession>(*this);
}

int32_t FakeInternet::CoInitialize() {
    ++coInitialized;
    return coInitializeResult;
}

int32_t FakeInternet::DownloadToFile(const std::u16string& url, const std::u16string& path,
                                     plat::DownloadProgress* progress) {
    {
        std::lock_guard<std::mutex> hold(guard);
        downloads.push_back({url, path});
    }
    return downloadHandler ? downloadHandler(url, path, progress) : 0;
}

}  // namespace fake
