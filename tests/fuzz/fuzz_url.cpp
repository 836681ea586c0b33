// URL splitting and UrlEncode on arbitrary UTF-16 text.
//
// Input: UTF-16 little-endian text.
//   ExtractServerAndObject: scheme, server and path put back together give the URL.
//   UrlEncode: only the documented alphabet; decoded (by the decoder below) it gives the
//   text back whenever every code unit is below 256, also after the double encoding the
//   service receives. Above U+00FF the documented form ("%20ac") is not decodable without
//   knowing where a code unit ends, so there only its shape is checked.
#include "FuzzSupport.h"
#include "net/HttpWrapper.h"
#include "util/Text.h"

using namespace brut;

namespace {

int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    return -1;  // the encoder writes lower case only
}

// Form decoding of single-byte text: "+" is a blank, "%" and two hex digits one unit.
bool Decode(const std::u16string& text, std::u16string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'+') {
            out += u' ';
        } else if (text[i] == u'%') {
            const int hi = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
            const int lo = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
            if (hi < 0 || lo < 0) return false;
            out += static_cast<char16_t>(hi * 16 + lo);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return true;
}

bool IsAlnum(char16_t c) { return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static fuzz::QuietMachine quiet;
    fuzz::Input in(data, size);
    const std::u16string text = in.RestUnits();
    auto what = [&] { return "text " + fuzz::Printable(text); };

    bool secure = true;
    std::u16string server = u"x", object = u"x";
    ExtractServerAndObject(text, secure, server, object);
    const std::u16string scheme = StartsWith(text, u"https://") ? u"https://" : StartsWith(text, u"http://") ? u"http://" : u"";
    FUZZ_CHECK(secure == (scheme == u"https://"), what());
    FUZZ_CHECK(server.find(u'/') == std::u16string::npos, what());
    const std::u16string rest = text.substr(scheme.size());
    const bool hasPath = rest.find(u'/') != std::u16string::npos;
    FUZZ_CHECK(scheme + server + (hasPath ? u"/" + object : u"") == text, what());
    FUZZ_CHECK(hasPath || object.empty(), what());

    const std::u16string once = UrlEncode(text);
    bool singleBytes = true;
    std::size_t expectedSize = 0;
    for (char16_t c : text) {
        singleBytes = singleBytes && c < 0x100;
        expectedSize += (IsAlnum(c) || c == u' ') ? 1 : c < 0x100 ? 3 : c < 0x1000 ? 4 : 5;
    }
    FUZZ_CHECK(once.size() == expectedSize, what());
    for (char16_t c : once) FUZZ_CHECK(IsAlnum(c) || c == u'+' || c == u'%', what());
    if (singleBytes) {
        std::u16string back, twiceBack;
        FUZZ_CHECK(Decode(once, back) && back == text, what());
        FUZZ_CHECK(Decode(UrlEncode(once), twiceBack) && twiceBack == once, what());
    }
    return 0;
}
