// "VersionInfo.txt" on arbitrary bytes, against an independent reading of the documented
// format: four lines (LF, one CR before it dropped), each at most 1,024 bytes and free of
// zero bytes, in the first 64 KiB of the file.
//
// Input: the file's bytes. A file of only the byte 0xFF is padded beyond 64 KiB with
// lines of "x" (the size limit seen from the reader's side).
#include <climits>
#include <cstdlib>

#include "FuzzSupport.h"
#include "product/sources/Sources.h"
#include "util/Text.h"

using namespace brut;

namespace {

constexpr std::size_t kMaxBytes = 64 * 1024;
constexpr std::size_t kMaxLineBytes = 1024;
const std::u16string kDir = u"C:\\Product\\";
const std::u16string kUnset = u"(unset)";

int32_t LeadingInt(const std::string& text) {
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static fuzz::QuietMachine quiet;
    std::string file(reinterpret_cast<const char*>(data), size);
    if (file == "\xff") {
        file.clear();
        while (file.size() <= kMaxBytes) file += "xxxxxxxxxxxxxxx\n";
    }
    quiet.fp.files.AddFile(kDir + u"VersionInfo.txt", file);

    ProgramInfo record;
    record.InstallLocation = kDir;
    record.ProgramName = record.DisplayName = record.ProgramVersionNumber = record.ProductCode = kUnset;
    record.ProgramLanguage = -7;
    const int result = ReadFromVersionInfoFile(record);
    auto what = [&] { return "result " + std::to_string(result) + ", file " + fuzz::Printable(file); };

    // The lines as documented, as far as they are usable.
    const std::string seen = file.substr(0, kMaxBytes);
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (lines.size() < 4 && pos < seen.size()) {
        const std::size_t lf = seen.find('\n', pos);
        std::string line = seen.substr(pos, lf == std::string::npos ? std::string::npos : lf - pos);
        if (lf != std::string::npos && !line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > kMaxLineBytes || line.find('\0') != std::string::npos) break;
        lines.push_back(line);
        pos = lf == std::string::npos ? seen.size() : lf + 1;
    }

    FUZZ_CHECK(result == (lines.size() == 4 ? 1 : 0), what());
    const std::size_t n = lines.size();
    FUZZ_CHECK(record.ProgramName == (n > 0 ? FromLatin1(lines[0]) : kUnset), what());
    FUZZ_CHECK(record.DisplayName == record.ProgramName, what());
    FUZZ_CHECK(record.ProgramVersionNumber == (n > 1 ? FromLatin1(lines[1]) : kUnset), what());
    FUZZ_CHECK(record.ProgramLanguage == (n > 2 ? LeadingInt(lines[2]) : -7), what());
    FUZZ_CHECK(record.ProductCode == (n > 3 ? FromLatin1(lines[3]) : kUnset), what());
    return 0;
}
