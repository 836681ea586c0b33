#pragma once
// Settings kept in the registry under the maker's key, per user and per
// machine. No operation reports failure except through its default.
#include <cstdint>
#include <string>

#include "system/ProductIdentity.h"

namespace brut {

extern const char16_t* const kSettingsKey;  // u"Software\\Brindle\\Brindle Uptide"

// The values the client keeps or reads under its keys. Products, installers and support
// set or read them by these names, so none may change; scripts/check-docs holds the
// list to docs/integration.md.
namespace setting {
constexpr char16_t kDebug[] = u"Debug";                                  // HKCU settings key, REG_DWORD
constexpr char16_t kDebugUrl[] = u"DebugUrl_v2";                         // HKCU product key, else settings key
constexpr char16_t kDebugBannerUrl[] = u"DebugBannerDownloadUrl_v2";     // HKCU product key, else settings key
constexpr char16_t kPreviewChannel[] = u"PreviewChannel";                // HKLM product key, REG_DWORD
constexpr char16_t kLastUpdateCheck[] = u"LastUpdateCheck";              // HKLM version key, text
constexpr char16_t kUpdateResult[] = u"UpdateResult";                    // HKCU product and version key, REG_DWORD
constexpr char16_t kUpdateResultString[] = u"UpdateResultString";        // HKCU product and version key, text
constexpr char16_t kIgnoredVersion[] = u"IgnoreProductVersionUpdate";    // HKCU version key, text
constexpr char16_t kIgnoredMajorVersion[] = u"IgnoreProductMajorVersionUpgrade";  // HKCU product key, text
}  // namespace setting

std::u16string ProductKey(const ProductIdentity& info);
std::u16string VersionKey(const ProductIdentity& info);

uint32_t ReadDebugFlag();
std::u16string ReadProductSetting(const ProductIdentity& info, const std::u16string& valueName);
std::u16string GetDebugUrl(const ProductIdentity& info);
std::u16string GetDebugBannerDownloadUrl(const ProductIdentity& info);

// "LastUpdateCheck": false when the key or the value cannot be read.
bool ReadLastUpdateCheck(const ProductIdentity& info, int32_t& stored);
void WriteLastUpdateCheck(const ProductIdentity& info, int64_t time);
void WriteLastUpdateCheckNow(const ProductIdentity& info);
void ResetLastUpdateCheck(const ProductIdentity& info);

void WriteUpdateResult(const ProductIdentity& info, uint32_t result, const std::u16string& text);
void ClearUpdateResult(const ProductIdentity& info);

std::u16string ReadIgnoredVersion(const ProductIdentity& info);
void WriteIgnoredVersion(const ProductIdentity& info, const std::u16string& version);
void ClearIgnoredVersion(const ProductIdentity& info);
int32_t ReadIgnoredMajorVersion(const ProductIdentity& info);
void WriteIgnoredMajorVersion(const ProductIdentity& info, int32_t major);

}  // namespace brut
