#pragma once
// Status reports to the update service, each posted on a thread of its own.
#include <cstdint>

#include "product/ProgramInfo.h"

namespace brut {

// Both return at once; the report is posted in the background.
void StartUpdateStatusReport(int32_t status, int32_t updateId);
void StartUpgradeOfferStatusReport(int32_t status, const ProgramInfo& info, int32_t majorVersion);

// Gives reports still in flight up to `milliseconds` in total to finish (a WAR
// line for each one cut off). Called before the process ends.
void WaitForReports(uint32_t milliseconds);

}  // namespace brut
