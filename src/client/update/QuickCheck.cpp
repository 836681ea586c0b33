#include "update/QuickCheck.h"

#include "options/CmdLineInfo.h"
#include "log/Log.h"
#include "net/Download.h"
#include "system/Settings.h"
#include "system/SystemFacts.h"
#include "text/Texts.h"
#include "update/HandOff.h"
#include "update/RequestDocument.h"
#include "update/StatusReports.h"
#include "update/WorkerTrust.h"
#include "update/WebService.h"
#include "update/XmlGuard.h"
#include "util/Text.h"
#include "platform/Platform.h"

namespace brut {

namespace {

bool IsOnline() {
    plat::Internet* internet = plat::Get().internet;
    return internet && internet->IsConnected();
}

int ReplyStatus(XmlParse result) {
    switch (result) {
        case XmlParse::Ok: return kReplyRead;
        case XmlParse::NoRoot: return kReplyNoRoot;
        case XmlParse::NotWellFormed: return kReplyNotWellFormed;
        case XmlParse::TooManyAngleBrackets:
        case XmlParse::TooManyEqualSigns:
        case XmlParse::TooManyAttributes: break;
    }
    return kReplyRejected;
}

void LogParseFailure(const char16_t* what, XmlParse result, const std::string& detail) {
    switch (result) {
        case XmlParse::TooManyAngleBrackets:
            LogError(u"%s rejected: more than %d \"<\" characters", what, static_cast<int>(kMaxXmlAngleBrackets));
            break;
        case XmlParse::TooManyEqualSigns:
            LogError(u"%s rejected: more than %d \"=\" characters", what, static_cast<int>(kMaxXmlEqualSigns));
            break;
        case XmlParse::TooManyAttributes:
            LogError(u"%s rejected: more than %d attributes in one element", what,
                     static_cast<int>(kMaxXmlAttributes));
            break;
        case XmlParse::NoRoot: LogError(u"%s unusable: no root element", what); break;
        default:
            if (detail.empty())
                LogError(u"%s unusable: not well-formed", what);
            else
                LogError(u"%s unusable: not well-formed (%s)", what, FromLatin1(detail));
    }
}

// Text of the first child element `name` of `root`, when it has one.
bool ChildText(const TiXmlElement& root, const char* name, std::u16string& text) {
    const TiXmlElement* child = root.FirstChildElement(name);
    const char* value = child ? child->GetText() : nullptr;
    if (!value) return false;
    text = plat::Sys().FromAnsi(value);
    return true;
}

}  // namespace

ResultPair QuickCheck::StartWorker(DownloadCallback* progress) {
    const ResultPair returned{kResultHandOffReturned, 0};
    if (!mCmdLineInfo) return returned;
    CmdLineInfo& cmdLine = *mCmdLineInfo;
    const ProgramInfoPtr program = Program();
    const ProgramInfo& info = *program;

    // Once per hand-off: without a version its name carries the current second, and the
    // worker must be started from the folder it was downloaded into.
    std::u16string directory;
    if (!GetWorkingDirectory(info, directory, true)) {
        // Never a download to or a start from a place relative to wherever the client runs.
        LogError(u"QuickCheck::StartWorker: no working directory");
        return returned;
    }
    const WorkerTrust trust = MakeWorkerTrust(mTrustedSigners);
    if (!mAdViewerUrl.empty()) {
        DownloadAdViewer(mAdViewerUrl, directory);
        // The client never starts it, but nothing unverified may lie beside the worker.
        const std::u16string viewer = directory + kAdViewerFile;
        plat::HeldFile held = 0;
        std::u16string why;
        if (trust.verify && plat::Fs().CanOpenForReading(viewer)) {
            if (HoldVerified(trust, viewer, held, why)) {
                plat::Get().trust->Release(held);
            } else {
                LogWarning(u"%s deleted: %s", viewer, why);
                if (plat::Fs().RemoveFile(viewer) != 0) LogWarning(u"Can´t delete %s", viewer);
            }
        }
    }
    if (!mWorkerUrl.empty() && DownloadWorker(mWorkerUrl, directory, progress) != kWorkerDownloaded) return returned;

    // The caller reads the outcome itself: the worker takes over the screen and is waited for.
    const bool hide = info.IsStubExe != 0 || cmdLine.mIsWriteCheckResultToReg || cmdLine.mIsHideUpdateCheckResult;
    if (hide && mHandOffWindow) mHandOffWindow->HideForHandOff();

    if (ReadDebugFlag() != 0) plat::Sys().ShowMessageBox(u"BRUptideWorker starting ...", u"Debug", plat::kMbOk);

    plat::OsVersionRecord os;
    GetOsVersion(os);  // unreadable: major version 0
    const bool elevate = os.majorVersion >= 6;

    int32_t left = 0, top = 0;
    if (mHandOffWindow && mHandOffWindow->ScreenPosition(left, top)) cmdLine.mWindowRec = Format(u"%d %d", left, top);

    // The download may finish while the dialog that the user ended waits to close.
    if (mHandOffWindow && mHandOffWindow->EndedByUser()) {
        LogInfo(u"QuickCheck::StartWorker: the update was ended by the user, the worker is not started");
        return returned;
    }
    const std::u16string commandLine = BuildWorkerCommandLine(cmdLine, info);
    const std::u16string worker = directory + kWorkerFile;
    if (!RemoveLibraries(directory)) return returned;
    // Checked last, and held from here until the start has returned: a file swapped
    // in after the check can neither replace nor rewrite it.
    plat::HeldFile held = 0;
    if (!trust.verify) {
        LogWarning(u"%s is started unverified: this client is not signed and names no signer", worker);
    } else {
        std::u16string why;
        if (!HoldVerified(trust, worker, held, why)) {
            LogError(u"%s is not started: %s", worker, why);
            if (plat::Fs().RemoveFile(worker) != 0) LogWarning(u"Can´t delete %s", worker);
            return returned;
        }
    }
    // Released before any wait: the worker may replace itself or its folder while it runs.
    auto release = [&held] {
        if (held) plat::Get().trust->Release(held);
        held = 0;
    };
    int32_t exitCode = kWorkerNotWaitedFor;
    if (StartProcess(worker, commandLine, hide, exitCode, elevate, release) != 0) return returned;

    if (cmdLine.mIsWriteCheckResultToReg && exitCode == kWorkerAnotherInstance) {
        const std::u16string text = ReplaceProductName(
            info.ProgramLanguage, GetLocalizedText(info.ProgramLanguage, TXT_OTHER_INSTANCE_RUNNING),
            cmdLine.mWindowCaption);
        WriteUpdateResult(info, 0, text);
    }
    LogInfo(u"exitCodeApplication %d", exitCode);
    // The dialog is not closed first: the process ends here, once reports in flight had their moment.
    WaitForReports(kReportGraceMs);
    plat::Sys().ExitProcess(exitCode);
    return returned;  // not reached
}

bool QuickCheck::IntervalGate() {
    const ProgramInfoPtr program = Program();
    const ProgramInfo& info = *program;
    if (info.IsStubExe == 1) return true;
    const int64_t now = plat::Sys().UnixNow();
    const int32_t interval = mCmdLineInfo ? mCmdLineInfo->mUpdateIntervalInHours : 0;
    if (interval == 0) return true;

    int32_t stored = 0;
    if (!ReadLastUpdateCheck(info, stored)) {
        LogInfo(u"ResetLastUpdateCheck()");
        ResetLastUpdateCheck(info);
        return true;
    }
    // The stored text is read as 32 bits and taken unsigned; the interval too.
    const int64_t storedTime = static_cast<int64_t>(static_cast<uint32_t>(stored));
    const int64_t hours = (now - storedTime) / 3600;
    const int64_t intervalHours = static_cast<int64_t>(static_cast<uint32_t>(interval));
    if (hours < intervalHours) {
        LogInfo(u"UpdateCheck not necessary because it is only %d hours since last Update.",
                static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(hours))));
        return false;
    }
    return true;
}

int QuickCheck::ExtractReplyText(const std::u16string& reply, std::string& text, std::size_t bufferSize) {
    text.clear();
    TiXmlDocument envelope;
    std::string detail;
    XmlParse parsed = ParseXmlGuarded(envelope, plat::Sys().ToAnsi(reply), &detail);
    if (parsed != XmlParse::Ok) {
        LogParseFailure(u"Reply envelope", parsed, detail);
        return ReplyStatus(parsed);
    }
    const char* rootText = envelope.RootElement()->GetText();
    if (!rootText || bufferSize == 0) return kReplyRead;
    text = rootText;
    if (text.size() > bufferSize - 1) text.resize(bufferSize - 1);
    return kReplyRead;
}

int QuickCheck::LoadAndReadResponseXML(const std::string& text) {
    LogInfo(u"start LoadAndReadResponseXML");
    if (text.empty()) return kReplyNoText;
    TiXmlDocument document;
    std::string detail;
    XmlParse parsed = ParseXmlGuarded(document, text, &detail);
    if (parsed != XmlParse::Ok) {
        // The decision then runs on empty reply values.
        LogParseFailure(u"QuickCheckResponse.xml", parsed, detail);
        return ReplyStatus(parsed);
    }
    const TiXmlElement& root = *document.RootElement();
    std::u16string value;
    // An empty message (an empty CDATA section) reports no failure.
    if (ChildText(root, "ErrorMessage", value) && !value.empty()) {
        LogError(u"QuickCheckResponse.xml contains ServerErrorMessage");
        LogTextError(value);
        mReply.mIsServerError = 1;
    }
    if (ChildText(root, "UptideWorkerUrl", value)) {
        LogInfo(u"uptideWorkerUrl = %s", value);
        mWorkerUrl = value;
    }
    if (ChildText(root, "MaxUpdateableProductVersionExistingOnServer", value)) {
        LogInfo(u"MaxpdateableProductVersionExistingOnServer = %s", value);
        mReply.mOfferedVersion = value;
    }
    if (ChildText(root, "MajorUpgradeProductVersion", value)) {
        LogInfo(u"MajorUpgradeProductVersion = %s", value);
        mReply.mOfferedMajorVersion = ParseInt32(value);
    }
    if (ChildText(root, "AdViewerUrl", value)) {
        LogInfo(u"adViewerDownloadUrl = %s", value);
        mAdViewerUrl = value;
    }
    LogInfo(u"end LoadAndReadResponseXML");
    return kReplyRead;
}

int32_t QuickCheck::Decide() {
    const bool isQuickCheck = mCmdLineInfo && mCmdLineInfo->mIsQuickCheck;
    if (isQuickCheck) {
        const bool upgrade = mReply.mOfferedMajorVersion != 0;
        if (!mReply.mOfferedVersion.empty()) return upgrade ? kResultUpdateAndUpgrade : kResultUpdate;
        return upgrade ? kResultUpgradeOnly : kResultUpToDate;
    }
    if (!mWorkerUrl.empty()) {
        LogInfo(u"New UptideWorker available from %s", mWorkerUrl);
        return kResultNewWorker;
    }
    std::u16string version;
    if (GetWorkerVersion(*Program(), version)) {
        LogInfo(u"Use old UptideWorker.");
        return kResultCachedWorker;
    }
    LogError(u"No Uptider available.");
    return kResultNoWorker;
}

void QuickCheck::StoreResultText(int32_t code) {
    uint32_t textId;
    uint32_t flag = 0;
    switch (code) {
        case kResultUpdate:
        case kResultUpdateAndUpgrade: textId = TXT_UPDATE_AVAILABLE; flag = 1; break;
        case kResultNoWorker:
        case kResultServiceUnusable: textId = TXT_SERVER_MAINTENANCE; break;
        case kResultOffline: textId = TXT_CONNECTION_FAILED; break;
        case kResultServerError: textId = TXT_CONTACT_SUPPORT; break;
        case kResultUpgradeOnly: textId = TXT_UP_TO_DATE; break;
        default: return;
    }
    const ProgramInfoPtr program = Program();
    const ProgramInfo& info = *program;
    std::u16string text = GetLocalizedText(info.ProgramLanguage, textId);
    if (code == kResultServerError && mCmdLineInfo)
        text = ReplaceProductName(info.ProgramLanguage, text, mCmdLineInfo->mWindowCaption);
    WriteUpdateResult(info, flag, text);
}

ResultPair QuickCheck::CheckForUpdate() {
    if (!IntervalGate()) return ResultPair{kResultNotDue, 0};

    const ProgramInfoPtr program = Program();
    const ProgramInfo& info = *program;
    const bool isQuickCheck = mCmdLineInfo && mCmdLineInfo->mIsQuickCheck;
    int buildError = 0;
    std::unique_ptr<TiXmlDocument> request = BuildQuickCheckXml(&buildError, info, isQuickCheck);
    if (!request) {
        LogError(u"Failed building QuickCheck (%d)", buildError);
        return ResultPair{kResultRequestNotBuilt, 0};
    }

    WebServiceResult call = CallWebService(info, *request, u"/QuickCheck", u"QuickCheckXML");
    mIsAnsweredOverHttpRetry = call.IsAnsweredOverHttpRetry;

    int32_t code;
    if (call.Result != 0) {
        LogError(u"result != S_OK");
        if (IsOnline()) {
            WriteLastUpdateCheckNow(info);
            code = kResultServiceUnusable;
        } else {
            code = kResultOffline;
        }
    } else {
        // An envelope that cannot be read counts as an empty reply.
        std::string replyText;
        ExtractReplyText(call.Reply, replyText, call.Reply.size() + 1);
        LogInfo(u"Server response = %s", call.Reply);
        if (replyText.empty()) {
            LogError(u"Length of responseString = 0");
            WriteLastUpdateCheckNow(info);
            code = kResultServiceUnusable;
        } else {
            // An inner reply that cannot be read is a broken service, not "up to date".
            const int readStatus = LoadAndReadResponseXML(replyText);
            if (mIsAnsweredOverHttpRetry && (!mWorkerUrl.empty() || !mAdViewerUrl.empty())) {
                // Anyone on the way could have written this answer: it names no program to run.
                LogWarning(u"UptideWorkerUrl and AdViewerUrl of an answer without SSL are not used");
                mWorkerUrl.clear();
                mAdViewerUrl.clear();
            }
            if (readStatus != 0) {
                LogError(u"QuickCheckResponse.xml could not be read (%d)", readStatus);
                WriteLastUpdateCheckNow(info);
                code = kResultServiceUnusable;
            } else if (mReply.mIsServerError) {
                LogError(u"ResponseString contains ServerErrorMesage! ");
                WriteLastUpdateCheckNow(info);
                code = kResultServerError;
            } else {
                code = Decide();
            }
        }
    }

    request.reset();
    if (mCmdLineInfo && mCmdLineInfo->mIsWriteCheckResultToReg) StoreResultText(code);
    return ResultPair{code, 0};
}

}  // namespace brut
