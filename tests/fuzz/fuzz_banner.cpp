// The banner: its name from a fuzzed display name and version, and the check of a
// downloaded picture on arbitrary bytes (the server's file, before the platform decodes it).
//
// Input: the band's width (two bytes), then UTF-16 display name and version separated by
// U+FFFF, then U+FFFF and the picture's bytes.
#include <string>

#include "FuzzSupport.h"
#include "ui/Banner.h"

using namespace brut;

namespace {

bool NameCharacter(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'.' ||
           c == u'_' || c == u'~';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static fuzz::QuietMachine quiet;
    fuzz::Input in(data, size);
    ProgramInfo info;
    info.DisplayName = in.UnitsUntil(0xFFFF);
    info.ProgramVersionNumber = in.UnitsUntil(0xFFFF);
    const std::string picture = in.RestBytes();
    auto what = [&] {
        return "name " + fuzz::Printable(info.DisplayName) + ", version " + fuzz::Printable(info.ProgramVersionNumber);
    };

    // The name is a plain file-name and address part; the file name is built around it.
    const std::u16string name = BannerName(info.DisplayName);
    for (char16_t c : name) FUZZ_CHECK(NameCharacter(c), what());
    const std::u16string& version = info.ProgramVersionNumber;
    const std::size_t dot = version.find(u'.');
    std::u16string major = dot == std::u16string::npos ? std::u16string() : version.substr(0, dot);
    major = major.substr(0, major.find(u'\0'));  // a zero-terminated text
    // Both are formatted texts, cut at the formatter's 12,288 units (long past any path).
    const std::u16string file = u"Banner_" + name + u"_" + major + u".bmp";
    FUZZ_CHECK(BannerFileName(info) == file.substr(0, 12288), what());
    FUZZ_CHECK(BannerDownloadUrl(u"https://h/Uptide/", info) == (u"https://h/Uptide//Banner/" + file).substr(0, 12288),
               what());
    if (info.DisplayName.empty()) FUZZ_CHECK(HasNoBanner(info), what());

    // A picture passes only whole and within the band's limits.
    const BannerCheck check = CheckBannerBytes(picture);
    auto about = [&] {
        return "verdict " + std::to_string(static_cast<int>(check.verdict)) + ", " + std::to_string(check.width) +
               " x " + std::to_string(check.height) + ", bytes " +
               std::to_string(picture.size());
    };
    switch (check.verdict) {
    case BannerVerdict::Usable:
        FUZZ_CHECK(picture.size() <= kBannerMaxBytes && picture.compare(0, 2, "BM") == 0, about());
        FUZZ_CHECK(check.width > 0 && check.width <= kBannerMaxWidth, about());
        FUZZ_CHECK(check.height >= kBannerMinHeight && check.height <= kBannerMaxHeight, about());
        break;
    case BannerVerdict::TooWide: FUZZ_CHECK(check.width > kBannerMaxWidth, about()); break;
    case BannerVerdict::TooTall: FUZZ_CHECK(check.height > kBannerMaxHeight, about()); break;
    case BannerVerdict::TooLow: FUZZ_CHECK(check.height > 0 && check.height < kBannerMinHeight, about()); break;
    default: break;
    }
    return 0;
}
