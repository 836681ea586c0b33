#include "fakes/FakeRegistry.h"

#include "util/Text.h"

namespace fake {

using plat::Hive;

namespace {
std::u16string Lower(const std::u16string& s) { return brut::ToLowerAscii(s); }
std::u16string Norm(const std::u16string& path) {
    std::u16string p = path;
    while (!p.empty() && p.back() == u'\\') p.pop_back();
    return Lower(p);
}
std::u16string ParentOf(const std::u16string& p) {
    auto pos = p.rfind(u'\\');
    return pos == std::u16string::npos ? std::u16string() : p.substr(0, pos);
}
std::u16string LeafOf(const std::u16string& p) {
    auto pos = p.rfind(u'\\');
    return pos == std::u16string::npos ? p : p.substr(pos + 1);
}
std::u16string HiveTag(Hive h) { return h == Hive::CurrentUser ? u"U:" : h == Hive::ClassesRoot ? u"C:" : u"M:"; }
}  // namespace

std::vector<uint8_t> Utf16Bytes(const std::u16string& text) {
    std::vector<uint8_t> out;
    for (char16_t c : text) {
        out.push_back(static_cast<uint8_t>(c & 0xFF));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    return out;
}

bool FakeRegistry::Denied(Hive hive, const std::u16string& lowerPath, uint32_t sam) const {
    const uint32_t writeRights = plat::kKeySetValue | plat::kKeyCreateSubKey | 0x00010000 /*DELETE*/;
    if (!(sam & writeRights)) return false;
    for (const auto& d : denyWrite)
        if (d.first == hive && brut::StartsWith(lowerPath, Lower(d.second))) return true;
    return false;
}

void FakeRegistry::AddKey(Hive hive, const std::u16string& path) {
    std::u16string original = path;
    while (!original.empty() && original.back() == u'\\') original.pop_back();
    std::u16string norm = Lower(original);
    auto& map = HiveOf(hive);
    // Create every level so that enumeration sees the chain.
    std::size_t pos = 0;
    while (true) {
        std::size_t next = norm.find(u'\\', pos);
        std::u16string level = next == std::u16string::npos ? norm : norm.substr(0, next);
        std::u16string levelOriginal = next == std::u16string::npos ? original : original.substr(0, next);
        if (!map.count(level)) {
            map[level];
            mChildOrder[HiveTag(hive) + ParentOf(level)].push_back(LeafOf(levelOriginal));
        }
        if (next == std::u16string::npos) break;
        pos = next + 1;
    }
}

bool FakeRegistry::HasKey(Hive hive, const std::u16string& path) const { return HiveOf(hive).count(Norm(path)) > 0; }

uint32_t FakeRegistry::OpenKey(Hive hive, const std::u16string& path, uint32_t sam, plat::KeyHandle& key) {
    std::lock_guard<std::recursive_mutex> hold(mGuard.Get());
    key = 0;
    accesses.push_back({hive, path, sam, false});
    std::u16string n = Norm(path);
    if (!HiveOf(hive).count(n)) return plat::kErrFileNotFound;
    if (Denied(hive, n, sam)) return plat::kErrAccessDenied;
    key = mNext++;
    mOpen[key] = {hive, n};
    ++openHandles;
    return 0;
}

uint32_t FakeRegistry::OpenSubKey(plat::KeyHandle parent, const std::u16string& name, uint32_t sam,
                                  plat::KeyHandle& key) {
    std::lock_guard<std::recursive_mutex> hold(mGuard.Get());
    key = 0;
    auto it = mOpen.find(parent);
    if (it == mOpen.end()) return plat::kErrInvalidHandle;
    return OpenKey(it->second.first, it->second.second + u"\\" + name, sam, key);
}

uint32_t FakeRegistry::CreateKey(Hive hive, const std::u16string& path, uint32_t sam, plat::KeyHandle& key) {
    std::lock_guard<std::recursive_mutex> hold(mGuard.Get());
    key = 0;
    accesses.push_back({hive, path, sam, true});
    std::u16string n = Norm(path);
    if (Denied(hive, n, sam | plat::kKeyCreateSubKey)) return plat::kErrAccessDenied;
    AddKey(hive, path);
    key = mNext++;
    mOpen[key] = {hive, n};
    ++openHandles;
    return 0;
}

FakeRegistry::Key* FakeRegistry::Find(plat::KeyHandle key) {
    auto it = mOpen.find(key);
    if (it == mOpen.end()) return nullptr;
    auto& map = HiveOf(it->second.first);
    auto k = map.find(it->second.second);
    return k == map.end() ? nullptr : &k->second;
}

uint32_t FakeRegistry::QueryValue(plat::KeyHandle key, const std::u16string& name, uint32_t& type,
                                  std::vector<uint8_t>& data) {
    std::lock_guard<std::recursive_mutex> hold(mGuard.Get());
    Key* k = Find(key);
    if (!k) return 6;  // ERROR_INVALID_HANDLE
    auto v = k->values.find(Lower(name));
    if (v == k->values.end()) return plat::kErrFileNotFound;
    type = v->second.type;
    data = v->second.data;
    return 0;
}

uint32_t FakeRegistry::SetValue(plat::KeyHandle key, const std::u16string& name, uint32_t type,
                                const std::vector<uint8_t>& data) {
    std::lock_guard<std::recursive_mutex> hold(mGuard.Get());
    Key* k = Find(key);
    if (!k) return 6;
    k->values[Lower(name)] = RegValue{type, data};
    k->valueNames[Lower(name)] = name;
    return 0;
}

uint32_t FakeRegistry::DeleteValue(plat::KeyHandle key, const std::u16string& name) {
    std::lock_guard<std::recursive_mutex> hold(mGuard.Get());
    Key* k = Find(key);
    if (!k) return 6;
    return k->values.erase(Lower(name)) ? 0 : plat::kErrFileNotFound;
}

uint32_t FakeRegistry::EnumKey(plat::KeyHandle key, uint32_t index, std::u16string& name) {
    std::lock_guard<std::recursive_mutex> hold(mGuard.Get());
    auto it = mOpen.find(key);
    if (it == mOpen.end()) return 6;
    auto children = mChildOrder.find(HiveTag(it->second.first) + it->second.second);
    if (children == mChildOrder.end() || index >= children->second.size()) return plat::kErrNoMoreItems;
    name = children->second[index];
    return 0;
}

void FakeRegistry::CloseKey(plat::KeyHandle key) {
    std::lock_guard<std::recursive_mutex> hold(mGuard.Get());
    if (mOpen.erase(key)) --openHandles;
}

void FakeRegistry::SetRaw(Hive hive, const std::u16string& path, const std::u16string& name, uint32_t type,
                          std::vector<uint8_t> data) {
    AddKey(hive, path);
    auto& k = HiveOf(hive)[Norm(path)];
    k.values[Lower(name)] = RegValue{type, std::move(data)};
    k.valueNames[Lower(name)] = name;
}

void FakeRegistry::SetText(Hive hive, const std::u16string& path, const std::u16string& name,
                           const std::u16string& text, bool terminatingZero) {
    std::vector<uint8_t> bytes = Utf16Bytes(text);
    if (terminatingZero) { bytes.push_back(0); bytes.push_back(0); }
    SetRaw(hive, path, name, plat::kRegSz, std::move(bytes));
}

void FakeRegistry::SetDword(Hive hive, const std::u16string& path, const std::u16string& name, uint32_t value) {
    SetRaw(hive, path, name, plat::kRegDword,
           {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 24)});
}

const RegValue* FakeRegistry::Value(Hive hive, const std::u16string& path, const std::u16string& name) const {
    auto& map = HiveOf(hive);
    auto k = map.find(Norm(path));
    if (k == map.end()) return nullptr;
    auto v = k->second.values.find(Lower(name));
    return v == k->second.values.end() ? nullptr : &v->second;
}

bool FakeRegistry::HasValue(Hive hive, const std::u16string& path, const std::u16string& name) const {
    return Value(hive, path, name) != nullptr;
}

std::u16string FakeRegistry::TextOf(Hive hive, const std::u16string& path, const std::u16string& name) const {
    const RegValue* v = Value(hive, path, name);
    std::u16string out;
    if (!v) return out;
    for (std::size_t i = 0; i + 1 < v->data.size(); i += 2)
        out += static_cast<char16_t>(v->data[i] | (v->data[i + 1] << 8));
    return out;
}

}  // namespace fake
