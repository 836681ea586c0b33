#include "ui/Banner.h"

#include <climits>

#include "log/Log.h"
#include "net/Download.h"
#include "platform/Platform.h"
#include "system/Settings.h"
#include "system/SystemFacts.h"
#include "ui/Dialog.h"
#include "text/Texts.h"
#include "update/WebService.h"

namespace brut {

namespace {

uint32_t U16At(const std::string& b, std::size_t at) {
    return static_cast<uint8_t>(b[at]) | static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 8;
}
uint32_t U32At(const std::string& b, std::size_t at) { return U16At(b, at) | U16At(b, at + 2) << 16; }

constexpr std::size_t kFileHeaderBytes = 14;
constexpr uint32_t kCoreHeaderBytes = 12;  // BITMAPCOREHEADER
constexpr uint32_t kInfoHeaderBytes = 40;  // BITMAPINFOHEADER and its longer versions
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;

bool IsKnownHeaderSize(uint32_t size) {
    return size == kCoreHeaderBytes || size == kInfoHeaderBytes || size == 52 || size == 56 || size == 108 ||
           size == 124;
}
bool IsKnownDepth(uint32_t bits) { return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32; }

std::u16string VerdictText(BannerVerdict v) {
    switch (v) {
    case BannerVerdict::TooLarge: return u"larger than 4 MiB";
    case BannerVerdict::NotABitmap: return u"not a bitmap";
    case BannerVerdict::Incomplete: return u"incomplete";
    case BannerVerdict::TooWide: return Format(u"wider than %d pixels", kBannerMaxWidth);
    case BannerVerdict::TooTall: return Format(u"taller than %d pixels", kBannerMaxHeight);
    case BannerVerdict::TooLow: return Format(u"lower than %d pixels", kBannerMinHeight);
    case BannerVerdict::Usable: break;
    }
    return u"usable";
}

}  // namespace

std::u16string BannerName(const std::u16string& displayName) {
    return ReplaceAll(MakePlainName(displayName), u" ", u"_");
}

std::u16string BannerMajorVersion(const std::u16string& version) {
    const auto dot = version.find(u'.');
    return dot == std::u16string::npos ? std::u16string() : version.substr(0, dot);
}

std::u16string BannerFileName(const ProgramInfo& info) {
    return Format(u"Banner_%s_%s.bmp", BannerName(info.DisplayName), BannerMajorVersion(info.ProgramVersionNumber));
}

std::u16string BannerDownloadUrl(const std::u16string& base, const ProgramInfo& info) {
    return Format(u"%s/Banner/Banner_%s_%s.bmp", base, BannerName(info.DisplayName),
                  BannerMajorVersion(info.ProgramVersionNumber));
}

bool HasNoBanner(const ProgramInfo& info) {
    return info.DisplayName.empty() || info.DisplayName == GetLocalizedText(info.ProgramLanguage, TXT_UNKNOWN);
}

BannerCheck CheckBannerBytes(const std::string& bytes) {
    BannerCheck check;
    if (bytes.size() > kBannerMaxBytes) {
        check.verdict = BannerVerdict::TooLarge;
        return check;
    }
    if (bytes.size() < kFileHeaderBytes + kCoreHeaderBytes || bytes[0] != 'B' || bytes[1] != 'M') return check;
    const uint32_t pixelOffset = U32At(bytes, 10);
    const uint32_t headerSize = U32At(bytes, 14);
    if (!IsKnownHeaderSize(headerSize)) return check;
    if (bytes.size() < kFileHeaderBytes + headerSize) {
        check.verdict = BannerVerdict::Incomplete;
        return check;
    }
    int64_t width, height;
    uint32_t planes, bits, compression = kBiRgb;
    if (headerSize == kCoreHeaderBytes) {
        width = U16At(bytes, 18);
        height = U16At(bytes, 20);
        planes = U16At(bytes, 22);
        bits = U16At(bytes, 24);
    } else {
        width = static_cast<int32_t>(U32At(bytes, 18));
        height = static_cast<int32_t>(U32At(bytes, 22));
        planes = U16At(bytes, 26);
        bits = U16At(bytes, 28);
        compression = U32At(bytes, 30);
    }
    if (height < 0) height = -height;  // a top-down picture
    const bool maskedDepth = bits == 16 || bits == 32;
    if (planes != 1 || !IsKnownDepth(bits) || width <= 0 || height == 0 ||
        !(compression == kBiRgb || (compression == kBiBitfields && maskedDepth)))
        return check;
    check.width = static_cast<int32_t>(width);
    // A top-down height of -2^31 has no positive 32-bit twin: it reads as the largest.
    check.height = static_cast<int32_t>(height > INT32_MAX ? INT32_MAX : height);
    if (width > kBannerMaxWidth) {
        check.verdict = BannerVerdict::TooWide;
    } else if (height > kBannerMaxHeight) {
        check.verdict = BannerVerdict::TooTall;
    } else if (height < kBannerMinHeight) {
        check.verdict = BannerVerdict::TooLow;
    } else {
        // Both sides are bounded now: the row arithmetic cannot overflow.
        const uint64_t stride = (static_cast<uint64_t>(width) * bits + 31) / 32 * 4;
        const bool pixelsInside = pixelOffset >= kFileHeaderBytes + headerSize &&
                                  pixelOffset + stride * static_cast<uint64_t>(height) <= bytes.size();
        check.verdict = pixelsInside ? BannerVerdict::Usable : BannerVerdict::Incomplete;
    }
    return check;
}

std::mutex& BannerLock() {
    static std::mutex* const lock = new std::mutex();
    return *lock;
}

bool ReadBannerBusy(const int32_t* flag, int32_t& value) {
    try {
        std::lock_guard<std::mutex> guard(BannerLock());
        value = flag ? *flag : 0;
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

void FetchBanner(const ProgramInfo& info, const BannerBusySink& setBusy, const BannerDownload& download) {
    if (HasNoBanner(info)) return;
    std::u16string dir;
    if (!GetWorkingDirectory(info, dir, true)) {
        LogWarning(u"Banner: no working directory");
        return;
    }
    const std::u16string name = BannerFileName(info);
    const std::u16string cached = dir + name;
    if (plat::Fs().CanOpenForReading(cached)) return;

    setBusy(1);
    std::u16string base = GetDebugBannerDownloadUrl(info);
    if (!base.empty())
        LogWarning(u"Banner: Changed url to DEBUG-URL: %s", base);
    else
        base = kDefaultServiceBaseUrl;
    // A run killed mid-download must not leave a part that later runs take for the picture.
    const std::u16string partName = name + u".part";
    const std::u16string part = dir + partName;
    const std::u16string url = BannerDownloadUrl(base, info);
    if (download(url, dir, partName, false)) {
        // An error page, a cut-off transfer or a picture the band would refuse must not
        // be kept: it would be fetched again by every later run and never shown.
        std::string bytes;
        plat::Fs().ReadPrefix(part, kBannerMaxBytes + 1, bytes);
        const BannerCheck check = CheckBannerBytes(bytes);
        if (check.verdict != BannerVerdict::Usable) {
            const bool sized = check.verdict == BannerVerdict::TooWide || check.verdict == BannerVerdict::TooTall ||
                               check.verdict == BannerVerdict::TooLow;
            if (sized)
                LogWarning(u"Banner: %s is %s (%d x %d), not kept", url, VerdictText(check.verdict), check.width,
                           check.height);
            else
                LogWarning(u"Banner: %s is %s, not kept", url, VerdictText(check.verdict));
        } else {
            const uint32_t moved = plat::Fs().RenameFile(part, cached);
            if (moved != plat::kErrSuccess) LogWarning(u"Banner: cannot rename %s (%d)", part, moved);
        }
    }
    if (plat::Fs().CanOpenForReading(part)) plat::Fs().RemoveFile(part);
    setBusy(0);
}

void PresentBanner(BannerBand& band, const ProgramInfo& info, const int32_t* busyFlag) {
    std::u16string dir;
    bool useFile = false;
    std::u16string path;
    if (GetWorkingDirectory(info, dir, false)) {
        path = Format(u"%s\\Banner_%s_%s.bmp", dir, BannerName(info.DisplayName),
                      BannerMajorVersion(info.ProgramVersionNumber));
        int32_t busy = 1;
        useFile = plat::Fs().CanOpenForReading(path) && ReadBannerBusy(busyFlag, busy) && busy == 0;
    }

    BannerBitmap bitmap;
    if (useFile) {
        LogInfo(u"Banner: Use bannerFileNameWithPath");
        std::string bytes;
        plat::Fs().ReadPrefix(path, kBannerMaxBytes + 1, bytes);
        const BannerCheck check = CheckBannerBytes(bytes);
        if (check.verdict != BannerVerdict::Usable) {
            LogWarning(u"Banner: %s is %s (%d x %d)", path, VerdictText(check.verdict), check.width, check.height);
        } else {
            bitmap = band.LoadFileBitmap(path);
            if (!bitmap.handle) LogWarning(u"Banner: %s cannot be loaded", path);
        }
        if (!bitmap.handle) {
            const uint32_t removed = plat::Fs().RemoveFile(path);
            if (removed != plat::kErrSuccess) LogWarning(u"Banner: cannot delete %s (%d)", path, removed);
        }
    }
    if (!bitmap.handle) {
        LogWarning(u"Banner: Use Default");
        bitmap = band.LoadDefaultBitmap();
    }
    band.SetBandBitmap(bitmap);
}

uint32_t DownloadBanner(void*) {
    const ProgramInfoPtr info = GetProgramInfo();
    FetchBanner(
        *info,
        [](int32_t busy) {
            // The dialog may end meanwhile: it leaves TheDialog under this lock too.
            std::lock_guard<std::mutex> guard(BannerLock());
            if (Dialog* dialog = TheDialog.load()) dialog->mBannerBusy = busy;
        },
        [](const std::u16string& url, const std::u16string& dir, const std::u16string& name, bool verbose) {
            return DownloadFile(url, dir, name, verbose);
        });
    return 0;
}

void ShowBanner(Dialog& dialog) {
    if (BannerBand* band = dialog.View().HeaderBand()) PresentBanner(*band, dialog.Program(), &dialog.mBannerBusy);
}

}  // namespace brut
