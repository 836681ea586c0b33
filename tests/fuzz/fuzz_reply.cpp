// The reply path on arbitrary bytes: the body as the HTTP client reads it (byte-wise
// widening; the size limit itself is a unit case), the envelope, ExtractReplyText,
// LoadAndReadResponseXML and the decision.
//
// Every input runs the exchange from the post on, on one quiet machine; a fixed sample of
// inputs (by a hash of the input; all of them in the corpus regression run) also runs the whole QuickCheck::CheckForUpdate on a
// fresh machine with the log on, which must agree with it and store exactly the
// documented values. So the fast path can never drift from the real one unnoticed.
//
// Input: one byte of switches, then the reply body.
//   bit 0  the QuickCheck switch        bit 1  WriteCheckResultToReg
//   bit 2  a cached worker exists       bit 3  the body arrives one byte per read
#include <cstdlib>
#include <memory>
#include <set>

#include <tinyxml.h>

#include "FuzzSupport.h"
#include "options/CmdLineInfo.h"
#include "fakes/FakeInternet.h"
#include "net/HttpWrapper.h"
#include "system/Settings.h"
#include "update/QuickCheck.h"
#include "util/Text.h"

using namespace brut;

namespace {

const std::u16string kWorker = fake::kWorkRoot + u"PhotoStudio 21\\BRUptideWorker.exe";

struct Expected {
    bool read = false;  // envelope and inner document readable by plain TinyXML
    bool serverError = false;
    std::u16string version, workerUrl, adViewerUrl;
    int32_t major = 0;
};

// strtol with the 32-bit clamp, as the reply's major version is documented to be read.
int32_t LeadingInt(const std::string& text) {
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

// Plain TinyXML reading of the same bytes, without the client's guards. Run only on
// replies the client read, which its guard found harmless.
Expected ReadPlainly(const std::string& body) {
    Expected e;
    TiXmlDocument envelope;
    envelope.Parse(body.c_str());
    if (envelope.Error() || !envelope.RootElement()) return e;
    const char* inner = envelope.RootElement()->GetText();
    if (!inner || !*inner) return e;
    TiXmlDocument reply;
    reply.Parse(inner);
    if (reply.Error() || !reply.RootElement()) return e;
    e.read = true;
    auto text = [&](const char* name, std::string& out) {
        const TiXmlElement* child = reply.RootElement()->FirstChildElement(name);
        const char* t = child ? child->GetText() : nullptr;
        if (t) out = t;
        return t != nullptr;
    };
    std::string t;
    if (text("ErrorMessage", t) && !t.empty()) e.serverError = true;
    if (text("UptideWorkerUrl", t)) e.workerUrl = FromLatin1(t);
    if (text("MaxUpdateableProductVersionExistingOnServer", t)) e.version = FromLatin1(t);
    if (text("MajorUpgradeProductVersion", t)) e.major = LeadingInt(t);
    if (text("AdViewerUrl", t)) e.adViewerUrl = FromLatin1(t);
    return e;
}

struct Setup {
    std::shared_ptr<ProgramInfo> info = std::make_shared<ProgramInfo>();
    CmdLineInfo cmd;
    bool cachedWorker = false;
    fake::Exchange exchange;
    QuickCheck check;
    Setup(uint8_t switches, const std::string& body) {
        info->ProgramName = u"PhotoStudio";
        info->DisplayName = u"PhotoStudio";
        info->ProgramVersionNumber = u"21.0";
        cmd.mIsQuickCheck = switches & 1;
        cmd.mIsWriteCheckResultToReg = (switches >> 1) & 1;
        cachedWorker = (switches >> 2) & 1;
        exchange.body = body;
        if (switches & 8) exchange.readChunk = 1;
        check.SetProgramInfo(info);
        check.mCmdLineInfo = &cmd;
    }
    void Place(fake::FakePlatform& fp) {
        if (!cachedWorker) return;
        fp.files.AddFile(kWorker, "MZ");
        fp.versions.SetSimple(kWorker, {{u"ProductVersion", u"3.1.0"}});
    }
};

// CheckForUpdate from the post on, the machine online.
int32_t Exchange(QuickCheck& check) {
    CHttpWrapper http;
    http.AddPostArgument(u"QuickCheckXML", u"%3cQuickCheck%2f%3e");
    std::u16string reply;
    if (http.PostUrl(u"https://uptide.brindle.example/Uptide/BRUTWebservice.asmx/QuickCheck", reply) != 0)
        return kResultServiceUnusable;
    std::string text;
    check.ExtractReplyText(reply, text, reply.size() + 1);
    if (text.empty()) return kResultServiceUnusable;
    if (check.LoadAndReadResponseXML(text) != kReplyRead) return kResultServiceUnusable;
    if (check.mReply.mIsServerError) return kResultServerError;
    return check.Decide();
}

// One input in 64; every input in the corpus regression run (BRUT_FUZZ_ALL set).
bool Sampled(const uint8_t* data, std::size_t size) {
    static const bool all = std::getenv("BRUT_FUZZ_ALL") != nullptr;
    return all || fuzz::OneIn(data, size, 64);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static fake::FakeInternet net;
    static fuzz::QuietMachine quiet(&net);

    fuzz::Input in(data, size);
    const uint8_t switches = in.Byte();
    const std::string body = in.RestBytes();
    auto what = [&] { return "switches " + std::to_string(switches) + ", body " + fuzz::Printable(body); };

    Setup s(switches, body);
    net.fallback = s.exchange;
    net.requests.clear();
    net.agents.clear();  // grew by one per input: memory crept and libFuzzer ran its leak scan every time
    if (s.cachedWorker) s.Place(quiet.fp);
    const int32_t code = Exchange(s.check);
    if (s.cachedWorker) quiet.fp.files.RemoveFile(kWorker);
    const ReplyRecord& r = s.check.mReply;

    // Only documented codes, and only those this mode can give.
    const std::set<int32_t> allowed = s.cmd.mIsQuickCheck ? std::set<int32_t>{1, 3, 4, 9, 12, 16}
                                                          : std::set<int32_t>{5, 6, 7, 9, 12};
    FUZZ_CHECK(allowed.count(code) == 1, "code " + std::to_string(code) + ", " + what());

    // The decision agrees with what was read.
    switch (code) {
    case 1: FUZZ_CHECK(r.mOfferedVersion.empty() && r.mOfferedMajorVersion == 0, what()); break;
    case 3: FUZZ_CHECK(!r.mOfferedVersion.empty() && r.mOfferedMajorVersion == 0, what()); break;
    case 4: FUZZ_CHECK(!r.mOfferedVersion.empty() && r.mOfferedMajorVersion != 0, what()); break;
    case 16: FUZZ_CHECK(r.mOfferedVersion.empty() && r.mOfferedMajorVersion != 0, what()); break;
    case 5: FUZZ_CHECK(!s.check.mWorkerUrl.empty(), what()); break;
    case 6: FUZZ_CHECK(s.check.mWorkerUrl.empty() && s.cachedWorker, what()); break;
    case 7: FUZZ_CHECK(s.check.mWorkerUrl.empty() && !s.cachedWorker, what()); break;
    case 12: FUZZ_CHECK(r.mIsServerError == 1, what()); break;
    default: break;
    }
    if (code != 12) FUZZ_CHECK(r.mIsServerError == 0, what());

    // A reply that could not be used leaves nothing behind that the dialog or the
    // hand-off might act on.
    if (code == 9) {
        FUZZ_CHECK(r.mOfferedVersion.empty() && r.mOfferedMajorVersion == 0 && s.check.mWorkerUrl.empty() &&
                       s.check.mAdViewerUrl.empty(),
                   what());
    }

    // What the client read is what plain TinyXML reads from the same bytes.
    if (code != 9) {
        const Expected e = ReadPlainly(body);
        FUZZ_CHECK(e.read, what());
        FUZZ_CHECK(e.serverError == (r.mIsServerError == 1), what());
        FUZZ_CHECK(e.version == r.mOfferedVersion, what() + ", version " + fuzz::Printable(r.mOfferedVersion));
        FUZZ_CHECK(e.major == r.mOfferedMajorVersion, what());
        FUZZ_CHECK(e.workerUrl == s.check.mWorkerUrl, what());
        FUZZ_CHECK(e.adViewerUrl == s.check.mAdViewerUrl, what());
    }

    if (!Sampled(data, size)) return 0;

    // The whole check on a fresh machine, log on: the same outcome, and exactly the
    // documented values stored.
    {
        // The quiet log is closed on its own machine; closed from the fresh one, its open
        // file stayed behind on the quiet machine, one per sampled input.
        ResetLogForTests();
        fake::FakeInternet fresh;
        fuzz::Machine m(&fresh);
        Setup full(switches, body);
        fresh.fallback = full.exchange;
        full.Place(m.fp);
        const int32_t fullCode = full.check.CheckForUpdate().mUpdateResult;
        FUZZ_CHECK(fullCode == code, "CheckForUpdate " + std::to_string(fullCode) + " against " +
                                         std::to_string(code) + ", " + what());
        FUZZ_CHECK(full.check.mReply.mOfferedVersion == r.mOfferedVersion &&
                       full.check.mReply.mOfferedMajorVersion == r.mOfferedMajorVersion &&
                       full.check.mWorkerUrl == s.check.mWorkerUrl && full.check.mAdViewerUrl == s.check.mAdViewerUrl,
                   what());

        // The check time is stored exactly when the service was unusable or reported an error.
        const bool stamped = m.fp.registry.HasValue(plat::Hive::LocalMachine, VersionKey(*full.info), u"LastUpdateCheck");
        FUZZ_CHECK(stamped == (code == 9 || code == 12), what());

        // The result for the calling product: the table's codes only, flag 1 for an update.
        const fake::RegValue* result =
            m.fp.registry.Value(plat::Hive::CurrentUser, ProductKey(*full.info), u"UpdateResult");
        const bool hasText = code == 3 || code == 4 || code == 7 || code == 9 || code == 12 || code == 16;
        FUZZ_CHECK((result != nullptr) == (full.cmd.mIsWriteCheckResultToReg && hasText), what());
        if (result) {
            FUZZ_CHECK(result->data.size() == 4, what());
            FUZZ_CHECK(result->data[0] == ((code == 3 || code == 4) ? 1 : 0), what());
        }
    }
    quiet.Use();
    return 0;
}
