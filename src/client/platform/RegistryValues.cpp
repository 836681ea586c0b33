#include "platform/RegistryValues.h"

#include <new>
#include <vector>

#include "platform/Platform.h"

namespace plat {

bool ReadRegistryText(KeyHandle key, const std::u16string& name, std::u16string& text, std::size_t capacityBytes,
                      TextTypes types) {
    text.clear();
    if (!key) return false;
    try {
        uint32_t type = kRegNone;
        std::vector<uint8_t> data;
        if (Reg().QueryValue(key, name, type, data) != kErrSuccess) return false;
        if (type != kRegSz && !(types == TextTypes::SzOrExpandSz && type == kRegExpandSz)) return false;
        if (data.size() > capacityBytes) return false;
        const std::size_t units = data.size() / 2;
        std::u16string value;
        value.reserve(units);
        for (std::size_t i = 0; i < units; ++i) {
            const char16_t c = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
            if (c == 0) break;
            value.push_back(c);
        }
        if (capacityBytes != kAnyValueSize && (value.size() + 1) * sizeof(char16_t) > capacityBytes) return false;
        text = std::move(value);
        return true;
    } catch (const std::bad_alloc&) {
        text.clear();
        return false;
    }
}

bool ReadRegistryDword(KeyHandle key, const std::u16string& name, uint32_t& value) {
    if (!key) return false;
    try {
        uint32_t type = kRegNone;
        std::vector<uint8_t> data;
        if (Reg().QueryValue(key, name, type, data) != kErrSuccess) return false;
        if (type != kRegDword || data.size() != 4) return false;
        value = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
                static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

uint32_t WriteRegistryText(KeyHandle key, const std::u16string& name, const std::u16string& text) {
    if (!key) return kErrInvalidParameter;
    try {
        std::vector<uint8_t> data;
        data.reserve(text.size() * 2);
        for (char16_t c : text) {
            data.push_back(static_cast<uint8_t>(c & 0xFF));
            data.push_back(static_cast<uint8_t>(c >> 8));
        }
        return Reg().SetValue(key, name, kRegSz, data);
    } catch (const std::bad_alloc&) {
        return kErrNotEnoughMemory;
    }
}

uint32_t WriteRegistryDword(KeyHandle key, const std::u16string& name, uint32_t value) {
    if (!key) return kErrInvalidParameter;
    const std::vector<uint8_t> data = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                                       static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    return Reg().SetValue(key, name, kRegDword, data);
}

}  // namespace plat
