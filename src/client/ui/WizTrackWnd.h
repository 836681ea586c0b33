#pragma once
// The header band across the top of the dialog: its layout record, where its
// window goes and where each part of it is painted. The Win32 band draws what
// these say; nothing here needs a window.
#include <cstdint>
#include <mutex>

namespace brut {

// The dialog's mHeaderLayout, field for field.
struct HeaderLayout {
    uint32_t mBackColor = 0xFFFFFF;  // COLORREF
    uint32_t mReserved1 = 0;
    uint32_t mTextColor = 0;
    int32_t mTopMargin = 14;
    int32_t mLeftMargin = 12;
    uint32_t mReserved2 = 0;
    int32_t mHeightWithoutBitmap = 59;
    int32_t mLineGap = 4;
    std::uintptr_t mBitmap = 0;  // the banner, 0: none yet
    uint32_t mLast = 4;
};

constexpr int32_t kTrackWndId = 103;
constexpr uint32_t kTrackWndExStyle = 0x8;

// The band's window in the dialog's client area and the bitmap's offsets, in the
// window's pixels: the layout's 96-DPI figures scaled by dpi / 96.
struct BandGeometry {
    int32_t left = 0, top = 0, width = 0, height = 0;
    bool hasBitmap = false;
    int32_t bitmapLeftOffset = 0;  // minus the drawn bitmap width: measured from the right edge
    int32_t bitmapTop = 0;
    int32_t bitmapWidth = 0, bitmapHeight = 0;  // as drawn
};
// `bitmapWidth`/`bitmapHeight` describe layout.mBitmap in its own (96-DPI) pixels
// (ignored when it is 0); it is drawn scaled to the window's DPI, the band 2 px higher.
BandGeometry PlaceBand(const HeaderLayout& layout, int32_t clientWidth, int32_t bitmapWidth, int32_t bitmapHeight,
                       int32_t dpi = 96);

struct Point {
    int32_t x = 0, y = 0;
};
// Where one paint of the band puts its parts, in band client coordinates.
struct BandPaint {
    bool drawBitmap = false;
    Point bitmap;      // top-left of the banner: its right edge meets the band's
    Point title;       // bold title line
    Point secondLine;  // version line
    int32_t shadowLineY = 0;     // button-shadow colour, whole width
    int32_t highlightLineY = 0;  // button-highlight colour, whole width
};
BandPaint PaintBand(const HeaderLayout& layout, const BandGeometry& band, int32_t clientWidth, int32_t clientHeight,
                    int32_t dpi = 96);

// Guards creating, re-creating and painting the band; recursive because
// setting a bitmap re-creates the window under the lock it already holds.
std::recursive_mutex& TrackWndLock();

}  // namespace brut
