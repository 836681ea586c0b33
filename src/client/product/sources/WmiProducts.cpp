// Discovery through WMI's Win32_Product: slow, the last source asked.
#include "product/sources/Sources.h"

#include <functional>
#include <memory>

#include "log/Log.h"
#include "system/Directories.h"
#include "util/Text.h"
#include "platform/Platform.h"

namespace brut {

namespace {

constexpr uint32_t kWmiNextTimeoutMs = 5000;

bool Failed(int32_t hr) { return hr < 0; }

// The leading YYYYMMDD of a WMI date-time ("yyyymmddHHMMSS.mmmmmmsUUU").
bool WmiDateToInstallDate(const std::u16string& wmiDate, std::u16string& date) {
    if (wmiDate.size() < 8) return false;
    for (std::size_t i = 0; i < 8; ++i)
        if (wmiDate[i] < u'0' || wmiDate[i] > u'9') return false;
    date = wmiDate.substr(0, 8);
    return true;
}

// Ends a WMI conversation: releases what it created and uninitialises COM.
class WmiConversation {
public:
    explicit WmiConversation(std::unique_ptr<plat::WmiSession> session) : mSession(std::move(session)) {}
    plat::WmiSession& operator*() { return *mSession; }
    plat::WmiSession* operator->() { return mSession.get(); }
    void End() {
        mSession->ReleaseAll();
        mSession->CoUninitialize();
    }

private:
    std::unique_ptr<plat::WmiSession> mSession;
};

enum class ObjectOutcome { Matched, Abandoned, Failed };

// One property of a matched product as text.
ObjectOutcome GetWmiText(plat::WmiObject& object, const char16_t* name, std::u16string& text) {
    plat::WmiValue value;
    const int32_t hr = object.Get(name, value);
    if (Failed(hr)) {
        LogError(u"Get '%s' failed and returned: %d", name, hr);
        return ObjectOutcome::Failed;
    }
    if (!value.isString) return ObjectOutcome::Abandoned;
    text = value.text;
    return ObjectOutcome::Matched;
}

// Copies the fields of a matched product in their fixed order; a property that
// is not text abandons the object with the fields copied so far.
ObjectOutcome ReadWmiProductFields(plat::WmiObject& object, ProgramInfo& record) {
    struct Field {
        const char16_t* name;
        std::function<void(const std::u16string&)> store;
    };
    const Field fields[] = {
        {u"IdentifyingNumber", [&](const std::u16string& v) { record.ProductCode = v; }},
        {u"InstallLocation", [&](const std::u16string& v) { record.InstallLocation = v; }},
        {u"Name", [&](const std::u16string& v) { record.ProgramName = record.DisplayName = v; }},
        {u"Version", [&](const std::u16string& v) { record.ProgramVersionNumber = v; }},
        {u"InstallDate2",
         [&](const std::u16string& v) {
             std::u16string date;
             if (WmiDateToInstallDate(v, date)) record.ProgramInstallDate = date;
         }},
        {u"Language", [&](const std::u16string& v) { record.ProgramLanguage = ParseNumberTruncated(v); }},
    };
    for (const Field& field : fields) {
        std::u16string text;
        const ObjectOutcome outcome = GetWmiText(object, field.name, text);
        if (outcome != ObjectOutcome::Matched) return outcome;
        field.store(text);
    }
    return ObjectOutcome::Matched;
}

}  // namespace

int ReadFromWin32_Products(ProgramInfo& record) {
    record.InstallLocation = WithTrailingBackslash(record.InstallLocation);
    plat::Wmi* wmi = plat::Get().wmi;
    if (!wmi) return 0;
    std::unique_ptr<plat::WmiSession> session = wmi->NewSession();
    if (!session) return 0;
    WmiConversation com(std::move(session));

    if (const int32_t hr = com->CoInitializeMultithreaded(); Failed(hr)) {
        LogError(u"Failed to initialize COM library. %s", GetErrorText(static_cast<uint32_t>(hr)));
        return 0;
    }
    // COM security can be set once per process; a second discovery in the same
    // process finds it set already, which is no reason to give up.
    if (const int32_t hr = com->InitializeSecurity(); Failed(hr) && hr != plat::kRpcETooLate) {
        LogError(u"Failed to initialize security. %s", GetErrorText(static_cast<uint32_t>(hr)));
        com->CoUninitialize();
        return 0;
    }
    if (const int32_t hr = com->CreateLocator(); Failed(hr)) {
        LogError(u"Failed to create IWbemLocator object. %s", GetErrorText(static_cast<uint32_t>(hr)));
        com->CoUninitialize();
        return 0;
    }
    if (const int32_t hr = com->ConnectServer(u"ROOT\\CIMV2"); Failed(hr)) {
        LogError(u"Could not connect. %s", GetErrorText(static_cast<uint32_t>(hr)));
        com.End();
        return 0;
    }
    LogInfo(u"Connected to ROOT\\CIMV2 WMI namespace");
    if (const int32_t hr = com->SetProxyBlanket(); Failed(hr)) {
        LogError(u"Could not set proxy blanket. %s", GetErrorText(static_cast<uint32_t>(hr)));
        com.End();
        return 0;
    }
    if (const int32_t hr = com->ExecQuery(u"WQL", u"SELECT * FROM Win32_Product"); Failed(hr)) {
        LogError(u"Query for product failed. %s", GetErrorText(static_cast<uint32_t>(hr)));
        com.End();
        return 0;
    }

    for (;;) {
        std::unique_ptr<plat::WmiObject> object;
        const int32_t hr = com->Next(kWmiNextTimeoutMs, object);
        if (hr != plat::kSOk) LogError(u"pEnumerator->Next() failed and returned: %d", hr);
        if (!object) {
            com.End();
            return 0;
        }

        plat::WmiValue value;
        bool match = false;
        if (!record.InstallLocation.empty()) {
            const int32_t rc = object->Get(u"InstallLocation", value);
            if (Failed(rc)) {
                LogError(u"Get 'INSTALLPROPERTY_INSTALLLOCATION' failed and returned: %d", rc);
                continue;
            }
            match = value.isString && !value.text.empty() &&
                    WithTrailingBackslash(value.text) == record.InstallLocation;
        } else {
            if (record.ProgramName.empty()) {
                object.reset();
                com.End();
                return 0;
            }
            const int32_t rc = object->Get(u"Name", value);
            if (Failed(rc)) {
                LogError(u"MsiGetProductInfo 'Name' failed and returned: %d", rc);
                continue;
            }
            match = value.isString && value.text == record.ProgramName;
        }
        if (!match) continue;

        LogInfo(u"Find product guid");
        const ObjectOutcome outcome = ReadWmiProductFields(*object, record);
        if (outcome == ObjectOutcome::Abandoned) continue;
        // The object is a COM object too: release it while COM is still initialised.
        object.reset();
        com.End();
        return outcome == ObjectOutcome::Matched ? 1 : 0;
    }
}

}  // namespace brut
