// The command line on arbitrary UTF-16 text (lone surrogates, NULs, up to 10,000 tokens).
//
// Input: one byte, then UTF-16 little-endian text. One input in 32 (by its hash) repeats
// the text as often as that byte says (times 40, joined by blanks) to make very long
// lines of 10,000 tokens and more; kept rare so that the rest run fast.
// The text is parsed as a whole command line; split at line feeds it is also a list of
// tokens that, quoted by the runtime's rules, must split back to themselves.
#include <set>

#include "FuzzSupport.h"
#include "app/CommandLine.h"
#include "util/Text.h"

using namespace brut;

namespace {

const std::u16string kProgram = u"C:\\Program Files\\Brindle\\BRUptide.exe";

// The inverse of the runtime's argument rules: quotes only where needed; backslashes
// doubled only before a quote, escaped or closing.
std::u16string Quote(const std::u16string& token) {
    if (!token.empty() && token.find_first_of(u" \t\"") == std::u16string::npos) return token;
    std::u16string out = u"\"";
    std::size_t slashes = 0;
    for (char16_t c : token) {
        if (c == u'\\') {
            ++slashes;
            continue;
        }
        out.append(c == u'"' ? 2 * slashes + 1 : slashes, u'\\');
        slashes = 0;
        out += c;
    }
    out.append(2 * slashes, u'\\');
    return out + u"\"";
}

const char16_t* const kSwitches[] = {u"IsStubExe", u"QuickCheck", u"UpdateCheckSilent", u"UpdateSilent",
                                     u"WriteCheckResultToReg", u"HideUpdateCheckResult", u"OnlyDownload",
                                     u"RestartAfterSelfUpdate"};

bool OneTrailingBackslash(const std::u16string& path) {
    return !path.empty() && path.back() == u'\\' && (path.size() == 1 || path[path.size() - 2] != u'\\');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static fuzz::QuietMachine quiet;
    struct Clean {
        ~Clean() { quiet.Clean(); }  // the first token may have made a directory
    } clean;

    fuzz::Input in(data, size);
    const uint8_t count = in.Byte();
    const std::size_t repeats = fuzz::OneIn(data, size, 32) ? 1 + count * 40u : 1;
    const std::u16string piece = in.RestUnits();
    std::u16string text;
    for (std::size_t i = 0; i < repeats && text.size() < 30000; ++i) {
        if (i) text += u' ';
        text += piece;
    }
    auto what = [&] { return "line " + fuzz::Printable(text); };

    // Split, then quoted and split again: the same tokens.
    const std::vector<std::u16string> tokens = SplitCommandLine(text);
    FUZZ_CHECK(!tokens.empty(), what());
    {
        std::u16string line = u"\"" + kProgram + u"\"";
        for (std::size_t k = 1; k < tokens.size(); ++k) line += u" " + Quote(tokens[k]);
        std::vector<std::u16string> again = SplitCommandLine(line);
        again[0] = tokens[0];
        FUZZ_CHECK(again == tokens, what() + " requoted " + fuzz::Printable(line));
    }

    // Any token list without line feeds, quoted, splits back to itself.
    {
        std::vector<std::u16string> list{kProgram};
        std::size_t start = 0;
        for (;;) {
            const std::size_t end = piece.find(u'\n', start);
            list.push_back(piece.substr(start, end == std::u16string::npos ? std::u16string::npos : end - start));
            if (end == std::u16string::npos) break;
            start = end + 1;
        }
        std::u16string line = u"\"" + kProgram + u"\"";
        for (std::size_t k = 1; k < list.size(); ++k) line += u" " + Quote(list[k]);
        FUZZ_CHECK(SplitCommandLine(line) == list, "quoted " + fuzz::Printable(line));
    }

    CmdLineInfo info;
    ParseCommandLine(info, text);
    const ProgramInfo& p = info.mProgramInfo;

    // Every token but the program's own path reached the parser.
    // A "-" or "/" before the path is a prefix, or part of a WindowRec value (then counted).
    auto bareOf = [](const std::u16string& t) {
        return (!t.empty() && (t[0] == u'-' || t[0] == u'/')) ? t.substr(1) : t;
    };
    int32_t counted = -1, maybe = 0;
    for (std::size_t k = 1; k < tokens.size(); ++k) {
        const std::u16string& t = tokens[k];
        const std::u16string bare = bareOf(t);
        if (t == kProgram) continue;
        if (bare == kProgram) ++maybe;
        else ++counted;
    }
    FUZZ_CHECK(info.mParamCount >= counted && info.mParamCount <= counted + maybe, what());

    // Forwarded: whole tokens, each followed by one blank; every switch set was forwarded.
    FUZZ_CHECK(info.mForwardedParams.empty() || info.mForwardedParams.back() == u' ', what());
    const std::u16string forwarded = u" " + info.mForwardedParams;
    const int32_t* flags[] = {&p.IsStubExe, &info.mIsQuickCheck, &info.mIsUpdateCheckSilent, &info.mIsUpdateSilent,
                              &info.mIsWriteCheckResultToReg, &info.mIsHideUpdateCheckResult, &info.mIsOnlyDownload,
                              &info.mIsRestartAfterSelfUpdate};
    for (std::size_t i = 0; i < 8; ++i) {
        FUZZ_CHECK(*flags[i] == 0 || *flags[i] == 1, what());
        if (*flags[i]) FUZZ_CHECK(forwarded.find(u" " + std::u16string(kSwitches[i]) + u" ") != std::u16string::npos, what());
    }
    FUZZ_CHECK(info.mIsUpdateFromVersionV1 == 0 || info.mIsUpdateFromVersionV1 == 1, what());

    // Values lose their "-" or "/" like every token, except a WindowRec: a screen position.
    auto fromToken = [&](const std::u16string& value, bool whole) {
        for (std::size_t k = 1; k < tokens.size(); ++k)
            if (value == (whole ? tokens[k] : bareOf(tokens[k]))) return true;
        return false;
    };
    if (!info.mWindowRec.empty()) FUZZ_CHECK(fromToken(info.mWindowRec, true), what());
    if (!info.mWindowCaption.empty()) FUZZ_CHECK(fromToken(info.mWindowCaption, false), what());

    // Values in their documented shapes.
    FUZZ_CHECK(p.InstallLocation.empty() || OneTrailingBackslash(p.InstallLocation), what());
    if (info.mIsUpdateFromVersionV1) FUZZ_CHECK(OneTrailingBackslash(p.InstallLocation), what());
    for (const std::u16string& entry : p.FileList) FUZZ_CHECK(Trim(entry) == entry, what());
    return 0;
}
