#pragma once
// The product being updated: one shared, published record per process.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "system/ProductIdentity.h"

namespace brut {

// Besides these: ProgramName, ProgramVersionNumber and IsStubExe, the identity that
// the settings and the working folder are named after.
struct ProgramInfo : ProductIdentity {
    std::u16string DisplayName;
    std::u16string EditionDisplayName;
    std::u16string ProgramInstallDate;
    std::u16string InstallLocation;
    std::u16string ProductCode;
    std::vector<std::u16string> FileList;
    int32_t ProgramLanguage = 0;
    std::u16string AffiliateId;
};

extern const char16_t* const kPreviewSuffix;  // u" [Preview Channel]"
constexpr uint32_t kProgramInfoLockWaitMs = 30000;

// A published record never changes; whoever holds one keeps it alive, also
// after discovery has published another or dropped it.
using ProgramInfoPtr = std::shared_ptr<const ProgramInfo>;

// Guards building and publishing the shared record; recursive. Never destroyed.
std::recursive_timed_mutex& ProgramInfoLock();

// The shared record, never null; built by discovery on first use. When nothing
// is published and the lock cannot be taken in time, an empty record that is
// not published.
ProgramInfoPtr GetProgramInfo();
// Completes `record` from the machine and publishes a copy of it: 1 published, 0 not.
int DiscoverProgramInfo(ProgramInfo& record);

// For the unit tests only: drops the published record; shortens every wait for
// ProgramInfoLock (0 restores the default).
void ResetProgramInfoForTests();
void SetProgramInfoLockWaitForTests(uint32_t milliseconds);

std::u16string EscapeAmpersands(const std::u16string& text);
std::u16string MakeEditionName(const std::u16string& displayName);
bool IsPreviewChannelSet(const std::u16string& programName);
// True when `name` ends with kPreviewSuffix (case-sensitive).
bool HasPreviewSuffix(const std::u16string& name);

}  // namespace brut
