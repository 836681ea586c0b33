#pragma once
// The process-wide leveled log: one file per run in the maker's temporary
// directory, one 8-bit line per message, written through and flushed.
#include <cstdint>
#include <mutex>
#include <string>

#include "util/Text.h"
#include "win32/Files.h"

namespace brut {

enum LogLevel : int32_t { LOG_OFF = 0, LOG_CRI = 1, LOG_ERR = 2, LOG_WAR = 3, LOG_INF = 4, LOG_AUD = 5, LOG_ALW = 15, LOG_TRM = 21 };

constexpr std::size_t kLogMessageChars = 12288;
constexpr std::size_t kLogLineBytes = 8191;

class CLog {
public:
    CLog();
    ~CLog();
    CLog(const CLog&) = delete;
    CLog& operator=(const CLog&) = delete;

    bool Initialise(int32_t threshold, bool showThreadId);
    int OpenFile(const std::u16string& pathTemplate);  // 1 opened, 0 not
    void Close();
    void Log(int32_t level, const std::u16string& source, const char16_t* format, std::initializer_list<FmtArg> args);

    // Expands %D and %P of a path template (exposed for tests).
    std::u16string ExpandTemplate(const std::u16string& pathTemplate) const;
    // Renders the line written for a message (without CR LF), in 8-bit text.
    std::string RenderLine(int32_t level, const std::u16string& source, const std::u16string& messageText,
                           const plat::DateTime& utc) const;
    const std::u16string& Path() const { return mPath; }
    bool IsOpen() const { return mFile != 0; }
    int32_t Threshold() const { return mThreshold; }

private:
    int32_t mThreshold = 0;
    bool mShowThreadId = true;
    std::u16string mPath;
    plat::FileHandle mFile = 0;
    std::recursive_mutex mLock;
    bool mInitialised = false;
    bool mFlush = true;
};

// Three-letter tag of a level ("TRM" for 22 and more).
const char16_t* LevelTag(int32_t level);

CLog& GetLog();
void SetupLog(const std::u16string& name);
// Forgets that the log was set up and closes it (tests only).
void ResetLogForTests();

// Counts the arguments a shortcut format takes: every "%" counts one and the
// character after it is skipped.
int CountFormatArguments(const char16_t* format);
void LogShortcut(int32_t level, const char16_t* format, std::initializer_list<FmtArg> args);

template <typename... A>
void LogInfo(const char16_t* format, const A&... args) { LogShortcut(LOG_INF, format, {FmtArg(args)...}); }
template <typename... A>
void LogWarning(const char16_t* format, const A&... args) { LogShortcut(LOG_WAR, format, {FmtArg(args)...}); }
template <typename... A>
void LogError(const char16_t* format, const A&... args) { LogShortcut(LOG_ERR, format, {FmtArg(args)...}); }
// Writes text verbatim (documents, server texts): never used as a format.
void LogTextInfo(const std::u16string& text);
void LogTextError(const std::u16string& text);

}  // namespace brut
