#include <gtest/gtest.h>

#include "fakes/FakeInternet.h"
#include "fakes/FakePlatform.h"
#include "fakes/TestSupport.h"
#include "net/Download.h"
#include "update/HandOff.h"
#include "util/Text.h"

using namespace brut;

namespace {

const std::u16string kDir = fake::kWorkRoot + u"PhotoStudio 21\\";
const std::u16string kWorkerPath = kDir + u"BRUptideWorker.exe";
const std::u16string kViewerPath = kDir + u"BRAdViewer.exe";
constexpr int32_t kNotFound = static_cast<int32_t>(0x800C0005);  // INET_E_RESOURCE_NOT_FOUND

struct RecordingTarget : ProgressTarget {
    std::vector<std::pair<uint32_t, uint32_t>> calls;
    void SetProgress(uint32_t done, uint32_t total) override { calls.push_back({done, total}); }
};

class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        fp.files.AddDirectory(fake::kTempDir);
    }
    // Each download answers the next result; a success leaves the file.
    void Answers(std::vector<int32_t> results) {
        answers = std::move(results);
        net.downloadHandler = [this](const std::u16string&, const std::u16string& path, plat::DownloadProgress*) {
            int32_t hr = answers.empty() ? 0 : answers.front();
            if (!answers.empty()) answers.erase(answers.begin());
            if (hr >= 0) fp.files.AddFile(path, "MZ new");
            return hr;
        };
    }
    std::vector<std::u16string> Urls() const {
        std::vector<std::u16string> out;
        for (const auto& d : net.downloads) out.push_back(d.url);
        return out;
    }

    fake::FakeInternet net;
    fake::FakePlatform fp{&net};
    fake::FreshLog freshLog{fp};
    std::vector<int32_t> answers;
};

}  // namespace

// Which address is tried when, and what the log shows.
TEST_F(DownloadTest, RetryOverHttpOnlyForFilesNeverForPrograms) {
    struct Case {
        const char* what;
        std::u16string url;
        DownloadKind kind;
        bool verbose;
        std::vector<int32_t> answers;
        int result;
        std::vector<std::u16string> urls;
        std::vector<std::u16string> log;  // after the "Downloading from" line
    };
    const std::u16string https = u"https://dl.example/x.bmp", http = u"http://dl.example/x.bmp";
    const Case cases[] = {
        {"https works at once", https, DownloadKind::File, true, {0}, 1, {https}, {}},
        {"a file falls back to http once", https, DownloadKind::File, true, {kNotFound, 0}, 1, {https, http},
         {u"INF Try to connect without SSL: http://dl.example/x.bmp"}},
        {"a file failing both ways", https, DownloadKind::File, true, {kNotFound, kNotFound}, 0, {https, http},
         {u"INF Try to connect without SSL: http://dl.example/x.bmp",
          u"ERR Download from 'http://dl.example/x.bmp' failed with Code: -2146697211"}},
        {"a program is never fetched over http", https, DownloadKind::Program, true, {kNotFound, 0}, 0, {https},
         {u"WAR Download from 'https://dl.example/x.bmp' failed: a program is not downloaded again without SSL",
          u"ERR Download from 'https://dl.example/x.bmp' failed with Code: -2146697211"}},
        {"an http address is never retried", http, DownloadKind::File, true, {kNotFound, 0}, 0, {http},
         {u"ERR Download from 'http://dl.example/x.bmp' failed with Code: -2146697211"}},
        {"not verbose: only the first line", https, DownloadKind::File, false, {kNotFound, kNotFound}, 0,
         {https, http}, {}},
    };
    for (const auto& c : cases) {
        fake::ClearLog(fp);
        net.downloads.clear();
        Answers(c.answers);
        EXPECT_EQ(DownloadFile(c.url, kDir, u"x.bmp", c.verbose, nullptr, c.kind), c.result) << c.what;
        EXPECT_EQ(Urls(), c.urls) << c.what;
        for (const auto& d : net.downloads) EXPECT_EQ(d.path, kDir + u"x.bmp") << c.what;
        std::vector<std::u16string> want = {u"INF Downloading from: '" + c.url + u"' - to: " + kDir + u"x.bmp"};
        want.insert(want.end(), c.log.begin(), c.log.end());
        EXPECT_EQ(fake::LogLines(fp), want) << c.what;
    }
    // COM around every call, the cache entry dropped first.
    EXPECT_EQ(net.coInitialized, 6);
    EXPECT_EQ(net.coUninitialized, 6);
    EXPECT_EQ(net.deletedCacheEntries.back(), https);
}

TEST_F(DownloadTest, NoComOrNoDirectoryNoDownload) {
    net.coInitializeResult = static_cast<int32_t>(0x80010106);  // RPC_E_CHANGED_MODE
    EXPECT_EQ(DownloadFile(u"http://dl.example/a", kDir, u"a", true), 0);
    EXPECT_TRUE(net.downloads.empty());
    EXPECT_TRUE(fake::LogLines(fp).empty());

    net.coInitializeResult = 1;  // S_FALSE: already initialised, fine
    Answers({0});
    EXPECT_EQ(DownloadFile(u"http://dl.example/a", kDir, u"a", true), 1);

    fake::ClearLog(fp);
    net.downloads.clear();
    fp.files.createDirectoryErrors[ToLowerAscii(fake::kWorkRoot + u"Other 1")] = plat::kErrAccessDenied;
    EXPECT_EQ(DownloadFile(u"http://dl.example/a", fake::kWorkRoot + u"Other 1\\", u"a", true), 0);
    EXPECT_TRUE(net.downloads.empty());
    ASSERT_FALSE(fake::LogErrors(fp).empty());
    EXPECT_TRUE(StartsWith(fake::LogErrors(fp).back(), u"can not create directory " + fake::kWorkRoot + u"Other 1\\ because: "));
}

TEST_F(DownloadTest, WorkerResults) {
    struct Case {
        const char* what;
        bool oldFile, undeletable;
        std::vector<int32_t> answers;
        int result;
        size_t downloads;
        std::u16string errorLine;
    };
    const std::u16string url = u"https://dl.example/w.exe";
    const Case cases[] = {
        {"fresh download", false, false, {0}, 0, 1, u""},
        {"the old copy is replaced", true, false, {0}, 0, 1, u""},
        {"the old copy cannot be deleted", true, true, {0}, 12, 0, u"Can\u00B4t delete " + kWorkerPath},
        {"the download fails: nothing is left", true, false, {kNotFound}, 13, 1,
         u"Can\u00B4t download " + url + u" -> " + kWorkerPath},
    };
    for (const auto& c : cases) {
        fake::ClearLog(fp);
        fp.files.undeletable.clear();
        fp.files.RemoveFile(kWorkerPath);
        net.downloads.clear();
        if (c.oldFile) fp.files.AddFile(kWorkerPath, "MZ old");
        if (c.undeletable) fp.files.undeletable.insert(ToLowerAscii(kWorkerPath));
        Answers(c.answers);
        bool oldGoneBeforeDownload = true;
        auto handler = net.downloadHandler;
        net.downloadHandler = [&](const std::u16string& u, const std::u16string& p, plat::DownloadProgress* g) {
            oldGoneBeforeDownload = !fp.files.HasFile(kWorkerPath);
            return handler(u, p, g);
        };
        EXPECT_EQ(DownloadWorker(url, kDir), c.result) << c.what;
        EXPECT_EQ(net.downloads.size(), c.downloads) << c.what;
        EXPECT_TRUE(oldGoneBeforeDownload) << c.what;
        if (c.result == 0) {
            EXPECT_EQ(fp.files.Contents(kWorkerPath), "MZ new") << c.what;
        }
        if (c.result == 13) {
            EXPECT_FALSE(fp.files.HasFile(kWorkerPath)) << c.what;
        }
        const auto errors = fake::LogErrors(fp);
        if (c.errorLine.empty()) {
            EXPECT_TRUE(errors.empty()) << c.what;
        } else {
            ASSERT_FALSE(errors.empty()) << c.what;
            EXPECT_EQ(errors.back(), c.errorLine) << c.what;
        }
    }
}

TEST_F(DownloadTest, AdViewerProblemsAreWarnings) {
    const std::u16string url = u"https://dl.example/v.exe";
    fp.files.AddFile(kViewerPath, "MZ old");
    fp.files.undeletable.insert(ToLowerAscii(kViewerPath));
    Answers({kNotFound});
    DownloadAdViewer(url, kDir);
    EXPECT_EQ(net.downloads.size(), 1u);  // goes on after the failed deletion
    EXPECT_TRUE(fake::LogHasLine(fp, u"WAR Can\u00B4t delete " + kViewerPath));
    EXPECT_TRUE(fake::LogHasLine(fp, u"WAR Can\u00B4t download " + url + u" -> " + kViewerPath));
    // Programs: no http fallback for the viewer either.
    EXPECT_EQ(Urls(), std::vector<std::u16string>{url});
}

// --- Watching a running download ---------------------------------------------------------------

TEST_F(DownloadTest, StallIsGivenUpAfter120SecondsWithoutBytes) {
    DownloadGuard guard(u"https://dl.example/w.exe", DownloadKind::Program, nullptr);
    const uint64_t start = fp.processes.tick;
    struct Step { uint64_t at; int64_t bytes; bool giveUp; };  // bytes < 0: no report at this time
    const Step steps[] = {
        {start + 119999, -1, false}, {start + 100000, 10, false},  // bytes arrive: the clock starts again
        {start + 219999, -1, false}, {start + 219999, 10, false},  // the same count is no new byte
        {start + 220000, -1, true},
    };
    for (const auto& s : steps) {
        fp.processes.tick = s.at;
        if (s.bytes >= 0) {
            EXPECT_EQ(guard.OnProgress(static_cast<uint32_t>(s.bytes), 0, 5, u""), plat::kSOk);
        } else {
            EXPECT_EQ(guard.ShouldGiveUp(), s.giveUp) << s.at - start;
        }
    }
    EXPECT_EQ(guard.Reason(), DownloadGuard::Stop::Stalled);
}

TEST_F(DownloadTest, SizeLimitAndRedirects) {
    struct Case {
        const char* what;
        std::u16string url;
        DownloadKind kind;
        uint32_t progress, status;
        std::u16string text;
        int32_t result;
        DownloadGuard::Stop stop;
    };
    const std::u16string https = u"https://dl.example/w.exe";
    const Case cases[] = {
        {"at the size limit", https, DownloadKind::File, kDownloadMaxBytes, 5, u"", plat::kSOk,
         DownloadGuard::Stop::None},
        {"past the size limit", https, DownloadKind::File, kDownloadMaxBytes + 1, 5, u"", plat::kEAbort,
         DownloadGuard::Stop::TooLarge},
        {"a program redirected to http", https, DownloadKind::Program, 0, 3, u"http://evil.example/w.exe",
         plat::kEAbort, DownloadGuard::Stop::InsecureRedirect},
        {"a program redirected to https", https, DownloadKind::Program, 0, 3, u"HTTPS://mirror.example/w.exe",
         plat::kSOk, DownloadGuard::Stop::None},
        {"a picture may be redirected to http", https, DownloadKind::File, 0, 3, u"http://m.example/b.bmp",
         plat::kSOk, DownloadGuard::Stop::None},
        {"a program asked over http may stay on http", u"http://dl.example/w.exe", DownloadKind::Program, 0, 3,
         u"http://m.example/w.exe", plat::kSOk, DownloadGuard::Stop::None},
    };
    for (const auto& c : cases) {
        DownloadGuard guard(c.url, c.kind, nullptr);
        EXPECT_EQ(guard.OnProgress(c.progress, 0, c.status, c.text), c.result) << c.what;
        EXPECT_EQ(guard.Reason(), c.stop) << c.what;
    }
}

// Bytes that keep coming do not keep a download alive beyond its limit.
TEST_F(DownloadTest, ADownloadEndsWithinItsTimeLimit) {
    DownloadGuard guard(u"https://dl.example/w.exe", DownloadKind::Program, nullptr);
    const uint64_t start = fp.processes.tick;
    uint32_t bytes = 0;
    for (uint64_t at = start; at < start + kDownloadLimitMs; at += 60000) {
        fp.processes.tick = at;
        guard.OnProgress(++bytes, 0, 5, u"");
        ASSERT_FALSE(guard.ShouldGiveUp()) << at - start;
    }
    fp.processes.tick = start + kDownloadLimitMs - 1;
    EXPECT_FALSE(guard.ShouldGiveUp());
    fp.processes.tick = start + kDownloadLimitMs;
    EXPECT_TRUE(guard.ShouldGiveUp());
    EXPECT_EQ(guard.Reason(), DownloadGuard::Stop::TooLong);

    net.downloadHandler = [this](const std::u16string&, const std::u16string&, plat::DownloadProgress* p) {
        fp.processes.tick += kDownloadLimitMs;
        p->OnProgress(1, 0, 5, u"");  // a byte just came: not stalled, but too long
        return p->ShouldGiveUp() ? plat::kEAbort : plat::kSOk;
    };
    EXPECT_EQ(DownloadWorker(u"https://dl.example/w.exe", kDir), 13);
    EXPECT_TRUE(fake::LogHasLine(fp, u"WAR Download from 'https://dl.example/w.exe' given up: not finished after 1800 s"));
}

TEST_F(DownloadTest, AStalledDownloadFailsWithItsReasonLogged) {
    net.downloadHandler = [this](const std::u16string&, const std::u16string&, plat::DownloadProgress* p) {
        fp.processes.tick += kDownloadStallMs;
        return p->ShouldGiveUp() ? plat::kEAbort : plat::kSOk;
    };
    EXPECT_EQ(DownloadWorker(u"https://dl.example/w.exe", kDir), 13);
    EXPECT_TRUE(fake::LogHasLine(fp, u"WAR Download from 'https://dl.example/w.exe' given up: no data for 120 s"));
    EXPECT_FALSE(fp.files.HasFile(kWorkerPath));
}

TEST_F(DownloadTest, ProgressReachesTheTargetThroughTheCallback) {
    RecordingTarget target;
    DownloadCallback callback(&target);
    net.downloadHandler = [](const std::u16string&, const std::u16string&, plat::DownloadProgress* p) {
        p->OnProgress(0, 0, 1, u"");          // finding the resource: no counts
        p->OnProgress(0, 0, 2, u"host");      // connecting: no counts
        p->OnProgress(50, 200, 4, u"");       // begin
        p->OnProgress(100, 200, 5, u"");
        p->OnProgress(150, 200, 14, u"C:\\cache\\w[0]");  // cache file name: no counts
        p->OnProgress(200, 200, 6, u"");      // end
        return 0;
    };
    EXPECT_EQ(DownloadWorker(u"https://dl.example/w.exe", kDir, &callback), 0);
    const std::vector<std::pair<uint32_t, uint32_t>> want = {{50, 200}, {100, 200}, {200, 200}};
    EXPECT_EQ(target.calls, want);
    DownloadCallback none;
    EXPECT_EQ(none.OnProgress(1, 2, 5, u""), plat::kSOk);
}
