// The worker's command line from fuzzed product fields and options, split by the
// receiver's rules (the runtime's argument splitting): whenever no value contains a quote
// or a zero (values are zero-terminated texts), the plain values and the forwarded tokens
// no blank, and no forwarded token is empty, the pieces come back exactly.
//
// Input: switches (bit 0 IsStubExe, bit 1 UpdateFromVersionV1), language and update
// interval (four bytes each), then UTF-16 texts separated by U+FFFF: the forwarded tokens
// (separated by line feeds), name, display name, version, install date, location, the
// file list (entries separated by line feeds), affiliate id, WindowRec, WindowCaption.
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "app/CommandLine.h"
#include "update/HandOff.h"

using namespace brut;

namespace {

std::vector<std::u16string> Lines(const std::u16string& text) {
    std::vector<std::u16string> out;
    if (text.empty()) return out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(u'\n', start);
        out.push_back(text.substr(start, end == std::u16string::npos ? std::u16string::npos : end - start));
        if (end == std::u16string::npos) return out;
        start = end + 1;
    }
}

bool Has(const std::u16string& text, const char16_t* any) { return text.find_first_of(any, 0, 3) != std::u16string::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static fuzz::QuietMachine quiet;
    fuzz::Input in(data, size);
    const uint8_t switches = in.Byte();
    CmdLineInfo cmd;
    ProgramInfo info;
    info.IsStubExe = switches & 1;
    cmd.mIsUpdateFromVersionV1 = (switches >> 1) & 1;
    info.ProgramLanguage = static_cast<int32_t>(in.U32());
    cmd.mUpdateIntervalInHours = static_cast<int32_t>(in.U32());
    const std::vector<std::u16string> forwarded = Lines(in.UnitsUntil(0xFFFF));
    for (const std::u16string& token : forwarded) cmd.mForwardedParams += token + u" ";
    info.ProgramName = in.UnitsUntil(0xFFFF);
    info.DisplayName = in.UnitsUntil(0xFFFF);
    info.ProgramVersionNumber = in.UnitsUntil(0xFFFF);
    info.ProgramInstallDate = in.UnitsUntil(0xFFFF);
    info.InstallLocation = in.UnitsUntil(0xFFFF);
    info.FileList = Lines(in.UnitsUntil(0xFFFF));
    info.AffiliateId = in.UnitsUntil(0xFFFF);
    cmd.mWindowRec = in.UnitsUntil(0xFFFF);
    cmd.mWindowCaption = in.UnitsUntil(0xFFFF);

    const std::u16string line = BuildWorkerCommandLine(cmd, info);
    auto what = [&] { return "command line " + fuzz::Printable(line); };
    FUZZ_CHECK(line.compare(0, cmd.mForwardedParams.size(), cmd.mForwardedParams) == 0, what());

    std::u16string files;
    for (const std::u16string& entry : info.FileList) files += entry + u";";
    std::u16string location = info.InstallLocation;
    while (!location.empty() && location.back() == u'\\') location.pop_back();

    bool clean = true;
    const char16_t quoteOrZero[] = {u'"', u'\0', u'"'};
    for (const std::u16string* value : {&info.ProgramName, &info.DisplayName, &info.ProgramVersionNumber,
                                        &info.ProgramInstallDate, &info.InstallLocation, &files, &info.AffiliateId,
                                        &cmd.mWindowRec, &cmd.mWindowCaption})
        clean = clean && !Has(*value, quoteOrZero);
    for (const std::u16string& token : forwarded) clean = clean && !token.empty() && !Has(token, u" \t\"") && !Has(token, quoteOrZero);
    clean = clean && !Has(info.ProgramVersionNumber, u" \t ") && !Has(info.ProgramInstallDate, u" \t ");
    if (!clean) return 0;

    std::vector<std::u16string> expected{u"BRUptideWorker.exe"};
    expected.insert(expected.end(), forwarded.begin(), forwarded.end());
    auto piece = [&](bool present, const char16_t* name, const std::u16string* value) {
        if (!present) return;
        expected.push_back(std::u16string(u"-") + name);
        if (value) expected.push_back(*value);
    };
    const std::u16string language = FromUtf8(std::to_string(info.ProgramLanguage));
    const std::u16string interval = FromUtf8(std::to_string(cmd.mUpdateIntervalInHours));
    const std::u16string installed = location + u"\\";
    piece(info.IsStubExe != 0, u"IsStubExe", nullptr);
    piece(!info.ProgramName.empty(), u"ProgramName", &info.ProgramName);
    piece(!info.DisplayName.empty(), u"DisplayName", &info.DisplayName);
    piece(!info.ProgramVersionNumber.empty(), u"ProgramVersion", &info.ProgramVersionNumber);
    piece(!info.ProgramInstallDate.empty(), u"InstallDate", &info.ProgramInstallDate);
    piece(!info.InstallLocation.empty(), u"InstalledLocation", &installed);
    piece(!info.FileList.empty(), u"FileList", &files);
    piece(info.ProgramLanguage != 0, u"Language", &language);
    piece(!info.AffiliateId.empty(), u"AffiliateId", &info.AffiliateId);
    piece(cmd.mUpdateIntervalInHours != 0, u"UpdateIntervalInHours", &interval);
    piece(!cmd.mWindowRec.empty(), u"WindowRec", &cmd.mWindowRec);
    piece(!cmd.mWindowCaption.empty(), u"WindowCaption", &cmd.mWindowCaption);
    piece(cmd.mIsUpdateFromVersionV1 != 0, u"UpdateFromVersionV1", nullptr);

    FUZZ_CHECK(SplitCommandLine(u"BRUptideWorker.exe " + line) == expected, what());
    return 0;
}
