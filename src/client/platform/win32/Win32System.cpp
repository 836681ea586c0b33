#include "platform/win32/Win32Platform.h"

#include <iphlpapi.h>

#include "platform/win32/Win32Libraries.h"

#include <cstdlib>
#include <new>

namespace plat::win32 {

namespace {

DateTime FromSystemTime(const SYSTEMTIME& st) {
    return DateTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

SYSTEMTIME ToSystemTime(const DateTime& t) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(t.year);
    st.wMonth = static_cast<WORD>(t.month);
    st.wDay = static_cast<WORD>(t.day);
    st.wHour = static_cast<WORD>(t.hour);
    st.wMinute = static_cast<WORD>(t.minute);
    st.wSecond = static_cast<WORD>(t.second);
    st.wMilliseconds = static_cast<WORD>(t.millisecond);
    return st;
}

struct ThreadStart {
    ThreadRoutine routine;
    void* arg;
};

DWORD WINAPI ThreadTrampoline(LPVOID param) {
    ThreadStart start = *static_cast<ThreadStart*>(param);
    delete static_cast<ThreadStart*>(param);
    return start.routine(start.arg);
}

using RtlGetVersionFn = LONG(WINAPI*)(RTL_OSVERSIONINFOEXW*);
static_assert(sizeof(RTL_OSVERSIONINFOEXW) == kOsVersionRecordSize, "published record size");

}  // namespace

std::u16string FormatMessageText(uint32_t code, HMODULE module) {
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                  (module ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM);
    wchar_t* text = nullptr;
    DWORD n = ::FormatMessageW(flags, module, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                               reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::u16string result = n && text ? U16(text, n) : std::u16string();
    if (text) ::LocalFree(text);
    return result;
}

std::u16string Win32System::TempPath() {
    std::wstring buf(MAX_PATH + 1, L'\0');
    DWORD n = ::GetTempPathW(static_cast<DWORD>(buf.size()), &buf[0]);
    if (n > buf.size()) {  // too small: n is the size needed
        buf.assign(n, L'\0');
        n = ::GetTempPathW(static_cast<DWORD>(buf.size()), &buf[0]);
        if (n >= buf.size()) return {};
    }
    return U16(buf.c_str(), n);
}

std::u16string Win32System::ModulePath() {
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = ::GetModuleFileNameW(nullptr, &buf[0], static_cast<DWORD>(buf.size()));
        if (n == 0) return {};
        if (n < buf.size()) return U16(buf.c_str(), n);
        if (buf.size() >= 65536) return {};  // longer than any path can be
        buf.assign(buf.size() * 2, L'\0');
    }
}

std::u16string Win32System::CommandLine() { return U16(::GetCommandLineW()); }
uint32_t Win32System::ProcessId() { return ::GetCurrentProcessId(); }
uint32_t Win32System::ThreadId() { return ::GetCurrentThreadId(); }
uint32_t Win32System::LastError() { return ::GetLastError(); }
void Win32System::SetLastError(uint32_t code) { ::SetLastError(code); }
std::u16string Win32System::ErrorMessage(uint32_t code) { return FormatMessageText(code, nullptr); }

void Win32System::ExitProcess(int code) {
    // Not the runtime's exit (it destroys statics other threads are using) nor ::ExitProcess
    // (it runs the libraries' detach code after killing threads that may hold their locks):
    // terminating runs no code of this process at all.
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(code));
    std::_Exit(code);  // not reached
}

DateTime Win32System::UtcNow() {
    SYSTEMTIME st{};
    ::GetSystemTime(&st);
    return FromSystemTime(st);
}

DateTime Win32System::ToLocal(const DateTime& utc) {
    SYSTEMTIME in = ToSystemTime(utc), out{};
    if (!::SystemTimeToTzSpecificLocalTime(nullptr, &in, &out)) return utc;
    return FromSystemTime(out);
}

int64_t Win32System::UnixNow() {
    FILETIME ft{};
    ::GetSystemTimeAsFileTime(&ft);
    int64_t ticks = (static_cast<int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return (ticks - 116444736000000000LL) / 10000000LL;  // 100 ns since 1601 -> s since 1970
}

int Win32System::DaylightBiasNow() {
    TIME_ZONE_INFORMATION tz{};
    return ::GetTimeZoneInformation(&tz) == TIME_ZONE_ID_DAYLIGHT ? static_cast<int>(tz.DaylightBias) : 0;
}

uint32_t Win32System::DefaultLcid() { return ::GetSystemDefaultLCID(); }

std::string Win32System::ToAnsi(const std::u16string& text) {
    if (text.empty()) return {};
    int n = ::WideCharToMultiByte(CP_ACP, 0, W(text), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, W(text), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::u16string Win32System::FromAnsi(const std::string& bytes) {
    if (bytes.empty()) return {};
    int n = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), &out[0], n);
    return U16(out.data(), out.size());
}

int Win32System::ShowMessageBox(const std::u16string& text, const std::u16string& caption, uint32_t flags) {
    return ::MessageBoxW(nullptr, W(text), W(caption), flags);
}

uint32_t Win32System::RtlGetVersion(OsVersionRecord& record) {
    record = OsVersionRecord{};
    HMODULE ntdll = ::LoadLibraryW(L"ntdll.dll");
    if (!ntdll) return ::GetLastError();
    FARPROC proc = ::GetProcAddress(ntdll, "RtlGetVersion");
    if (!proc) {
        DWORD err = ::GetLastError();
        ::FreeLibrary(ntdll);
        return err;
    }
    auto fn = reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void (*)()>(proc));
    RTL_OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    LONG status = fn(&info);
    ::FreeLibrary(ntdll);
    if (status != 0) return static_cast<uint32_t>(status);
    record.size = info.dwOSVersionInfoSize;
    record.majorVersion = info.dwMajorVersion;
    record.minorVersion = info.dwMinorVersion;
    record.buildNumber = info.dwBuildNumber;
    record.platformId = info.dwPlatformId;
    record.servicePack = U16(info.szCSDVersion, wcsnlen(info.szCSDVersion, 128));
    record.servicePackMajor = info.wServicePackMajor;
    record.servicePackMinor = info.wServicePackMinor;
    record.suiteMask = info.wSuiteMask;
    record.productType = info.wProductType;
    record.reserved = info.wReserved;
    return 0;
}

bool Win32System::IsWow64Process(bool& wow64) {
    BOOL b = FALSE;
    if (!::IsWow64Process(::GetCurrentProcess(), &b)) return false;
    wow64 = b != FALSE;
    return true;
}

uint32_t Win32System::GetAdaptersAddresses(uint32_t& bufferSize, std::vector<Adapter>& adapters) {
    adapters.clear();
    // iphlpapi is no protected system DLL: from the system directory, on first use.
    using GetAdaptersFn = ULONG(WINAPI*)(ULONG, ULONG, PVOID, PIP_ADAPTER_ADDRESSES, PULONG);
    static const SystemProc<GetAdaptersFn> getAdapters{L"iphlpapi.dll", "GetAdaptersAddresses"};
    std::vector<uint64_t> buf;  // 8-byte aligned, as the records need
    try {
        buf.resize((bufferSize + 7) / 8);
    } catch (const std::bad_alloc&) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    auto* first = buf.empty() ? nullptr : reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buf.data());
    ULONG size = bufferSize;
    ULONG rc = getAdapters.Call(getAdapters.Error(), AF_INET, GAA_FLAG_SKIP_DNS_SERVER, nullptr, first, &size);
    if (rc == ERROR_BUFFER_OVERFLOW) bufferSize = size;
    if (rc != ERROR_SUCCESS) return rc;
    for (const IP_ADAPTER_ADDRESSES* a = first; a; a = a->Next) {
        Adapter out;
        out.operStatus = static_cast<int>(a->OperStatus);
        out.physicalAddress.assign(a->PhysicalAddress, a->PhysicalAddress + a->PhysicalAddressLength);
        for (const IP_ADAPTER_UNICAST_ADDRESS* u = a->FirstUnicastAddress; u; u = u->Next) {
            UnicastAddress addr;
            addr.family = u->Address.lpSockaddr ? u->Address.lpSockaddr->sa_family : 0;
            addr.dnsEligible = (u->Flags & IP_ADAPTER_ADDRESS_DNS_ELIGIBLE) != 0;
            addr.transient = (u->Flags & IP_ADAPTER_ADDRESS_TRANSIENT) != 0;
            addr.sockaddrLength = u->Address.iSockaddrLength;
            out.unicast.push_back(addr);
        }
        adapters.push_back(std::move(out));
    }
    return ERROR_SUCCESS;
}

ThreadHandle Win32System::StartThread(ThreadRoutine routine, void* arg) {
    auto* start = new ThreadStart{routine, arg};
    HANDLE h = ::CreateThread(nullptr, 0, ThreadTrampoline, start, 0, nullptr);
    if (!h) {
        DWORD err = ::GetLastError();
        delete start;
        ::SetLastError(err);
        return 0;
    }
    return reinterpret_cast<ThreadHandle>(h);
}

uint32_t Win32System::WaitThread(ThreadHandle thread, uint32_t milliseconds) {
    if (!thread || thread == -1) return kWaitFailed;
    return static_cast<uint32_t>(::WaitForSingleObject(reinterpret_cast<HANDLE>(thread), milliseconds));
}

void Win32System::CloseThread(ThreadHandle thread) {
    if (thread && thread != -1) ::CloseHandle(reinterpret_cast<HANDLE>(thread));
}

void Win32System::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace plat::win32
