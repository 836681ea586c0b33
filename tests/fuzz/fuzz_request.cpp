// The request document from fuzzed product fields and machine values: always well-formed,
// the documented elements in order, and every value read back by TinyXML as its
// documented single-byte form (MakePlainName above U+00FF, cut at 260 bytes, and, as a
// zero-terminated field, at a zero; white space alone reads back empty with TinyXML).
//
// Input: switches (bit 0 QuickCheck, bit 1 cached worker, bit 2 machine GUID), the
// language and the OS product type (four bytes each), then UTF-16 texts separated by
// U+FFFF: name, version, install date, affiliate id, machine GUID, worker version.
#include <string>

#include <tinyxml.h>

#include "FuzzSupport.h"
#include "system/SystemFacts.h"
#include "update/RequestDocument.h"
#include "util/Text.h"

using namespace brut;

namespace {

bool Plain(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'.' || c == u' ';
}

// The documented single-byte form of a value.
std::string SingleBytes(const std::u16string& value) {
    bool below256 = true;
    for (char16_t c : value) below256 = below256 && c < 256;
    std::string out;
    for (char16_t c : value) {
        if (below256 || Plain(c)) {
            out += static_cast<char>(c);
        } else if (c >= 256) {
            out += '~' + std::to_string(c / 255) + static_cast<char>('A' + c % 26);
        }
    }
    out = out.substr(0, 260);
    out = out.substr(0, out.find('\0'));
    // TinyXML drops a text node that is only white space: such a value reads back empty
    // (the service's parser keeps it).
    return out.find_first_not_of(" \t\n\v\f\r") == std::string::npos ? std::string() : out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static fuzz::QuietMachine quiet;
    static const bool keepBlanks = [] {
        TiXmlBase::SetCondenseWhiteSpace(false);  // read values back exactly, as the service does
        return true;
    }();
    (void)keepBlanks;
    struct Clean {
        ~Clean() { quiet.Clean(); }  // working directories and the GUID go with the input
    } clean;
    quiet.fp.files.AddDirectory(fake::kTempDir);

    fuzz::Input in(data, size);
    const uint8_t switches = in.Byte();
    const bool isQuickCheck = switches & 1, hasWorker = switches & 2, hasGuid = switches & 4;
    ProgramInfo info;
    info.ProgramLanguage = static_cast<int32_t>(in.U32());
    quiet.fp.system.osVersion.productType = static_cast<uint8_t>(in.U32());
    info.ProgramName = in.UnitsUntil(0xFFFF);
    info.DisplayName = info.ProgramName;
    info.ProgramVersionNumber = in.UnitsUntil(0xFFFF);
    info.ProgramInstallDate = in.UnitsUntil(0xFFFF);
    info.AffiliateId = in.UnitsUntil(0xFFFF);
    const std::u16string guid = in.UnitsUntil(0xFFFF);
    const std::u16string workerVersion = in.UnitsUntil(0xFFFF);

    const std::u16string guidKey = u"SOFTWARE\\Microsoft\\Cryptography";
    if (hasGuid) quiet.fp.registry.SetText(plat::Hive::LocalMachine, guidKey, u"MachineGuid", guid);
    std::u16string workDir, worker;
    if (hasWorker && GetWorkingDirectory(info, workDir, true)) {
        worker = workDir + u"BRUptideWorker.exe";
        quiet.fp.files.AddFile(worker, "MZ");
        quiet.fp.versions.SetSimple(worker, {{u"ProductVersion", workerVersion}});
    }

    int error = 5;
    std::unique_ptr<TiXmlDocument> built = BuildQuickCheckXml(&error, info, isQuickCheck);
    const std::string xml = built ? SerializeXml(*built) : std::string();

    quiet.fp.versions.blocks.clear();
    auto what = [&] { return "document " + fuzz::Printable(xml); };

    FUZZ_CHECK(built != nullptr && error == 0, what());
    TiXmlDocument back;
    back.Parse(xml.c_str());
    FUZZ_CHECK(!back.Error(), what() + ", " + back.ErrorDesc());
    const TiXmlElement* root = back.RootElement();
    FUZZ_CHECK(root && std::string(root->Value()) == "QuickCheck", what());

    const uint32_t type = quiet.fp.system.osVersion.productType;
    std::vector<std::pair<std::string, std::string>> expected = {
        {"Version", "9.0.8"},
        {"MAC", ""},
        // A version string ends at its first zero and is trimmed.
        {"UptideWorkerVersion", worker.empty() ? "" : SingleBytes(Trim(workerVersion.substr(0, workerVersion.find(u'\0'))))},
        {"OsVersion", "10.0"},
        {"OsProductType", type == 1 ? "WorkStation" : type == 2 ? "DomainController" : "Server"},
        {"OsLanguage", "1033"},
        {"OsArchitecture", "32"},
        // A registry text ends at its first zero.
        {"MachineGuid", hasGuid ? SingleBytes(guid.substr(0, guid.find(u'\0'))) : ""},
    };
    if (isQuickCheck) {
        expected.push_back({"ProgramName", SingleBytes(info.ProgramName)});
        expected.push_back({"ProgramVersionNumber", SingleBytes(info.ProgramVersionNumber)});
        expected.push_back({"ProgramLanguage", std::to_string(info.ProgramLanguage)});
        expected.push_back({"ProgramInstallDate", SingleBytes(info.ProgramInstallDate)});
        expected.push_back({"AffiliateId", SingleBytes(info.AffiliateId)});
    }
    const TiXmlNode* child = root->FirstChild();
    for (const auto& e : expected) {
        FUZZ_CHECK(child && child->ToElement() && e.first == child->Value(), what() + ", expected " + e.first);
        const TiXmlNode* textNode = child->FirstChild();
        FUZZ_CHECK(!textNode || (textNode->ToText() && !textNode->NextSibling()), what() + ", in " + e.first);
        const char* text = child->ToElement()->GetText();
        FUZZ_CHECK((text ? std::string(text) : std::string()) == e.second,
                   what() + ", " + e.first + " should read " + fuzz::Printable(e.second));
        child = child->NextSibling();
    }
    FUZZ_CHECK(child == nullptr, what());
    return 0;
}
