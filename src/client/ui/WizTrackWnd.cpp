#include "ui/WizTrackWnd.h"

namespace brut {

BandGeometry PlaceBand(const HeaderLayout& layout, int32_t clientWidth, int32_t bitmapWidth, int32_t bitmapHeight) {
    BandGeometry g;
    g.width = clientWidth;
    g.hasBitmap = layout.mBitmap != 0;
    if (g.hasBitmap) {
        g.bitmapLeftOffset = -bitmapWidth;
        g.height = bitmapHeight + 2;
    } else {
        g.height = layout.mHeightWithoutBitmap;
    }
    return g;
}

BandPaint PaintBand(const HeaderLayout& layout, const BandGeometry& band, int32_t clientWidth, int32_t clientHeight) {
    BandPaint p;
    p.drawBitmap = band.hasBitmap;
    p.bitmap = {clientWidth + band.bitmapLeftOffset, band.bitmapTop};
    p.title = {layout.mLeftMargin, layout.mTopMargin};
    p.secondLine = {layout.mLeftMargin, layout.mLineGap + 2 * layout.mTopMargin};
    p.shadowLineY = clientHeight - 2;
    p.highlightLineY = clientHeight - 1;
    return p;
}

std::recursive_mutex& TrackWndLock() {
    static std::recursive_mutex* const lock = new std::recursive_mutex();
    return *lock;
}

}  // namespace brut
