#pragma once
// Starting other programs, waiting for them and their exit codes, and a
// monotonic clock. Results are Win32 error codes (0 = success).
#include <cstdint>
#include <string>

namespace plat {

using ProcessHandle = std::uintptr_t;  // 0: none

class Processes {
public:
    virtual ~Processes() = default;
    // ShellExecuteExW with the verb "runas", `parameters`, no owner window, no working
    // directory, show state 5, keeping the new process's handle and never showing an
    // error box: 0 with the handle (0 when the shell started no new process), else the
    // last error code.
    virtual uint32_t ShellExecuteRunas(const std::u16string& path, const std::u16string& parameters,
                                       ProcessHandle& process) = 0;
    // CreateProcessW without inheritance or flags, this process's environment and
    // directory, default start-up information; `application` empty passes none.
    // 0 with the process handle (the thread handle is released), else the last error code.
    virtual uint32_t CreateNewProcess(const std::u16string& application, const std::u16string& commandLine,
                                      ProcessHandle& process) = 0;
    // Waits without time limit: 0 when the process has ended, else the last error code.
    virtual uint32_t WaitForExit(ProcessHandle process) = 0;
    // GetExitCodeProcess: 0 with the code, else the last error code.
    virtual uint32_t ExitCode(ProcessHandle process, uint32_t& code) = 0;
    virtual void Close(ProcessHandle process) = 0;
    // Milliseconds since some fixed point (GetTickCount64); never goes back.
    virtual uint64_t TickCount() = 0;
};

}  // namespace plat
