#pragma once
// The product being updated: one shared, published record per process.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace brut {

struct ProgramInfo {
    std::u16string ProgramName;
    std::u16string DisplayName;
    std::u16string EditionDisplayName;
    std::u16string ProgramVersionNumber;
    std::u16string ProgramInstallDate;
    std::u16string InstallLocation;
    std::u16string ProductCode;
    std::vector<std::u16string> FileList;
    int32_t ProgramLanguage = 0;
    int32_t IsStubExe = 0;
    std::u16string AffiliateId;
};

extern const char16_t* const kPreviewSuffix;  // u" [Preview Channel]"
constexpr uint32_t kProgramInfoLockWaitMs = 30000;

// Guards creating, filling and replacing the shared record; recursive.
std::recursive_timed_mutex& ProgramInfoLock();

// The shared record; built by discovery on first use. When the lock cannot be
// taken in time and no record exists, an empty record that lives as long as
// the process.
const ProgramInfo& GetProgramInfo();
// Completes `record` from the machine and publishes it: 1 published, 0 not.
int DiscoverProgramInfo(ProgramInfo& record);
// Drops the shared record (tests only).
void ResetProgramInfoForTests();
// Shortens every wait for ProgramInfoLock (tests only; 0 restores the default).
void SetProgramInfoLockWaitForTests(uint32_t milliseconds);

std::u16string EscapeAmpersands(const std::u16string& text);
std::u16string MakeEditionName(const std::u16string& displayName);
bool IsPreviewChannelSet(const std::u16string& programName);
// True when `name` ends with kPreviewSuffix (case-sensitive).
bool HasPreviewSuffix(const std::u16string& name);

}  // namespace brut
