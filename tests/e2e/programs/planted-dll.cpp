// planted-dll: stands in for a DLL left beside the client under a system DLL's name
// (built as iphlpapi.dll, wininet.dll, ...). Being loaded at all is the fault, so it
// exports nothing and only records, on attach, which program loaded it:
// %TEMP%\brut-planted\<its own name>-<process id>.txt holds that program's path.
#include <windows.h>

namespace {

// The file part of a path, without its extension.
const wchar_t* BaseName(wchar_t* path) {
    wchar_t* base = path;
    for (wchar_t* p = path; *p; ++p)
        if (*p == L'\\' || *p == L'/') base = p + 1;
    for (wchar_t* p = base; *p; ++p)
        if (*p == L'.') *p = 0;
    return base;
}

void Append(wchar_t* to, const wchar_t* text, DWORD capacity) {
    DWORD n = lstrlenW(to);
    while (*text && n + 1 < capacity) to[n++] = *text++;
    to[n] = 0;
}

const wchar_t* Decimal(DWORD value, wchar_t (&out)[16]) {
    wchar_t* p = out + 15;
    *p = 0;
    do {
        *--p = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value);
    return p;
}

void RecordLoad(HINSTANCE self) {
    wchar_t own[MAX_PATH] = {}, host[MAX_PATH] = {}, marker[2 * MAX_PATH] = {}, pid[16] = {};
    if (!GetModuleFileNameW(self, own, MAX_PATH) || !GetModuleFileNameW(nullptr, host, MAX_PATH)) return;
    if (!GetTempPathW(MAX_PATH, marker)) return;
    Append(marker, L"brut-planted", 2 * MAX_PATH);
    CreateDirectoryW(marker, nullptr);
    Append(marker, L"\\", 2 * MAX_PATH);
    Append(marker, BaseName(own), 2 * MAX_PATH);
    Append(marker, L"-", 2 * MAX_PATH);
    Append(marker, Decimal(GetCurrentProcessId(), pid), 2 * MAX_PATH);
    Append(marker, L".txt", 2 * MAX_PATH);
    HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    char utf8[4 * MAX_PATH];
    const int n = WideCharToMultiByte(CP_UTF8, 0, host, -1, utf8, sizeof utf8, nullptr, nullptr);
    DWORD written = 0;
    if (n > 1) WriteFile(file, utf8, static_cast<DWORD>(n - 1), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) RecordLoad(self);
    return TRUE;
}
