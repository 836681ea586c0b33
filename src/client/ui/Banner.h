#pragma once
// The product's banner picture: fetched in the background into the working
// directory, shown in the header band from the next run on, or the built-in one.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "product/ProgramInfo.h"

namespace brut {

// One rule for a product banner, applied when it is fetched (often before the dialog
// exists) and when it is shown, so that a file the band would refuse is never kept.
// Pixels at 96 DPI, measured from template 103 (MS Shell Dlg 8: 6 x 13 px per 4 x 8
// dialog units) and the band's layout:
// - widest: the dialog's client width, 360 units = 540 px;
// - lowest: the band (bitmap + 2, its etched lines in its last two rows) still holds the
//   version line, drawn at y 32 in the dialog font, whose cell is 13 px high in every
//   language (Japanese glyphs come in through font linking into the same cell): 45;
// - highest: the band ends where the message begins, 55 units = 89 px down: 87.
// Anything larger in bytes is refused before the platform decodes it: a hostile server
// must not make us allocate or draw gigabytes.
constexpr std::size_t kBannerMaxBytes = 4u * 1024u * 1024u;
constexpr int32_t kBannerMaxWidth = 540;
constexpr int32_t kBannerMinHeight = 45;
constexpr int32_t kBannerMaxHeight = 87;

// MakePlainName of the display name with every blank as "_".
std::u16string BannerName(const std::u16string& displayName);
// The text before the first "."; empty without a ".".
std::u16string BannerMajorVersion(const std::u16string& version);
// "Banner_<name>_<major>.bmp".
std::u16string BannerFileName(const ProgramInfo& info);
// "<base>/Banner/Banner_<name>_<major>.bmp", the base used unchanged.
std::u16string BannerDownloadUrl(const std::u16string& base, const ProgramInfo& info);
// An empty display name, or the word for "unknown" in the UI language, has no banner.
bool HasNoBanner(const ProgramInfo& info);

// What a cached file holds, judged from its first kBannerMaxBytes + 1 bytes.
enum class BannerVerdict { Usable, TooLarge, NotABitmap, Incomplete, TooWide, TooTall, TooLow };
struct BannerCheck {
    BannerVerdict verdict = BannerVerdict::NotABitmap;
    int32_t width = 0;
    int32_t height = 0;  // rows, positive for top-down files too
};
BannerCheck CheckBannerBytes(const std::string& bytes);

// BannerLock guards the dialog's mBannerBusy; created at load, never destroyed.
std::mutex& BannerLock();
// Under BannerLock; false when the lock cannot be taken. A null flag (no dialog) reads as 0.
bool ReadBannerBusy(const int32_t* flag, int32_t& value);

// DownloadFile's shape: url, directory ending with "\", file name, verbose -> 1 / 0.
using BannerDownload = std::function<int(const std::u16string&, const std::u16string&, const std::u16string&, bool)>;
// Tells the dialog (under BannerLock) that a fetch runs (1) or has ended (0).
using BannerBusySink = std::function<void(int32_t)>;

// The whole banner fetch for `info`. The file arrives under a temporary name
// and takes the cache name only when it is complete.
void FetchBanner(const ProgramInfo& info, const BannerBusySink& setBusy, const BannerDownload& download);

class Dialog;
// The banner thread's routine, started at start-up unless "UpdateSilent" was given.
uint32_t DownloadBanner(void* unused);

// A decoded picture handed to the band; handle 0: none.
struct BannerBitmap {
    std::uintptr_t handle = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// The dialog's side of showing a banner; the Win32 view implements it.
class BannerBand {
public:
    virtual ~BannerBand() = default;
    // The file decoded as a device-independent section of its own size.
    virtual BannerBitmap LoadFileBitmap(const std::u16string& path) = 0;
    // Bitmap resource 130.
    virtual BannerBitmap LoadDefaultBitmap() = 0;
    // Rebuilds the band around the bitmap (handle 0: the band without picture).
    virtual void SetBandBitmap(const BannerBitmap& bitmap) = 0;
};

// Puts the cached banner, or the built-in one, into the band. A cached file
// that is refused (only a file from an older client can be) or cannot be decoded
// is deleted so that the next run fetches it again.
void PresentBanner(BannerBand& band, const ProgramInfo& info, const int32_t* busyFlag);
// Dialog::ShowBanner: PresentBanner into the dialog's band (nothing without one).
void ShowBanner(Dialog& dialog);

}  // namespace brut
