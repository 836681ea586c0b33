// The least a download needs: WinINet reads the URL, bypassing the cache, into a file.
// Usage: floor_download URL TARGET
#include <windows.h>

#include <cstdlib>
#include <wininet.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    const int argc = __argc;
    wchar_t** argv = __wargv;
    if (argc < 3) return 1;
    HINTERNET session = InternetOpenW(L"floor_download", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET url = session ? InternetOpenUrlW(session, argv[1], nullptr, 0,
                                               INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0) : nullptr;
    if (!url) return 2;
    HANDLE file = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
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
