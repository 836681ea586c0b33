#pragma once
// The one process-wide access to the operating system. The Windows build
// installs the Win32 implementation at start-up; tests install fakes.
#include "win32/Codes.h"
#include "win32/Files.h"
#include "win32/Installer.h"
#include "win32/Internet.h"
#include "win32/Registry.h"
#include "win32/System.h"
#include "win32/VersionInfo.h"

namespace plat {

struct Platform {
    Registry* registry = nullptr;
    Files* files = nullptr;
    System* system = nullptr;
    VersionInfo* versions = nullptr;
    Installer* installer = nullptr;
    Wmi* wmi = nullptr;
    Internet* internet = nullptr;
};

// Installs the platform; the pointers must outlive every use.
void Install(const Platform& platform);
const Platform& Get();

inline Registry& Reg() { return *Get().registry; }
inline Files& Fs() { return *Get().files; }
inline System& Sys() { return *Get().system; }

}  // namespace plat
