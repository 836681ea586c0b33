// exit-probe: ends its process from a second thread through the platform's
// ExitProcess while the main thread keeps reading the client's process-wide
// texts and logging, the way the worker hand-off ends the client under its
// dialog.  Exit code 7 is the requested end; 99 says a static destructor ran.
//
//   exit-probe          log under "ExitProbe", end with 7 from the second thread
#include <atomic>

#include "log/Log.h"
#include "system/Directories.h"
#include "platform/win32/Win32Platform.h"
#include "text/Texts.h"

namespace {

constexpr int kRequestedCode = 7;
constexpr int kDestructorRanCode = 99;

// Any static clean-up at the end changes the exit code.
struct DestructorSentinel {
    ~DestructorSentinel() { ::TerminateProcess(::GetCurrentProcess(), kDestructorRanCode); }
} gSentinel;

std::atomic<int> gRounds{0};

DWORD WINAPI EndingThread(LPVOID) {
    // Ends only once the main thread is well inside its loop.
    while (gRounds.load() < 1000) ::Sleep(1);
    brut::LogInfo(u"exitCodeApplication %d", kRequestedCode);
    plat::Sys().ExitProcess(kRequestedCode);
    return 0;
}

}  // namespace

int wmain() {
    plat::Install(plat::win32::RealPlatform());
    brut::InstallLogFolder(&brut::LogDirectory);
    brut::SetupLog(u"ExitProbe");
    if (!::CreateThread(nullptr, 0, EndingThread, nullptr, 0, nullptr)) return 3;
    for (;;) {
        const std::u16string& text = brut::GetLocalizedText(1033, brut::TXT_CONNECTING);
        if (text.empty()) return 4;
        if (gRounds.fetch_add(1) % 100 == 0) brut::LogInfo(u"still reading: %s", text);
    }
}
