#pragma once
// In-memory installer database and WMI product list with failure injection.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace fake {

constexpr uint32_t kErrUnknownProduct = 1605;

struct MsiProduct {
    std::u16string code;
    std::map<std::u16string, std::u16string> properties;
    std::map<std::u16string, uint32_t> errors;  // property -> error number answered instead
};

// MsiEnumProducts / MsiGetProductInfo semantics: a value must fit with its
// terminator into the capacity, else kErrMoreData.
class FakeInstaller : public plat::Installer {
public:
    uint32_t EnumProducts(uint32_t index, std::u16string& productCode) override;
    uint32_t GetProductInfo(const std::u16string& productCode, const std::u16string& property, uint32_t capacity,
                            std::u16string& value) override;

    void Add(const std::u16string& code, std::map<std::u16string, std::u16string> properties);

    std::vector<MsiProduct> products;
    std::map<uint32_t, uint32_t> enumErrors;  // index -> error number answered instead
    int enumCalls = 0;
    struct InfoCall { std::u16string code, property; uint32_t capacity; };
    std::vector<InfoCall> infoCalls;
};

struct WmiObjectData {
    std::map<std::u16string, plat::WmiValue> properties;  // missing -> Get fails (WBEM_E_NOT_FOUND)
    std::map<std::u16string, int32_t> errors;             // property -> HRESULT answered instead
    static WmiObjectData Strings(const std::map<std::u16string, std::u16string>& values);
};

constexpr int32_t kWbemENotFound = static_cast<int32_t>(0x80041002);

// One COM/WMI conversation per session; the answers of every step can be set.
// COM security can be initialised once per process: a second session gets
// RPC_E_TOO_LATE, as the platform answers.
class FakeWmi : public plat::Wmi {
public:
    std::unique_ptr<plat::WmiSession> NewSession() override;

    int32_t coInitialize = plat::kSOk;
    int32_t security = plat::kSOk;  // answered instead of the once-per-process rule when not S_OK
    int32_t locator = plat::kSOk;
    int32_t connect = plat::kSOk;
    int32_t blanket = plat::kSOk;
    int32_t query = plat::kSOk;
    std::vector<WmiObjectData> objects;
    // Next past the last object: this answer without an object.
    int32_t endAnswer = plat::kSFalse;
    // Next call number -> answer given without an object (for example a time-out).
    std::map<int, int32_t> nextWithoutObject;

    bool securityInitialised = false;
    std::vector<std::u16string> steps;  // every step of every session, in order
    std::vector<uint32_t> nextTimeouts;
    std::u16string connectedNamespace, queryLanguage, queryText;
    int nextCalls = 0;
    int initialisedComs = 0;  // CoInitialize successes minus CoUninitialize calls
    int releases = 0;
    int objectsReleasedAfterUninitialize = 0;  // a COM object outliving COM on its thread
    std::vector<std::u16string> gets;  // "object#:property"
};

}  // namespace fake
