#pragma once
// Registry access with the operating system's own semantics: error codes as
// numbers, raw value bytes and types. The settings store decides on top.
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

enum class Hive { CurrentUser, LocalMachine, ClassesRoot };
using KeyHandle = std::uintptr_t;  // 0: no key

class Registry {
public:
    virtual ~Registry() = default;
    // RegOpenKeyExW: `sam` carries access rights plus kKeyWow64_64 for the 64-bit view.
    virtual uint32_t OpenKey(Hive hive, const std::u16string& path, uint32_t sam, KeyHandle& key) = 0;
    // RegOpenKeyExW relative to an open key: one step instead of walking the whole path again.
    virtual uint32_t OpenSubKey(KeyHandle parent, const std::u16string& name, uint32_t sam, KeyHandle& key) = 0;
    // RegCreateKeyExW (creates missing keys along the path).
    virtual uint32_t CreateKey(Hive hive, const std::u16string& path, uint32_t sam, KeyHandle& key) = 0;
    // RegQueryValueExW: the whole value, whatever its size.
    virtual uint32_t QueryValue(KeyHandle key, const std::u16string& name, uint32_t& type,
                                std::vector<uint8_t>& data) = 0;
    virtual uint32_t SetValue(KeyHandle key, const std::u16string& name, uint32_t type,
                              const std::vector<uint8_t>& data) = 0;
    virtual uint32_t DeleteValue(KeyHandle key, const std::u16string& name) = 0;
    // RegEnumKeyExW: kErrNoMoreItems past the last subkey.
    virtual uint32_t EnumKey(KeyHandle key, uint32_t index, std::u16string& name) = 0;
    virtual void CloseKey(KeyHandle key) = 0;
};

// Closes the key when it goes out of scope.
class ScopedKey {
public:
    explicit ScopedKey(Registry& reg) : mReg(reg) {}
    ~ScopedKey() { Close(); }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;
    KeyHandle& Handle() { return mKey; }
    KeyHandle Get() const { return mKey; }
    void Close() {
        if (mKey) mReg.CloseKey(mKey);
        mKey = 0;
    }

private:
    Registry& mReg;
    KeyHandle mKey = 0;
};

}  // namespace plat
