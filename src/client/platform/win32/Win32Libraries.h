#pragma once
// Libraries that are not protected system DLLs are loaded from the system directory
// on first use, never by name: a DLL of the same name beside the program (a copy of
// the client run from a Downloads folder) must not be loaded. Functions that older
// systems lack are found the same way, so the program still starts there.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <shellapi.h>

#include <type_traits>

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

// One function of a system library, looked up once (keep it in a static). Without it a
// call fails as the loader would have failed the import: ERROR_MOD_NOT_FOUND when the
// library is missing, ERROR_PROC_NOT_FOUND when only the function is.
template <class F>
class SystemProc {
public:
    SystemProc(const wchar_t* dll, const char* name)
        : mFn(SystemFunction<F>(dll, name)),
          mError(mFn                 ? static_cast<DWORD>(ERROR_SUCCESS)
                 : SystemLibrary(dll) ? static_cast<DWORD>(ERROR_PROC_NOT_FOUND)
                                      : static_cast<DWORD>(ERROR_MOD_NOT_FOUND)) {}

    explicit operator bool() const { return mFn != nullptr; }
    // Why the function is missing (ERROR_SUCCESS when it is there).
    DWORD Error() const { return mError; }

    // The function's result; without the function `failed`, with Error() as the thread's
    // last error, for the functions that report through it.
    template <class... A>
    std::invoke_result_t<F, A...> Call(std::invoke_result_t<F, A...> failed, A... args) const {
        if (!mFn) {
            ::SetLastError(mError);
            return failed;
        }
        return mFn(args...);
    }

private:
    F mFn;
    DWORD mError;
};

// COM, automation and the shell on first use. They are protected system DLLs, but a
// silent check needs none of them: loaded here, it never maps them (nor what they pull in).
namespace late {
HRESULT CoInitialize(LPVOID reserved);
HRESULT CoInitializeEx(LPVOID reserved, DWORD model);
void CoUninitialize();
HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* object);
HRESULT CoInitializeSecurity(PSECURITY_DESCRIPTOR descriptor, LONG services, SOLE_AUTHENTICATION_SERVICE* service,
                             void* reserved1, DWORD authn, DWORD imp, void* authList, DWORD capabilities,
                             void* reserved3);
HRESULT CoSetProxyBlanket(IUnknown* proxy, DWORD authn, DWORD authz, OLECHAR* server, DWORD authnLevel, DWORD imp,
                          RPC_AUTH_IDENTITY_HANDLE identity, DWORD capabilities);
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);
HRESULT VariantClear(VARIANTARG* value);
void VariantInit(VARIANTARG* value);
BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info);
HINSTANCE ShellExecuteW(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR directory, INT show);
}  // namespace late

// Every later library search (and the imports of libraries loaded later) looks in the
// system directory only, where the system offers it (Windows 8, or 7 and Vista with
// their update); elsewhere the loads above by full path are the protection.
void RestrictLibrarySearch();

}  // namespace plat::win32
