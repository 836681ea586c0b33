#include "net/Download.h"

#include "update/HandOff.h"
#include "platform/Codes.h"

namespace brut {

int32_t DownloadCallback::OnProgress(uint32_t progress, uint32_t progressMax, uint32_t statusCode,
                                     const std::u16string&) {
    if (statusCode == plat::kBindStatusDownloadingData && mTarget) mTarget->SetProgress(progress, progressMax);
    return plat::kSOk;
}

}  // namespace brut
