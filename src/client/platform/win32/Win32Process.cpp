#include "platform/win32/Win32Platform.h"
#include "platform/win32/Win32Libraries.h"

#include <shellapi.h>

namespace plat::win32 {

namespace {

HANDLE H(ProcessHandle p) { return reinterpret_cast<HANDLE>(p); }

// The last error of a failed call; never 0, so that a failure is never read as success.
uint32_t Failure() {
    DWORD err = ::GetLastError();
    return err ? err : ERROR_GEN_FAILURE;
}

}  // namespace

uint32_t Win32Processes::ShellExecuteRunas(const std::u16string& path, const std::u16string& parameters,
                                           ProcessHandle& process) {
    process = 0;
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    // Without NO_UI a refused start shows a modal error box: a silent run would hang on it.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.hwnd = nullptr;
    info.lpVerb = L"runas";
    info.lpFile = W(path);
    info.lpParameters = W(parameters);
    info.lpDirectory = nullptr;
    info.nShow = SW_SHOW;
    if (!late::ShellExecuteExW(&info)) return Failure();
    process = reinterpret_cast<ProcessHandle>(info.hProcess);
    return 0;
}

uint32_t Win32Processes::CreateNewProcess(const std::u16string& application, const std::u16string& commandLine,
                                          ProcessHandle& process) {
    process = 0;
    // CreateProcessW may write into the command line.
    std::wstring cmd(reinterpret_cast<const wchar_t*>(commandLine.c_str()), commandLine.size());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(application.empty() ? nullptr : W(application), &cmd[0], nullptr, nullptr, FALSE, 0,
                          nullptr, nullptr, &startup, &pi))
        return Failure();
    ::CloseHandle(pi.hThread);
    process = reinterpret_cast<ProcessHandle>(pi.hProcess);
    return 0;
}

uint32_t Win32Processes::WaitForExit(ProcessHandle process) {
    if (!process) return ERROR_INVALID_HANDLE;
    return ::WaitForSingleObject(H(process), INFINITE) == WAIT_OBJECT_0 ? 0 : Failure();
}

uint32_t Win32Processes::ExitCode(ProcessHandle process, uint32_t& code) {
    DWORD value = 0;
    if (!process) return ERROR_INVALID_HANDLE;
    if (!::GetExitCodeProcess(H(process), &value)) return Failure();
    code = value;
    return 0;
}

void Win32Processes::Close(ProcessHandle process) {
    if (process) ::CloseHandle(H(process));
}

uint64_t Win32Processes::TickCount() { return ::GetTickCount64(); }

}  // namespace plat::win32
