#pragma once
// Files and directories. Results are Win32 error codes (0 = success).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/System.h"

namespace plat {

using FileHandle = std::uintptr_t;  // 0: not open

class Files {
public:
    virtual ~Files() = default;
    // CreateDirectoryW (one level): 0, kErrAlreadyExists, or another error code.
    virtual uint32_t MakeDirectory(const std::u16string& path) = 0;
    // Opens for appending (create if missing, share read), positioned at the end.
    virtual FileHandle OpenAppend(const std::u16string& path, bool writeThrough) = 0;
    virtual bool Write(FileHandle file, const void* data, std::size_t size) = 0;
    virtual void Flush(FileHandle file) = 0;
    virtual void Close(FileHandle file) = 0;
    // Reads at most maxBytes from the start of the file; false when it cannot be opened.
    virtual bool ReadPrefix(const std::u16string& path, std::size_t maxBytes, std::string& bytes) = 0;
    // True when the file can be opened for reading.
    virtual bool CanOpenForReading(const std::u16string& path) = 0;
    // DeleteFileW: 0 or the error code.
    virtual uint32_t RemoveFile(const std::u16string& path) = 0;
    // MoveFileExW replacing an existing target: 0 or the error code.
    virtual uint32_t RenameFile(const std::u16string& from, const std::u16string& to) = 0;
    // Last-access time of a file (UTC); false when the file cannot be opened.
    virtual bool GetLastAccessTime(const std::u16string& path, DateTime& utc) = 0;
    // Names (without folder) of the files in `directory` (ending with "\") that match
    // `pattern` ("*.dll") as FindFirstFileW matches it, short names included: 0, or
    // the error code (kErrFileNotFound when none matches).
    virtual uint32_t FindFiles(const std::u16string& directory, const std::u16string& pattern,
                               std::vector<std::u16string>& names) = 0;
};

}  // namespace plat
