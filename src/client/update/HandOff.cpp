#include "update/HandOff.h"

#include "options/CmdLineInfo.h"
#include "log/Log.h"
#include "product/ProgramInfo.h"
#include "system/Directories.h"
#include "system/SystemFacts.h"
#include "util/Text.h"
#include "platform/Platform.h"

namespace brut {

namespace {

void AddFlag(std::u16string& out, const char16_t* name) {
    out += u'-';
    out += name;
    out += u' ';
}

void AddPlain(std::u16string& out, const char16_t* name, const std::u16string& value) {
    AddFlag(out, name);
    out += value;
    out += u' ';
}

// Quotes inside the value are not escaped: the worker's own parser expects it so.
// Backslashes at the value's end are doubled: the receiver's argument splitting reads
// them back as they were, where single ones would escape the closing quote and run the
// value into the options that follow.
void AddQuoted(std::u16string& out, const char16_t* name, const std::u16string& value) {
    AddFlag(out, name);
    out += u'"';
    out += value;
    std::size_t trailing = 0;
    while (trailing < value.size() && value[value.size() - 1 - trailing] == u'\\') ++trailing;
    out.append(trailing, u'\\');
    out += u"\" ";
}

void AddNumber(std::u16string& out, const char16_t* name, int32_t value) {
    out += Format(u"-%s %d ", name, value);
}

}  // namespace

std::u16string BuildWorkerCommandLine(const CmdLineInfo& cmdLine) {
    return BuildWorkerCommandLine(cmdLine, *GetProgramInfo());
}

std::u16string BuildWorkerCommandLine(const CmdLineInfo& cmdLine, const ProgramInfo& info) {
    std::u16string out = cmdLine.mForwardedParams;
    if (info.IsStubExe != 0) AddFlag(out, u"IsStubExe");
    if (!info.ProgramName.empty()) AddQuoted(out, u"ProgramName", info.ProgramName);
    if (!info.DisplayName.empty()) AddQuoted(out, u"DisplayName", info.DisplayName);
    if (!info.ProgramVersionNumber.empty()) AddPlain(out, u"ProgramVersion", info.ProgramVersionNumber);
    if (!info.ProgramInstallDate.empty()) AddPlain(out, u"InstallDate", info.ProgramInstallDate);
    if (!info.InstallLocation.empty()) {
        // Exactly one backslash at the end, written as two (see AddQuoted).
        std::u16string location = info.InstallLocation;
        while (!location.empty() && location.back() == u'\\') location.pop_back();
        AddQuoted(out, u"InstalledLocation", location + u"\\");
    }
    if (!info.FileList.empty()) {
        std::u16string files;
        for (const auto& file : info.FileList) files += file + u";";
        AddQuoted(out, u"FileList", files);
    }
    if (info.ProgramLanguage != 0) AddNumber(out, u"Language", info.ProgramLanguage);
    if (!info.AffiliateId.empty()) AddQuoted(out, u"AffiliateId", info.AffiliateId);
    if (cmdLine.mUpdateIntervalInHours != 0) AddNumber(out, u"UpdateIntervalInHours", cmdLine.mUpdateIntervalInHours);
    if (!cmdLine.mWindowRec.empty()) AddQuoted(out, u"WindowRec", cmdLine.mWindowRec);
    if (!cmdLine.mWindowCaption.empty()) AddQuoted(out, u"WindowCaption", cmdLine.mWindowCaption);
    if (cmdLine.mIsUpdateFromVersionV1) AddFlag(out, u"UpdateFromVersionV1");
    return out;
}

uint32_t StartProcess(const std::u16string& path, const std::u16string& commandLine, bool wait, int32_t& exitCode,
                      bool elevate, const std::function<void()>& started) {
    exitCode = kWorkerNotWaitedFor;
    plat::Processes& processes = plat::Proc();
    plat::ProcessHandle process = 0;
    uint32_t err;
    if (elevate) {
        LogInfo(u"Try start application %s per UseShellExecute with commandline: %s", path, commandLine);
        err = processes.ShellExecuteRunas(path, commandLine, process);
        if (!err) LogInfo(u"ShellExecuteEx successful");
    } else {
        const std::u16string full = path.empty() ? commandLine : u"\"" + path + u"\" " + commandLine;
        LogInfo(u"Try start application %s per CreateProcess with commandline: %s", path, full);
        err = processes.CreateNewProcess(path, full, process);
        if (!err) LogInfo(u"CreateProcess successful");
    }
    if (started) started();
    if (err) {
        LogError(u"StartProcess for %s failed because: \"%s\"", path, GetErrorText(err));
        return err;
    }
    if (!wait) {
        processes.Close(process);
        return 0;
    }
    uint32_t code = 0;
    err = processes.WaitForExit(process);
    if (!err) err = processes.ExitCode(process, code);
    processes.Close(process);
    if (err) return err;
    exitCode = static_cast<int32_t>(code);
    return 0;
}

}  // namespace brut
