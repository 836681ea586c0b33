#include "fakes/FakeProcess.h"

namespace fake {

uint32_t FakeProcesses::Started(Start start, plat::ProcessHandle& process, bool giveHandle) {
    process = 0;
    starts.push_back(start);
    if (onStart) onStart(start);
    if (startError) return startError;
    if (giveHandle) {
        process = mNext++;
        open.insert(process);
    }
    return 0;
}

uint32_t FakeProcesses::ShellExecuteRunas(const std::u16string& path, const std::u16string& parameters,
                                          plat::ProcessHandle& process) {
    return Started({true, path, parameters}, process, !shellGivesNoHandle);
}

uint32_t FakeProcesses::CreateNewProcess(const std::u16string& application, const std::u16string& commandLine,
                                         plat::ProcessHandle& process) {
    return Started({false, application, commandLine}, process, true);
}

uint32_t FakeProcesses::WaitForExit(plat::ProcessHandle process) {
    ++waits;
    if (onWait) onWait();
    if (!open.count(process)) return 6;  // ERROR_INVALID_HANDLE
    return waitError;
}

uint32_t FakeProcesses::ExitCode(plat::ProcessHandle process, uint32_t& code) {
    if (!open.count(process)) return 6;
    if (exitCodeError) return exitCodeError;
    code = exitCode;
    return 0;
}

void FakeProcesses::Close(plat::ProcessHandle process) { open.erase(process); }

}  // namespace fake
