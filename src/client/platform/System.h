#pragma once
// Facts and services of the operating system: process, time, locale, errors,
// message boxes, code-page conversion, OS version, adapters and threads.
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

struct DateTime {
    int year = 0, month = 0, day = 0;  // month 1..12
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// The published extended version record (RTL_OSVERSIONINFOEXW, 284 bytes).
struct OsVersionRecord {
    uint32_t size = 0;
    uint32_t majorVersion = 0;
    uint32_t minorVersion = 0;
    uint32_t buildNumber = 0;
    uint32_t platformId = 0;
    std::u16string servicePack;
    uint16_t servicePackMajor = 0;
    uint16_t servicePackMinor = 0;
    uint16_t suiteMask = 0;
    uint8_t productType = 0;  // 1 workstation, 2 domain controller, 3 server
    uint8_t reserved = 0;
};
constexpr uint32_t kOsVersionRecordSize = 284;

// One entry of GetAdaptersAddresses, reduced to what the address search reads.
struct UnicastAddress {
    uint16_t family = 0;        // 2 = IPv4
    bool dnsEligible = false;   // IP_ADAPTER_ADDRESS_DNS_ELIGIBLE
    bool transient = false;     // IP_ADAPTER_ADDRESS_TRANSIENT
    int sockaddrLength = 0;     // bytes of the socket address
};
struct Adapter {
    int operStatus = 0;  // 1 = up
    std::vector<uint8_t> physicalAddress;
    std::vector<UnicastAddress> unicast;
};
constexpr uint32_t kAfInet = 2;
constexpr int kIfOperStatusUp = 1;

using ThreadRoutine = uint32_t (*)(void* arg);
using ThreadHandle = std::intptr_t;  // 0: no thread
constexpr uint32_t kWaitObject0 = 0;
constexpr uint32_t kWaitTimeout = 258;
constexpr uint32_t kWaitFailed = 0xFFFFFFFF;

class System {
public:
    virtual ~System() = default;

    // Process
    virtual std::u16string TempPath() = 0;        // GetTempPathW; empty on failure
    virtual std::u16string ModulePath() = 0;      // GetModuleFileNameW of the exe; empty on failure
    virtual std::u16string CommandLine() = 0;     // GetCommandLineW, exactly as reported
    virtual uint32_t ProcessId() = 0;
    virtual uint32_t ThreadId() = 0;
    virtual uint32_t LastError() = 0;
    virtual void SetLastError(uint32_t code) = 0;
    // FormatMessageW of a system error (neutral language); empty when there is none.
    virtual std::u16string ErrorMessage(uint32_t code) = 0;
    // Ends the process at once with `code`; safe from any thread while others still run. Nothing
    // of this process runs afterwards: no static destructors, no atexit handlers, no library
    // clean-up, so no thread can meet a destroyed object. Only what already left the process
    // survives: log lines (written through, one write each), registry values, files written.
    // The normal end (returning from the entry point) is not this: it runs static clean-up.
    [[noreturn]] virtual void ExitProcess(int code) = 0;

    // Time
    virtual DateTime UtcNow() = 0;                          // GetSystemTime
    virtual DateTime ToLocal(const DateTime& utc) = 0;      // with the current time-zone bias
    virtual int64_t UnixNow() = 0;                          // seconds since 1970 UTC
    // Minutes the clock is moved while daylight-saving time is in effect now (e.g. -60), else 0.
    virtual int DaylightBiasNow() = 0;

    // Locale and text
    virtual uint32_t DefaultLcid() = 0;  // GetSystemDefaultLCID
    virtual std::string ToAnsi(const std::u16string& text) = 0;  // WideCharToMultiByte(CP_ACP)
    virtual std::u16string FromAnsi(const std::string& bytes) = 0;

    // User
    virtual int ShowMessageBox(const std::u16string& text, const std::u16string& caption, uint32_t flags) = 0;

    // Machine
    // Loads ntdll and calls RtlGetVersion: 0 on success, else the loader's status (record zeroed).
    virtual uint32_t RtlGetVersion(OsVersionRecord& record) = 0;
    // IsWow64Process for this process: false when the call fails.
    virtual bool IsWow64Process(bool& wow64) = 0;
    // GetAdaptersAddresses (IPv4, no DNS servers) with a buffer of `bufferSize` bytes:
    // 0 with the list, kErrBufferOverflow with the size needed, or another error code.
    virtual uint32_t GetAdaptersAddresses(uint32_t& bufferSize, std::vector<Adapter>& adapters) = 0;

    // Threads
    virtual ThreadHandle StartThread(ThreadRoutine routine, void* arg) = 0;  // 0 on failure
    // WaitForSingleObject: kWaitObject0 when the thread has ended, kWaitTimeout, or kWaitFailed.
    virtual uint32_t WaitThread(ThreadHandle thread, uint32_t milliseconds) = 0;
    virtual void CloseThread(ThreadHandle thread) = 0;
    virtual void Sleep(uint32_t milliseconds) = 0;
};

}  // namespace plat
