#pragma once
// The dialog's header band as the banner sees it: bitmaps decoded by the
// system and handed to the CWizTrackWnd band.
#include "platform/win32/Win32TrackWnd.h"
#include "ui/Banner.h"

#include <vector>

namespace plat::win32 {

class Win32BannerBand : public brut::BannerBand {
public:
    Win32BannerBand(HWND dialog, CWizTrackWnd& band) : mDialog(dialog), mBand(band) {}
    ~Win32BannerBand() override;
    Win32BannerBand(const Win32BannerBand&) = delete;
    Win32BannerBand& operator=(const Win32BannerBand&) = delete;

    brut::BannerBitmap LoadFileBitmap(const std::u16string& path) override;
    brut::BannerBitmap LoadDefaultBitmap() override;
    void SetBandBitmap(const brut::BannerBitmap& bitmap) override;

private:
    HWND mDialog;
    CWizTrackWnd& mBand;
    // Every bitmap loaded, deleted with this object: it must outlive the band's painting.
    std::vector<HBITMAP> mLoaded;
};

}  // namespace plat::win32
