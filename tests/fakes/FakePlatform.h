#pragma once
// Installs a complete set of fakes as the process platform for one test.
#include "fakes/FakeProcess.h"
#include "fakes/FakeRegistry.h"
#include "fakes/FakeSystem.h"
#include "fakes/FakeTrust.h"

namespace fake {

struct FakePlatform {
    FakeRegistry registry;
    FakeFiles files;
    FakeSystem system;
    FakeVersionInfo versions;
    FakeProcesses processes;
    FakeTrust trust;
    plat::Installer* installer = nullptr;
    plat::Wmi* wmi = nullptr;
    plat::Internet* internet = nullptr;

    FakePlatform() { InstallAll(); }
    // With the optional fakes a suite needs from the start.
    explicit FakePlatform(plat::Internet* internetFake) : internet(internetFake) { InstallAll(); }
    FakePlatform(plat::Installer* installerFake, plat::Wmi* wmiFake) : installer(installerFake), wmi(wmiFake) {
        InstallAll();
    }
    // Threads still running use the fakes: they end before the platform goes.
    ~FakePlatform() {
        system.JoinThreads();
        plat::Install(plat::Platform{});
    }
    // Re-installs after the optional members were set.
    void InstallAll() {
        plat::Platform p;
        p.registry = &registry;
        p.files = &files;
        p.system = &system;
        p.versions = &versions;
        p.installer = installer;
        p.wmi = wmi;
        p.internet = internet;
        p.processes = &processes;
        p.trust = &trust;
        plat::Install(p);
    }
};

}  // namespace fake
