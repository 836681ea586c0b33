#include <gtest/gtest.h>

#include "fakes/FakePlatform.h"
#include "fakes/TestSupport.h"
#include "ui/Banner.h"
#include "ui/DisplayScale.h"
#include "ui/WizTrackWnd.h"
#include "util/Text.h"

using namespace brut;
using fake::kWorkRoot;
using plat::Hive;

namespace {

const std::u16string kDir = kWorkRoot + u"SampleTool 23\\";
const std::u16string kCached = kDir + u"Banner_Sample_Tool_23.bmp";
const std::u16string kPart = kCached + u".part";
const std::u16string kProductKey = u"Software\\Brindle\\Brindle Uptide\\SampleTool";
constexpr int32_t kClientWidth = kBannerMaxWidth;

ProgramInfo Info(const std::u16string& display = u"Sample Tool", const std::u16string& version = u"23.1.4",
                 int32_t language = 1033) {
    ProgramInfo info;
    info.ProgramName = u"SampleTool";
    info.DisplayName = display;
    info.ProgramVersionNumber = version;
    info.ProgramLanguage = language;
    return info;
}

void Put16(std::string& b, std::size_t at, uint32_t v) {
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& b, std::size_t at, uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

struct Bmp {
    int32_t width = 120;
    int32_t height = 57;
    uint32_t bits = 24;
    uint32_t headerSize = 40;
    uint32_t compression = 0;
    uint32_t planes = 1;
};
// A complete bitmap file with zero pixels.
std::string MakeBmp(const Bmp& m) {
    const uint64_t stride = (static_cast<uint64_t>(m.width < 0 ? -m.width : m.width) * m.bits + 31) / 32 * 4;
    const uint64_t rows = static_cast<uint64_t>(m.height < 0 ? -m.height : m.height);
    const uint32_t offset = 14 + m.headerSize;
    std::string b(offset + stride * rows, '\0');
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 2, static_cast<uint32_t>(b.size()));
    Put32(b, 10, offset);
    Put32(b, 14, m.headerSize);
    if (m.headerSize == 12) {
        Put16(b, 18, static_cast<uint32_t>(m.width));
        Put16(b, 20, static_cast<uint32_t>(m.height));
        Put16(b, 22, m.planes);
        Put16(b, 24, m.bits);
    } else {
        Put32(b, 18, static_cast<uint32_t>(m.width));
        Put32(b, 22, static_cast<uint32_t>(m.height));
        Put16(b, 26, m.planes);
        Put16(b, 28, m.bits);
        Put32(b, 30, m.compression);
    }
    return b;
}

class BannerTest : public ::testing::Test {
protected:
    fake::FakePlatform fp;
    fake::FreshLog freshLog{fp};
};

// --- Names and addresses ------------------------------------------------------------------

TEST(BannerNames, FileNameAndAddress) {
    struct Case { std::u16string display, version, file; };
    const Case cases[] = {
        {u"Sample Tool", u"23.1.4", u"Banner_Sample_Tool_23.bmp"},
        {u"A  B", u"5.0", u"Banner_A__B_5.bmp"},
        {u"M\u00FCller & S\u00F6hne-Pro", u"7.2", u"Banner_Mller__ShnePro_7.bmp"},
        {u"\u3042\u3044", u"1.0", u"Banner_~48E~48G_1.bmp"},
        {u"Tool 2.5", u"12", u"Banner_Tool_2.5_.bmp"},
        {u"Tool", u".3", u"Banner_Tool_.bmp"},
    };
    for (const Case& c : cases) {
        const ProgramInfo info = Info(c.display, c.version);
        EXPECT_EQ(BannerFileName(info), c.file) << ToUtf8(c.display);
        EXPECT_EQ(BannerDownloadUrl(u"https://svc.example/Uptide/", info),
                  u"https://svc.example/Uptide//Banner/" + c.file);
    }
}

TEST_F(BannerTest, NoBannerForAnEmptyOrUnknownProduct) {
    fp.system.defaultLcid = 1031;
    struct Case { std::u16string display; int32_t language; bool none; };
    const Case cases[] = {
        {u"", 1033, true},
        {u"Unknown", 1033, true},
        {u"Unbekannt", 1031, true},
        {u"\u4E0D\u660E", 1041, true},
        {u"Unbekannt", 0, true},  // the system's language
        {u"Unbekannt", 1033, false},
        {u"Unknown", 1031, false},
        {u"unknown", 1033, false},
        {u"Unknown ", 1033, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HasNoBanner(Info(c.display, u"1.0", c.language)), c.none) << ToUtf8(c.display) << c.language;
}

// --- The check of a cached file -----------------------------------------------------------

TEST(BannerCheckTest, SizeFormatAndDimensions) {
    const std::string good = MakeBmp({});
    std::string padded = good;
    padded.resize(kBannerMaxBytes, '\0');
    struct Case { const char* what; std::string bytes; BannerVerdict verdict; };
    const Case cases[] = {
        {"plain 24-bit", good, BannerVerdict::Usable},
        {"exactly 4 MiB", padded, BannerVerdict::Usable},
        {"one byte over 4 MiB", padded + '\0', BannerVerdict::TooLarge},
        {"empty", "", BannerVerdict::NotABitmap},
        {"not BM", "PK" + good.substr(2), BannerVerdict::NotABitmap},
        {"html error page", "<html><body>404</body></html>", BannerVerdict::NotABitmap},
        {"unknown header size", MakeBmp({120, 57, 24, 64}), BannerVerdict::NotABitmap},
        {"two planes", MakeBmp({120, 57, 24, 40, 0, 2}), BannerVerdict::NotABitmap},
        {"depth 7", MakeBmp({120, 57, 7}), BannerVerdict::NotABitmap},
        {"run-length compressed", MakeBmp({120, 57, 8, 40, 1}), BannerVerdict::NotABitmap},
        {"bit fields at 24 bits", MakeBmp({120, 57, 24, 40, 3}), BannerVerdict::NotABitmap},
        {"bit fields at 32 bits", MakeBmp({120, 57, 32, 108, 3}), BannerVerdict::Usable},
        {"core header", MakeBmp({120, 57, 8, 12}), BannerVerdict::Usable},
        {"top-down", MakeBmp({120, -57}), BannerVerdict::Usable},
        {"zero width", MakeBmp({0, 57}), BannerVerdict::NotABitmap},
        {"negative width", MakeBmp({-120, 57}), BannerVerdict::NotABitmap},
        {"one byte short", good.substr(0, good.size() - 1), BannerVerdict::Incomplete},
        {"header cut", good.substr(0, 30), BannerVerdict::Incomplete},
        {"1 x 1", MakeBmp({1, 1}), BannerVerdict::TooLow},
        {"44 high: the band would cut its version line", MakeBmp({120, 44}), BannerVerdict::TooLow},
        {"45 high", MakeBmp({120, 45}), BannerVerdict::Usable},
        {"150 x 50", MakeBmp({150, 50}), BannerVerdict::Usable},
        {"87 high: the band ends where the message begins", MakeBmp({120, 87}), BannerVerdict::Usable},
        {"88 high", MakeBmp({120, 88}), BannerVerdict::TooTall},
        {"as wide as the dialog", MakeBmp({kClientWidth, 57}), BannerVerdict::Usable},
        {"one pixel wider", MakeBmp({kClientWidth + 1, 57}), BannerVerdict::TooWide},
        {"10000 wide", MakeBmp({10000, 57}), BannerVerdict::TooWide},
    };
    for (const Case& c : cases) EXPECT_EQ(CheckBannerBytes(c.bytes).verdict, c.verdict) << c.what;

    // A header that claims a huge picture is judged without reading it.
    std::string claimsHuge = good;
    Put32(claimsHuge, 18, 0x7FFFFFFF);
    Put32(claimsHuge, 22, 0x80000000u);
    EXPECT_EQ(CheckBannerBytes(claimsHuge).verdict, BannerVerdict::TooWide);
    Put32(claimsHuge, 18, 120);  // top-down with -2^31 rows: too tall, and its height still positive
    const BannerCheck tallest = CheckBannerBytes(claimsHuge);
    EXPECT_EQ(tallest.verdict, BannerVerdict::TooTall);
    EXPECT_EQ(tallest.height, INT32_MAX);
    const BannerCheck topDown = CheckBannerBytes(MakeBmp({130, -60}));
    EXPECT_EQ(topDown.width, 130);
    EXPECT_EQ(topDown.height, 60);
}

// --- The fetch ------------------------------------------------------------------------------

struct Download {
    std::string serves;  // written to the target when set
    int result = 1;
    std::vector<std::u16string> urls;
    std::vector<std::u16string> targets;
    std::vector<bool> verbose;
    std::vector<int32_t> busyWhileFetching;
};

BannerBusySink Busy(int32_t& flag) {
    return [&flag](int32_t value) { flag = value; };
}

BannerDownload Fetcher(fake::FakePlatform& fp, Download& d, const int32_t* busy) {
    return [&fp, &d, busy](const std::u16string& url, const std::u16string& dir, const std::u16string& name,
                           bool verbose) {
        d.urls.push_back(url);
        d.targets.push_back(dir + name);
        d.verbose.push_back(verbose);
        d.busyWhileFetching.push_back(*busy);
        if (!d.serves.empty()) fp.files.AddFile(dir + name, d.serves);
        return d.result;
    };
}

TEST_F(BannerTest, FetchStoresACompleteDownloadUnderTheCacheName) {
    int32_t busy = 0;
    Download d;
    d.serves = MakeBmp({});
    FetchBanner(Info(), Busy(busy), Fetcher(fp, d, &busy));
    ASSERT_EQ(d.urls.size(), 1u);
    EXPECT_EQ(d.urls[0], u"https://uptide.brindle.example/Uptide//Banner/Banner_Sample_Tool_23.bmp");
    EXPECT_EQ(d.targets[0], kPart);
    EXPECT_FALSE(d.verbose[0]);
    EXPECT_EQ(d.busyWhileFetching[0], 1);
    EXPECT_EQ(busy, 0);
    EXPECT_EQ(fp.files.Contents(kCached), d.serves);
    EXPECT_FALSE(fp.files.HasFile(kPart));
    EXPECT_TRUE(fake::LogLines(fp).empty());

    // Cached now: the next run fetches nothing.
    FetchBanner(Info(), Busy(busy), Fetcher(fp, d, &busy));
    EXPECT_EQ(d.urls.size(), 1u);
}

TEST_F(BannerTest, FailedOrSkippedFetchLeavesNoFile) {
    struct Case { const char* what; ProgramInfo info; std::string serves; int result; bool fetched; const char* warning; };
    const Case cases[] = {
        {"download failed after writing a part", Info(), "BM partial", 0, true, nullptr},
        {"an error page reported as downloaded", Info(), "<html>404</html>", 1, true, "not a bitmap"},
        {"a cut-off transfer reported as downloaded", Info(), MakeBmp({}).substr(0, 1000), 1, true, "incomplete"},
        // What the band would refuse is never kept, or every run would fetch it again.
        {"too tall for the band", Info(), MakeBmp({120, 88}), 1, true, "taller than 87 pixels (120 x 88)"},
        {"too low for the band", Info(), MakeBmp({120, 44}), 1, true, "lower than 45 pixels (120 x 44)"},
        {"wider than the dialog", Info(), MakeBmp({541, 60}), 1, true, "wider than 540 pixels (541 x 60)"},
        {"unknown product", Info(u"Unknown"), "BM", 1, false, nullptr},
        {"no display name", Info(u""), "BM", 1, false, nullptr},
    };
    for (const Case& c : cases) {
        fake::ClearLog(fp);
        int32_t busy = 0;
        Download d;
        d.serves = c.serves;
        d.result = c.result;
        FetchBanner(c.info, Busy(busy), Fetcher(fp, d, &busy));
        EXPECT_EQ(d.urls.size(), c.fetched ? 1u : 0u) << c.what;
        EXPECT_EQ(busy, 0) << c.what;
        EXPECT_TRUE(fp.files.FilesIn(kDir).empty()) << c.what;
        const std::u16string warning =
            c.warning ? u"WAR Banner: " + (d.urls.empty() ? u"" : d.urls[0]) + u" is " + FromUtf8(c.warning) + u", not kept"
                      : u"";
        EXPECT_EQ(fake::LogLines(fp), c.warning ? std::vector<std::u16string>{warning} : std::vector<std::u16string>{})
            << c.what;
    }
}

TEST_F(BannerTest, DebugBaseAddresses) {
    struct Case { std::u16string bannerUrl, debugUrl, url; bool warned; };
    const Case cases[] = {
        {u"http://ban.test/b", u"", u"http://ban.test/b/Banner/Banner_Sample_Tool_23.bmp", true},
        {u"", u"http://svc.test/Uptide/", u"http://svc.test/Uptide//Banner/Banner_Sample_Tool_23.bmp", true},
        {u"http://ban.test/b", u"http://svc.test/", u"http://ban.test/b/Banner/Banner_Sample_Tool_23.bmp", true},
    };
    for (const Case& c : cases) {
        fake::ClearLog(fp);
        fp.registry.SetText(Hive::CurrentUser, kProductKey, u"DebugBannerDownloadUrl_v2", c.bannerUrl);
        fp.registry.SetText(Hive::CurrentUser, kProductKey, u"DebugUrl_v2", c.debugUrl);
        int32_t busy = 0;
        Download d;
        d.result = 0;
        FetchBanner(Info(), Busy(busy), Fetcher(fp, d, &busy));
        ASSERT_EQ(d.urls.size(), 1u);
        EXPECT_EQ(d.urls[0], c.url);
        const std::u16string base = c.bannerUrl.empty() ? c.debugUrl : c.bannerUrl;
        EXPECT_TRUE(fake::LogHasLine(fp, u"WAR Banner: Changed url to DEBUG-URL: " + base)) << ToUtf8(base);
    }
}

// --- Showing it -----------------------------------------------------------------------------

class FakeBand : public BannerBand {
public:
    BannerBitmap LoadFileBitmap(const std::u16string& path) override {
        loadedFiles.push_back(path);
        return fileLoads ? BannerBitmap{0xF11E, 120, 57} : BannerBitmap{};
    }
    BannerBitmap LoadDefaultBitmap() override { return {0xDEF, 160, 57}; }
    void SetBandBitmap(const BannerBitmap& bitmap) override { given.push_back(bitmap.handle); }

    bool fileLoads = true;
    std::vector<std::u16string> loadedFiles;
    std::vector<std::uintptr_t> given;
};

TEST_F(BannerTest, ShowsTheCachedFileOrTheDefault) {
    struct Case {
        const char* what;
        std::string file;  // empty: none cached
        int32_t busy;
        bool fileLoads;
        std::uintptr_t shown;
        bool fileKept;
        std::vector<std::u16string> log;
    };
    const std::u16string useFile = u"INF Banner: Use bannerFileNameWithPath";
    const std::u16string useDefault = u"WAR Banner: Use Default";
    const Case cases[] = {
        {"nothing cached", "", 0, true, 0xDEF, false, {useDefault}},
        {"cached", MakeBmp({}), 0, true, 0xF11E, true, {useFile}},
        {"being fetched", MakeBmp({}), 1, true, 0xDEF, true, {useDefault}},
        {"not a bitmap", "<html>", 0, true, 0xDEF, false,
         {useFile, u"WAR Banner: " + kCached + u" is not a bitmap (0 x 0)", useDefault}},
        {"too tall, kept by an older client", MakeBmp({120, 201}), 0, true, 0xDEF, false,
         {useFile, u"WAR Banner: " + kCached + u" is taller than 87 pixels (120 x 201)", useDefault}},
        {"the system cannot decode it", MakeBmp({}), 0, false, 0xDEF, false,
         {useFile, u"WAR Banner: " + kCached + u" cannot be loaded", useDefault}},
    };
    for (const Case& c : cases) {
        fake::ClearLog(fp);
        fp.files.AddDirectory(kDir);
        if (!c.file.empty()) fp.files.AddFile(kCached, c.file);
        FakeBand band;
        band.fileLoads = c.fileLoads;
        PresentBanner(band, Info(), &c.busy);
        EXPECT_EQ(band.given, std::vector<std::uintptr_t>{c.shown}) << c.what;
        EXPECT_EQ(fp.files.HasFile(kCached), c.fileKept) << c.what;
        EXPECT_EQ(fake::LogLines(fp), c.log) << c.what;
        fp.files.RemoveFile(kCached);
    }
}

// --- The band -------------------------------------------------------------------------------

TEST(BandTest, GeometryAndPaintPositions) {
    struct Case { std::uintptr_t bitmap; int32_t bw, bh; int32_t height, offset; };
    const Case cases[] = {
        {0, 0, 0, 59, 0},
        {0, 120, 57, 59, 0},  // no handle: the sizes do not count
        {7, 120, 57, 59, -120},
        {7, 160, 100, 102, -160},
        {7, 540, 200, 202, -540},
    };
    for (const Case& c : cases) {
        HeaderLayout layout;
        layout.mBitmap = c.bitmap;
        const BandGeometry g = PlaceBand(layout, kClientWidth, c.bw, c.bh);
        EXPECT_EQ(g.left, 0);
        EXPECT_EQ(g.top, 0);
        EXPECT_EQ(g.width, kClientWidth);
        EXPECT_EQ(g.height, c.height);
        EXPECT_EQ(g.hasBitmap, c.bitmap != 0);
        EXPECT_EQ(g.bitmapLeftOffset, c.offset);

        const BandPaint p = PaintBand(layout, g, kClientWidth, g.height);
        EXPECT_EQ(p.drawBitmap, c.bitmap != 0);
        if (p.drawBitmap) {
            EXPECT_EQ(p.bitmap.x + c.bw, kClientWidth);  // right edges meet
        }
        EXPECT_EQ(p.bitmap.y, 0);
        EXPECT_EQ(p.title.x, 12);
        EXPECT_EQ(p.title.y, 14);
        EXPECT_EQ(p.secondLine.x, 12);
        EXPECT_EQ(p.secondLine.y, 32);
        EXPECT_EQ(p.shadowLineY, c.height - 2);
        EXPECT_EQ(p.highlightLineY, c.height - 1);
    }
}

// Every pixel figure of the band scales by dpi / 96, the banner drawn at that scale too;
// at 96 DPI nothing moves.
TEST(BandTest, ScaledByTheWindowsDpi) {
    struct Case { int32_t dpi; std::uintptr_t bitmap; int32_t bw, bh; int32_t height, drawnW, titleX, titleY, lineY; };
    const Case cases[] = {
        {96, 0, 0, 0, 59, 0, 12, 14, 32},       {96, 7, 160, 57, 59, 160, 12, 14, 32},
        {120, 0, 0, 0, 74, 0, 15, 18, 40},      {120, 7, 160, 57, 74, 200, 15, 18, 40},
        {144, 0, 0, 0, 89, 0, 18, 21, 48},      {144, 7, 160, 57, 89, 240, 18, 21, 48},
        {144, 7, 540, 87, 134, 810, 18, 21, 48}, {192, 0, 0, 0, 118, 0, 24, 28, 64},
        {192, 7, 160, 45, 94, 320, 24, 28, 64},
    };
    for (const Case& c : cases) {
        HeaderLayout layout;
        layout.mBitmap = c.bitmap;
        const int32_t client = ScalePx(kClientWidth, c.dpi);
        const BandGeometry g = PlaceBand(layout, client, c.bw, c.bh, c.dpi);
        EXPECT_EQ(g.height, c.height) << c.dpi << " " << c.bh;
        EXPECT_EQ(g.bitmapWidth, c.drawnW) << c.dpi;
        const BandPaint p = PaintBand(layout, g, client, g.height, c.dpi);
        EXPECT_EQ(p.title.x, c.titleX) << c.dpi;
        EXPECT_EQ(p.title.y, c.titleY) << c.dpi;
        EXPECT_EQ(p.secondLine.y, c.lineY) << c.dpi;
        if (c.bitmap) {
            EXPECT_EQ(p.bitmap.x + g.bitmapWidth, client) << c.dpi;  // right edges meet
            EXPECT_LE(g.bitmapWidth, client) << c.dpi;               // the widest banner still fits
        }
    }
}

TEST(DisplayScale, RoundingAndRefusedScales) {
    struct Case { int32_t value, num, den, want; };
    const Case cases[] = {
        {59, 144, 96, 89}, {57, 120, 96, 71}, {-301, 96, 144, -201}, {301, 96, 144, 201}, {1, 144, 96, 2},
        {-1, 144, 96, -2}, {0, 144, 96, 0}, {5, 1, 0, 0}, {INT32_MAX, 480, 96, INT32_MAX}, {INT32_MIN, 480, 96, INT32_MIN},
    };
    for (const auto& c : cases) EXPECT_EQ(ScaleBy(c.value, c.num, c.den), c.want) << c.value << "*" << c.num << "/" << c.den;
    for (int32_t dpi : {0, 72, 95, 481, -96}) {
        bool refused = false;
        EXPECT_EQ(UsableDpi(dpi, refused), 96);
        EXPECT_TRUE(refused) << dpi;
    }
    for (int32_t dpi : {96, 144, 480}) {
        bool refused = true;
        EXPECT_EQ(UsableDpi(dpi, refused), dpi);
        EXPECT_FALSE(refused);
    }
}

}  // namespace
