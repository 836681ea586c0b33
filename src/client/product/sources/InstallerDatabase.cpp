// Discovery from the installer database: the product whose install location matches.
#include "product/sources/Sources.h"

#include "log/Log.h"
#include "util/Text.h"
#include "platform/Platform.h"

namespace brut {

namespace {

constexpr std::size_t kProductCodeMaxChars = 38;
constexpr uint32_t kMsiPropertyCapacity = 512;

// Reads one installer property into `value`; 0 or the installer's error number.
uint32_t GetMsiProperty(plat::Installer& msi, const std::u16string& code, const char16_t* property,
                        std::u16string& value) {
    value.clear();
    return msi.GetProductInfo(code, property, kMsiPropertyCapacity, value);
}

// Property reads of a matched installer product; any failure ends the source.
bool ReadMsiProductFields(plat::Installer& msi, const std::u16string& code, ProgramInfo& record) {
    std::u16string value;
    auto read = [&](const char16_t* property, const char16_t* logName) {
        const uint32_t err = GetMsiProperty(msi, code, property, value);
        if (err != plat::kErrSuccess)
            LogError(u"MsiGetProductInfo '%s' failed and returned: %d", logName, err);
        return err == plat::kErrSuccess;
    };
    if (!read(u"InstallLocation", u"INSTALLPROPERTY_INSTALLLOCATION")) return false;
    record.InstallLocation = value;
    if (!read(u"ProductName", u"INSTALLPROPERTY_PRODUCTNAME")) return false;
    record.ProgramName = Trim(value);
    record.DisplayName = record.ProgramName;
    if (!read(u"VersionString", u"INSTALLPROPERTY_VERSIONSTRING")) return false;
    record.ProgramVersionNumber = value;
    if (!read(u"InstallDate", u"INSTALLPROPERTY_INSTALLDATE")) return false;
    record.ProgramInstallDate = value;
    if (!read(u"Language", u"INSTALLPROPERTY_LANGUAGE")) return false;
    record.ProgramLanguage = ParseNumberTruncated(value);
    return true;
}

}  // namespace

int ReadFromMsiDB(ProgramInfo& record) {
    record.InstallLocation = WithTrailingBackslash(record.InstallLocation);
    plat::Installer* msi = plat::Get().installer;
    if (!msi) return 0;

    for (uint32_t index = 0;; ++index) {
        std::u16string code;
        const uint32_t err = msi->EnumProducts(index, code);
        if (err == plat::kErrNoMoreItems) {
            LogError(u"ReadFromMsiDB failed");
            return 0;
        }
        if (err != plat::kErrSuccess) {
            // Anything but the end of the list would be answered again for every index.
            LogError(u"MsiEnumProducts failed and returned: %d", err);
            return 0;
        }
        if (code.size() > kProductCodeMaxChars) continue;

        std::u16string value;
        bool match = false;
        if (!record.InstallLocation.empty()) {
            const uint32_t rc = GetMsiProperty(*msi, code, u"InstallLocation", value);
            if (rc != plat::kErrSuccess) {
                LogError(u"MsiGetProductInfo 'INSTALLPROPERTY_INSTALLLOCATION' failed and returned: %d", rc);
                continue;
            }
            match = !value.empty() && WithTrailingBackslash(value) == record.InstallLocation;
        } else {
            if (record.ProgramName.empty()) return 0;
            const uint32_t rc = GetMsiProperty(*msi, code, u"ProductName", value);
            if (rc != plat::kErrSuccess) {
                LogError(u"MsiGetProductInfo 'INSTALLPROPERTY_PRODUCTNAME' failed and returned: %d", rc);
                continue;
            }
            match = !value.empty() && value == record.ProgramName;
        }
        if (!match) continue;

        LogInfo(u"Find product guid");
        record.ProductCode = code;
        if (!ReadMsiProductFields(*msi, code, record)) return 0;
        LogInfo(u"ReadFromMsiDB succeeded");
        return 1;
    }
}

}  // namespace brut
