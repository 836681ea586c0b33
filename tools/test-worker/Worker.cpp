// Stand-in for the update worker.
//
// Each run appends its full command line (GetCommandLineW, as UTF-8) as one
// line ending in "\n" to "BRUptideWorker.cmdline.txt" in the folder of the
// executable, then ends with the exit code taken from the environment:
//   BRUT_TEST_WORKER_EXIT      decimal or 0x-hex, may be negative (-1 gives
//                              0xFFFFFFFF); missing or unreadable: 0
//   BRUT_TEST_WORKER_DELAY_MS  optional wait before exiting, in milliseconds,
//                              so that a caller's waiting can be observed
// It shows no window.
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

std::wstring Env(const wchar_t* name) {
    wchar_t buf[256];
    DWORD n = ::GetEnvironmentVariableW(name, buf, 256);
    return n > 0 && n < 256 ? std::wstring(buf, n) : std::wstring();
}

// Parses a whole number; `fallback` when the text is not one.
long long Number(const std::wstring& text, long long fallback) {
    if (text.empty()) return fallback;
    wchar_t* end = nullptr;
    long long v = std::wcstoll(text.c_str(), &end, 0);
    return end && *end == L'\0' ? v : fallback;
}

std::wstring OwnFolder() {
    std::wstring path(32768, L'\0');
    DWORD n = ::GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    path.resize(n < path.size() ? n : 0);
    std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

void RecordCommandLine() {
    const wchar_t* cmd = ::GetCommandLineW();
    int wlen = static_cast<int>(wcslen(cmd));
    std::string line;
    int n = ::WideCharToMultiByte(CP_UTF8, 0, cmd, wlen, nullptr, 0, nullptr, nullptr);
    if (n > 0) {
        line.resize(static_cast<std::size_t>(n));
        ::WideCharToMultiByte(CP_UTF8, 0, cmd, wlen, &line[0], n, nullptr, nullptr);
    }
    line += '\n';
    std::wstring file = OwnFolder() + L"BRUptideWorker.cmdline.txt";
    HANDLE h = ::CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    ::SetFilePointer(h, 0, nullptr, FILE_END);
    DWORD written = 0;
    ::WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    ::CloseHandle(h);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    RecordCommandLine();
    long long delay = Number(Env(L"BRUT_TEST_WORKER_DELAY_MS"), 0);
    if (delay > 0) ::Sleep(static_cast<DWORD>(delay));
    return static_cast<int>(static_cast<unsigned int>(Number(Env(L"BRUT_TEST_WORKER_EXIT"), 0)));
}
