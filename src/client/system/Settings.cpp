#include "system/Settings.h"

#include "util/Text.h"
#include "platform/Platform.h"
#include "platform/RegistryValues.h"

namespace brut {

const char16_t* const kSettingsKey = u"Software\\Brindle\\Brindle Uptide";

namespace {

using plat::Hive;

constexpr uint32_t kRead64 = plat::kKeyRead | plat::kKeyWow64_64;
constexpr uint32_t kAll64 = plat::kKeyAllAccess | plat::kKeyWow64_64;
// "Debug" is opened with these rights in the default view, as the products
// that set it expect.
constexpr uint32_t kDebugRights = plat::kKeyQueryValue | plat::kKeySetValue | plat::kKeyCreateSubKey;

using setting::kDebug;
using setting::kDebugBannerUrl;
using setting::kDebugUrl;
using setting::kIgnoredMajorVersion;
using setting::kIgnoredVersion;
using setting::kLastUpdateCheck;
using setting::kUpdateResult;
using setting::kUpdateResultString;

// An empty name would leave a trailing separator (or an empty path level);
// such a key means its parent.
std::u16string SubKey(const std::u16string& parent, const std::u16string& name) {
    if (name.empty()) return parent;
    return parent + u"\\" + name;
}

bool OpenAndReadText(Hive hive, const std::u16string& path, uint32_t sam, const std::u16string& name,
                     std::u16string& text) {
    plat::Registry& reg = plat::Reg();
    plat::ScopedKey key(reg);
    if (reg.OpenKey(hive, path, sam, key.Handle()) != plat::kErrSuccess || !key.Get()) return false;
    return plat::ReadRegistryText(key.Get(), name, text);
}

// Opens or creates the key with all rights in the 64-bit view; false when refused.
bool CreateKey64(Hive hive, const std::u16string& path, plat::ScopedKey& key) {
    return plat::Reg().CreateKey(hive, path, kAll64, key.Handle()) == plat::kErrSuccess && key.Get() != 0;
}

void WriteText64(Hive hive, const std::u16string& path, const std::u16string& name, const std::u16string& text) {
    plat::ScopedKey key(plat::Reg());
    if (CreateKey64(hive, path, key)) plat::WriteRegistryText(key.Get(), name, text);
}

}  // namespace

std::u16string ProductKey(const ProductIdentity& info) { return SubKey(kSettingsKey, info.ProgramName); }

std::u16string VersionKey(const ProductIdentity& info) { return SubKey(ProductKey(info), info.ProgramVersionNumber); }

uint32_t ReadDebugFlag() {
    plat::Registry& reg = plat::Reg();
    plat::ScopedKey key(reg);
    if (reg.OpenKey(Hive::CurrentUser, kSettingsKey, kDebugRights, key.Handle()) != plat::kErrSuccess) return 0;
    uint32_t flag = 0;
    return plat::ReadRegistryDword(key.Get(), kDebug, flag) ? flag : 0;
}

std::u16string ReadProductSetting(const ProductIdentity& info, const std::u16string& valueName) {
    std::u16string text;
    if (OpenAndReadText(Hive::CurrentUser, ProductKey(info), kRead64, valueName, text)) return text;
    if (OpenAndReadText(Hive::CurrentUser, kSettingsKey, kRead64, valueName, text)) return text;
    return std::u16string();
}

std::u16string GetDebugUrl(const ProductIdentity& info) { return ReadProductSetting(info, kDebugUrl); }

std::u16string GetDebugBannerDownloadUrl(const ProductIdentity& info) {
    std::u16string url = ReadProductSetting(info, kDebugBannerUrl);
    return url.empty() ? GetDebugUrl(info) : url;
}

bool ReadLastUpdateCheck(const ProductIdentity& info, int32_t& stored) {
    std::u16string text;
    if (!OpenAndReadText(Hive::LocalMachine, VersionKey(info), kRead64, kLastUpdateCheck, text)) return false;
    stored = ParseInt32(text);
    return true;
}

void WriteLastUpdateCheck(const ProductIdentity& info, int64_t time) {
    if (info.IsStubExe == 1) return;
    // Without administrative rights the key cannot be created: nothing is stored.
    WriteText64(Hive::LocalMachine, VersionKey(info), kLastUpdateCheck, DecimalText(time));
}

void WriteLastUpdateCheckNow(const ProductIdentity& info) { WriteLastUpdateCheck(info, plat::Sys().UnixNow()); }

void ResetLastUpdateCheck(const ProductIdentity& info) { WriteLastUpdateCheck(info, 0); }

void WriteUpdateResult(const ProductIdentity& info, uint32_t result, const std::u16string& text) {
    for (const std::u16string& path : {ProductKey(info), VersionKey(info)}) {
        plat::ScopedKey key(plat::Reg());
        if (!CreateKey64(Hive::CurrentUser, path, key)) continue;
        plat::WriteRegistryDword(key.Get(), kUpdateResult, result);
        plat::WriteRegistryText(key.Get(), kUpdateResultString, text);
    }
}

void ClearUpdateResult(const ProductIdentity& info) {
    for (const std::u16string& path : {ProductKey(info), VersionKey(info)}) {
        plat::ScopedKey key(plat::Reg());
        if (!CreateKey64(Hive::CurrentUser, path, key)) continue;
        // A value that is not there is already cleared.
        plat::Reg().DeleteValue(key.Get(), kUpdateResult);
        plat::Reg().DeleteValue(key.Get(), kUpdateResultString);
    }
}

std::u16string ReadIgnoredVersion(const ProductIdentity& info) {
    std::u16string text;
    if (OpenAndReadText(Hive::CurrentUser, VersionKey(info), kRead64, kIgnoredVersion, text)) return text;
    return u"-1";
}

void WriteIgnoredVersion(const ProductIdentity& info, const std::u16string& version) {
    WriteText64(Hive::CurrentUser, VersionKey(info), kIgnoredVersion, version);
}

void ClearIgnoredVersion(const ProductIdentity& info) { WriteIgnoredVersion(info, std::u16string()); }

int32_t ReadIgnoredMajorVersion(const ProductIdentity& info) {
    std::u16string text;
    if (OpenAndReadText(Hive::CurrentUser, ProductKey(info), kRead64, kIgnoredMajorVersion, text))
        return ParseInt32(text);
    return -1;
}

void WriteIgnoredMajorVersion(const ProductIdentity& info, int32_t major) {
    WriteText64(Hive::CurrentUser, ProductKey(info), kIgnoredMajorVersion, Format(u"%d", major));
}

}  // namespace brut
