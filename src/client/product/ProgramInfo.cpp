#include "product/ProgramInfo.h"

#include <atomic>
#include <chrono>
#include <memory>

#include "log/Log.h"
#include "product/sources/Sources.h"
#include "system/Settings.h"
#include "system/Directories.h"
#include "text/Texts.h"
#include "util/Text.h"
#include "platform/Platform.h"
#include "platform/RegistryValues.h"

namespace brut {

const char16_t* const kPreviewSuffix = u" [Preview Channel]";

namespace {

// The published record. Never destroyed, so that a thread still reading while
// the process ends meets no destroyed pointer; loaded and stored atomically.
ProgramInfoPtr& Published() {
    static ProgramInfoPtr* const published = new ProgramInfoPtr();
    return *published;
}

ProgramInfoPtr LoadPublished() { return std::atomic_load(&Published()); }
void Publish(ProgramInfoPtr record) { std::atomic_store(&Published(), std::move(record)); }
void PublishCopy(const ProgramInfo& record) { Publish(std::make_shared<const ProgramInfo>(record)); }

std::atomic<uint32_t> gLockWaitMs{kProgramInfoLockWaitMs};

// Takes ProgramInfoLock for at most the configured wait.
class TimedLock {
public:
    TimedLock() : mOwned(ProgramInfoLock().try_lock_for(std::chrono::milliseconds(gLockWaitMs.load()))) {}
    ~TimedLock() { Release(); }
    TimedLock(const TimedLock&) = delete;
    TimedLock& operator=(const TimedLock&) = delete;
    bool Owned() const { return mOwned; }
    void Release() {
        if (mOwned) ProgramInfoLock().unlock();
        mOwned = false;
    }

private:
    bool mOwned;
};

constexpr char16_t kOwnExeName[] = u"bruptide.exe";
constexpr char16_t kOtherProductName[] = u"Brindle Vaultly";
constexpr char16_t kOtherProductKey[] =
    u"SOFTWARE\\Brindle\\Brindle Vaultly\\{7C3E1A92-4B6D-4F08-A1E5-3D9B2C6F8E41}";
constexpr std::size_t kEditionMaxChars = 260;

// The updater's own directory, ending with a backslash.
bool GetModuleDirectory(std::u16string& dir) {
    const std::u16string path = plat::Sys().ModulePath();
    const auto slash = path.rfind(u'\\');
    if (path.empty() || slash == std::u16string::npos) return false;
    dir = path.substr(0, slash + 1);
    return true;
}

bool OwnExecutableName(std::u16string& name) {
    const std::u16string path = plat::Sys().ModulePath();
    if (path.empty()) {
        LogError(u"GetModuleFileName failed: %s", GetLastErrorText());
        return false;
    }
    const auto slash = path.rfind(u'\\');
    if (slash == std::u16string::npos) {
        LogError(u"GetModuleFileName failed!");
        return false;
    }
    name = path.substr(slash + 1);
    return true;
}

// Last access of the file in local time as YYYYMMDD; empty when it cannot be opened.
std::u16string FileDate(const std::u16string& path) {
    plat::DateTime utc;
    if (!plat::Fs().GetLastAccessTime(path, utc)) return std::u16string();
    const plat::DateTime local = plat::Sys().ToLocal(utc);
    return Format(u"%d%02d%02d", local.year, local.month, local.day);
}

// The sources after the version resource, in their fixed order: 1 when one succeeded.
int RunSourceChain(ProgramInfo& record) {
    if (ReadFromVersionInfoFile(record)) return 1;
    if (ReadFromRegistry(record)) return 1;
    LogError(u"ReadFromRegistry failed");
    if (ReadFromMsiDB(record)) return 1;
    LogError(u"ReadFromMsiDB failed");
    if (ReadFromWin32_Products(record)) return 1;
    LogError(u"ReadFromWin32_Products failed");
    return 0;
}

void RemovePreviewSuffix(ProgramInfo& record) {
    record.ProgramName = ReplaceAll(record.ProgramName, kPreviewSuffix, u"");
    record.DisplayName = ReplaceAll(record.DisplayName, kPreviewSuffix, u"");
}

void FinishNames(ProgramInfo& record, bool preview) {
    record.EditionDisplayName = MakeEditionName(record.DisplayName);
    if (preview || IsPreviewChannelSet(record.ProgramName)) {
        record.ProgramName += kPreviewSuffix;
        record.DisplayName += kPreviewSuffix;
        record.EditionDisplayName += kPreviewSuffix;
    }
}

// Another product of the maker reports its edition only in its own key.
// False when that key cannot be opened.
bool AppendOtherProductEdition(ProgramInfo& record) {
    if (record.ProgramName != kOtherProductName) return true;
    if (record.ProgramVersionNumber != u"4.10.11" && record.ProgramVersionNumber != u"4.10.16") return true;
    plat::ScopedKey key(plat::Reg());
    if (plat::Reg().OpenKey(plat::Hive::LocalMachine, kOtherProductKey, plat::kKeyRead | plat::kKeyWow64_64,
                            key.Handle()) != plat::kErrSuccess) {
        LogError(u"Can\u00B4t open RegKey: %s", kOtherProductKey);
        return false;
    }
    std::u16string edition;
    if (!plat::ReadRegistryText(key.Get(), u"InstalledProductEdition", edition)) return true;
    edition = edition.substr(0, edition.find(u'\0'));
    // An empty edition would only leave a trailing blank in the names.
    if (edition.empty() || edition.size() > kEditionMaxChars) return true;
    record.DisplayName += u" " + edition;
    record.ProgramName += u" " + edition;
    return true;
}

ProgramInfoPtr BuildOnFirstUse() {
    ProgramInfo info;
    if (!ReadFromVersionResource(info)) {
        std::u16string dir;
        if (GetModuleDirectory(dir)) {
            info.InstallLocation = dir;
        } else {
            LogError(u"GetModulDirectory failed: %s", GetLastErrorText());
        }
        if (!RunSourceChain(info)) {
            const std::u16string fallback = GetLocalizedText(info.ProgramLanguage, TXT_UNKNOWN);
            info.DisplayName = fallback;
            info.ProgramName = fallback;
        }
    }
    bool preview = false;
    if (HasPreviewSuffix(info.DisplayName) || HasPreviewSuffix(info.ProgramName)) {
        preview = true;
        RemovePreviewSuffix(info);
    }
    FinishNames(info, preview);
    auto built = std::make_shared<const ProgramInfo>(std::move(info));
    Publish(built);
    return built;
}

bool IsWordCharacter(char16_t c) {
    if ((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z')) return true;
    if (c < 0xC0) return false;
    if (c == 0xD7 || c == 0xF7) return false;                 // multiplication and division signs
    if (c >= 0x2000 && c <= 0x206F) return false;             // general punctuation (dashes, quotes)
    if (c >= 0x3000 && c <= 0x303F) return false;             // CJK punctuation
    return true;
}

}  // namespace

std::recursive_timed_mutex& ProgramInfoLock() {
    static std::recursive_timed_mutex* const lock = new std::recursive_timed_mutex();
    return *lock;
}

void SetProgramInfoLockWaitForTests(uint32_t milliseconds) {
    gLockWaitMs = milliseconds ? milliseconds : kProgramInfoLockWaitMs;
}

ProgramInfoPtr GetProgramInfo() {
    // A published record is finished and never changes: no need to wait.
    if (ProgramInfoPtr current = LoadPublished()) return current;
    TimedLock lock;
    if (!lock.Owned()) {
        LogError(u"GetProgramInfo: ProgramInfoLock not taken within %u ms", gLockWaitMs.load());
        // Published meanwhile, or nothing finished yet: callers still expect a record.
        if (ProgramInfoPtr current = LoadPublished()) return current;
        return std::make_shared<const ProgramInfo>();
    }
    if (ProgramInfoPtr current = LoadPublished()) return current;  // built while this thread waited
    return BuildOnFirstUse();
}

int DiscoverProgramInfo(ProgramInfo& record) {
    TimedLock lock;
    if (!lock.Owned()) {
        LogError(u"DiscoverProgramInfo: ProgramInfoLock not taken within %u ms", gLockWaitMs.load());
        return 0;
    }

    bool preview = false;
    if (HasPreviewSuffix(record.ProgramName)) {
        preview = true;
        RemovePreviewSuffix(record);
    }

    if (record.IsStubExe) {
        record.InstallLocation.clear();
    } else if (record.DisplayName.empty() && record.ProgramName.empty() && record.InstallLocation.empty()) {
        Publish(nullptr);
        return 0;
    } else if (!record.DisplayName.empty() && !record.ProgramName.empty() && !record.ProgramVersionNumber.empty() &&
               !record.InstallLocation.empty() && record.ProgramLanguage != 0) {
        if (record.ProgramInstallDate.empty()) {
            const std::u16string dir = WithTrailingBackslash(record.InstallLocation);
            std::u16string date = FileDate(dir + kOwnExeName);
            std::u16string ownName;
            if (date.empty() && OwnExecutableName(ownName)) date = FileDate(dir + ownName);
            record.ProgramInstallDate = date;
        }
    } else if (!RunSourceChain(record)) {
        Publish(nullptr);
        return 0;
    }

    if (!AppendOtherProductEdition(record)) {
        // The record is not published; an empty one stands in unless one was there already.
        if (!LoadPublished()) PublishCopy(ProgramInfo());
        return 0;
    }
    FinishNames(record, preview);
    PublishCopy(record);
    return 1;
}

void ResetProgramInfoForTests() {
    std::lock_guard<std::recursive_timed_mutex> lock(ProgramInfoLock());
    Publish(nullptr);
}

bool HasPreviewSuffix(const std::u16string& name) { return EndsWith(name, kPreviewSuffix); }

std::u16string EscapeAmpersands(const std::u16string& text) {
    std::u16string out;
    out.reserve(text.size());
    for (char16_t c : text) {
        out += c;
        if (c == u'&') out += u'&';
    }
    return out;
}

std::u16string MakeEditionName(const std::u16string& displayName) {
    // The edition words are the language-independent entries of the text table.
    constexpr int32_t kAnyLanguage = 1033;
    const std::u16string& edition = GetLocalizedText(kAnyLanguage, TXT_EDITION);
    const TextId words[] = {TXT_PROFESSIONAL, TXT_SERVER, TXT_WORKSTATION, TXT_TECH, TXT_ADMIN, TXT_EXPRESS};
    for (TextId id : words) {
        const std::u16string& word = GetLocalizedText(kAnyLanguage, id);
        if (word.empty()) continue;
        for (std::size_t pos = displayName.find(word); pos != std::u16string::npos;
             pos = displayName.find(word, pos + 1)) {
            const std::size_t end = pos + word.size();
            // Nothing or a single character after the word: "Edition" is appended.
            if (end + 1 >= displayName.size()) return displayName + u" " + edition;
            // Otherwise it goes right after the word, so it must be a whole word:
            // inside a longer one ("Technology", "HiTech Suite") it is no edition word.
            if (IsWordCharacter(displayName[end]) || (pos > 0 && IsWordCharacter(displayName[pos - 1]))) continue;
            std::size_t next = end;
            while (next < displayName.size() && IsBlank(displayName[next])) ++next;
            if (displayName.compare(next, edition.size(), edition) == 0) return displayName;
            std::u16string out = displayName;
            out.insert(end, u" " + edition);
            return out;
        }
    }
    const std::u16string& media = GetLocalizedText(kAnyLanguage, TXT_MEDIA);
    const std::size_t pos = media.empty() ? std::u16string::npos : displayName.find(media);
    if (pos != std::u16string::npos && pos + media.size() == displayName.size()) return displayName + u" " + edition;
    return displayName;
}

bool IsPreviewChannelSet(const std::u16string& programName) {
    plat::ScopedKey key(plat::Reg());
    if (plat::Reg().OpenKey(plat::Hive::LocalMachine, std::u16string(kSettingsKey) + u"\\" + programName,
                            plat::kKeyRead | plat::kKeyWow64_64, key.Handle()) != plat::kErrSuccess)
        return false;
    uint32_t value = 0;
    return plat::ReadRegistryDword(key.Get(), setting::kPreviewChannel, value) && value == 1;
}

}  // namespace brut
