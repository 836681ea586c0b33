// trust-probe: the real platform layer's hold on a program, steered where the client
// cannot be: what others can still do to the held program and its folder.
//
//   trust-probe PATH   holds PATH and tries to change it, then releases it and tries
//                      again; one line "OPERATION HELD RELEASED" per try, with the Win32
//                      error codes (0: it worked). Replaces and at last deletes PATH.
// Exit code 2: wrong arguments; 3: the hold failed, with its error code printed.
#include <cstdio>
#include <string>

#include "platform/win32/Win32Platform.h"

namespace {

DWORD Result(BOOL ok) { return ok ? 0 : ::GetLastError(); }

DWORD OpenForWriting(const std::wstring& path) {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return ::GetLastError();
    ::CloseHandle(h);
    return 0;
}

DWORD Replace(const std::wstring& path) {
    const std::wstring other = path + L".new";
    HANDLE h = ::CreateFileW(other.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return ::GetLastError();
    DWORD written = 0;
    ::WriteFile(h, "MZ", 2, &written, nullptr);
    ::CloseHandle(h);
    const DWORD r = Result(::MoveFileExW(other.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING));
    ::DeleteFileW(other.c_str());
    return r;
}

// Renamed and, when that worked, renamed back.
DWORD RenameAndBack(const std::wstring& path) {
    const std::wstring moved = path + L".moved";
    const DWORD r = Result(::MoveFileW(path.c_str(), moved.c_str()));
    if (r == 0) ::MoveFileW(moved.c_str(), path.c_str());
    return r;
}

struct Tries {
    DWORD write, replace, rename, renameFolder;
};

Tries Try(const std::wstring& path, const std::wstring& folder) {
    return {OpenForWriting(path), Replace(path), RenameAndBack(path), RenameAndBack(folder)};
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    const std::wstring path = argv[1];
    plat::win32::Win32Trust trust;
    plat::HeldFile held = 0;
    bool isLink = false;
    const uint32_t hold = trust.Hold(plat::win32::U16(path.c_str()), held, isLink);
    if (hold != 0) {
        std::printf("hold %u\n", hold);
        return 3;
    }
    const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
    const Tries whileHeld = Try(path, folder);
    const DWORD deleteHeld = Result(::DeleteFileW(path.c_str()));
    trust.Release(held);
    const Tries released = Try(path, folder);
    const DWORD deleteReleased = Result(::DeleteFileW(path.c_str()));
    std::printf("write %lu %lu\nreplace %lu %lu\nrename %lu %lu\nrename-folder %lu %lu\ndelete %lu %lu\n",
                whileHeld.write, released.write, whileHeld.replace, released.replace, whileHeld.rename,
                released.rename, whileHeld.renameFolder, released.renameFolder, deleteHeld, deleteReleased);
    return 0;
}
