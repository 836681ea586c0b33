// The least an accepted update needs. Alone: WinINet reads the URL, bypassing the
// cache, into a file. With POSTs: the common controls and one hidden dialog, each POST
// (the check) with its reply read, then the download, then the downloaded program
// started and waited for; its exit code is the floor's. With -urlmon first, the fetch
// is one URLDownloadToFileW, the call the client's download is built on.
// Usage: floor_download [-urlmon] URL TARGET [POSTURL BODYFILE]...
#include <windows.h>

#include <commctrl.h>
#include <cstdlib>
#include <urlmon.h>
#include <wininet.h>

#include <string>

#include "floor_post.h"

namespace {

INT_PTR CALLBACK DialogProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

int Fetch(const wchar_t* address, const wchar_t* target) {
    HINTERNET session = InternetOpenW(L"floor_download", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET url = session ? InternetOpenUrlW(session, address, nullptr, 0,
                                               INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0) : nullptr;
    if (!url) return 2;
    HANDLE file = CreateFileW(target, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 3;
    static char buf[64 * 1024];
    DWORD read = 0, written = 0;
    int rc = 0;
    while (InternetReadFile(url, buf, sizeof buf, &read) && read) {
        if (!WriteFile(file, buf, read, &written, nullptr) || written != read) { rc = 4; break; }
    }
    CloseHandle(file);
    InternetCloseHandle(url);
    InternetCloseHandle(session);
    return rc;
}

int FetchWithUrlmon(const wchar_t* address, const wchar_t* target) {
    if (FAILED(CoInitialize(nullptr))) return 7;
    const HRESULT hr = URLDownloadToFileW(nullptr, address, target, 0, nullptr);
    CoUninitialize();
    return SUCCEEDED(hr) ? 0 : 8;
}

int RunAndWait(const wchar_t* program) {
    std::wstring line = L"\"" + std::wstring(program) + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(program, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 6;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    int argc = __argc;
    wchar_t** argv = __wargv;
    const bool urlmon = argc > 1 && wcscmp(argv[1], L"-urlmon") == 0;
    if (urlmon) --argc, ++argv;
    auto fetch = urlmon ? FetchWithUrlmon : Fetch;
    if (argc < 3 || argc % 2 == 0) return 1;
    if (argc == 3) return fetch(argv[1], argv[2]);
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    HWND dialog = CreateDialogParamW(instance, MAKEINTRESOURCEW(100), nullptr, DialogProc, 0);
    if (!dialog) return 5;
    for (int i = 3; i + 1 < argc; i += 2)
        if (const int rc = PostForm(argv[i], ReadWholeFile(argv[i + 1]))) return rc;
    int rc = fetch(argv[1], argv[2]);
    if (rc == 0) rc = RunAndWait(argv[2]);
    DestroyWindow(dialog);
    return rc;
}
