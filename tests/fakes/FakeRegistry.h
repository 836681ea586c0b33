#pragma once
// In-memory registry: hives of keys (paths case-insensitive) holding typed values.
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fakes/FakeLock.h"
#include "platform/Platform.h"

namespace fake {

// Text as REG_SZ data: UTF-16 little-endian, a terminating zero only where the text has one.
std::vector<uint8_t> Utf16Bytes(const std::u16string& text);

struct RegValue {
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

class FakeRegistry : public plat::Registry {
public:
    uint32_t OpenKey(plat::Hive hive, const std::u16string& path, uint32_t sam, plat::KeyHandle& key) override;
    uint32_t OpenSubKey(plat::KeyHandle parent, const std::u16string& name, uint32_t sam, plat::KeyHandle& key) override;
    uint32_t CreateKey(plat::Hive hive, const std::u16string& path, uint32_t sam, plat::KeyHandle& key) override;
    uint32_t QueryValue(plat::KeyHandle key, const std::u16string& name, uint32_t& type, std::vector<uint8_t>& data) override;
    uint32_t SetValue(plat::KeyHandle key, const std::u16string& name, uint32_t type, const std::vector<uint8_t>& data) override;
    uint32_t DeleteValue(plat::KeyHandle key, const std::u16string& name) override;
    uint32_t EnumKey(plat::KeyHandle key, uint32_t index, std::u16string& name) override;
    void CloseKey(plat::KeyHandle key) override;

    // Test set-up and inspection (paths relative to the hive).
    void SetText(plat::Hive hive, const std::u16string& path, const std::u16string& name, const std::u16string& text,
                 bool terminatingZero = false);
    void SetDword(plat::Hive hive, const std::u16string& path, const std::u16string& name, uint32_t value);
    void SetRaw(plat::Hive hive, const std::u16string& path, const std::u16string& name, uint32_t type,
                std::vector<uint8_t> data);
    void AddKey(plat::Hive hive, const std::u16string& path);
    bool HasKey(plat::Hive hive, const std::u16string& path) const;
    bool HasValue(plat::Hive hive, const std::u16string& path, const std::u16string& name) const;
    const RegValue* Value(plat::Hive hive, const std::u16string& path, const std::u16string& name) const;
    // The stored text (UTF-16 bytes, any trailing zero kept).
    std::u16string TextOf(plat::Hive hive, const std::u16string& path, const std::u16string& name) const;

    // Opening or creating these keys (lower-case path prefix match) is refused with kErrAccessDenied
    // when the requested rights include writing.
    std::set<std::pair<plat::Hive, std::u16string>> denyWrite;
    // Every open/create: (hive, path, sam), for checking the rights and the view asked for.
    struct Access { plat::Hive hive; std::u16string path; uint32_t sam; bool create; };
    std::vector<Access> accesses;
    int openHandles = 0;

private:
    FakeLock mGuard;  // the platform operations above, for tests with real threads
    struct Key {
        std::map<std::u16string, RegValue> values;  // by lower-case name
        std::map<std::u16string, std::u16string> valueNames;
    };
    using HiveMap = std::map<std::u16string, Key>;  // lower-case path -> key (insertion by name order)
    HiveMap& HiveOf(plat::Hive h) {
        return h == plat::Hive::CurrentUser ? mHkcu : h == plat::Hive::ClassesRoot ? mHkcr : mHklm;
    }
    const HiveMap& HiveOf(plat::Hive h) const {
        return h == plat::Hive::CurrentUser ? mHkcu : h == plat::Hive::ClassesRoot ? mHkcr : mHklm;
    }
    Key* Find(plat::KeyHandle key);
    bool Denied(plat::Hive hive, const std::u16string& lowerPath, uint32_t sam) const;

    HiveMap mHkcu, mHklm, mHkcr;
    std::map<plat::KeyHandle, std::pair<plat::Hive, std::u16string>> mOpen;
    std::map<std::u16string, std::vector<std::u16string>> mChildOrder;  // lower path -> child names in creation order
    plat::KeyHandle mNext = 100;
};

}  // namespace fake
