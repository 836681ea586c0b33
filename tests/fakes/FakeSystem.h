#pragma once
// In-memory files, system facts and version resources.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fakes/FakeLock.h"
#include "platform/Platform.h"

namespace fake {

class FakeFiles : public plat::Files {
public:
    uint32_t MakeDirectory(const std::u16string& path) override;
    plat::FileHandle OpenAppend(const std::u16string& path, bool writeThrough) override;
    bool Write(plat::FileHandle file, const void* data, std::size_t size) override;
    void Flush(plat::FileHandle file) override;
    void Close(plat::FileHandle file) override;
    bool ReadPrefix(const std::u16string& path, std::size_t maxBytes, std::string& bytes) override;
    bool CanOpenForReading(const std::u16string& path) override;
    uint32_t RemoveFile(const std::u16string& path) override;
    uint32_t RenameFile(const std::u16string& from, const std::u16string& to) override;
    bool GetLastAccessTime(const std::u16string& path, plat::DateTime& utc) override;
    uint32_t FindFiles(const std::u16string& directory, const std::u16string& pattern,
                       std::vector<std::u16string>& names) override;

    // Paths compare case-insensitively (ASCII), as on Windows.
    void AddFile(const std::u16string& path, const std::string& bytes, plat::DateTime accessUtc = {});
    bool HasFile(const std::u16string& path) const;
    bool HasDirectory(const std::u16string& path) const;
    std::string Contents(const std::u16string& path) const;
    std::vector<std::u16string> FilesIn(const std::u16string& directoryPrefix) const;
    void AddDirectory(const std::u16string& path);

    // Failure injection: MakeDirectory of these paths returns the code.
    std::map<std::u16string, uint32_t> createDirectoryErrors;
    std::set<std::u16string> undeletable;  // RemoveFile answers kErrAccessDenied
    std::set<std::u16string> unopenable;   // OpenAppend/ReadPrefix/CanOpenForReading fail
    uint32_t findError = 0;                // FindFiles answers this
    // Directories must exist before files can be created in them (false: any path works).
    bool requireParentDirectory = true;
    std::vector<std::u16string> createdDirectories;
    int flushes = 0;
    bool lastOpenWriteThrough = false;

private:
    FakeLock mGuard;  // the platform operations above, for tests with real threads
    struct File { std::u16string path; std::string bytes; plat::DateTime access; };
    static std::u16string Key(const std::u16string& p);
    static std::u16string Parent(const std::u16string& p);
    std::map<std::u16string, File> mFiles;
    std::set<std::u16string> mDirs;
    std::map<plat::FileHandle, std::u16string> mOpen;
    plat::FileHandle mNext = 1;
};

class FakeSystem : public plat::System {
public:
    FakeSystem() = default;
    FakeSystem(const FakeSystem&) = delete;
    FakeSystem& operator=(const FakeSystem&) = delete;
    ~FakeSystem() override { JoinThreads(); }

    std::u16string TempPath() override { return tempPath; }
    std::u16string ModulePath() override { return modulePath; }
    std::u16string CommandLine() override { return commandLine; }
    uint32_t ProcessId() override { return processId; }
    uint32_t ThreadId() override { return threadId; }
    uint32_t LastError() override { return lastError; }
    void SetLastError(uint32_t code) override { lastError = code; }
    std::u16string ErrorMessage(uint32_t code) override;
    [[noreturn]] void ExitProcess(int code) override;
    plat::DateTime UtcNow() override { return utcNow; }
    plat::DateTime ToLocal(const plat::DateTime& utc) override;
    int64_t UnixNow() override { return unixNow; }
    int DaylightBiasNow() override { return daylightBias; }
    uint32_t DefaultLcid() override { return defaultLcid; }
    std::string ToAnsi(const std::u16string& text) override;       // Latin-1, '?' above 0xFF
    std::u16string FromAnsi(const std::string& bytes) override;    // Latin-1
    int ShowMessageBox(const std::u16string& text, const std::u16string& caption, uint32_t flags) override;
    uint32_t RtlGetVersion(plat::OsVersionRecord& record) override;
    bool IsWow64Process(bool& wow64) override;
    uint32_t GetAdaptersAddresses(uint32_t& bufferSize, std::vector<plat::Adapter>& adapters) override;
    plat::ThreadHandle StartThread(plat::ThreadRoutine routine, void* arg) override;
    uint32_t WaitThread(plat::ThreadHandle thread, uint32_t milliseconds) override;
    // Answers WaitThread when set (e.g. for a thread that is still running).
    std::function<uint32_t(plat::ThreadHandle thread, uint32_t milliseconds)> waitHandler;
    void CloseThread(plat::ThreadHandle thread) override;
    void Sleep(uint32_t milliseconds) override;

    // Waits for every thread started in real-thread mode (the fake platform does
    // this before it is uninstalled).
    void JoinThreads();
    // Process ends requested on real threads, in order.
    std::vector<int> ProcessExits();

    std::u16string tempPath = u"C:\\Temp\\";
    std::u16string modulePath = u"C:\\Program Files\\Brindle\\BRUptide.exe";
    std::u16string commandLine = u"\"C:\\Program Files\\Brindle\\BRUptide.exe\"";
    uint32_t processId = 4242;
    uint32_t threadId = 0xa2c;
    std::atomic<uint32_t> lastError{0};  // one for all threads
    std::map<uint32_t, std::u16string> errorMessages;  // FormatMessage texts (with CR LF as the system has them)
    plat::DateTime utcNow{2026, 12, 7, 11, 58, 5, 123};
    int localOffsetMinutes = 60;  // local = UTC + this
    int64_t unixNow = 1796644685;  // 2026-12-07 11:58:05 UTC
    int daylightBias = 0;
    uint32_t defaultLcid = 1033;
    struct Box { std::u16string text, caption; uint32_t flags; };
    std::vector<Box> boxes;
    int boxAnswer = plat::kIdOk;
    std::function<void(const Box&)> onBox;  // called as each box is shown
    uint32_t rtlStatus = 0;
    plat::OsVersionRecord osVersion = [] { plat::OsVersionRecord r; r.size = 284; r.majorVersion = 10; r.productType = 1; return r; }();
    bool wow64CallOk = true;
    bool wow64 = false;
    // Adapter list; `adapterAnswers` (if set) overrides the return codes in order.
    std::vector<plat::Adapter> adapters;
    std::vector<uint32_t> adapterAnswers;
    int adapterCalls = 0;
    // Threads run inside StartThread (deterministic tests) unless `realThreads`
    // is set: then each runs on a thread of its own, WaitThread waits for it, and
    // a ProcessExit thrown there ends only that thread (see ProcessExits).
    bool realThreads = false;
    bool threadStartFails = false;
    std::atomic<int> threadsStarted{0};
    std::vector<plat::ThreadHandle> closedThreads;
    std::atomic<uint32_t> slept{0};

private:
    FakeLock mGuard;  // message boxes and adapters, for tests with real threads
    struct RealThread {
        std::thread thread;
        std::mutex lock;
        std::condition_variable ended;
        bool done = false;
    };
    std::mutex mThreadsLock;
    std::map<plat::ThreadHandle, std::unique_ptr<RealThread>> mThreads;
    std::vector<int> mProcessExits;
};

// Thrown by FakeSystem::ExitProcess so tests can observe a process exit.
struct ProcessExit { int code; };

class FakeVersionBlock : public plat::VersionBlock {
public:
    std::vector<std::pair<uint16_t, uint16_t>> translations;
    std::map<std::u16string, std::u16string> strings;  // full key -> value
    std::vector<std::pair<uint16_t, uint16_t>> Translations() override { return translations; }
    bool QueryString(const std::u16string& key, std::u16string& value) override;
};

class FakeVersionInfo : public plat::VersionInfo {
public:
    std::unique_ptr<plat::VersionBlock> Load(const std::u16string& path) override;
    // A file with one translation (0409, 04b0) and these values.
    void SetSimple(const std::u16string& path, const std::map<std::u16string, std::u16string>& values);
    std::map<std::u16string, FakeVersionBlock> blocks;  // by lower-case path
};

}  // namespace fake
