#include "update/StatusReports.h"

#include <memory>
#include <mutex>
#include <vector>

#include "log/Log.h"
#include "update/RequestDocument.h"
#include "update/WebService.h"
#include "util/Text.h"
#include "platform/Platform.h"

namespace brut {

namespace {

// Threads of reports started and not yet waited for.
std::mutex gPendingLock;
std::vector<plat::ThreadHandle>& gPending = *new std::vector<plat::ThreadHandle>;  // outlives report threads

std::string Decimal(int32_t value) { return ToLatin1(Format(u"%d", value)); }

// The number's element, empty for 0, with its log line.
void AddNumberOrEmpty(TiXmlNode& root, const char* name, int32_t value, const char16_t* valueFormat,
                      const char16_t* zeroLine) {
    if (value == 0) {
        AddEmptyElement(root, name);
        LogInfo(zeroLine);
        return;
    }
    const std::string text = Decimal(value);
    AddTextElement(root, name, text);
    LogInfo(valueFormat, FromLatin1(text));
}

void AddStatusElement(TiXmlNode& root, int32_t status) {
    const std::string text = Decimal(status);
    AddTextElement(root, "Status", text);
    LogInfo(u"Status: %s", FromLatin1(text));
}

// Drops the handles of reports that have ended, so that the list stays short.
void ForgetEndedLocked() {
    plat::System& sys = plat::Sys();
    std::vector<plat::ThreadHandle> running;
    for (plat::ThreadHandle thread : gPending) {
        if (sys.WaitThread(thread, 0) == plat::kWaitTimeout) running.push_back(thread);
        else sys.CloseThread(thread);
    }
    gPending.swap(running);
}

template <typename Record>
uint32_t ReportThread(void* arg);

template <>
uint32_t ReportThread<UpdateStatusRecord>(void* arg) {
    std::unique_ptr<UpdateStatusRecord> record(static_cast<UpdateStatusRecord*>(arg));
    const ProgramInfoPtr info = GetProgramInfo();
    TiXmlDocument document;
    CreateUpdateStatusXml(document, *record, *info);
    CallWebService(*info, document, u"/ReportUpdateStatus", u"UpdateStatusXML");
    return 0;
}

template <>
uint32_t ReportThread<UpgradeOfferStatusRecord>(void* arg) {
    std::unique_ptr<UpgradeOfferStatusRecord> record(static_cast<UpgradeOfferStatusRecord*>(arg));
    TiXmlDocument document;
    CreateUpdateStatusXml(document, *record);
    CallWebService(*GetProgramInfo(), document, u"/ReportUpgradeOfferStatus", u"UpgradeOfferStatusXML");
    return 0;
}

template <typename Record>
void StartReport(std::unique_ptr<Record> record, const char16_t* kind) {
    std::lock_guard<std::mutex> lock(gPendingLock);
    ForgetEndedLocked();
    Record* owned = record.release();
    plat::ThreadHandle thread = plat::Sys().StartThread(&ReportThread<Record>, owned);
    if (!thread) {
        delete owned;
        LogError(u"%s report not sent: no thread could be started", kind);
        return;
    }
    gPending.push_back(thread);
}

}  // namespace

void CreateUpdateStatusXml(TiXmlDocument& document, const UpdateStatusRecord& record, const ProgramInfo& info) {
    LogInfo(u"CreateUpdateStatusXml start");
    LogInfo(u"start to build UpdateStatus.xml");
    TiXmlElement* root = AddEmptyElement(document, "UpdateStatus");
    AddVersionElement(*root);
    AddMacElement(*root);
    AddMachineGuidElement(*root);
    const bool isStub = info.IsStubExe != 0;
    AddTextElement(*root, "IsStub", isStub ? "1" : "0");
    LogInfo(isStub ? u"IsStub = true" : u"IsStub = false");
    AddStatusElement(*root, record.status);
    AddNumberOrEmpty(*root, "UpdateId", record.updateId, u"UpdateId: %s", u"UpdateId == 0");
    LogInfo(u"CreateUpdateStatusXml end");
}

void CreateUpdateStatusXml(TiXmlDocument& document, const UpgradeOfferStatusRecord& record) {
    LogInfo(u"CreateUpdateStatusXml start");
    LogInfo(u"start to build UpgradeOfferStatus.xml");
    TiXmlElement* root = AddEmptyElement(document, "UpgradeOfferStatus");
    AddVersionElement(*root);
    AddMacElement(*root);
    AddMachineGuidElement(*root);
    AddValueElement(*root, "ProgramName", record.programName);
    LogInfo(u"ProgramName: %s", record.programName);
    AddValueElement(*root, "ProgramVersionNumber", record.programVersion);
    LogInfo(u"ProgramVersionNumber: %s", record.programVersion);
    AddNumberOrEmpty(*root, "MajorVersion", record.majorVersion, u"MajorVersion: %s", u"MajorVersion == 0");
    AddStatusElement(*root, record.status);
    LogInfo(u"CreateUpdateStatusXml end");
}

void StartUpdateStatusReport(int32_t status, int32_t updateId) {
    auto record = std::make_unique<UpdateStatusRecord>();
    record->status = status;
    record->updateId = updateId;
    StartReport(std::move(record), u"UpdateStatus");
}

void StartUpgradeOfferStatusReport(int32_t status, const ProgramInfo& info, int32_t majorVersion) {
    auto record = std::make_unique<UpgradeOfferStatusRecord>();
    record->status = status;
    record->programName = info.ProgramName;
    record->programVersion = info.ProgramVersionNumber;
    record->majorVersion = majorVersion;
    StartReport(std::move(record), u"UpgradeOfferStatus");
}

void WaitForReports(uint32_t milliseconds) {
    std::vector<plat::ThreadHandle> pending;
    {
        std::lock_guard<std::mutex> lock(gPendingLock);
        pending.swap(gPending);
    }
    if (pending.empty()) return;
    plat::System& sys = plat::Sys();
    plat::Processes& clock = plat::Proc();
    const uint64_t start = clock.TickCount();
    for (plat::ThreadHandle thread : pending) {
        // One budget for all of them, not one each.
        const uint64_t elapsed = clock.TickCount() - start;
        const uint32_t left = elapsed >= milliseconds ? 0 : static_cast<uint32_t>(milliseconds - elapsed);
        if (sys.WaitThread(thread, left) != plat::kWaitObject0)
            LogWarning(u"A status report was still being sent after %d ms: cut off by the end of the process",
                       milliseconds);
        sys.CloseThread(thread);
    }
}

}  // namespace brut
