#pragma once
// The maker's temporary directory, directory creation and the system's error texts.
#include <cstdint>
#include <string>

namespace brut {

// The system temporary path + "ZI Vodidure\" (created without parents): 1, or 0 logged.
int GetMakerTempDirectory(std::u16string& dir);
// The log's folder: the maker's temporary directory + "BR Uptide\\" (created), or
// empty when there is none.
std::u16string LogDirectory();
// Creates a directory (with parents on request): 1 when it exists afterwards.
int CreateDirectoryPath(const std::u16string& path, bool withParents);

// The system's text for `code` without line breaks, followed by " (code)".
std::u16string GetErrorText(uint32_t code);
// GetErrorText of the calling thread's last error.
std::u16string GetLastErrorText();

}  // namespace brut
