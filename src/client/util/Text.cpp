#include "util/Text.h"

#include <cmath>
#include <cstdlib>
#include <limits>

namespace brut {

namespace {

void Pad(std::u16string& out, const std::u16string& body, int width, bool left, char16_t fill) {
    int pad = width - static_cast<int>(body.size());
    if (pad <= 0) {
        out += body;
    } else if (left) {
        out += body;
        out.append(static_cast<std::size_t>(pad), u' ');
    } else {
        out.append(static_cast<std::size_t>(pad), fill);
        out += body;
    }
}

std::u16string Digits(uint64_t v, unsigned base, bool upper) {
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::u16string d;
    do {
        d.insert(d.begin(), static_cast<char16_t>(set[v % base]));
        v /= base;
    } while (v);
    return d;
}

}  // namespace

std::u16string FormatV(const char16_t* format, std::initializer_list<FmtArg> args, std::size_t limit) {
    std::u16string out;
    if (!format) return out;
    auto next = args.begin();
    auto take = [&]() -> const FmtArg* { return next == args.end() ? nullptr : &*next++; };
    for (const char16_t* p = format; *p && out.size() < limit; ++p) {
        if (*p != u'%') {
            out += *p;
            continue;
        }
        ++p;
        bool left = false, zero = false;
        for (;; ++p) {
            if (*p == u'-') left = true;
            else if (*p == u'0') zero = true;
            else if (*p == u'+' || *p == u' ' || *p == u'#') {}
            else break;
        }
        int width = 0;
        while (*p >= u'0' && *p <= u'9' && width < 100000) width = width * 10 + (*p++ - u'0');
        int precision = -1;
        if (*p == u'.') {
            ++p;
            precision = 0;
            while (*p >= u'0' && *p <= u'9' && precision < 100000) precision = precision * 10 + (*p++ - u'0');
        }
        bool is64 = false;
        for (;;) {
            if (p[0] == u'l' && p[1] == u'l') { is64 = true; p += 2; }
            else if (p[0] == u'I' && p[1] == u'6' && p[2] == u'4') { is64 = true; p += 3; }
            else if (p[0] == u'I' && p[1] == u'3' && p[2] == u'2') p += 3;
            else if (*p == u'l' || *p == u'h' || *p == u'w' || *p == u'I') ++p;
            else break;
        }
        if (!*p) break;
        const char16_t conv = *p;
        std::u16string body;
        switch (conv) {
        case u'%':
            out += u'%';
            continue;
        case u's': case u'S': {
            const FmtArg* a = take();
            body = a ? a->TextPtr() : u"";
            if (precision >= 0 && body.size() > static_cast<std::size_t>(precision)) body.resize(static_cast<std::size_t>(precision));
            Pad(out, body, width, left, u' ');
            break;
        }
        case u'c': {
            const FmtArg* a = take();
            body.assign(1, static_cast<char16_t>(a ? a->Int() : 0));
            Pad(out, body, width, left, u' ');
            break;
        }
        case u'd': case u'i': {
            const FmtArg* a = take();
            const int64_t raw = a ? a->Int() : 0;
            const int64_t v = is64 ? raw : static_cast<int32_t>(raw);
            bool neg = v < 0;
            uint64_t mag = neg ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
            std::u16string d = Digits(mag, 10, false);
            if (precision >= 0 && d.size() < static_cast<std::size_t>(precision)) d.insert(0, precision - d.size(), u'0');
            if (zero && !left && precision < 0) {
                int room = width - (neg ? 1 : 0);
                if (static_cast<int>(d.size()) < room) d.insert(0, room - d.size(), u'0');
            }
            body = (neg ? u"-" : u"") + d;
            Pad(out, body, width, left, u' ');
            break;
        }
        case u'u': case u'x': case u'X': {
            const FmtArg* a = take();
            const uint64_t raw = static_cast<uint64_t>(a ? a->Int() : 0);
            const uint64_t v = is64 ? raw : static_cast<uint32_t>(raw);
            body = Digits(v, conv == u'u' ? 10 : 16, conv == u'X');
            if (precision >= 0 && body.size() < static_cast<std::size_t>(precision)) body.insert(0, precision - body.size(), u'0');
            Pad(out, body, width, left, (zero && precision < 0) ? u'0' : u' ');
            break;
        }
        default:
            // Unknown conversion: written as it stands, consuming nothing.
            out += u'%';
            out += conv;
            break;
        }
    }
    if (out.size() > limit) out.resize(limit);
    return out;
}

std::u16string FromUtf8(const std::string& s) {
    std::u16string out;
    for (std::size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        uint32_t cp;
        int extra;
        if (c < 0x80) { cp = c; extra = 0; }
        else if ((c >> 5) == 6) { cp = c & 0x1F; extra = 1; }
        else if ((c >> 4) == 14) { cp = c & 0x0F; extra = 2; }
        else if ((c >> 3) == 30) { cp = c & 0x07; extra = 3; }
        else { out += u'\xFFFD'; ++i; continue; }
        if (i + extra >= s.size() + (extra ? 0 : 1) && extra) { out += u'\xFFFD'; break; }
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            unsigned char cc = static_cast<unsigned char>(s[i + k]);
            if ((cc >> 6) != 2) { ok = false; break; }
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (!ok) { out += u'\xFFFD'; ++i; continue; }
        i += extra + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::string ToUtf8(const std::u16string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        uint32_t cp = s[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        }
        if (cp < 0x80) out += static_cast<char>(cp);
        else if (cp < 0x800) { out += static_cast<char>(0xC0 | (cp >> 6)); out += static_cast<char>(0x80 | (cp & 0x3F)); }
        else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

std::string ToLatin1(const std::u16string& text, char replacement) {
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text) out += c <= 0xFF ? static_cast<char>(c) : replacement;
    return out;
}

std::u16string FromLatin1(const std::string& bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (char b : bytes) out += static_cast<char16_t>(static_cast<unsigned char>(b));
    return out;
}

bool IsBlank(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

std::u16string Trim(const std::u16string& text) {
    std::size_t b = 0, e = text.size();
    while (b < e && IsBlank(text[b])) ++b;
    while (e > b && IsBlank(text[e - 1])) --e;
    return text.substr(b, e - b);
}

std::u16string ToLowerAscii(std::u16string text) {
    for (auto& c : text)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    return text;
}

bool StartsWith(const std::u16string& text, const std::u16string& prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const std::u16string& text, const std::u16string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::u16string ReplaceAll(std::u16string text, const std::u16string& from, const std::u16string& to) {
    if (from.empty()) return text;
    for (std::size_t pos = 0; (pos = text.find(from, pos)) != std::u16string::npos; pos += to.size())
        text.replace(pos, from.size(), to);
    return text;
}

int32_t ParseInt32(const std::u16string& text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool neg = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) neg = text[i++] == u'-';
    int64_t v = 0;
    bool overflow = false;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        if (!overflow) {
            v = v * 10 + (text[i] - u'0');
            if (v > static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1) overflow = true;
        }
    }
    if (neg) {
        if (overflow || -v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
        return static_cast<int32_t>(-v);
    }
    if (overflow || v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(v);
}

int32_t ParseNumberTruncated(const std::u16string& text) {
    std::string ascii;
    for (char16_t c : text) {
        if (c >= 0x80) break;
        ascii += static_cast<char>(c);
    }
    // Plain decimal only: strtod would also take hexadecimal, "inf" and "nan".
    std::size_t i = 0;
    while (i < ascii.size() && IsBlank(static_cast<char16_t>(ascii[i]))) ++i;
    if (i < ascii.size() && (ascii[i] == '+' || ascii[i] == '-')) ++i;
    if (i >= ascii.size() || !((ascii[i] >= '0' && ascii[i] <= '9') || ascii[i] == '.')) return 0;
    if (ascii.compare(i, 2, "0x") == 0 || ascii.compare(i, 2, "0X") == 0) ascii.resize(i + 1);
    const char* begin = ascii.c_str();
    char* end = nullptr;
    double d = std::strtod(begin, &end);
    if (end == begin || std::isnan(d)) return 0;
    d = std::trunc(d);
    if (d >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (d <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(d);
}

std::u16string DecimalText(int64_t value) {
    const std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

std::u16string WithTrailingBackslash(const std::u16string& dir) {
    return (dir.empty() || dir.back() == u'\\') ? dir : dir + u"\\";
}

std::u16string WithOneTrailingBackslash(const std::u16string& path) {
    std::size_t e = path.size();
    while (e > 0 && path[e - 1] == u'\\') --e;
    return path.substr(0, e) + u"\\";
}

}  // namespace brut
