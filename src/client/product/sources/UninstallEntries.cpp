// Discovery from the uninstall entries of the registry: the one whose value matches.
#include "product/sources/Sources.h"

#include <memory>

#include "log/Log.h"
#include "util/Text.h"
#include "platform/Platform.h"
#include "platform/RegistryValues.h"

namespace brut {

namespace {

constexpr char16_t kUninstallPath[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// Buffers the uninstall entries are read into.
constexpr std::size_t kUninstallNameMaxChars = 260;
constexpr std::size_t kUninstallCompareBytes = 261;
constexpr std::size_t kUninstallValueBytes = 260 * sizeof(char16_t);
// Stop enumerating when the registry keeps failing without ever reporting the end.
constexpr uint32_t kMaxConsecutiveEnumErrors = 1024;

// A text of an uninstall entry (plain or expandable) as it fits the buffer it is read into.
bool ReadEntryText(plat::KeyHandle key, const std::u16string& name, std::size_t capacityBytes, std::u16string& text) {
    return plat::ReadRegistryText(key, name, text, capacityBytes, plat::TextTypes::SzOrExpandSz);
}

std::u16string WithoutOneTrailingBackslash(const std::u16string& text) {
    return (!text.empty() && text.back() == u'\\') ? text.substr(0, text.size() - 1) : text;
}

}  // namespace

int GetUninstallRegKey(const std::u16string& valueName, const std::u16string& wanted, std::u16string& keyName) {
    const std::u16string wantedLower = ToLowerAscii(WithoutOneTrailingBackslash(wanted));
    plat::Registry& reg = plat::Reg();
    plat::ScopedKey uninstall(reg);
    if (reg.OpenKey(plat::Hive::LocalMachine, kUninstallPath, plat::kKeyRead | plat::kKeyWow64_64,
                    uninstall.Handle()) != plat::kErrSuccess)
        return 0;

    bool found = false;
    int32_t bestDate = 0;
    uint32_t consecutiveErrors = 0;
    for (uint32_t index = 0;; ++index) {
        std::u16string name;
        const uint32_t err = reg.EnumKey(uninstall.Get(), index, name);
        if (err == plat::kErrNoMoreItems) break;
        if (err != plat::kErrSuccess || name.size() > kUninstallNameMaxChars) {
            if (++consecutiveErrors >= kMaxConsecutiveEnumErrors) break;
            continue;
        }
        consecutiveErrors = 0;

        plat::ScopedKey entry(reg);
        if (reg.OpenSubKey(uninstall.Get(), name, plat::kKeyRead | plat::kKeyWow64_64, entry.Handle()) !=
            plat::kErrSuccess)
            continue;
        std::u16string value;
        if (!ReadEntryText(entry.Get(), valueName, kUninstallCompareBytes, value)) continue;
        if (ToLowerAscii(WithoutOneTrailingBackslash(value)) != wantedLower) continue;

        std::u16string date;
        const int32_t installDate =
            ReadEntryText(entry.Get(), u"InstallDate", kUninstallCompareBytes, date) ? ParseInt32(date) : 0;
        if (installDate >= bestDate) {
            bestDate = installDate;
            keyName = name;
            found = true;
        }
    }
    return found ? 1 : 0;
}

int ReadFromRegistry(ProgramInfo& record) {
    std::u16string keyName;
    bool found = false;
    if (!record.InstallLocation.empty()) {
        found = GetUninstallRegKey(u"InstallLocation", record.InstallLocation, keyName) != 0;
        const std::u16string english = ReplaceAll(record.InstallLocation, u"\\Programme\\", u"\\Program Files\\");
        if (!found && english != record.InstallLocation)
            found = GetUninstallRegKey(u"InstallLocation", english, keyName) != 0;
    }
    if (!found && !record.ProgramName.empty())
        found = GetUninstallRegKey(u"ProgramName", record.ProgramName, keyName) != 0;
    if (!found) {
        LogError(u"GetUninstallRegKey failed");
        return 0;
    }

    const std::u16string path = Format(u"%s\\%s", kUninstallPath, keyName);
    plat::ScopedKey key(plat::Reg());
    if (plat::Reg().OpenKey(plat::Hive::LocalMachine, path, plat::kKeyRead | plat::kKeyWow64_64, key.Handle()) !=
        plat::kErrSuccess) {
        LogError(u"Can\u00B4t open RegKey: %s", path);
        return 0;
    }
    record.ProductCode = keyName;

    std::u16string value;
    if (ReadEntryText(key.Get(), u"DisplayName", kUninstallValueBytes, value)) {
        record.ProgramName = Trim(value);
        record.DisplayName = record.ProgramName;
    }
    if (ReadEntryText(key.Get(), u"DisplayVersion", kUninstallValueBytes, value)) record.ProgramVersionNumber = value;
    if (ReadEntryText(key.Get(), u"InstallDate", kUninstallValueBytes, value)) record.ProgramInstallDate = value;
    if (ReadEntryText(key.Get(), u"InstallLocation", kUninstallValueBytes, value))
        record.InstallLocation = WithTrailingBackslash(value);
    uint32_t language = 0;
    if (plat::ReadRegistryDword(key.Get(), u"Language", language)) record.ProgramLanguage = static_cast<int32_t>(language);
    return 1;
}

}  // namespace brut
