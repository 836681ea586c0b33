// Speed of the client's hot paths on the portable logic (fakes, no disk):
// the reply guard + parse, the double encoding of a request, a log line, the search through
// thousands of uninstall entries.
// Run: build/native/bruptide_bench (not part of the test run).
#include <benchmark/benchmark.h>

#include <string>

#include "fakes/FakePlatform.h"
#include "fakes/TestSupport.h"
#include "log/Log.h"
#include "net/HttpWrapper.h"
#include "product/sources/Sources.h"
#include "update/XmlGuard.h"
#include "util/Text.h"

namespace {

std::string Envelope(std::size_t elements) {
    std::string inner = "&lt;QuickCheckResponse&gt;";
    for (std::size_t i = 0; i < elements; ++i) inner += "&lt;E&gt;value&lt;/E&gt;";
    inner += "&lt;MaxUpdateableProductVersionExistingOnServer&gt;5.2.0"
             "&lt;/MaxUpdateableProductVersionExistingOnServer&gt;&lt;/QuickCheckResponse&gt;";
    return "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<string>" + inner + "</string>";
}

void BM_GuardedParse(benchmark::State& state) {
    const std::string text = Envelope(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        TiXmlDocument doc;
        benchmark::DoNotOptimize(brut::ParseXmlGuarded(doc, text));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_GuardedParse)->Arg(4)->Arg(20000);

void BM_DoubleUrlEncode(benchmark::State& state) {
    std::u16string doc = u"<QuickCheck>\n";
    for (int i = 0; i < 13; ++i) doc += u"    <Element>value 123 & more</Element>\n";
    doc += u"</QuickCheck>\n";
    for (auto _ : state) benchmark::DoNotOptimize(brut::UrlEncode(brut::UrlEncode(doc)));
}
BENCHMARK(BM_DoubleUrlEncode);

void BM_LogLine(benchmark::State& state) {
    fake::FakePlatform fp;
    fp.files.AddDirectory(u"C:\\Temp");
    brut::ResetLogForTests();
    brut::InstallLogFolder(&brut::LogDirectory);
    brut::SetupLog(u"Bench");
    for (auto _ : state) brut::LogInfo(u"ProgramName: %s (%d)", u"Sample Tool", 42);
    brut::ResetLogForTests();
}
BENCHMARK(BM_LogLine);

// A machine with many installed programs: the match sits at the end of the walk.
void BM_UninstallSearch(benchmark::State& state) {
    fake::FakePlatform fp;
    for (int i = 0; i < state.range(0); ++i)
        fake::AddUninstall(fp.registry, brut::Format(u"{%d}", i),
                           {{u"DisplayName", brut::Format(u"Product %d", i)},
                            {u"InstallLocation", brut::Format(u"C:\\Apps\\%d\\", i)},
                            {u"InstallDate", u"20200101"}});
    fake::AddUninstall(fp.registry, u"~last", {{u"InstallLocation", u"C:\\Target"}});
    std::u16string key;
    for (auto _ : state) benchmark::DoNotOptimize(brut::GetUninstallRegKey(u"InstallLocation", u"C:\\Target\\", key));
}
BENCHMARK(BM_UninstallSearch)->Arg(100)->Arg(5000);

}  // namespace

BENCHMARK_MAIN();
