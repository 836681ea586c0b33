#include "platform/win32/Win32Platform.h"

namespace plat::win32 {

namespace {

HKEY Root(Hive hive) {
    switch (hive) {
    case Hive::LocalMachine: return HKEY_LOCAL_MACHINE;
    case Hive::ClassesRoot: return HKEY_CLASSES_ROOT;
    case Hive::CurrentUser: break;
    }
    return HKEY_CURRENT_USER;
}
HKEY Key(KeyHandle key) { return reinterpret_cast<HKEY>(key); }

}  // namespace

uint32_t Win32Registry::OpenKey(Hive hive, const std::u16string& path, uint32_t sam, KeyHandle& key) {
    HKEY h = nullptr;
    LSTATUS rc = ::RegOpenKeyExW(Root(hive), W(path), 0, sam, &h);
    key = rc == ERROR_SUCCESS ? reinterpret_cast<KeyHandle>(h) : 0;
    return static_cast<uint32_t>(rc);
}

uint32_t Win32Registry::OpenSubKey(KeyHandle parent, const std::u16string& name, uint32_t sam, KeyHandle& key) {
    HKEY h = nullptr;
    LSTATUS rc = ::RegOpenKeyExW(Key(parent), W(name), 0, sam, &h);
    key = rc == ERROR_SUCCESS ? reinterpret_cast<KeyHandle>(h) : 0;
    return static_cast<uint32_t>(rc);
}

uint32_t Win32Registry::CreateKey(Hive hive, const std::u16string& path, uint32_t sam, KeyHandle& key) {
    HKEY h = nullptr;
    LSTATUS rc = ::RegCreateKeyExW(Root(hive), W(path), 0, nullptr, REG_OPTION_NON_VOLATILE, sam, nullptr, &h,
                                   nullptr);
    key = rc == ERROR_SUCCESS ? reinterpret_cast<KeyHandle>(h) : 0;
    return static_cast<uint32_t>(rc);
}

uint32_t Win32Registry::QueryValue(KeyHandle key, const std::u16string& name, uint32_t& type,
                                   std::vector<uint8_t>& data) {
    data.clear();
    type = REG_NONE;
    DWORD t = REG_NONE;
    // Most values are short: one call with a small buffer saves the size query.
    data.resize(512);
    DWORD size = static_cast<DWORD>(data.size());
    LSTATUS rc = ::RegQueryValueExW(Key(key), W(name), nullptr, &t, data.data(), &size);
    if (rc == ERROR_SUCCESS) {
        data.resize(size);
        type = t;
        return ERROR_SUCCESS;
    }
    // The value may grow between the size query and the read: ask again.
    while (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
        data.resize(size);
        DWORD got = size;
        rc = ::RegQueryValueExW(Key(key), W(name), nullptr, &t, data.empty() ? nullptr : data.data(), &got);
        if (rc == ERROR_SUCCESS) {
            data.resize(got);
            type = t;
            return ERROR_SUCCESS;
        }
        if (rc == ERROR_MORE_DATA) size = got > size ? got : size * 2 + 16;
    }
    data.clear();
    return static_cast<uint32_t>(rc);
}

uint32_t Win32Registry::SetValue(KeyHandle key, const std::u16string& name, uint32_t type,
                                 const std::vector<uint8_t>& data) {
    // The system quietly stores a terminating zero when the code unit just past an
    // unterminated text is zero; a non-zero guard keeps the stored bytes exact.
    std::vector<uint8_t> guarded(data);
    guarded.push_back(0xFF);
    guarded.push_back(0xFF);
    return static_cast<uint32_t>(::RegSetValueExW(Key(key), W(name), 0, type, data.empty() ? nullptr : guarded.data(),
                                                  static_cast<DWORD>(data.size())));
}

uint32_t Win32Registry::DeleteValue(KeyHandle key, const std::u16string& name) {
    return static_cast<uint32_t>(::RegDeleteValueW(Key(key), W(name)));
}

uint32_t Win32Registry::EnumKey(KeyHandle key, uint32_t index, std::u16string& name) {
    // Key names are limited to 255 characters; 260 leaves room as the callers expect.
    wchar_t buf[261];
    DWORD len = 260;
    LSTATUS rc = ::RegEnumKeyExW(Key(key), index, buf, &len, nullptr, nullptr, nullptr, nullptr);
    name = rc == ERROR_SUCCESS ? U16(buf, len) : std::u16string();
    return static_cast<uint32_t>(rc);
}

void Win32Registry::CloseKey(KeyHandle key) {
    if (key) ::RegCloseKey(Key(key));
}

}  // namespace plat::win32
