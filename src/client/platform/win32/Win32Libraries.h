#pragma once
// Libraries that are not protected system DLLs are loaded from the system directory
// on first use, never by name: a DLL of the same name beside the program (a copy of
// the client run from a Downloads folder) must not be loaded. Functions that older
// systems lack are found the same way, so the program still starts there.
#include <windows.h>

namespace plat::win32 {

// The library from the system directory (its own imports searched there first);
// null when it cannot be loaded. Loaded once, never unloaded.
HMODULE SystemLibrary(const wchar_t* name);

// `name` exported by the system library `dll`, as type F; null when either is missing.
template <class F>
F SystemFunction(const wchar_t* dll, const char* name) {
    HMODULE module = SystemLibrary(dll);
    return module ? reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name))) : nullptr;
}

// Every later library search (and the imports of libraries loaded later) looks in the
// system directory only, where the system offers it (Windows 8, or 7 and Vista with
// their update); elsewhere the loads above by full path are the protection.
void RestrictLibrarySearch();

}  // namespace plat::win32
