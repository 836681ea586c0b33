#pragma once
// Status reports to the update service, each posted on a thread of its own.
#include <cstdint>
#include <string>

#include <tinyxml.h>

#include "product/ProgramInfo.h"

namespace brut {

// Both return at once; the report is posted in the background.
void StartUpdateStatusReport(int32_t status, int32_t updateId);
void StartUpgradeOfferStatusReport(int32_t status, const ProgramInfo& info, int32_t majorVersion);

// What reports in flight get in total when the process ends.
constexpr uint32_t kReportGraceMs = 2000;

// Gives reports still in flight up to `milliseconds` in total to finish (a WAR
// line for each one cut off). Called before the process ends.
void WaitForReports(uint32_t milliseconds);

// The records a report thread owns.
struct UpdateStatusRecord {
    int32_t status = 0;
    int32_t updateId = 0;
};
struct UpgradeOfferStatusRecord {
    int32_t status = 0;
    std::u16string programName;     // ProgramName of the product record
    std::u16string programVersion;  // ProgramVersionNumber
    int32_t majorVersion = 0;       // the offered major version
};

// Fill a new document, one routine per document type; `info` gives IsStub.
void CreateUpdateStatusXml(TiXmlDocument& document, const UpdateStatusRecord& record, const ProgramInfo& info);
void CreateUpdateStatusXml(TiXmlDocument& document, const UpgradeOfferStatusRecord& record);

}  // namespace brut
