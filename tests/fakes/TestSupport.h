#pragma once
// What the unit suites share on top of the fakes: the log read back from the fake files,
// ready-made machine data, and the process-wide state of the client reset around each test.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "fakes/FakePlatform.h"
#include "log/Log.h"
#include "product/ProgramInfo.h"
#include "system/Directories.h"
#include "system/SystemFacts.h"

namespace fake {

// FakeSystem's temporary directory and, below it, the updater's working root: log files and
// the per-product working directories.
inline const std::u16string kTempDir = u"C:\\Temp\\";
inline const std::u16string kWorkRoot = kTempDir + u"ZI Vodidure\\BR Uptide\\";

// --- The log as written to the fake files ---------------------------------------------------

// Every log file, as stored (one byte a character).
std::u16string LogText(const FakePlatform& fp);
// A line ends with `levelAndText`, all that follows the time stamp: "ERR: BRUT:[08a2c] text".
bool LogTextHasLine(const FakePlatform& fp, const std::u16string& levelAndText);
bool LogTextHas(const FakePlatform& fp, const std::u16string& text);

// "TAG message" of every line, the log's own start line left out.
std::vector<std::u16string> LogLines(const FakePlatform& fp);
bool LogHasLine(const FakePlatform& fp, const std::u16string& tagAndMessage);
bool LogHasLineStarting(const FakePlatform& fp, const std::u16string& start);
// The messages of the ERR lines.
std::vector<std::u16string> LogErrors(const FakePlatform& fp);

// The resets are inline so that a test binary built from a few subsystems links only those it uses.

// Starts the log afresh: every run of a table case writes the same file name. `under`: the files to drop.
inline void ClearLog(FakePlatform& fp, const std::u16string& under = kTempDir) {
    brut::ResetLogForTests();
    for (const auto& f : fp.files.FilesIn(under)) fp.files.RemoveFile(f);
}

// The process-wide log, fresh for a test (its directory made) and reset at the end while the
// fakes it writes to still exist: declare it after the platform.
struct FreshLog {
    explicit FreshLog(FakePlatform& fp) {
        fp.files.AddDirectory(kTempDir);
        brut::InstallLogFolder(&brut::LogDirectory);
        brut::ResetLogForTests();
    }
    ~FreshLog() { brut::ResetLogForTests(); }
};

// The hardware address, remembered once found, forgotten before and after a test.
struct FreshMacAddress {
    FreshMacAddress() { brut::ResetMacAddressForTests(); }
    ~FreshMacAddress() { brut::ResetMacAddressForTests(); }
};

// A record the test owns and changes, handed on where a published record is taken.
inline brut::ProgramInfoPtr Borrowed(const brut::ProgramInfo& info) {
    return brut::ProgramInfoPtr(brut::ProgramInfoPtr(), &info);
}

// --- Machine data ----------------------------------------------------------------------------

// An adapter the hardware-address search takes: up, with one permanent, DNS-eligible IPv4 address.
plat::Adapter UsableAdapter(std::vector<uint8_t> mac);

// The machine's list of installed programs, and an entry in it holding text values.
inline const std::u16string kUninstall = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
void AddUninstall(FakeRegistry& registry, const std::u16string& key,
                  const std::map<std::u16string, std::u16string>& values);

}  // namespace fake
