#include "app/CommandLine.h"

#include "util/Text.h"
#include "platform/Platform.h"

namespace brut {

namespace {

struct OptionName {
    const char16_t* name;
    PendingOption option;
};

// Matched in this order, exactly and case-sensitively.
const OptionName kOptions[] = {
    {u"DisplayName", PendingOption::DisplayName},
    {u"ProgramName", PendingOption::ProgramName},
    {u"ProgramVersion", PendingOption::ProgramVersion},
    {u"InstallDate", PendingOption::InstallDate},
    {u"Language", PendingOption::Language},
    {u"InstalledLocation", PendingOption::InstalledLocation},
    {u"UpdateIntervalInHours", PendingOption::UpdateIntervalInHours},
    {u"FileList", PendingOption::FileList},
    {u"WindowRec", PendingOption::WindowRec},
    {u"WindowCaption", PendingOption::WindowCaption},
    {u"AffiliateId", PendingOption::AffiliateId},
};

const char16_t* const kUpdateFromVersionV1 = u"UpdateFromVersionV1";

bool IsSeparator(char16_t c) { return c == u' ' || c == u'\t'; }

// Pieces between ";" (empty ones skipped), each trimmed.
void AppendFileList(std::vector<std::u16string>& list, const std::u16string& value) {
    std::size_t start = 0;
    while (start <= value.size()) {
        std::size_t end = value.find(u';', start);
        if (end == std::u16string::npos) end = value.size();
        if (end > start) list.push_back(Trim(value.substr(start, end - start)));
        start = end + 1;
    }
}

}  // namespace

void CmdLineInfo::ParseParam(const std::u16string& token) {
    if (!mHaveOwnPath) {
        if (plat::Get().system) mOwnPath = plat::Sys().ModulePath();
        mHaveOwnPath = true;
    }
    // An unknown own path must not make an empty token "ours".
    if (!mOwnPath.empty() && token == mOwnPath) return;

    ++mParamCount;

    if (mPendingOption != PendingOption::None) {
        const PendingOption option = mPendingOption;
        mPendingOption = PendingOption::None;
        ProgramInfo& p = mProgramInfo;
        switch (option) {
        case PendingOption::ProgramName:
            p.ProgramName = token;
            if (p.DisplayName.empty()) p.DisplayName = token;
            break;
        case PendingOption::DisplayName: p.DisplayName = token; break;
        case PendingOption::ProgramVersion: p.ProgramVersionNumber = token; break;
        case PendingOption::InstallDate: p.ProgramInstallDate = token; break;
        case PendingOption::Language: p.ProgramLanguage = ParseInt32(token); break;
        case PendingOption::InstalledLocation: p.InstallLocation = WithOneTrailingBackslash(token); break;
        case PendingOption::UpdateIntervalInHours: mUpdateIntervalInHours = ParseInt32(token); break;
        case PendingOption::FileList: AppendFileList(p.FileList, token); break;
        case PendingOption::WindowRec: mWindowRec = token; break;
        case PendingOption::WindowCaption: mWindowCaption = token; break;
        case PendingOption::AffiliateId: p.AffiliateId = token; break;
        case PendingOption::None: break;
        }
        return;
    }

    for (const OptionName& o : kOptions) {
        if (token == o.name) {
            mPendingOption = o.option;
            return;
        }
    }

    mForwardedParams += token;
    mForwardedParams += u' ';

    struct Switch {
        const char16_t* name;
        int32_t* member;
    };
    const Switch switches[] = {
        {u"IsStubExe", &mProgramInfo.IsStubExe},
        {u"QuickCheck", &mIsQuickCheck},
        {u"UpdateCheckSilent", &mIsUpdateCheckSilent},
        {u"UpdateSilent", &mIsUpdateSilent},
        {u"WriteCheckResultToReg", &mIsWriteCheckResultToReg},
        {u"HideUpdateCheckResult", &mIsHideUpdateCheckResult},
        {u"OnlyDownload", &mIsOnlyDownload},
        {u"RestartAfterSelfUpdate", &mIsRestartAfterSelfUpdate},
    };
    for (const Switch& s : switches) {
        if (token == s.name) {
            *s.member = 1;
            return;
        }
    }

    // Version-1 callers pass the install directory first: a name that already
    // exists, or that is no valid name, is taken as that directory. A refusal
    // for any other reason (a current directory the user may not write to, a
    // missing parent) says nothing about the token, and a blank token names no
    // directory at all: neither may turn a plain word into an install location.
    const bool isV1Switch = token == kUpdateFromVersionV1;
    if (!isV1Switch) {
        if (mParamCount != 0 || Trim(token).empty() || !plat::Get().files) return;
        const uint32_t refused = plat::Fs().MakeDirectory(token);
        if (refused != plat::kErrAlreadyExists && refused != plat::kErrInvalidName) return;
        mProgramInfo.InstallLocation = token;
    }
    mProgramInfo.InstallLocation = WithOneTrailingBackslash(mProgramInfo.InstallLocation);
    mIsUpdateFromVersionV1 = 1;
}

std::vector<std::u16string> SplitCommandLine(const std::u16string& commandLine) {
    std::vector<std::u16string> tokens;
    const std::size_t n = commandLine.size();
    std::size_t i = 0;

    // The program path: no escapes; a leading quote runs to the next quote.
    std::u16string program;
    if (n > 0 && commandLine[0] == u'"') {
        std::size_t close = commandLine.find(u'"', 1);
        if (close == std::u16string::npos) close = n;
        program = commandLine.substr(1, close - 1);
        i = close < n ? close + 1 : n;
    } else {
        while (i < n && !IsSeparator(commandLine[i])) ++i;
        program = commandLine.substr(0, i);
    }
    tokens.push_back(std::move(program));

    for (;;) {
        while (i < n && IsSeparator(commandLine[i])) ++i;
        if (i >= n) break;
        std::u16string token;
        bool inQuotes = false;
        while (i < n) {
            std::size_t slashes = 0;
            while (i < n && commandLine[i] == u'\\') {
                ++slashes;
                ++i;
            }
            if (i < n && commandLine[i] == u'"') {
                token.append(slashes / 2, u'\\');
                if (slashes % 2 == 1) {
                    token += u'"';
                } else if (inQuotes && i + 1 < n && commandLine[i + 1] == u'"') {
                    token += u'"';  // "" inside quotes: a literal quote, still quoted
                    ++i;
                } else {
                    inQuotes = !inQuotes;
                }
                ++i;
                continue;
            }
            token.append(slashes, u'\\');
            if (i >= n || (!inQuotes && IsSeparator(commandLine[i]))) break;
            token += commandLine[i++];
        }
        tokens.push_back(std::move(token));
    }
    return tokens;
}

void ParseCommandLine(CmdLineInfo& info, const std::u16string& commandLine) {
    const std::vector<std::u16string> tokens = SplitCommandLine(commandLine);
    for (std::size_t k = 1; k < tokens.size(); ++k) {
        const std::u16string& token = tokens[k];
        // Every token loses its "-" or "/", values too ("-Language -1" stores 1: callers
        // rely on it), except a WindowRec: it is a screen position, and the hand-off writes
        // one left of the primary monitor as "-1200 300".
        const bool position = info.mPendingOption == PendingOption::WindowRec;
        if (!position && !token.empty() && (token[0] == u'-' || token[0] == u'/'))
            info.ParseParam(token.substr(1));
        else
            info.ParseParam(token);
    }
}

void ParseCommandLine(CmdLineInfo& info) {
    if (!plat::Get().system) return;
    ParseCommandLine(info, plat::Sys().CommandLine());
}

}  // namespace brut
