// library-probe: the Win32 layer's library loading (platform/win32/Win32Libraries.h)
// under Wine, run beside DLLs planted under system DLL names.
//
//   library-probe load NAME...             each by its bare name: the search a planted DLL wins
//   library-probe restricted-load NAME...  the same after RestrictLibrarySearch()
//   library-probe system NAME...           SystemLibrary(NAME) for each
//   library-probe missing                  calls through a missing library and a missing function
//
// Exit code 0: every library loaded, or (missing) both calls failed as the loader would
// have failed the import; else the number of libraries not loaded, or 100 + the case
// that went wrong. Which file was loaded the planted DLLs record themselves.
#include <cwchar>

#include "platform/win32/Win32Libraries.h"

namespace {

using ProcessIdFn = DWORD(WINAPI*)();
using Proc = plat::win32::SystemProc<ProcessIdFn>;

// A missing function gives back the failure value, and the last error says why.
int CheckMissing() {
    const Proc noLibrary{L"brut-no-such-library.dll", "GetCurrentProcessId"};
    const Proc noFunction{L"kernel32.dll", "BrutNoSuchFunction"};
    const Proc present{L"kernel32.dll", "GetCurrentProcessId"};
    const struct {
        const Proc& proc;
        DWORD error;
    } cases[] = {{noLibrary, ERROR_MOD_NOT_FOUND}, {noFunction, ERROR_PROC_NOT_FOUND}, {present, ERROR_SUCCESS}};
    int n = 0;
    for (const auto& c : cases) {
        ++n;
        ::SetLastError(0xBEEF);
        const DWORD result = c.proc.Call(DWORD{0});
        const bool ok = c.error ? !c.proc && c.proc.Error() == c.error && result == 0 && ::GetLastError() == c.error
                                : c.proc && c.proc.Error() == ERROR_SUCCESS && result == ::GetCurrentProcessId();
        if (!ok) return 100 + n;
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 99;
    const wchar_t* mode = argv[1];
    if (!std::wcscmp(mode, L"missing")) return CheckMissing();
    if (!std::wcscmp(mode, L"restricted-load")) plat::win32::RestrictLibrarySearch();
    const bool system = !std::wcscmp(mode, L"system");
    if (!system && std::wcscmp(mode, L"load") && std::wcscmp(mode, L"restricted-load")) return 99;
    int missing = 0;
    for (int i = 2; i < argc; ++i)
        if (!(system ? plat::win32::SystemLibrary(argv[i]) : ::LoadLibraryW(argv[i]))) ++missing;
    return missing;
}
