#pragma once
// File downloads (the worker, the ad viewer, banner pictures) and the progress
// sink the worker download reports through.
#include <cstdint>
#include <string>

#include "platform/Internet.h"

namespace brut {

class ProgressTarget;

// Passes the byte counts of a running download to the dialog's progress target.
class DownloadCallback : public plat::DownloadProgress {
public:
    explicit DownloadCallback(ProgressTarget* target = nullptr) : mTarget(target) {}
    // Status 5 (downloading data) goes to the target; always goes on.
    int32_t OnProgress(uint32_t progress, uint32_t progressMax, uint32_t statusCode,
                       const std::u16string& statusText) override;

    ProgressTarget* mTarget;
};

}  // namespace brut
