#pragma once
// Windows Installer database and the WMI product list.
#include <cstdint>
#include <memory>
#include <string>

namespace plat {

class Installer {
public:
    virtual ~Installer() = default;
    // MsiEnumProductsW: 0 with the product code, kErrNoMoreItems past the end, or an error.
    virtual uint32_t EnumProducts(uint32_t index, std::u16string& productCode) = 0;
    // MsiGetProductInfoW with a capacity in characters: 0 with the value, kErrMoreData
    // when it does not fit, or another error number.
    virtual uint32_t GetProductInfo(const std::u16string& productCode, const std::u16string& property,
                                    uint32_t capacity, std::u16string& value) = 0;
};

// A property read through IWbemClassObject::Get.
struct WmiValue {
    bool isString = false;
    std::u16string text;
};

class WmiObject {
public:
    virtual ~WmiObject() = default;
    virtual int32_t Get(const std::u16string& name, WmiValue& value) = 0;  // HRESULT
};

// One COM/WMI conversation on the calling thread; the steps mirror the COM calls
// and return their HRESULTs. Destruction releases whatever the steps created.
class WmiSession {
public:
    virtual ~WmiSession() = default;
    virtual int32_t CoInitializeMultithreaded() = 0;
    virtual void CoUninitialize() = 0;
    virtual int32_t InitializeSecurity() = 0;
    virtual int32_t CreateLocator() = 0;
    virtual int32_t ConnectServer(const std::u16string& ns) = 0;
    virtual int32_t SetProxyBlanket() = 0;
    virtual int32_t ExecQuery(const std::u16string& language, const std::u16string& query) = 0;
    // IEnumWbemClassObject::Next for one object; `object` is null when none came back.
    virtual int32_t Next(uint32_t timeoutMs, std::unique_ptr<WmiObject>& object) = 0;
    virtual void ReleaseAll() = 0;
};

class Wmi {
public:
    virtual ~Wmi() = default;
    virtual std::unique_ptr<WmiSession> NewSession() = 0;
};

}  // namespace plat
