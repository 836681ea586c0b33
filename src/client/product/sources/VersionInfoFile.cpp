// Discovery from "VersionInfo.txt" in the install location: four lines of 8-bit text.
#include "product/sources/Sources.h"

#include "log/Log.h"
#include "util/Text.h"
#include "platform/Platform.h"

namespace brut {

namespace {

constexpr char16_t kVersionInfoFileName[] = u"VersionInfo.txt";

// The file holds four short lines; anything far beyond is not ours.
constexpr std::size_t kVersionInfoMaxBytes = 64 * 1024;
constexpr std::size_t kVersionInfoMaxLineBytes = 1024;

enum class LineStatus { Ok, Missing, TooLong, Binary };

// Lines of an 8-bit text: LF ends a line, one CR before it is dropped; a last
// line without LF counts, an empty rest after the last LF does not.
class LineReader {
public:
    explicit LineReader(const std::string& bytes) : mBytes(bytes) {}
    LineStatus Next(std::string& line) {
        if (mPos >= mBytes.size()) return LineStatus::Missing;
        const std::size_t lf = mBytes.find('\n', mPos);
        const std::size_t end = lf == std::string::npos ? mBytes.size() : lf;
        line = mBytes.substr(mPos, end - mPos);
        mPos = lf == std::string::npos ? mBytes.size() : lf + 1;
        if (lf != std::string::npos && !line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > kVersionInfoMaxLineBytes) return LineStatus::TooLong;
        if (line.find('\0') != std::string::npos) return LineStatus::Binary;
        return LineStatus::Ok;
    }

private:
    const std::string& mBytes;
    std::size_t mPos = 0;
};

// One line of VersionInfo.txt in UTF-16; false, logged, when it is missing or malformed.
bool ReadVersionInfoLine(LineReader& reader, int number, const std::u16string& path, std::u16string& value) {
    std::string line;
    switch (reader.Next(line)) {
    case LineStatus::Ok:
        value = plat::Sys().FromAnsi(line);
        return true;
    case LineStatus::Missing:
        LogError(u"%s: line %d is missing", path, number);
        return false;
    case LineStatus::TooLong:
        LogError(u"%s: line %d is longer than %u bytes", path, number, static_cast<unsigned>(kVersionInfoMaxLineBytes));
        return false;
    case LineStatus::Binary:
        LogError(u"%s: line %d holds binary data", path, number);
        return false;
    }
    return false;
}

}  // namespace

int ReadFromVersionInfoFile(ProgramInfo& record) {
    if (record.InstallLocation.empty()) return 0;
    const std::u16string path = WithTrailingBackslash(record.InstallLocation) + kVersionInfoFileName;
    std::string bytes;
    if (!plat::Fs().ReadPrefix(path, kVersionInfoMaxBytes, bytes)) return 0;
    LineReader reader(bytes);
    std::u16string line;
    if (!ReadVersionInfoLine(reader, 1, path, line)) return 0;
    record.ProgramName = line;
    record.DisplayName = line;
    if (!ReadVersionInfoLine(reader, 2, path, line)) return 0;
    record.ProgramVersionNumber = line;
    if (!ReadVersionInfoLine(reader, 3, path, line)) return 0;
    record.ProgramLanguage = ParseInt32(line);
    if (!ReadVersionInfoLine(reader, 4, path, line)) return 0;
    record.ProductCode = line;
    return 1;
}

}  // namespace brut
