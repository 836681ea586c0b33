#pragma once
// Settings kept in the registry under the maker's key, per user and per
// machine. No operation reports failure except through its default.
#include <cstdint>
#include <string>

#include "product/ProgramInfo.h"

namespace brut {

extern const char16_t* const kSettingsKey;  // u"Software\\Brindle\\Brindle Uptide"
std::u16string ProductKey(const ProgramInfo& info);
std::u16string VersionKey(const ProgramInfo& info);

uint32_t ReadDebugFlag();
std::u16string ReadProductSetting(const ProgramInfo& info, const std::u16string& valueName);
std::u16string GetDebugUrl(const ProgramInfo& info);
std::u16string GetDebugBannerDownloadUrl(const ProgramInfo& info);

// "LastUpdateCheck": false when the key or the value cannot be read.
bool ReadLastUpdateCheck(const ProgramInfo& info, int32_t& stored);
void WriteLastUpdateCheck(const ProgramInfo& info, int64_t time);
void WriteLastUpdateCheckNow(const ProgramInfo& info);
void ResetLastUpdateCheck(const ProgramInfo& info);

void WriteUpdateResult(const ProgramInfo& info, uint32_t result, const std::u16string& text);
void ClearUpdateResult(const ProgramInfo& info);

std::u16string ReadIgnoredVersion(const ProgramInfo& info);
void WriteIgnoredVersion(const ProgramInfo& info, const std::u16string& version);
void ClearIgnoredVersion(const ProgramInfo& info);
int32_t ReadIgnoredMajorVersion(const ProgramInfo& info);
void WriteIgnoredMajorVersion(const ProgramInfo& info, int32_t major);

}  // namespace brut
