#include "ui/WizTrackWnd.h"

#include "ui/DisplayScale.h"

namespace brut {

BandGeometry PlaceBand(const HeaderLayout& layout, int32_t clientWidth, int32_t bitmapWidth, int32_t bitmapHeight,
                       int32_t dpi) {
    BandGeometry g;
    g.width = clientWidth;
    g.hasBitmap = layout.mBitmap != 0;
    if (g.hasBitmap) {
        g.bitmapWidth = ScalePx(bitmapWidth, dpi);
        g.bitmapHeight = ScalePx(bitmapHeight, dpi);
        g.bitmapLeftOffset = -g.bitmapWidth;
        g.height = g.bitmapHeight + ScalePx(2, dpi);
    } else {
        g.height = ScalePx(layout.mHeightWithoutBitmap, dpi);
    }
    return g;
}

BandPaint PaintBand(const HeaderLayout& layout, const BandGeometry& band, int32_t clientWidth, int32_t clientHeight,
                    int32_t dpi) {
    BandPaint p;
    p.drawBitmap = band.hasBitmap;
    p.bitmap = {clientWidth + band.bitmapLeftOffset, band.bitmapTop};
    p.title = {ScalePx(layout.mLeftMargin, dpi), ScalePx(layout.mTopMargin, dpi)};
    p.secondLine = {ScalePx(layout.mLeftMargin, dpi), ScalePx(layout.mLineGap + 2 * layout.mTopMargin, dpi)};
    p.shadowLineY = clientHeight - 2;
    p.highlightLineY = clientHeight - 1;
    return p;
}

std::recursive_mutex& TrackWndLock() {
    static std::recursive_mutex* const lock = new std::recursive_mutex();
    return *lock;
}

}  // namespace brut
