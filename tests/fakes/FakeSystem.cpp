#include "fakes/FakeSystem.h"

#include "util/Text.h"

namespace fake {

std::u16string FakeFiles::Key(const std::u16string& p) {
    std::u16string k = brut::ToLowerAscii(p);
    while (k.size() > 3 && k.back() == u'\\') k.pop_back();
    return k;
}

std::u16string FakeFiles::Parent(const std::u16string& p) {
    std::u16string k = Key(p);
    auto pos = k.rfind(u'\\');
    return pos == std::u16string::npos ? std::u16string() : k.substr(0, pos);
}

void FakeFiles::AddDirectory(const std::u16string& path) {
    std::u16string k = Key(path);
    // Every ancestor exists too.
    for (std::size_t pos = k.find(u'\\'); pos != std::u16string::npos; pos = k.find(u'\\', pos + 1))
        mDirs.insert(k.substr(0, pos));
    mDirs.insert(k);
}

uint32_t FakeFiles::MakeDirectory(const std::u16string& path) {
    std::lock_guard<std::recursive_mutex> hold(mGuard.Get());
    auto err = createDirectoryErrors.find(Key(path));
    if (err != createDirectoryErrors.end()) return err->second;
    std::u16string k = Key(path);
    if (k.empty()) return plat::kErrPathNotFound;
    if (mDirs.count(k) || mFiles.count(k)) return plat::kErrAlreadyExists;
    std::u16string parent = Parent(path);
    if (!parent.empty() && parent.size() > 2 && !mDirs.count(parent)) return plat::kErrPathNotFound;
    mDirs.insert(k);
    createdDirectories.push_back(path);
    return 0;
}

plat::FileHandle FakeFiles::OpenAppend(const std::u16string& path, bool writeThrough) {
    std::lock_guard<std::recursive_mutex> hold(mGuard.Get());
    std::u16string k = Key(path);
    if (unopenable.count(k) || mDirs.count(k)) return 0;
    if (requireParentDirectory && !mDirs.count(Parent(path))) return 0;
    auto& f = mFiles[k];
    f.path = path;
    lastOpenWriteThrough = writeThrough;
    mOpen[mNext] = k;
    return mNext++;
}

bool FakeFiles::Write(plat::FileHandle file, const void* data, std::size_t size) {
    std::lock_guard<std::recursive_mutex> hold(mGuard.Get());
    auto it = mOpen.find(file);
    if (it == mOpen.end()) return false;
    mFiles[it->second].bytes.append(static_cast<const char*>(data), size);
    return true;
}

void FakeFiles::Flush(plat::FileHandle file) {
    std::lock_guard<std::recursive_mutex> hold(mGuard.Get());
    if (mOpen.count(file)) ++flushes;
}

void FakeFiles::Close(plat::FileHandle file) {
    std::lock_guard<std::recursive_mutex> hold(mGuard.Get());
    mOpen.erase(file);
}

bool FakeFiles::ReadPrefix(const std::u16string& path, std::size_t maxBytes, std::string& bytes) {
    std::lock_guard<std::recursive_mutex> hold(mGuard.Get());
    std::u16string k = Key(path);
    auto it = mFiles.find(k);
    if (it == mFiles.end() || unopenable.count(k)) return false;
    bytes = it->second.bytes.substr(0, maxBytes);
    return true;
}

bool FakeFiles::CanOpenForReading(const std::u16string& path) {
    std::lock_guard<std::recursive_mutex> hold(mGuard.Get());
    std::u16string k = Key(path);
    return mFiles.count(k) && !unopenable.count(k);
}

uint32_t FakeFiles::RemoveFile(const std::u16string& path) {
    std::lock_guard<std::recursive_mutex> hold(mGuard.Get());
    std::u16string k = Key(path);
    if (!mFiles.count(k)) return plat::kErrFileNotFound;
    if (undeletable.count(k)) return plat::kErrAccessDenied;
    mFiles.erase(k);
    return 0;
}

uint32_t FakeFiles::RenameFile(const std::u16string& from, const std::u16string& to) {
    std::lock_guard<std::recursive_mutex> hold(mGuard.Get());
    auto it = mFiles.find(Key(from));
    if (it == mFiles.end()) return plat::kErrFileNotFound;
    if (undeletable.count(Key(from)) || undeletable.count(Key(to))) return plat::kErrAccessDenied;
    File moved = it->second;
    moved.path = to;
    mFiles.erase(it);
    mFiles[Key(to)] = moved;
    return 0;
}

bool FakeFiles::GetLastAccessTime(const std::u16string& path, plat::DateTime& utc) {
    std::lock_guard<std::recursive_mutex> hold(mGuard.Get());
    auto it = mFiles.find(Key(path));
    if (it == mFiles.end() || unopenable.count(Key(path))) return false;
    utc = it->second.access;
    return true;
}

void FakeFiles::AddFile(const std::u16string& path, const std::string& bytes, plat::DateTime accessUtc) {
    std::u16string k = Key(path);
    AddDirectory(Parent(path));
    mFiles[k] = File{path, bytes, accessUtc};
}

bool FakeFiles::HasFile(const std::u16string& path) const { return mFiles.count(Key(path)) > 0; }
bool FakeFiles::HasDirectory(const std::u16string& path) const { return mDirs.count(Key(path)) > 0; }

std::string FakeFiles::Contents(const std::u16string& path) const {
    auto it = mFiles.find(Key(path));
    return it == mFiles.end() ? std::string() : it->second.bytes;
}

std::vector<std::u16string> FakeFiles::FilesIn(const std::u16string& directoryPrefix) const {
    std::vector<std::u16string> out;
    std::u16string prefix = brut::ToLowerAscii(directoryPrefix);
    for (const auto& f : mFiles)
        if (brut::StartsWith(f.first, prefix)) out.push_back(f.second.path);
    return out;
}

uint32_t FakeFiles::FindFiles(const std::u16string& directory, const std::u16string& pattern,
                              std::vector<std::u16string>& names) {
    std::lock_guard<std::recursive_mutex> hold(mGuard.Get());
    names.clear();
    if (findError) return findError;
    // "*<suffix>" only, which is all the client asks.
    const std::u16string dir = brut::ToLowerAscii(directory), suffix = brut::ToLowerAscii(pattern.substr(1));
    for (const auto& f : mFiles) {
        if (!brut::StartsWith(f.first, dir)) continue;
        const std::u16string name = f.first.substr(dir.size());
        if (name.find(u'\\') == std::u16string::npos && name.size() >= suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            names.push_back(f.second.path.substr(directory.size()));
    }
    return names.empty() ? plat::kErrFileNotFound : plat::kErrSuccess;
}

std::u16string FakeSystem::ErrorMessage(uint32_t code) {
    auto it = errorMessages.find(code);
    return it == errorMessages.end() ? std::u16string() : it->second;
}

void FakeSystem::ExitProcess(int code) { throw ProcessExit{code}; }

plat::DateTime FakeSystem::ToLocal(const plat::DateTime& utc) {
    // Minute arithmetic within a day is enough for the tests' fixed dates.
    plat::DateTime d = utc;
    int minutes = d.hour * 60 + d.minute + localOffsetMinutes;
    while (minutes < 0) { minutes += 1440; --d.day; }
    while (minutes >= 1440) { minutes -= 1440; ++d.day; }
    d.hour = minutes / 60;
    d.minute = minutes % 60;
    return d;
}

std::string FakeSystem::ToAnsi(const std::u16string& text) { return brut::ToLatin1(text, '?'); }
std::u16string FakeSystem::FromAnsi(const std::string& bytes) { return brut::FromLatin1(bytes); }

int FakeSystem::ShowMessageBox(const std::u16string& text, const std::u16string& caption, uint32_t flags) {
    std::lock_guard<std::recursive_mutex> hold(mGuard.Get());
    boxes.push_back({text, caption, flags});
    if (onBox) onBox(boxes.back());
    return boxAnswer;
}

uint32_t FakeSystem::RtlGetVersion(plat::OsVersionRecord& record) {
    record = plat::OsVersionRecord{};
    if (rtlStatus) return rtlStatus;
    record = osVersion;
    record.size = plat::kOsVersionRecordSize;
    return 0;
}

bool FakeSystem::IsWow64Process(bool& w) {
    if (!wow64CallOk) return false;
    w = wow64;
    return true;
}

uint32_t FakeSystem::GetAdaptersAddresses(uint32_t& bufferSize, std::vector<plat::Adapter>& out) {
    std::lock_guard<std::recursive_mutex> hold(mGuard.Get());
    int call = adapterCalls++;
    if (call < static_cast<int>(adapterAnswers.size()) && adapterAnswers[call] != 0) {
        if (adapterAnswers[call] == plat::kErrBufferOverflow) bufferSize *= 2;
        return adapterAnswers[call];
    }
    out = adapters;
    return 0;
}

plat::ThreadHandle FakeSystem::StartThread(plat::ThreadRoutine routine, void* arg) {
    if (threadStartFails) return 0;
    const plat::ThreadHandle handle = 1000 + ++threadsStarted;
    if (!realThreads) {
        routine(arg);
        return handle;
    }
    auto started = std::make_unique<RealThread>();
    RealThread* t = started.get();
    {
        std::lock_guard<std::mutex> guard(mThreadsLock);
        mThreads[handle] = std::move(started);
    }
    t->thread = std::thread([this, t, routine, arg] {
        try {
            routine(arg);
        } catch (const ProcessExit& exit) {
            std::lock_guard<std::mutex> guard(mThreadsLock);
            mProcessExits.push_back(exit.code);
        }
        std::lock_guard<std::mutex> guard(t->lock);
        t->done = true;
        t->ended.notify_all();
    });
    return handle;
}

uint32_t FakeSystem::WaitThread(plat::ThreadHandle thread, uint32_t milliseconds) {
    if (waitHandler) return waitHandler(thread, milliseconds);
    if (thread <= 0) return plat::kWaitFailed;
    RealThread* t = nullptr;
    {
        std::lock_guard<std::mutex> guard(mThreadsLock);
        auto it = mThreads.find(thread);
        if (it != mThreads.end()) t = it->second.get();
    }
    if (!t) return plat::kWaitObject0;  // ran inside StartThread
    std::unique_lock<std::mutex> guard(t->lock);
    auto done = [t] { return t->done; };
    if (milliseconds == 0xFFFFFFFF)
        t->ended.wait(guard, done);
    else
        t->ended.wait_for(guard, std::chrono::milliseconds(milliseconds), done);
    return t->done ? plat::kWaitObject0 : plat::kWaitTimeout;
}

void FakeSystem::CloseThread(plat::ThreadHandle thread) {
    if (thread == 0 || thread == -1) return;  // no thread, as the platform treats them
    std::lock_guard<std::mutex> guard(mThreadsLock);
    closedThreads.push_back(thread);
}

void FakeSystem::Sleep(uint32_t milliseconds) {
    slept += milliseconds;
    if (realThreads) std::this_thread::yield();
}

void FakeSystem::JoinThreads() {
    std::map<plat::ThreadHandle, std::unique_ptr<RealThread>> threads;
    {
        std::lock_guard<std::mutex> guard(mThreadsLock);
        threads.swap(mThreads);
    }
    for (auto& t : threads)
        if (t.second->thread.joinable()) t.second->thread.join();
}

std::vector<int> FakeSystem::ProcessExits() {
    std::lock_guard<std::mutex> guard(mThreadsLock);
    return mProcessExits;
}

bool FakeVersionBlock::QueryString(const std::u16string& key, std::u16string& value) {
    auto it = strings.find(key);
    if (it == strings.end()) return false;
    value = it->second;
    return true;
}

std::unique_ptr<plat::VersionBlock> FakeVersionInfo::Load(const std::u16string& path) {
    auto it = blocks.find(brut::ToLowerAscii(path));
    if (it == blocks.end()) return nullptr;
    return std::make_unique<FakeVersionBlock>(it->second);
}

void FakeVersionInfo::SetSimple(const std::u16string& path, const std::map<std::u16string, std::u16string>& values) {
    FakeVersionBlock b;
    b.translations = {{0x0409, 0x04b0}};
    for (const auto& v : values) b.strings[u"\\StringFileInfo\\040904b0\\" + v.first] = v.second;
    blocks[brut::ToLowerAscii(path)] = b;
}

}  // namespace fake
