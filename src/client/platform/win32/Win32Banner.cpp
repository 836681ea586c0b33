#include "platform/win32/Win32Banner.h"

namespace plat::win32 {

namespace {

constexpr WORD kDefaultBannerId = 130;

brut::BannerBitmap Describe(HBITMAP bitmap) {
    brut::BannerBitmap b;
    BITMAP bm{};
    if (!bitmap || !::GetObjectW(bitmap, sizeof bm, &bm)) return b;
    b.handle = reinterpret_cast<std::uintptr_t>(bitmap);
    b.width = bm.bmWidth;
    b.height = bm.bmHeight;
    return b;
}

}  // namespace

Win32BannerBand::~Win32BannerBand() {
    for (HBITMAP b : mLoaded) ::DeleteObject(b);
}

brut::BannerBitmap Win32BannerBand::LoadFileBitmap(const std::u16string& path) {
    auto* bitmap = static_cast<HBITMAP>(
        ::LoadImageW(nullptr, W(path), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
    if (bitmap) mLoaded.push_back(bitmap);
    return Describe(bitmap);
}

brut::BannerBitmap Win32BannerBand::LoadDefaultBitmap() {
    auto* bitmap = static_cast<HBITMAP>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kDefaultBannerId),
                                                     IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (bitmap) mLoaded.push_back(bitmap);
    return Describe(bitmap);
}

void Win32BannerBand::SetBandBitmap(const brut::BannerBitmap& bitmap) {
    mBand.SetBitmap(mDialog, reinterpret_cast<HBITMAP>(bitmap.handle));
}

}  // namespace plat::win32
