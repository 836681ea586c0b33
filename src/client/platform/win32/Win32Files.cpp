#include "platform/win32/Win32Platform.h"

namespace plat::win32 {

namespace {

HANDLE H(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

// Readers share everything: the log file is open for appending while it is read.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE OpenForReading(const std::u16string& path) {
    return ::CreateFileW(W(path), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

uint32_t Win32Files::MakeDirectory(const std::u16string& path) {
    return ::CreateDirectoryW(W(path), nullptr) ? ERROR_SUCCESS : ::GetLastError();
}

FileHandle Win32Files::OpenAppend(const std::u16string& path, bool writeThrough) {
    DWORD flags = FILE_ATTRIBUTE_NORMAL | (writeThrough ? FILE_FLAG_WRITE_THROUGH : 0);
    // Append-only access makes every write land at the current end in one piece,
    // also when a second client for the same product shares the file.
    HANDLE h = ::CreateFileW(W(path), FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 0;
    return reinterpret_cast<FileHandle>(h);
}

bool Win32Files::Write(FileHandle file, const void* data, std::size_t size) {
    if (!file) return false;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!::WriteFile(H(file), p, chunk, &written, nullptr) || written == 0) return false;
        p += written;
        size -= written;
    }
    return true;
}

void Win32Files::Flush(FileHandle file) {
    if (file) ::FlushFileBuffers(H(file));
}

void Win32Files::Close(FileHandle file) {
    if (file) ::CloseHandle(H(file));
}

bool Win32Files::ReadPrefix(const std::u16string& path, std::size_t maxBytes, std::string& bytes) {
    bytes.clear();
    HANDLE h = OpenForReading(path);
    if (h == INVALID_HANDLE_VALUE) return false;
    char buf[4096];
    while (bytes.size() < maxBytes) {
        std::size_t want = maxBytes - bytes.size();
        DWORD got = 0;
        if (!::ReadFile(h, buf, want < sizeof buf ? static_cast<DWORD>(want) : DWORD{sizeof buf}, &got, nullptr) ||
            got == 0)
            break;
        bytes.append(buf, got);
    }
    ::CloseHandle(h);
    return true;
}

bool Win32Files::CanOpenForReading(const std::u16string& path) {
    // Directories cannot be opened this way, so they do not count as files.
    HANDLE h = OpenForReading(path);
    if (h == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(h);
    return true;
}

uint32_t Win32Files::RemoveFile(const std::u16string& path) {
    return ::DeleteFileW(W(path)) ? ERROR_SUCCESS : ::GetLastError();
}

uint32_t Win32Files::RenameFile(const std::u16string& from, const std::u16string& to) {
    return ::MoveFileExW(W(from), W(to), MOVEFILE_REPLACE_EXISTING) ? ERROR_SUCCESS : ::GetLastError();
}

bool Win32Files::GetLastAccessTime(const std::u16string& path, DateTime& utc) {
    HANDLE h = OpenForReading(path);
    if (h == INVALID_HANDLE_VALUE) return false;
    FILETIME access{};
    SYSTEMTIME st{};
    bool ok = ::GetFileTime(h, nullptr, &access, nullptr) && ::FileTimeToSystemTime(&access, &st);
    ::CloseHandle(h);
    if (!ok) return false;
    utc = DateTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
    return true;
}

uint32_t Win32Files::FindFiles(const std::u16string& directory, const std::u16string& pattern,
                               std::vector<std::u16string>& names) {
    names.clear();
    WIN32_FIND_DATAW found{};
    HANDLE find = ::FindFirstFileW(W(directory + pattern), &found);
    if (find == INVALID_HANDLE_VALUE) return ::GetLastError();
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(U16(found.cFileName));
    } while (::FindNextFileW(find, &found));
    const DWORD err = ::GetLastError();
    ::FindClose(find);
    return err == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : err;
}

}  // namespace plat::win32
