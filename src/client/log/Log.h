#pragma once
// The process-wide leveled log: one file per run in the maker's temporary
// directory, one 8-bit line per message, written through and flushed.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "util/Text.h"
#include "platform/Files.h"

namespace brut {

enum LogLevel : int32_t { LOG_OFF = 0, LOG_CRI = 1, LOG_ERR = 2, LOG_WAR = 3, LOG_INF = 4, LOG_AUD = 5, LOG_ALW = 15, LOG_TRM = 21 };

constexpr std::size_t kLogMessageChars = 12288;
constexpr std::size_t kLogLineBytes = 8191;
// A log file path fits a MAX_PATH buffer with its terminator.
constexpr std::size_t kLogPathChars = 259;
// Lines kept while the log is being set up (see SetupLog).
constexpr std::size_t kLogHeldLines = 64;

class CLog {
public:
    CLog();
    ~CLog();
    CLog(const CLog&) = delete;
    CLog& operator=(const CLog&) = delete;

    bool Initialise(int32_t threshold, bool showThreadId);
    // 1 opened, 0 not. With `expand` off the path is taken as it stands.
    int OpenFile(const std::u16string& pathTemplate, bool expand = true);
    void Close();
    void Log(int32_t level, const std::u16string& source, const char16_t* format, std::initializer_list<FmtArg> args);
    // Like Log, with a finished message that is never read as a format.
    void LogText(int32_t level, const std::u16string& source, const std::u16string& message);

    // While holding, lines that find no open file are kept (at most
    // kLogHeldLines) instead of being dropped; releasing writes them to the
    // file if one is open and forgets them.
    void HoldLines();
    void ReleaseHeldLines();
    // Closes the file and stops the log for good (process end).
    void Shutdown();

    // Expands %D and %P of a path template.
    std::u16string ExpandTemplate(const std::u16string& pathTemplate) const;
    // Renders the line written for a message (without CR LF), in 8-bit text.
    std::string RenderLine(int32_t level, const std::u16string& source, const std::u16string& messageText,
                           const plat::DateTime& utc) const;
    std::u16string Path() const;
    bool IsOpen() const;
    int32_t Threshold() const { return mThreshold.load(); }

private:
    bool Passes(int32_t level) const;
    void CloseLocked();
    void WriteLocked(const std::string& line);

    std::atomic<int32_t> mThreshold{0};
    std::atomic<bool> mShowThreadId{true};
    std::u16string mPath;
    plat::FileHandle mFile = 0;
    mutable std::recursive_mutex mLock;
    std::atomic<bool> mInitialised{false};
    const bool mFlush = true;
    bool mHolding = false;
    std::vector<std::string> mHeld;
};

// Three-letter tag of a level ("TRM" for 22 and more, "off" below 0).
const char16_t* LevelTag(int32_t level);

CLog& GetLog();
void SetupLog(const std::u16string& name);
// Where SetupLog puts the file: the folder (ending with "\\", created), or empty for
// the current directory. Start-up installs it (the maker's temporary folder) before
// anything logs; its own reports are held for the new file.
using LogFolderRoutine = std::u16string (*)();
void InstallLogFolder(LogFolderRoutine routine);

// For the unit tests only: forgets that the log was set up and closes its file, while
// the fake platform the file lives in is still installed.
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
