#pragma once
// UTF-16 text helpers shared by every subsystem. Behaviour is defined on
// UTF-16 code units so that native and Windows builds agree to the byte.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace brut {

// One argument of the printf-style formatter: an integer or a text.
class FmtArg {
public:
    FmtArg(int v) : mIsText(false), mInt(v) {}
    FmtArg(unsigned v) : mIsText(false), mInt(v) {}
    FmtArg(long v) : mIsText(false), mInt(v) {}
    FmtArg(unsigned long v) : mIsText(false), mInt(static_cast<int64_t>(v)) {}
    FmtArg(long long v) : mIsText(false), mInt(v) {}
    FmtArg(unsigned long long v) : mIsText(false), mInt(static_cast<int64_t>(v)) {}
    FmtArg(const std::u16string& s) : mIsText(true), mText(s.c_str()) {}
    FmtArg(const char16_t* s) : mIsText(true), mText(s ? s : u"") {}

    bool IsText() const { return mIsText; }
    int64_t Int() const { return mIsText ? 0 : mInt; }
    const char16_t* TextPtr() const { return mIsText ? mText : u""; }

private:
    bool mIsText;
    int64_t mInt = 0;
    const char16_t* mText = nullptr;
};

// printf-style formatting of a wide format: %s %d %i %u %x %X %c %%, with flags
// "-" and "0", a width and a precision; length modifiers (l, h, ll) are accepted
// and integers are taken at 32 bits as the original 32-bit words were. A
// conversion without an argument formats as empty text or 0. The result is cut
// at `limit` code units. The format is never taken from outside data.
std::u16string FormatV(const char16_t* format, std::initializer_list<FmtArg> args, std::size_t limit = 12288);

template <typename... A>
std::u16string Format(const char16_t* format, const A&... args) {
    return FormatV(format, {FmtArg(args)...});
}

// ASCII/UTF-8 helpers (tests and fixed texts).
std::u16string FromUtf8(const std::string& utf8);
std::string ToUtf8(const std::u16string& text);

// Each code unit <= 0xFF as one byte; others become `replacement`.
std::string ToLatin1(const std::u16string& text, char replacement = '?');
std::u16string FromLatin1(const std::string& bytes);

bool IsBlank(char16_t c);  // white space as isspace in the C locale
std::u16string Trim(const std::u16string& text);
std::u16string ToLowerAscii(std::u16string text);
bool StartsWith(const std::u16string& text, const std::u16string& prefix);
bool EndsWith(const std::u16string& text, const std::u16string& suffix);
std::u16string ReplaceAll(std::u16string text, const std::u16string& from, const std::u16string& to);

// strtol-like: leading white space, optional sign, digits up to the first
// non-digit; no digits give 0; values beyond 32 bits give the nearest limit.
int32_t ParseInt32(const std::u16string& text);
// The text read as a decimal floating-point number, cut to its integer part
// (saturated to 32 bits); 0 when it is not a number.
int32_t ParseNumberTruncated(const std::u16string& text);

// All 64 bits in decimal (the formatter takes integers at 32).
std::u16string DecimalText(int64_t value);

// A backslash appended unless the text ends with one; an empty text stays empty.
std::u16string WithTrailingBackslash(const std::u16string& dir);
// Trailing backslashes removed, exactly one appended (an empty text gives "\").
std::u16string WithOneTrailingBackslash(const std::u16string& path);

}  // namespace brut
