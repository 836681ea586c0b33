#include "platform/win32/Win32Platform.h"

namespace plat::win32 {

const Platform& RealPlatform() {
    // Deliberately never destroyed (see the header).
    static const Platform* platform = [] {
        auto* p = new Platform;
        p->registry = new Win32Registry;
        p->files = new Win32Files;
        p->system = new Win32System;
        p->versions = new Win32VersionInfo;
        p->installer = new Win32Installer;
        p->wmi = new Win32Wmi;
        p->internet = new Win32Internet;
        p->processes = new Win32Processes;
        p->trust = new Win32Trust;
        return p;
    }();
    return *platform;
}

}  // namespace plat::win32
