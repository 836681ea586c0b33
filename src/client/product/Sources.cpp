#include "product/Sources.h"

#include <functional>
#include <memory>

#include "log/Log.h"
#include "system/Directories.h"
#include "system/SystemFacts.h"
#include "util/Text.h"
#include "platform/Platform.h"
#include "platform/RegistryValues.h"

namespace brut {

namespace {

constexpr char16_t kOwnProductName[] = u"Brindle Uptide";
constexpr char16_t kVersionInfoFileName[] = u"VersionInfo.txt";
constexpr char16_t kUninstallPath[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The file holds four short lines; anything far beyond is not ours.
constexpr std::size_t kVersionInfoMaxBytes = 64 * 1024;
constexpr std::size_t kVersionInfoMaxLineBytes = 1024;

// Buffers the uninstall entries are read into.
constexpr std::size_t kUninstallNameMaxChars = 260;
constexpr std::size_t kUninstallCompareBytes = 261;
constexpr std::size_t kUninstallValueBytes = 260 * sizeof(char16_t);
// Stop enumerating when the registry keeps failing without ever reporting the end.
constexpr uint32_t kMaxConsecutiveEnumErrors = 1024;

constexpr std::size_t kProductCodeMaxChars = 38;
constexpr uint32_t kMsiPropertyCapacity = 512;
constexpr uint32_t kWmiNextTimeoutMs = 5000;

bool Failed(int32_t hr) { return hr < 0; }

// A text of an uninstall entry (plain or expandable) as it fits the buffer it is read into.
bool ReadEntryText(plat::KeyHandle key, const std::u16string& name, std::size_t capacityBytes, std::u16string& text) {
    return plat::ReadRegistryText(key, name, text, capacityBytes, plat::TextTypes::SzOrExpandSz);
}

std::u16string WithoutOneTrailingBackslash(const std::u16string& text) {
    return (!text.empty() && text.back() == u'\\') ? text.substr(0, text.size() - 1) : text;
}

enum class LineStatus { Ok, Missing, TooLong, Binary };

// Lines of an 8-bit text: LF ends a line, one CR before it is dropped; a last
// line without LF counts, an empty rest after the last LF does not.
class LineReader {
public:
    explicit LineReader(const std::string& bytes) : mBytes(bytes) {}
    LineStatus Next(std::string& line) {
        if (mPos >= mBytes.size()) return LineStatus::Missing;
        const std::size_t lf = mBytes.find('\n', mPos);
        const std::size_t end = lf == std::string::npos ? mBytes.size() : lf;
        line = mBytes.substr(mPos, end - mPos);
        mPos = lf == std::string::npos ? mBytes.size() : lf + 1;
        if (lf != std::string::npos && !line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > kVersionInfoMaxLineBytes) return LineStatus::TooLong;
        if (line.find('\0') != std::string::npos) return LineStatus::Binary;
        return LineStatus::Ok;
    }

private:
    const std::string& mBytes;
    std::size_t mPos = 0;
};

// One line of VersionInfo.txt in UTF-16; false, logged, when it is missing or malformed.
bool ReadVersionInfoLine(LineReader& reader, int number, const std::u16string& path, std::u16string& value) {
    std::string line;
    switch (reader.Next(line)) {
    case LineStatus::Ok:
        value = plat::Sys().FromAnsi(line);
        return true;
    case LineStatus::Missing:
        LogError(u"%s: line %d is missing", path, number);
        return false;
    case LineStatus::TooLong:
        LogError(u"%s: line %d is longer than %u bytes", path, number, static_cast<unsigned>(kVersionInfoMaxLineBytes));
        return false;
    case LineStatus::Binary:
        LogError(u"%s: line %d holds binary data", path, number);
        return false;
    }
    return false;
}

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

// The leading YYYYMMDD of a WMI date-time ("yyyymmddHHMMSS.mmmmmmsUUU").
bool WmiDateToInstallDate(const std::u16string& wmiDate, std::u16string& date) {
    if (wmiDate.size() < 8) return false;
    for (std::size_t i = 0; i < 8; ++i)
        if (wmiDate[i] < u'0' || wmiDate[i] > u'9') return false;
    date = wmiDate.substr(0, 8);
    return true;
}

// Ends a WMI conversation: releases what it created and uninitialises COM.
class WmiConversation {
public:
    explicit WmiConversation(std::unique_ptr<plat::WmiSession> session) : mSession(std::move(session)) {}
    plat::WmiSession& operator*() { return *mSession; }
    plat::WmiSession* operator->() { return mSession.get(); }
    void End() {
        mSession->ReleaseAll();
        mSession->CoUninitialize();
    }

private:
    std::unique_ptr<plat::WmiSession> mSession;
};

enum class ObjectOutcome { Matched, Abandoned, Failed };

// One property of a matched product as text.
ObjectOutcome GetWmiText(plat::WmiObject& object, const char16_t* name, std::u16string& text) {
    plat::WmiValue value;
    const int32_t hr = object.Get(name, value);
    if (Failed(hr)) {
        LogError(u"Get '%s' failed and returned: %d", name, hr);
        return ObjectOutcome::Failed;
    }
    if (!value.isString) return ObjectOutcome::Abandoned;
    text = value.text;
    return ObjectOutcome::Matched;
}

// Copies the fields of a matched product in their fixed order; a property that
// is not text abandons the object with the fields copied so far.
ObjectOutcome ReadWmiProductFields(plat::WmiObject& object, ProgramInfo& record) {
    struct Field {
        const char16_t* name;
        std::function<void(const std::u16string&)> store;
    };
    const Field fields[] = {
        {u"IdentifyingNumber", [&](const std::u16string& v) { record.ProductCode = v; }},
        {u"InstallLocation", [&](const std::u16string& v) { record.InstallLocation = v; }},
        {u"Name", [&](const std::u16string& v) { record.ProgramName = record.DisplayName = v; }},
        {u"Version", [&](const std::u16string& v) { record.ProgramVersionNumber = v; }},
        {u"InstallDate2",
         [&](const std::u16string& v) {
             std::u16string date;
             if (WmiDateToInstallDate(v, date)) record.ProgramInstallDate = date;
         }},
        {u"Language", [&](const std::u16string& v) { record.ProgramLanguage = ParseNumberTruncated(v); }},
    };
    for (const Field& field : fields) {
        std::u16string text;
        const ObjectOutcome outcome = GetWmiText(object, field.name, text);
        if (outcome != ObjectOutcome::Matched) return outcome;
        field.store(text);
    }
    return ObjectOutcome::Matched;
}

}  // namespace

int ReadFromVersionResource(ProgramInfo& record) {
    const std::u16string self = plat::Sys().ModulePath();
    if (self.empty()) return 0;
    if (!ReadVersionString(self, record.ProgramName, u"ProductName")) return 0;
    if (record.ProgramName == kOwnProductName) {
        record.ProgramName.clear();
        record.DisplayName.clear();
        record.IsStubExe = 0;
        return 0;
    }
    record.DisplayName = record.ProgramName;
    record.IsStubExe = 1;
    if (!ReadVersionString(self, record.ProgramVersionNumber, u"ProductVersion")) return 0;
    std::u16string comments;
    if (!ReadVersionString(self, comments, u"Comments")) return 0;
    record.ProgramLanguage = ParseInt32(comments);
    return 1;
}

int ReadFromVersionInfoFile(ProgramInfo& record) {
    if (record.InstallLocation.empty()) return 0;
    const std::u16string path = WithTrailingBackslash(record.InstallLocation) + kVersionInfoFileName;
    std::string bytes;
    if (!plat::Fs().ReadPrefix(path, kVersionInfoMaxBytes, bytes)) return 0;
    LineReader reader(bytes);
    std::u16string line;
    if (!ReadVersionInfoLine(reader, 1, path, line)) return 0;
    record.ProgramName = line;
    record.DisplayName = line;
    if (!ReadVersionInfoLine(reader, 2, path, line)) return 0;
    record.ProgramVersionNumber = line;
    if (!ReadVersionInfoLine(reader, 3, path, line)) return 0;
    record.ProgramLanguage = ParseInt32(line);
    if (!ReadVersionInfoLine(reader, 4, path, line)) return 0;
    record.ProductCode = line;
    return 1;
}

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

int ReadFromWin32_Products(ProgramInfo& record) {
    record.InstallLocation = WithTrailingBackslash(record.InstallLocation);
    plat::Wmi* wmi = plat::Get().wmi;
    if (!wmi) return 0;
    std::unique_ptr<plat::WmiSession> session = wmi->NewSession();
    if (!session) return 0;
    WmiConversation com(std::move(session));

    if (const int32_t hr = com->CoInitializeMultithreaded(); Failed(hr)) {
        LogError(u"Failed to initialize COM library. %s", GetErrorText(static_cast<uint32_t>(hr)));
        return 0;
    }
    // COM security can be set once per process; a second discovery in the same
    // process finds it set already, which is no reason to give up.
    if (const int32_t hr = com->InitializeSecurity(); Failed(hr) && hr != plat::kRpcETooLate) {
        LogError(u"Failed to initialize security. %s", GetErrorText(static_cast<uint32_t>(hr)));
        com->CoUninitialize();
        return 0;
    }
    if (const int32_t hr = com->CreateLocator(); Failed(hr)) {
        LogError(u"Failed to create IWbemLocator object. %s", GetErrorText(static_cast<uint32_t>(hr)));
        com->CoUninitialize();
        return 0;
    }
    if (const int32_t hr = com->ConnectServer(u"ROOT\\CIMV2"); Failed(hr)) {
        LogError(u"Could not connect. %s", GetErrorText(static_cast<uint32_t>(hr)));
        com.End();
        return 0;
    }
    LogInfo(u"Connected to ROOT\\CIMV2 WMI namespace");
    if (const int32_t hr = com->SetProxyBlanket(); Failed(hr)) {
        LogError(u"Could not set proxy blanket. %s", GetErrorText(static_cast<uint32_t>(hr)));
        com.End();
        return 0;
    }
    if (const int32_t hr = com->ExecQuery(u"WQL", u"SELECT * FROM Win32_Product"); Failed(hr)) {
        LogError(u"Query for product failed. %s", GetErrorText(static_cast<uint32_t>(hr)));
        com.End();
        return 0;
    }

    for (;;) {
        std::unique_ptr<plat::WmiObject> object;
        const int32_t hr = com->Next(kWmiNextTimeoutMs, object);
        if (hr != plat::kSOk) LogError(u"pEnumerator->Next() failed and returned: %d", hr);
        if (!object) {
            com.End();
            return 0;
        }

        plat::WmiValue value;
        bool match = false;
        if (!record.InstallLocation.empty()) {
            const int32_t rc = object->Get(u"InstallLocation", value);
            if (Failed(rc)) {
                LogError(u"Get 'INSTALLPROPERTY_INSTALLLOCATION' failed and returned: %d", rc);
                continue;
            }
            match = value.isString && !value.text.empty() &&
                    WithTrailingBackslash(value.text) == record.InstallLocation;
        } else {
            if (record.ProgramName.empty()) {
                object.reset();
                com.End();
                return 0;
            }
            const int32_t rc = object->Get(u"Name", value);
            if (Failed(rc)) {
                LogError(u"MsiGetProductInfo 'Name' failed and returned: %d", rc);
                continue;
            }
            match = value.isString && value.text == record.ProgramName;
        }
        if (!match) continue;

        LogInfo(u"Find product guid");
        const ObjectOutcome outcome = ReadWmiProductFields(*object, record);
        if (outcome == ObjectOutcome::Abandoned) continue;
        // The object is a COM object too: release it while COM is still initialised.
        object.reset();
        com.End();
        return outcome == ObjectOutcome::Matched ? 1 : 0;
    }
}

}  // namespace brut
