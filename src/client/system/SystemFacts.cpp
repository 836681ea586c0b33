#include "system/SystemFacts.h"

#include <memory>
#include <mutex>
#include <vector>

#include "log/Log.h"
#include "system/Directories.h"
#include "util/Text.h"
#include "platform/Platform.h"
#include "platform/RegistryValues.h"

namespace brut {

namespace {

constexpr uint32_t kAdapterBufferStart = 16384;
// Sizes the adapter list can sensibly ask for, and rounds of asking.
constexpr uint32_t kAdapterBufferMax = 16 * 1024 * 1024;
constexpr int kAdapterAttemptsMax = 16;
constexpr std::size_t kMacBytes = 6;
constexpr int kUnicastSockaddrLength = 16;
// The version key is formatted into a buffer of 50 characters.
constexpr std::size_t kVersionKeyMaxChars = 49;

constexpr char16_t kWorkerFileName[] = u"BRUptideWorker.exe";

std::mutex gMacLock;
// Guarded by gMacLock; set once, on the first success. Never destroyed: a check or
// report thread may still read it while the process ends.
std::u16string& gMacAddress = *new std::u16string;

bool IsPlainNameChar(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'.' ||
           c == u' ';
}

// The part of the version before its first "."; the current second when there is no version.
std::u16string VersionPart(const std::u16string& version) {
    if (version.empty()) return DecimalText(plat::Sys().UnixNow());
    const auto dot = version.find(u'.');
    return dot == std::u16string::npos ? std::u16string() : version.substr(0, dot);
}

bool IsUsableAdapter(const plat::Adapter& adapter) {
    if (adapter.operStatus != plat::kIfOperStatusUp) return false;
    for (const plat::UnicastAddress& a : adapter.unicast)
        if (a.dnsEligible && !a.transient && a.family == plat::kAfInet && a.sockaddrLength == kUnicastSockaddrLength)
            return true;
    return false;
}

std::u16string FormatMac(const std::vector<uint8_t>& address) {
    std::u16string text;
    for (std::size_t i = 0; i < kMacBytes; ++i) {
        if (i) text += u':';
        // The system's address field is zero beyond the adapter's address length.
        text += Format(u"%X", i < address.size() ? static_cast<unsigned>(address[i]) : 0u);
    }
    return text;
}

void LogAdapterBufferFailure() {
    plat::Sys().SetLastError(plat::kErrNotEnoughMemory);
    LogError(u"malloc ulAdapterAddressesSize failed because: %s", GetLastErrorText());
}

}  // namespace

uint32_t GetOsVersion(plat::OsVersionRecord& record) {
    record = plat::OsVersionRecord{};
    record.size = plat::kOsVersionRecordSize;
    const uint32_t status = plat::Sys().RtlGetVersion(record);
    if (status != 0) record = plat::OsVersionRecord{};
    return status;
}

int GetMacAddress(std::u16string& mac) {
    // Held for the whole search so that concurrent first callers ask the platform once.
    std::lock_guard<std::mutex> lock(gMacLock);
    if (!gMacAddress.empty()) {
        mac = gMacAddress;
        return 1;
    }
    uint32_t bufferSize = kAdapterBufferStart;
    std::vector<plat::Adapter> adapters;
    for (int attempt = 0;; ++attempt) {
        if (bufferSize == 0 || bufferSize > kAdapterBufferMax) {
            LogAdapterBufferFailure();
            return 0;
        }
        if (attempt == kAdapterAttemptsMax) return 0;
        adapters.clear();
        const uint32_t rc = plat::Sys().GetAdaptersAddresses(bufferSize, adapters);
        if (rc == plat::kErrSuccess) break;
        if (rc == plat::kErrNotEnoughMemory) {
            LogAdapterBufferFailure();
            return 0;
        }
        if (rc != plat::kErrBufferOverflow) return 0;
    }
    for (const plat::Adapter& adapter : adapters) {
        if (!IsUsableAdapter(adapter)) continue;
        gMacAddress = FormatMac(adapter.physicalAddress);
        mac = gMacAddress;
        return 1;
    }
    return 0;
}

void ResetMacAddressForTests() {
    std::lock_guard<std::mutex> lock(gMacLock);
    gMacAddress.clear();
}

int GetMachineGuid(std::u16string& guid) {
    plat::ScopedKey key(plat::Reg());
    if (plat::Reg().OpenKey(plat::Hive::LocalMachine, u"SOFTWARE\\Microsoft\\Cryptography",
                            plat::kKeyRead | plat::kKeyWow64_64, key.Handle()) != plat::kErrSuccess)
        return 0;
    std::u16string value;
    if (!plat::ReadRegistryText(key.Get(), u"MachineGuid", value)) return 0;
    guid = value;
    return 1;
}

int GetWorkingDirectory(const ProductIdentity& info, std::u16string& dir, bool trailingBackslash) {
    std::u16string path;
    if (!GetMakerTempDirectory(path)) return 0;
    path += u"BR Uptide";
    CreateDirectoryPath(path, false);
    path += u"\\";
    // Windows drops trailing blanks and dots when it creates a directory but not
    // inside longer paths: a name such as "Tool " (a version without ".") would
    // be created as "Tool" and never found again, so the name is made to match.
    std::u16string name = MakePlainName(info.ProgramName) + u" " + VersionPart(info.ProgramVersionNumber);
    while (!name.empty() && (name.back() == u' ' || name.back() == u'.')) name.pop_back();
    if (name.empty())
        path.pop_back();  // nothing of the name is left: the maker's folder itself, not "...\\"
    else
        path += name;
    CreateDirectoryPath(path, false);
    if (trailingBackslash) path += u"\\";
    dir = path;
    return 1;
}

int GetWorkerVersion(const ProductIdentity& info, std::u16string& version) {
    std::u16string dir;
    if (!GetWorkingDirectory(info, dir, true)) return 0;
    const std::u16string worker = dir + kWorkerFileName;
    if (!plat::Fs().CanOpenForReading(worker)) return 0;
    return ReadVersionString(worker, version, u"ProductVersion");
}

int ReadVersionString(const std::u16string& path, std::u16string& text, const std::u16string& valueName) {
    text.clear();
    plat::VersionInfo* versions = plat::Get().versions;
    if (!versions) return 0;
    std::unique_ptr<plat::VersionBlock> block = versions->Load(path);
    if (!block) return 0;
    int found = 0;
    const auto translations = block->Translations();
    for (std::size_t i = 0; i < translations.size(); ++i) {
        const std::u16string key = Format(u"\\StringFileInfo\\%04x%04x\\%s", translations[i].first,
                                          translations[i].second, valueName);
        if (i > 0) text += u" / ";
        if (key.size() > kVersionKeyMaxChars) continue;
        std::u16string value;
        if (!block->QueryString(key, value)) continue;
        text += value.substr(0, value.find(u'\0'));
        text = Trim(text);
        found = 1;
    }
    return found;
}

int StartThread(plat::ThreadRoutine routine, void* arg, plat::ThreadHandle& handle) {
    handle = -1;
    handle = plat::Sys().StartThread(routine, arg);
    return handle != 0 ? 1 : 0;
}

std::u16string MakePlainName(const std::u16string& value) {
    std::u16string out;
    for (char16_t c : value) {
        if (IsPlainNameChar(c)) {
            out += c;
        } else if (c >= 256) {
            out += u'~';
            out += DecimalText(c / 255);
            out += static_cast<char16_t>(u'A' + c % 26);
        }
    }
    return out;
}

}  // namespace brut
