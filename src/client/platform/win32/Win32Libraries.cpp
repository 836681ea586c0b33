#include "platform/win32/Win32Libraries.h"

#include <string>

namespace plat::win32 {

HMODULE SystemLibrary(const wchar_t* name) {
    wchar_t dir[MAX_PATH];
    const UINT n = ::GetSystemDirectoryW(dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return nullptr;
    const std::wstring path = std::wstring(dir, n) + L"\\" + name;
    // A module already loaded under this path is only counted again: cheap enough for
    // the few call sites, which keep what they found in statics of their own.
    return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void RestrictLibrarySearch() {
    using SetDirectories = BOOL(WINAPI*)(DWORD);
    // kernel32 is always loaded from the system; the function exists from Windows 8 on
    // (and on 7 and Vista with KB2533623).
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    auto set = kernel ? reinterpret_cast<SetDirectories>(
                            reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")))
                      : nullptr;
    constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
    if (set) set(kSearchSystem32);
    // The current directory leaves the search on every system.
    ::SetDllDirectoryW(L"");
}

}  // namespace plat::win32
