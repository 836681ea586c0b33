#pragma once
// The Win32 implementation of the platform interfaces. Only the files of this
// layer include <windows.h>; the logic sees nothing but the interfaces.
#include <winsock2.h>
#include <windows.h>
#include <wininet.h>

#include <string>

#include "platform/Deadlines.h"
#include "platform/Platform.h"

namespace plat::win32 {

// Texts cross the boundary as UTF-16; wchar_t is 16-bit on Windows.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");
inline const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
inline std::u16string U16(const wchar_t* s) {
    return s ? std::u16string(reinterpret_cast<const char16_t*>(s)) : std::u16string();
}
inline std::u16string U16(const wchar_t* s, std::size_t n) {
    return std::u16string(reinterpret_cast<const char16_t*>(s), n);
}

// FormatMessageW of `code` from the system or from `module` (neutral language,
// inserts ignored); empty when there is no message.
std::u16string FormatMessageText(uint32_t code, HMODULE module);

class Win32Registry : public Registry {
public:
    uint32_t OpenKey(Hive hive, const std::u16string& path, uint32_t sam, KeyHandle& key) override;
    uint32_t OpenSubKey(KeyHandle parent, const std::u16string& name, uint32_t sam, KeyHandle& key) override;
    uint32_t CreateKey(Hive hive, const std::u16string& path, uint32_t sam, KeyHandle& key) override;
    uint32_t QueryValue(KeyHandle key, const std::u16string& name, uint32_t& type,
                        std::vector<uint8_t>& data) override;
    uint32_t SetValue(KeyHandle key, const std::u16string& name, uint32_t type,
                      const std::vector<uint8_t>& data) override;
    uint32_t DeleteValue(KeyHandle key, const std::u16string& name) override;
    uint32_t EnumKey(KeyHandle key, uint32_t index, std::u16string& name) override;
    void CloseKey(KeyHandle key) override;
};

class Win32Files : public Files {
public:
    uint32_t MakeDirectory(const std::u16string& path) override;
    FileHandle OpenAppend(const std::u16string& path, bool writeThrough) override;
    bool Write(FileHandle file, const void* data, std::size_t size) override;
    void Flush(FileHandle file) override;
    void Close(FileHandle file) override;
    bool ReadPrefix(const std::u16string& path, std::size_t maxBytes, std::string& bytes) override;
    bool CanOpenForReading(const std::u16string& path) override;
    uint32_t RemoveFile(const std::u16string& path) override;
    uint32_t RenameFile(const std::u16string& from, const std::u16string& to) override;
    bool GetLastAccessTime(const std::u16string& path, DateTime& utc) override;
    uint32_t FindFiles(const std::u16string& directory, const std::u16string& pattern,
                       std::vector<std::u16string>& names) override;
};

class Win32System : public System {
public:
    std::u16string TempPath() override;
    std::u16string ModulePath() override;
    std::u16string CommandLine() override;
    uint32_t ProcessId() override;
    uint32_t ThreadId() override;
    uint32_t LastError() override;
    void SetLastError(uint32_t code) override;
    std::u16string ErrorMessage(uint32_t code) override;
    [[noreturn]] void ExitProcess(int code) override;
    DateTime UtcNow() override;
    DateTime ToLocal(const DateTime& utc) override;
    int64_t UnixNow() override;
    int DaylightBiasNow() override;
    uint32_t DefaultLcid() override;
    std::string ToAnsi(const std::u16string& text) override;
    std::u16string FromAnsi(const std::string& bytes) override;
    int ShowMessageBox(const std::u16string& text, const std::u16string& caption, uint32_t flags) override;
    uint32_t RtlGetVersion(OsVersionRecord& record) override;
    bool IsWow64Process(bool& wow64) override;
    uint32_t GetAdaptersAddresses(uint32_t& bufferSize, std::vector<Adapter>& adapters) override;
    ThreadHandle StartThread(ThreadRoutine routine, void* arg) override;
    uint32_t WaitThread(ThreadHandle thread, uint32_t milliseconds) override;
    void CloseThread(ThreadHandle thread) override;
    void Sleep(uint32_t milliseconds) override;
};

class Win32VersionInfo : public VersionInfo {
public:
    std::unique_ptr<VersionBlock> Load(const std::u16string& path) override;
};

class Win32Installer : public Installer {
public:
    uint32_t EnumProducts(uint32_t index, std::u16string& productCode) override;
    uint32_t GetProductInfo(const std::u16string& productCode, const std::u16string& property,
                            uint32_t capacity, std::u16string& value) override;
};

class Win32Wmi : public Wmi {
public:
    std::unique_ptr<WmiSession> NewSession() override;
};

class Win32Internet : public Internet {
public:
    std::unique_ptr<InternetSession> OpenSession(const std::u16string& agent, InetError& error) override;
    bool IsConnected() override;
    int32_t CoInitialize() override;
    void CoUninitialize() override;
    void DropUrlCacheEntry(const std::u16string& url) override;
    int32_t DownloadToFile(const std::u16string& url, const std::u16string& path,
                           DownloadProgress* progress) override;
};

class Win32Processes : public Processes {
public:
    uint32_t ShellExecuteRunas(const std::u16string& path, const std::u16string& parameters,
                               ProcessHandle& process) override;
    uint32_t CreateNewProcess(const std::u16string& application, const std::u16string& commandLine,
                              ProcessHandle& process) override;
    uint32_t WaitForExit(ProcessHandle process) override;
    uint32_t ExitCode(ProcessHandle process, uint32_t& code) override;
    void Close(ProcessHandle process) override;
    uint64_t TickCount() override;
};

class Win32Trust : public Trust {
public:
    uint32_t Hold(const std::u16string& path, HeldFile& held, bool& isLink) override;
    void Release(HeldFile held) override;
    Signature Verify(const std::u16string& path, HeldFile held) override;
};

// The time limits of Internet requests; the dialog's message loop hosts their watch.
Deadlines& RequestDeadlines();

// The WinINet error as the framework's exception would describe it.
void FillInetError(uint32_t code, InetError& error);

// Splits "host[:port]" ("[v6]:port" too); `port` stays 0 without a valid port.
void SplitServer(const std::u16string& server, std::u16string& host, uint16_t& port);

// Every real platform object, created once and never destroyed: a process exit
// from another thread must not tear them down under a running thread.
const Platform& RealPlatform();

}  // namespace plat::win32
