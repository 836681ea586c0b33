#pragma once
// The codes the dialog's parts share: what it reports to the service.
#include <cstdint>

namespace brut {

// UpdateStatus report codes.
constexpr int32_t kReportUpdateStarted = -1;
constexpr int32_t kReportHandOffFailed = 1;
constexpr int32_t kReportUserEnded = 2;
constexpr int32_t kReportUnexpected = 3;
constexpr int32_t kReportOffline = 4;
constexpr int32_t kReportServiceUnusable = 5;
constexpr int32_t kReportRequestNotBuilt = 6;
constexpr int32_t kReportServerError = 7;
constexpr int32_t kReportStubRestarted = 8;

// UpgradeOfferStatus report codes.
constexpr int32_t kOfferDontShowAgain = 1;
constexpr int32_t kOfferInstallNow = 2;
constexpr int32_t kOfferRemindLater = 3;

}  // namespace brut
