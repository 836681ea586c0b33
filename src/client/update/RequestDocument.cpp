#include "update/RequestDocument.h"

#include <new>

#include "log/Log.h"
#include "system/SystemFacts.h"
#include "util/Text.h"
#include "platform/Platform.h"
#include "Version.h"

namespace brut {


std::string ToXmlText(const std::u16string& value, bool* wasCut) {
    bool singleBytes = true;
    for (char16_t c : value)
        if (c >= 256) {
            singleBytes = false;
            break;
        }
    std::string text = ToLatin1(singleBytes ? value : MakePlainName(value));
    const std::size_t limit = kXmlTextFieldSize - 1;
    bool cut = text.size() > limit;
    if (cut) text.resize(limit);
    if (wasCut) *wasCut = cut;
    return text;
}

TiXmlElement* AddTextElement(TiXmlNode& parent, const char* name, const std::string& text) {
    TiXmlElement* element = AddEmptyElement(parent, name);
    element->LinkEndChild(new TiXmlText(text.c_str()));
    return element;
}

TiXmlElement* AddEmptyElement(TiXmlNode& parent, const char* name) {
    TiXmlElement* element = new TiXmlElement(name);
    parent.LinkEndChild(element);
    return element;
}

std::string AddValueElement(TiXmlNode& parent, const char* name, const std::u16string& value) {
    bool cut = false;
    std::string text = ToXmlText(value, &cut);
    if (cut)
        LogWarning(u"Value of %s longer than %d bytes: cut", FromLatin1(name), static_cast<int>(kXmlTextFieldSize - 1));
    AddTextElement(parent, name, text);
    return text;
}

void AddVersionElement(TiXmlNode& root) {
    std::string text = AddValueElement(root, "Version", std::u16string(kClientVersion));
    LogInfo(u"Version: %s", FromLatin1(text));
}

namespace {

// The element holds the value when it was found and stays empty otherwise;
// the log shows the stored single-byte text or the miss.
void AddFoundValue(TiXmlNode& root, const char* name, bool found, const std::u16string& value,
                   const char16_t* foundFormat, const char16_t* missLine, bool missIsError) {
    if (found) {
        std::string text = AddValueElement(root, name, value);
        LogInfo(foundFormat, FromLatin1(text));
    } else {
        AddEmptyElement(root, name);
        if (missIsError) LogError(missLine);
        else LogInfo(missLine);
    }
}

}  // namespace

void AddMacElement(TiXmlNode& root) {
    std::u16string mac;
    bool found = GetMacAddress(mac) != 0;
    AddFoundValue(root, "MAC", found, mac, u"Mac: %s", u"Mac konnte nicht ermittelt werden.", true);
}

void AddMachineGuidElement(TiXmlNode& root) {
    std::u16string guid;
    bool found = GetMachineGuid(guid) != 0;
    AddFoundValue(root, "MachineGuid", found, guid, u"MachineGuid: %s", u"MachineGuid not found", false);
}

std::string SerializeXml(const TiXmlDocument& document) {
    TiXmlPrinter printer;
    document.Accept(&printer);
    return std::string(printer.CStr(), printer.Size());
}

namespace {

void AddWorkerVersionElement(TiXmlNode& root, const ProgramInfo& info) {
    std::u16string version;
    bool found = GetWorkerVersion(info, version) != 0;
    AddFoundValue(root, "UptideWorkerVersion", found, version, u"UptideWorkerVersion: %s", u"UptideWorker not found",
                  false);
}

void AddOsElements(TiXmlNode& root) {
    plat::OsVersionRecord os;
    GetOsVersion(os);  // a failure leaves the record zeroed: "0.0"
    AddTextElement(root, "OsVersion", ToLatin1(Format(u"%d.%d", os.majorVersion, os.minorVersion)));
    LogInfo(u"Os Verison: %d.%d", os.majorVersion, os.minorVersion);

    const char* type = os.productType == 1 ? "WorkStation" : os.productType == 2 ? "DomainController" : "Server";
    AddTextElement(root, "OsProductType", type);
    if (os.productType == 1) LogInfo(u"Os Type: WorkStation");
    else if (os.productType == 2) LogInfo(u"Os Type: DomainController");
    else LogInfo(u"Os Type: Server");

    uint32_t lcid = plat::Sys().DefaultLcid();
    AddTextElement(root, "OsLanguage", ToLatin1(Format(u"%d", lcid)));
    LogInfo(u"Os Language: %d", lcid);

    bool wow64 = false;
    if (plat::Sys().IsWow64Process(wow64) && wow64) {
        AddTextElement(root, "OsArchitecture", "64");
        LogInfo(u"Os Architexture: x64");
    } else {
        AddTextElement(root, "OsArchitecture", "32");
        LogInfo(u"Os Architexture: x32");
    }
}

void AddProductElements(TiXmlNode& root, const ProgramInfo& info) {
    AddValueElement(root, "ProgramName", info.ProgramName);
    LogInfo(u"ProgramName: %s", info.ProgramName);
    AddValueElement(root, "ProgramVersionNumber", info.ProgramVersionNumber);
    LogInfo(u"ProgramVersionNumber: %s", info.ProgramVersionNumber);
    AddTextElement(root, "ProgramLanguage", ToLatin1(Format(u"%d", info.ProgramLanguage)));
    LogInfo(u"ProgramLanguage: %d", info.ProgramLanguage);
    AddValueElement(root, "ProgramInstallDate", info.ProgramInstallDate);
    LogInfo(u"ProgramInstallDate: %s", info.ProgramInstallDate);
    AddValueElement(root, "AffiliateId", info.AffiliateId);
    LogInfo(u"AffiliateId: %s", info.AffiliateId);
}

}  // namespace

std::unique_ptr<TiXmlDocument> BuildQuickCheckXml(int* error, const ProgramInfo& info, bool isQuickCheck) {
    if (error) *error = 0;
    LogInfo(u"start to build QuickCheck.xml");
    try {
        auto document = std::make_unique<TiXmlDocument>();
        TiXmlElement* root = AddEmptyElement(*document, "QuickCheck");
        AddVersionElement(*root);
        AddMacElement(*root);
        AddWorkerVersionElement(*root, info);
        AddOsElements(*root);
        AddMachineGuidElement(*root);
        if (isQuickCheck) AddProductElements(*root, info);
        LogInfo(u"QuickCheck.xml fertig");
        return document;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace brut
