// The least a search through the uninstall entries needs: enumerate the keys,
// read each one's InstallLocation (and InstallDate on a match), then read the
// winner's values.
// Usage: floor_uninstall INSTALLLOCATION
#include <windows.h>

#include <cstdlib>

#include <string>

namespace {

const wchar_t kUninstall[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

bool ReadText(HKEY key, const wchar_t* name, std::wstring& value) {
    wchar_t buf[261] = {};
    DWORD type = 0, size = sizeof buf - sizeof(wchar_t);
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) != ERROR_SUCCESS) return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    value.assign(buf, size / sizeof(wchar_t));
    while (!value.empty() && value.back() == L'\0') value.pop_back();
    return true;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    const int argc = __argc;
    wchar_t** argv = __wargv;
    if (argc < 2) return 1;
    const std::wstring wanted = argv[1];
    HKEY root;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstall, 0, KEY_READ | KEY_WOW64_64KEY, &root) != ERROR_SUCCESS) return 2;
    std::wstring winner;
    long bestDate = -1;
    for (DWORD i = 0;; ++i) {
        wchar_t name[261];
        DWORD len = 261;
        LONG err = RegEnumKeyExW(root, i, name, &len, nullptr, nullptr, nullptr, nullptr);
        if (err == ERROR_NO_MORE_ITEMS) break;
        if (err != ERROR_SUCCESS) continue;
        HKEY entry;
        if (RegOpenKeyExW(root, name, 0, KEY_READ | KEY_WOW64_64KEY, &entry) != ERROR_SUCCESS) continue;
        std::wstring location, date;
        if (ReadText(entry, L"InstallLocation", location) && _wcsicmp(location.c_str(), wanted.c_str()) == 0) {
            const long d = ReadText(entry, L"InstallDate", date) ? wcstol(date.c_str(), nullptr, 10) : 0;
            if (d >= bestDate) bestDate = d, winner = name;
        }
        RegCloseKey(entry);
    }
    int rc = 3;
    HKEY key;
    if (!winner.empty() && RegOpenKeyExW(root, winner.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
        std::wstring v;
        ReadText(key, L"DisplayName", v);
        ReadText(key, L"DisplayVersion", v);
        ReadText(key, L"InstallDate", v);
        ReadText(key, L"InstallLocation", v);
        DWORD language = 0, size = sizeof language;
        RegQueryValueExW(key, L"Language", nullptr, nullptr, reinterpret_cast<BYTE*>(&language), &size);
        RegCloseKey(key);
        rc = 0;
    }
    RegCloseKey(root);
    return rc;
}
