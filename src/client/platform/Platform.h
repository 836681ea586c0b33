#pragma once
// The one process-wide access to the operating system. The Windows build
// installs the Win32 implementation at start-up; tests install fakes.
#include "platform/Codes.h"
#include "platform/Files.h"
#include "platform/Installer.h"
#include "platform/Internet.h"
#include "platform/Process.h"
#include "platform/Registry.h"
#include "platform/System.h"
#include "platform/Trust.h"
#include "platform/VersionInfo.h"

namespace plat {

struct Platform {
    Registry* registry = nullptr;
    Files* files = nullptr;
    System* system = nullptr;
    VersionInfo* versions = nullptr;
    Installer* installer = nullptr;
    Wmi* wmi = nullptr;
    Internet* internet = nullptr;
    Processes* processes = nullptr;
    Trust* trust = nullptr;
};

// Installs the platform; the pointers must outlive every use.
void Install(const Platform& platform);
const Platform& Get();

inline Registry& Reg() { return *Get().registry; }
inline Files& Fs() { return *Get().files; }
inline System& Sys() { return *Get().system; }
inline Processes& Proc() { return *Get().processes; }

}  // namespace plat
