#include "log/Log.h"

#include "platform/Platform.h"

namespace brut {

namespace {

const char16_t* const kLevelTags[] = {
    u"off", u"CRI", u"ERR", u"WAR", u"INF", u"AUD", u"DB1", u"DB2", u"DB3", u"DB4", u"RS1",
    u"RS2", u"RS3", u"RS4", u"RS5", u"ALW", u"RS6", u"RS7", u"RS8", u"RS9", u"RSA", u"TRM",
};
constexpr int32_t kLevelCount = static_cast<int32_t>(sizeof(kLevelTags) / sizeof(kLevelTags[0]));

bool PlatformReady() {
    const plat::Platform& p = plat::Get();
    return p.system != nullptr && p.files != nullptr;
}

// Proleptic Gregorian day numbers (days since 1970-01-01), so the stamp can be
// shifted across day, month and year ends without the C library's time zone.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

plat::DateTime AddMinutes(const plat::DateTime& t, int minutes) {
    int64_t secs = DaysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
    secs += static_cast<int64_t>(minutes) * 60;
    int64_t days = secs >= 0 ? secs / 86400 : -((-secs + 86399) / 86400);
    int64_t rest = secs - days * 86400;
    plat::DateTime out = t;
    CivilFromDays(days, out.year, out.month, out.day);
    out.hour = static_cast<int>(rest / 3600);
    out.minute = static_cast<int>(rest / 60 % 60);
    out.second = static_cast<int>(rest % 60);
    return out;
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c < 0xDC00; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c < 0xE000; }

// Appends the 8-bit form of `text` until `out` holds `limit` bytes. A character
// beyond U+00FF (a surrogate pair counts as one) becomes a single "?".
void AppendEightBit(std::string& out, const std::u16string& text, std::size_t limit) {
    for (std::size_t i = 0; i < text.size() && out.size() < limit; ++i) {
        const char16_t c = text[i];
        if (c <= 0xFF) {
            out += static_cast<char>(c);
            continue;
        }
        if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) ++i;
        out += '?';
    }
}

// The product name as part of a file name: characters that Windows reads as
// path, stream or wildcard syntax would put the log elsewhere or hide it, so
// they become "_"; the name is shortened so the whole path still fits.
std::u16string LogFileNamePart(const std::u16string& name, std::size_t directoryChars) {
    const std::size_t fixedChars = 14 + 1 + 4;  // stamp, "_", ".log"
    const std::size_t used = directoryChars + fixedChars;
    const std::size_t room = used < kLogPathChars ? kLogPathChars - used : 0;
    std::u16string part = name.substr(0, room);
    if (!part.empty() && part.size() < name.size() && IsHighSurrogate(part.back())) part.pop_back();
    for (char16_t& c : part) {
        if (c < 0x20 || c == u'<' || c == u'>' || c == u':' || c == u'"' || c == u'/' || c == u'\\' || c == u'|' ||
            c == u'?' || c == u'*')
            c = u'_';
    }
    return part;
}

// The process's log lives in storage that is never freed, so that threads and
// static destructors that log late find a stopped log, never a destroyed one.
std::atomic<CLog*> gInstance{nullptr};

CLog& Instance() {
    static CLog* const log = [] {
        CLog* created = new CLog();
        gInstance.store(created);
        return created;
    }();
    return *log;
}

std::recursive_mutex& SetupLock() {
    static std::recursive_mutex* const lock = new std::recursive_mutex();
    return *lock;
}

std::atomic<bool> gSetUp{false};
std::atomic<LogFolderRoutine> gLogFolder{nullptr};
bool gSettingUp = false;  // guarded by SetupLock()

// Deliberately destroyed at the end: it closes the file under the log's lock and turns
// the log off, so a thread still running writes nothing after it; the log object itself
// lives on.
struct LogCloser {
    ~LogCloser() {
        if (CLog* log = gInstance.load()) log->Shutdown();
    }
};
#ifdef __clang__
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wexit-time-destructors"
#endif
LogCloser gLogCloser;
#ifdef __clang__
#pragma clang diagnostic pop
#endif

}  // namespace

const char16_t* LevelTag(int32_t level) {
    if (level < 0) return kLevelTags[0];
    if (level >= kLevelCount) return kLevelTags[kLevelCount - 1];
    return kLevelTags[level];
}

CLog::CLog() { mInitialised.store(true); }

CLog::~CLog() { Shutdown(); }

bool CLog::Initialise(int32_t threshold, bool showThreadId) {
    if (!mInitialised.load()) return false;
    std::lock_guard<std::recursive_mutex> guard(mLock);
    mThreshold.store(threshold < 0 ? 0 : threshold);
    mShowThreadId.store(showThreadId);
    return true;
}

int CLog::OpenFile(const std::u16string& pathTemplate, bool expand) {
    if (!mInitialised.load()) return 0;
    std::lock_guard<std::recursive_mutex> guard(mLock);
    CloseLocked();
    if (pathTemplate.empty() || !PlatformReady()) return 0;
    mPath = expand ? ExpandTemplate(pathTemplate) : pathTemplate;
    if (mPath.size() > kLogPathChars) return 0;
    mFile = plat::Fs().OpenAppend(mPath, mFlush);
    return mFile != 0 ? 1 : 0;
}

void CLog::Close() {
    if (!mInitialised.load()) return;
    std::lock_guard<std::recursive_mutex> guard(mLock);
    CloseLocked();
}

void CLog::CloseLocked() {
    if (mFile != 0 && plat::Get().files) plat::Fs().Close(mFile);
    mFile = 0;
}

void CLog::Shutdown() {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    CloseLocked();
    mHeld.clear();
    mHolding = false;
    mInitialised.store(false);
}

bool CLog::Passes(int32_t level) const { return level == LOG_ALW || level <= mThreshold.load(); }

void CLog::Log(int32_t level, const std::u16string& source, const char16_t* format,
               std::initializer_list<FmtArg> args) {
    if (!mInitialised.load() || !Passes(level) || format == nullptr) return;
    LogText(level, source, FormatV(format, args, kLogMessageChars));
}

void CLog::LogText(int32_t level, const std::u16string& source, const std::u16string& message) {
    if (!mInitialised.load() || !Passes(level) || !PlatformReady()) return;
    // Only the first kLogLineBytes units can reach the file; a huge document
    // is not copied whole.
    std::u16string text;
    if (mShowThreadId.load()) text = Format(u"[08%x] ", plat::Sys().ThreadId());
    text.append(message, 0, kLogMessageChars);
    if (!text.empty() && text.back() == u'\n') text.pop_back();
    const plat::DateTime utc = plat::Sys().UtcNow();

    std::lock_guard<std::recursive_mutex> guard(mLock);
    if (mFile != 0) {
        WriteLocked(RenderLine(level, source, text, utc));
    } else if (mHolding && mHeld.size() < kLogHeldLines) {
        mHeld.push_back(RenderLine(level, source, text, utc));
    }
}

void CLog::WriteLocked(const std::string& line) {
    std::string bytes = line;
    bytes += "\r\n";
    plat::Fs().Write(mFile, bytes.data(), bytes.size());  // write errors are not retried
    if (mFlush) plat::Fs().Flush(mFile);
}

void CLog::HoldLines() {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    mHolding = true;
}

void CLog::ReleaseHeldLines() {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    if (mFile != 0 && PlatformReady())
        for (const std::string& line : mHeld) WriteLocked(line);
    mHeld.clear();
    mHolding = false;
}

std::u16string CLog::ExpandTemplate(const std::u16string& pathTemplate) const {
    std::u16string path = pathTemplate;
    if (!PlatformReady()) return path;
    if (path.find(u"%D") != std::u16string::npos) {
        // Local time read back as standard time, shown as UTC: UTC moved by
        // the daylight bias while daylight-saving time is in effect.
        const plat::DateTime t = AddMinutes(plat::Sys().UtcNow(), -plat::Sys().DaylightBiasNow());
        path = ReplaceAll(path, u"%D",
                          Format(u"%04d%02d%02d%02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute, t.second));
    }
    if (path.find(u"%P") != std::u16string::npos)
        path = ReplaceAll(path, u"%P", Format(u"%lu", plat::Sys().ProcessId()));
    return path;
}

std::string CLog::RenderLine(int32_t level, const std::u16string& source, const std::u16string& messageText,
                             const plat::DateTime& utc) const {
    plat::DateTime local = utc;
    if (PlatformReady()) local = plat::Sys().ToLocal(utc);
    const std::u16string date = Format(u"%02lu.%02lu.%04lu %02lu:%02lu:%02lu:%03lu", local.day, local.month,
                                       local.year, local.hour, local.minute, local.second, local.millisecond);
    const std::u16string head =
        Format(u"%-20s %s: %s%s", date, LevelTag(level), source, source.empty() ? u"" : u":");
    std::string line;
    line.reserve(head.size() + messageText.size() < kLogLineBytes ? head.size() + messageText.size() : kLogLineBytes);
    AppendEightBit(line, head, kLogLineBytes);
    AppendEightBit(line, messageText, kLogLineBytes);
    return line;
}

std::u16string CLog::Path() const {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    return mPath;
}

bool CLog::IsOpen() const {
    std::lock_guard<std::recursive_mutex> guard(mLock);
    return mFile != 0;
}

CLog& GetLog() {
    CLog& log = Instance();
    if (gSetUp.load()) return log;
    std::lock_guard<std::recursive_mutex> guard(SetupLock());
    // A report from inside the set-up itself is held by the log, not set up again.
    if (!gSetUp.load() && !gSettingUp) SetupLog(u"BRUptide");
    return log;
}

void InstallLogFolder(LogFolderRoutine routine) { gLogFolder.store(routine); }

void SetupLog(const std::u16string& name) {
    std::lock_guard<std::recursive_mutex> guard(SetupLock());
    if (gSettingUp || !PlatformReady()) return;
    CLog& log = Instance();
    // The threshold is raised first so that reports of the directory
    // functions below pass it and are held for the new file.
    if (!log.Initialise(LOG_ALW, true)) return;
    struct SettingUp {
        SettingUp() { gSettingUp = true; }
        ~SettingUp() { gSettingUp = false; }
    } settingUp;

    log.HoldLines();
    log.Close();
    const LogFolderRoutine folder = gLogFolder.load();
    const std::u16string directory = folder ? folder() : std::u16string();
    // Only the stamp is expanded: a "%D" or "%P" inside the temporary path or the
    // product name (a user called "%Dave") is part of the name, not a field.
    log.OpenFile(directory + log.ExpandTemplate(u"%D") + u"_" + LogFileNamePart(name, directory.size()) + u".log",
                 false);
    log.LogText(LOG_AUD, u"BRUT", u"STARTING LOG");
    log.ReleaseHeldLines();
    gSetUp.store(true);
}

void ResetLogForTests() {
    std::lock_guard<std::recursive_mutex> guard(SetupLock());
    CLog& log = Instance();
    log.ReleaseHeldLines();
    log.Close();
    log.Initialise(LOG_OFF, true);
    gSetUp.store(false);
}

int CountFormatArguments(const char16_t* format) {
    int count = 0;
    if (format == nullptr) return 0;
    for (const char16_t* p = format; *p; ++p) {
        if (*p != u'%') continue;
        ++count;
        if (*(p + 1) == 0) break;
        ++p;
    }
    return count;
}

void LogShortcut(int32_t level, const char16_t* format, std::initializer_list<FmtArg> args) {
    if (format == nullptr || CountFormatArguments(format) > 6) return;
    GetLog().Log(level, u"BRUT", format, args);
}

void LogTextInfo(const std::u16string& text) { GetLog().LogText(LOG_INF, u"BRUT", text); }
void LogTextError(const std::u16string& text) { GetLog().LogText(LOG_ERR, u"BRUT", text); }

}  // namespace brut
