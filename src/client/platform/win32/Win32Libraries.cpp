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

namespace late {

namespace {

const HRESULT kMissing = HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);

}  // namespace

HRESULT CoInitialize(LPVOID reserved) {
    static const SystemProc<HRESULT(WINAPI*)(LPVOID)> fn{L"ole32.dll", "CoInitialize"};
    return fn.Call(kMissing, reserved);
}
HRESULT CoInitializeEx(LPVOID reserved, DWORD model) {
    static const SystemProc<HRESULT(WINAPI*)(LPVOID, DWORD)> fn{L"ole32.dll", "CoInitializeEx"};
    return fn.Call(kMissing, reserved, model);
}
void CoUninitialize() {
    static const auto fn = SystemFunction<void(WINAPI*)()>(L"ole32.dll", "CoUninitialize");
    if (fn) fn();
}
HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* object) {
    static const SystemProc<HRESULT(WINAPI*)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*)> fn{L"ole32.dll",
                                                                                              "CoCreateInstance"};
    return fn.Call(kMissing, clsid, outer, context, iid, object);
}
HRESULT CoInitializeSecurity(PSECURITY_DESCRIPTOR descriptor, LONG services, SOLE_AUTHENTICATION_SERVICE* service,
                             void* reserved1, DWORD authn, DWORD imp, void* authList, DWORD capabilities,
                             void* reserved3) {
    static const SystemProc<HRESULT(WINAPI*)(PSECURITY_DESCRIPTOR, LONG, SOLE_AUTHENTICATION_SERVICE*, void*, DWORD,
                                             DWORD, void*, DWORD, void*)>
        fn{L"ole32.dll", "CoInitializeSecurity"};
    return fn.Call(kMissing, descriptor, services, service, reserved1, authn, imp, authList, capabilities, reserved3);
}
HRESULT CoSetProxyBlanket(IUnknown* proxy, DWORD authn, DWORD authz, OLECHAR* server, DWORD authnLevel, DWORD imp,
                          RPC_AUTH_IDENTITY_HANDLE identity, DWORD capabilities) {
    static const SystemProc<HRESULT(WINAPI*)(IUnknown*, DWORD, DWORD, OLECHAR*, DWORD, DWORD,
                                             RPC_AUTH_IDENTITY_HANDLE, DWORD)>
        fn{L"ole32.dll", "CoSetProxyBlanket"};
    return fn.Call(kMissing, proxy, authn, authz, server, authnLevel, imp, identity, capabilities);
}
BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    static const SystemProc<BSTR(WINAPI*)(const OLECHAR*, UINT)> fn{L"oleaut32.dll", "SysAllocStringLen"};
    return fn.Call(nullptr, text, length);
}
void SysFreeString(BSTR text) {
    static const auto fn = SystemFunction<void(WINAPI*)(BSTR)>(L"oleaut32.dll", "SysFreeString");
    if (fn) fn(text);
}
UINT SysStringLen(BSTR text) {
    static const SystemProc<UINT(WINAPI*)(BSTR)> fn{L"oleaut32.dll", "SysStringLen"};
    return fn.Call(0u, text);
}
HRESULT VariantClear(VARIANTARG* value) {
    static const SystemProc<HRESULT(WINAPI*)(VARIANTARG*)> fn{L"oleaut32.dll", "VariantClear"};
    return fn.Call(kMissing, value);
}
void VariantInit(VARIANTARG* value) {
    static const auto fn = SystemFunction<void(WINAPI*)(VARIANTARG*)>(L"oleaut32.dll", "VariantInit");
    if (fn) fn(value);
}
BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info) {
    static const SystemProc<BOOL(WINAPI*)(SHELLEXECUTEINFOW*)> fn{L"shell32.dll", "ShellExecuteExW"};
    return fn.Call(FALSE, info);
}
HINSTANCE ShellExecuteW(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR directory, INT show) {
    static const SystemProc<HINSTANCE(WINAPI*)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT)> fn{
        L"shell32.dll", "ShellExecuteW"};
    // The value ShellExecute gives for a file it cannot find.
    return fn.Call(reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(SE_ERR_FNF)), owner, verb, file, parameters,
                   directory, show);
}

}  // namespace late

}  // namespace plat::win32
