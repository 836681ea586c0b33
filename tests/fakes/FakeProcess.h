#pragma once
// Scripted process starts: every start recorded, failures injected per step,
// and a clock that moves only when a test moves it.
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace fake {

class FakeProcesses : public plat::Processes {
public:
    uint32_t ShellExecuteRunas(const std::u16string& path, const std::u16string& parameters,
                               plat::ProcessHandle& process) override;
    uint32_t CreateNewProcess(const std::u16string& application, const std::u16string& commandLine,
                              plat::ProcessHandle& process) override;
    uint32_t WaitForExit(plat::ProcessHandle process) override;
    uint32_t ExitCode(plat::ProcessHandle process, uint32_t& code) override;
    void Close(plat::ProcessHandle process) override;
    uint64_t TickCount() override { return tick; }

    struct Start {
        bool shell = false;           // ShellExecuteRunas, else CreateNewProcess
        std::u16string program;       // the path, or CreateNewProcess's application
        std::u16string commandLine;   // the parameters, or the full command line
    };
    std::vector<Start> starts;
    uint32_t startError = 0;      // both start calls answer this
    bool shellGivesNoHandle = false;
    uint32_t waitError = 0;
    uint32_t exitCodeError = 0;
    uint32_t exitCode = 0;
    int waits = 0;
    std::set<plat::ProcessHandle> open;  // handles not yet closed
    uint64_t tick = 1000000;
    // Runs at every start, before the answer (e.g. to look at the state then).
    std::function<void(const Start&)> onStart;
    std::function<void()> onWait;  // at every wait for a process

private:
    uint32_t Started(Start start, plat::ProcessHandle& process, bool giveHandle);
    plat::ProcessHandle mNext = 0x100;
};

}  // namespace fake
