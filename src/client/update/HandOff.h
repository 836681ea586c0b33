#pragma once
// The worker hand-off: what it needs of the dialog's window, the worker's
// command line, and the process start it shares with the stub restart.
#include <cstdint>
#include <functional>
#include <string>

namespace brut {

class CmdLineInfo;
struct ProgramInfo;

// A hand-off that started the worker ends the client with the worker's exit code, or
// with 0 when it did not wait; one worker code means something to the client too.
// Products branch on these as on the dialog's end codes (ui/EndCodes.h), so neither
// may change its meaning; scripts/check-docs holds them to docs/integration.md.
enum WorkerExit : int32_t {
    kWorkerNotWaitedFor = 0,      // the client did not wait: the worker runs on alone
    kWorkerAnotherInstance = -1,  // the worker found another instance of itself running
};

// Implemented by the dialog; called from the hand-off thread.
class HandOffWindow {
public:
    virtual ~HandOffWindow() = default;
    // Sets DialogVisible to 0 and hides the window: the worker takes over the screen.
    virtual void HideForHandOff() = 0;
    // Screen coordinates of the window's top-left corner; false when they cannot be read.
    virtual bool ScreenPosition(int32_t& left, int32_t& top) = 0;
    // True once the user confirmed ending the update: the worker must not start after all.
    virtual bool EndedByUser() const = 0;
};

// The worker's command line (without the program path) from the published
// product record and `cmdLine`.
std::u16string BuildWorkerCommandLine(const CmdLineInfo& cmdLine);
// The same from a given record.
std::u16string BuildWorkerCommandLine(const CmdLineInfo& cmdLine, const ProgramInfo& info);

// Starts `path` (elevated through the shell, or plainly), waiting for it when
// asked: 0 when started (and, with `wait`, ended with its exit code read),
// otherwise the system's last error code. `exitCode` is 0 until read. `started`
// runs as soon as the start has returned, started or not, before any wait.
uint32_t StartProcess(const std::u16string& path, const std::u16string& commandLine, bool wait,
                      int32_t& exitCode, bool elevate, const std::function<void()>& started = {});

}  // namespace brut
