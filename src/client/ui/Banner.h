#pragma once
// The product's banner picture: fetched in the background into the working
// directory, shown in the header band from the next run on, or the built-in one.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "product/ProgramInfo.h"

namespace brut {

// Limits of a cached banner the band will show. Anything beyond is refused
// before the platform decodes it: a hostile server must not make us allocate
// or draw gigabytes.
constexpr std::size_t kBannerMaxBytes = 4u * 1024u * 1024u;
constexpr int32_t kBannerMaxHeight = 200;
// Lower than this and the band (bitmap + 2) would cut its own text lines.
constexpr int32_t kBannerMinHeight = 57;

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
// `maxWidth`: the widest picture the band can show (the dialog's client width).
BannerCheck CheckBannerBytes(const std::string& bytes, int32_t maxWidth);

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
    virtual int32_t ClientWidth() = 0;
    // The file decoded as a device-independent section of its own size.
    virtual BannerBitmap LoadFileBitmap(const std::u16string& path) = 0;
    // Bitmap resource 130.
    virtual BannerBitmap LoadDefaultBitmap() = 0;
    // Rebuilds the band around the bitmap (handle 0: the band without picture).
    virtual void SetBandBitmap(const BannerBitmap& bitmap) = 0;
};

// Puts the cached banner, or the built-in one, into the band. A cached file
// that is refused or cannot be decoded is deleted so that the next run fetches
// it again.
void PresentBanner(BannerBand& band, const ProgramInfo& info, const int32_t* busyFlag);
// Dialog::ShowBanner: PresentBanner into the dialog's band (nothing without one).
void ShowBanner(Dialog& dialog);

}  // namespace brut
