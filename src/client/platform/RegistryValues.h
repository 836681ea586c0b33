#pragma once
// Typed values on top of the raw registry: texts as UTF-16 little-endian code
// units, numbers as four little-endian bytes. Every reader and writer of a
// registry value goes through these.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Registry.h"

namespace plat {

constexpr std::size_t kAnyValueSize = static_cast<std::size_t>(-1);
enum class TextTypes { Sz, SzOrExpandSz };

// A text value up to its first zero code unit, whether a terminator was stored
// or not; a trailing odd byte is dropped. Only REG_SZ (and REG_EXPAND_SZ when
// asked) counts. With a capacity, the value must also fit a buffer of that many
// bytes the way the system fills one: the data, and the text with a terminator.
// False with `text` empty otherwise.
bool ReadRegistryText(KeyHandle key, const std::u16string& name, std::u16string& text,
                      std::size_t capacityBytes = kAnyValueSize, TextTypes types = TextTypes::Sz);
// REG_DWORD of exactly four bytes.
bool ReadRegistryDword(KeyHandle key, const std::u16string& name, uint32_t& value);
// Stores text as UTF-16 without a terminating zero.
uint32_t WriteRegistryText(KeyHandle key, const std::u16string& name, const std::u16string& text);
uint32_t WriteRegistryDword(KeyHandle key, const std::u16string& name, uint32_t value);

}  // namespace plat
