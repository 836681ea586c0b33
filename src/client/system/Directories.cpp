#include "system/Directories.h"

#include "log/Log.h"
#include "util/Text.h"
#include "platform/Platform.h"

namespace brut {

std::u16string GetErrorText(uint32_t code) {
    std::u16string message = plat::Sys().ErrorMessage(code);
    std::u16string text;
    text.reserve(message.size() + 16);
    for (char16_t c : message)
        if (c != u'\r' && c != u'\n') text += c;
    return text + Format(u" (%lu)", code);
}

std::u16string GetLastErrorText() { return GetErrorText(plat::Sys().LastError()); }

namespace {

// Creates one directory; 0 when it exists afterwards, else the error code.
uint32_t CreateOne(const std::u16string& path) {
    uint32_t err = plat::Fs().MakeDirectory(path);
    return err == plat::kErrAlreadyExists ? 0 : err;
}

void ReportCreateFailure(const std::u16string& path, uint32_t err) {
    LogError(u"can not create directory %s because: \"%s\"", path, GetErrorText(err));
}

// The directory component as the runtime's path splitter gives it: after an
// optional drive ("X:"), up to and including the last separator.
std::u16string DirectoryComponent(const std::u16string& path) {
    std::size_t start = (path.size() >= 2 && path[1] == u':') ? 2 : 0;
    std::size_t last = path.find_last_of(u"\\/");
    if (last == std::u16string::npos || last < start) return std::u16string();
    return path.substr(start, last - start + 1);
}

}  // namespace

int CreateDirectoryPath(const std::u16string& path, bool withParents) {
    if (withParents) {
        // Start at the fourth character so that a drive part "C:\" is not created.
        for (std::size_t pos = path.find(u'\\', 3); pos != std::u16string::npos; pos = path.find(u'\\', pos + 1)) {
            std::u16string partial = path.substr(0, pos + 1);
            uint32_t err = CreateOne(partial);
            if (err) ReportCreateFailure(partial, err);
        }
        uint32_t err = CreateOne(path);
        if (err) {
            ReportCreateFailure(path, err);
            return 0;
        }
        return 1;
    }
    uint32_t err = CreateOne(path);
    if (!err || DirectoryComponent(path) == u"\\") return 1;
    ReportCreateFailure(path, err);
    return 0;
}

std::u16string LogDirectory() {
    std::u16string directory;
    if (!GetMakerTempDirectory(directory)) return std::u16string();
    directory += u"BR Uptide";
    CreateDirectoryPath(directory, false);
    return directory + u"\\";
}

int GetMakerTempDirectory(std::u16string& dir) {
    std::u16string temp = plat::Sys().TempPath();
    if (temp.empty()) {
        LogError(u"GetTempPath failed: %s", GetLastErrorText());
        return 0;
    }
    dir = temp + u"ZI Vodidure";
    CreateDirectoryPath(dir, false);
    dir += u"\\";
    return 1;
}

}  // namespace brut
