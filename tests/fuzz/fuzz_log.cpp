// The log: the formatter and the 8-bit line on arbitrary arguments and lengths. The
// formats are the system's own (one of each kind of conversion it uses); the arguments,
// their kinds, the length limit, the level and the message are fuzzed.
//
// Input: format index, limit, then up to six arguments (kind byte, then four bytes of
// number or UTF-16 text up to U+FFFF), then the level (four bytes) and a message (UTF-16).
#include <cstdio>

#include "FuzzSupport.h"
#include "log/Log.h"
#include "util/Text.h"

using namespace brut;

namespace {

const char16_t* const kFormats[] = {
    u"Server response = %s",
    u"%s unusable: %s (%s)",
    u"%s(%s) Uptide v%s started",
    u"can not create directory %s because: \"%s\"",
    u"%-20s %s: %s%s",
    u" (%lu)",
    u"%02lu.%02lu.%04lu %02lu:%02lu:%02lu:%03lu",
    u"%04d%02d%02d%02d%02d%02d",
    u"%X",
    u"%d.%d",
    u"[08%x] ",
    u"\\StringFileInfo\\%04x%04x\\%s",
    u"%s: line %d is longer than %u bytes",
    u"UpdateCheck not necessary because it is only %d hours since last Update.",
    u"DiscoverProgramInfo: ProgramInfoLock not taken within %u ms",
    u"Can\u00B4t open RegKey: %s",
    u"100%% done",
};

struct Arg {
    bool isText = false;
    int64_t number = 0;
    std::u16string text;
};

// The documented reading of one of the formats above: texts as zero-terminated strings,
// numbers as 32-bit words, widths as printf pads them; numbers rendered by the C library.
std::u16string Expected(const char16_t* format, const std::vector<Arg>& args, std::size_t limit) {
    std::u16string out;
    std::size_t next = 0;
    for (const char16_t* p = format; *p; ++p) {
        if (*p != u'%') {
            out += *p;
            continue;
        }
        ++p;
        if (*p == u'%') {
            out += u'%';
            continue;
        }
        std::string conversion = "%";
        bool left = false;
        while (*p == u'-' || *p == u'0') {
            left = left || *p == u'-';
            conversion += static_cast<char>(*p++);
        }
        int width = 0;
        while (*p >= u'0' && *p <= u'9') {
            width = width * 10 + (*p - u'0');
            conversion += static_cast<char>(*p++);
        }
        while (*p == u'l') ++p;
        const Arg* a = next < args.size() ? &args[next] : nullptr;
        ++next;
        if (*p == u's') {
            std::u16string t = a && a->isText ? a->text.substr(0, a->text.find(u'\0')) : std::u16string();
            if (static_cast<int>(t.size()) < width)
                t = left ? t + std::u16string(width - t.size(), u' ') : std::u16string(width - t.size(), u' ') + t;
            out += t;
            continue;
        }
        const int64_t v = a && !a->isText ? a->number : 0;
        char buf[64];
        conversion += static_cast<char>(*p);
        if (*p == u'd') std::snprintf(buf, sizeof buf, conversion.c_str(), static_cast<int32_t>(v));
        else std::snprintf(buf, sizeof buf, conversion.c_str(), static_cast<uint32_t>(v));
        out += FromLatin1(buf);
    }
    return out.substr(0, limit);
}

// Characters up to U+00FF as their byte, anything else (a surrogate pair as one) as "?".
std::string EightBit(const std::u16string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c <= 0xFF) {
            out += static_cast<char>(c);
        } else {
            if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) ++i;
            out += '?';
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static fuzz::Machine machine;
    static const bool setUp = [] {
        GetLog();
        return true;
    }();
    (void)setUp;

    fuzz::Input in(data, size);
    const char16_t* format = kFormats[in.Byte() % (sizeof kFormats / sizeof kFormats[0])];
    const uint8_t limitByte = in.Byte();
    const std::size_t limit = limitByte == 0 ? kLogMessageChars : limitByte * 37u;
    std::vector<Arg> args;
    const std::size_t count = in.Byte() % 7;
    for (std::size_t i = 0; i < count; ++i) {
        Arg a;
        a.isText = in.Flag();
        if (a.isText) {
            a.text = in.UnitsUntil(0xFFFF);
            if (in.Flag()) a.text.append(in.Byte() * 100u, u'w');  // lengths beyond every limit
        } else {
            a.number = static_cast<int64_t>(static_cast<uint64_t>(in.U32()) << 32 | in.U32());
        }
        args.push_back(a);
    }
    const int32_t level = static_cast<int32_t>(in.U32());
    std::u16string message = in.RestUnits();
    auto what = [&] {
        return "format " + fuzz::Printable(std::u16string(format)) + ", limit " + std::to_string(limit) + ", message " +
               fuzz::Printable(message);
    };

    // The formatter against the documented reading, at the given limit.
    std::vector<FmtArg> fmt;
    for (const Arg& a : args) fmt.push_back(a.isText ? FmtArg(a.text) : FmtArg(static_cast<long long>(a.number)));
    std::u16string formatted;
    switch (fmt.size()) {
    case 0: formatted = FormatV(format, {}, limit); break;
    case 1: formatted = FormatV(format, {fmt[0]}, limit); break;
    case 2: formatted = FormatV(format, {fmt[0], fmt[1]}, limit); break;
    case 3: formatted = FormatV(format, {fmt[0], fmt[1], fmt[2]}, limit); break;
    case 4: formatted = FormatV(format, {fmt[0], fmt[1], fmt[2], fmt[3]}, limit); break;
    case 5: formatted = FormatV(format, {fmt[0], fmt[1], fmt[2], fmt[3], fmt[4]}, limit); break;
    default: formatted = FormatV(format, {fmt[0], fmt[1], fmt[2], fmt[3], fmt[4], fmt[5]}, limit); break;
    }
    FUZZ_CHECK(formatted == Expected(format, args, limit), what() + ", got " + fuzz::Printable(formatted));

    // A line is its head and the message's 8-bit form, cut at 8,191 bytes.
    CLog& log = GetLog();
    const plat::DateTime utc = machine.fp.system.utcNow;
    const std::string head = log.RenderLine(level, u"BRUT", u"", utc);
    FUZZ_CHECK(head.size() == 23 + 1 + 3 + 2 + 5, what() + ", head " + head);
    const std::string line = log.RenderLine(level, u"BRUT", message, utc);
    FUZZ_CHECK(line == (head + EightBit(message)).substr(0, kLogLineBytes), what());

    // Written through the log: that line for the thread, without one trailing line feed,
    // and CR LF; nothing for a level above the threshold.
    const std::u16string path = log.Path();
    machine.fp.files.RemoveFile(path);
    log.LogText(level, u"BRUT", message);
    std::u16string text = u"[08a2c] " + message.substr(0, kLogMessageChars);
    if (!text.empty() && text.back() == u'\n') text.pop_back();
    const bool passes = level == LOG_ALW || level <= log.Threshold();
    const std::string written = machine.fp.files.Contents(path);
    FUZZ_CHECK(written == (passes ? log.RenderLine(level, u"BRUT", text, utc) + "\r\n" : std::string()), what());
    machine.fp.files.RemoveFile(path);
    return 0;
}
