#pragma once
// Version resources of executable files.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace plat {

// One file's version resource as read by GetFileVersionInfoW.
class VersionBlock {
public:
    virtual ~VersionBlock() = default;
    // "\VarFileInfo\Translation": (language, code page) pairs; empty when missing.
    virtual std::vector<std::pair<uint16_t, uint16_t>> Translations() = 0;
    // VerQueryValueW of a string key such as "\StringFileInfo\040904b0\ProductName".
    virtual bool QueryString(const std::u16string& key, std::u16string& value) = 0;
};

class VersionInfo {
public:
    virtual ~VersionInfo() = default;
    // Null when the file has no version resource or cannot be read.
    virtual std::unique_ptr<VersionBlock> Load(const std::u16string& path) = 0;
};

}  // namespace plat
