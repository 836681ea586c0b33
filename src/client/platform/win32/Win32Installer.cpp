#include "platform/win32/Win32Platform.h"

#include <oleauto.h>
#include <wbemidl.h>

#include "platform/win32/Win32Libraries.h"

namespace plat::win32 {

namespace {

// msi.dll costs a noticeable share of every start and only the installer-database
// source needs it; it is no protected system DLL either: from the system directory,
// on first use.
constexpr wchar_t kMsi[] = L"msi.dll";

struct MsiApi {
    using EnumProducts = UINT(WINAPI*)(DWORD, LPWSTR);
    using GetProductInfo = UINT(WINAPI*)(LPCWSTR, LPCWSTR, LPWSTR, LPDWORD);
    SystemProc<EnumProducts> enumProducts{kMsi, "MsiEnumProductsW"};
    SystemProc<GetProductInfo> getProductInfo{kMsi, "MsiGetProductInfoW"};
};

const MsiApi& Msi() {
    static const MsiApi api;
    return api;
}

}  // namespace

uint32_t Win32Installer::EnumProducts(uint32_t index, std::u16string& productCode) {
    productCode.clear();
    wchar_t code[39 + 1] = {};  // a GUID in braces and the terminating zero
    // The msi functions report through their result, not the last error.
    const auto& enumProducts = Msi().enumProducts;
    UINT rc = enumProducts.Call(enumProducts.Error(), index, code);
    if (rc == ERROR_SUCCESS) productCode = U16(code);
    return rc;
}

uint32_t Win32Installer::GetProductInfo(const std::u16string& productCode, const std::u16string& property,
                                        uint32_t capacity, std::u16string& value) {
    value.clear();
    std::wstring buf(capacity ? capacity : 1, L'\0');
    DWORD len = capacity;
    const auto& getProductInfo = Msi().getProductInfo;
    UINT rc = getProductInfo.Call(getProductInfo.Error(), W(productCode), W(property), &buf[0], &len);
    if (rc == ERROR_SUCCESS) value = U16(buf.c_str(), len < buf.size() ? len : wcsnlen(buf.c_str(), buf.size()));
    return rc;
}

namespace {

// Owns one BSTR for a call.
class Bstr {
public:
    explicit Bstr(const std::u16string& s) : mStr(late::SysAllocStringLen(W(s), static_cast<UINT>(s.size()))) {}
    ~Bstr() { late::SysFreeString(mStr); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    operator BSTR() const { return mStr; }

private:
    BSTR mStr;
};

template <class T>
void Release(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

class Win32WmiObject : public WmiObject {
public:
    explicit Win32WmiObject(IWbemClassObject* object) : mObject(object) {}
    ~Win32WmiObject() override { Release(mObject); }

    int32_t Get(const std::u16string& name, WmiValue& value) override {
        value = WmiValue{};
        VARIANT v;
        late::VariantInit(&v);
        HRESULT hr = mObject->Get(W(name), 0, &v, nullptr, nullptr);
        if (SUCCEEDED(hr) && v.vt == VT_BSTR) {
            value.isString = true;
            value.text = v.bstrVal ? U16(v.bstrVal, late::SysStringLen(v.bstrVal)) : std::u16string();
        }
        late::VariantClear(&v);
        return hr;
    }

private:
    IWbemClassObject* mObject;
};

class Win32WmiSession final : public WmiSession {
public:
    ~Win32WmiSession() override { ReleaseAll(); }

    int32_t CoInitializeMultithreaded() override { return late::CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    void CoUninitialize() override { late::CoUninitialize(); }

    int32_t InitializeSecurity() override {
        return late::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                      RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    }

    int32_t CreateLocator() override {
        Release(mLocator);
        return late::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                  reinterpret_cast<void**>(&mLocator));
    }

    int32_t ConnectServer(const std::u16string& ns) override {
        if (!mLocator) return E_POINTER;
        Release(mServices);
        Bstr name(ns);
        return mLocator->ConnectServer(name, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &mServices);
    }

    int32_t SetProxyBlanket() override {
        if (!mServices) return E_POINTER;
        return late::CoSetProxyBlanket(mServices, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                                   RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    }

    int32_t ExecQuery(const std::u16string& language, const std::u16string& query) override {
        if (!mServices) return E_POINTER;
        Release(mEnum);
        Bstr lang(language), text(query);
        return mServices->ExecQuery(lang, text, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                    &mEnum);
    }

    int32_t Next(uint32_t timeoutMs, std::unique_ptr<WmiObject>& object) override {
        object.reset();
        if (!mEnum) return E_POINTER;
        IWbemClassObject* obj = nullptr;
        ULONG returned = 0;
        HRESULT hr = mEnum->Next(static_cast<LONG>(timeoutMs), 1, &obj, &returned);
        if (returned && obj)
            object = std::make_unique<Win32WmiObject>(obj);
        else
            Release(obj);
        return hr;
    }

    void ReleaseAll() override {
        Release(mEnum);
        Release(mServices);
        Release(mLocator);
    }

private:
    IWbemLocator* mLocator = nullptr;
    IWbemServices* mServices = nullptr;
    IEnumWbemClassObject* mEnum = nullptr;
};

}  // namespace

std::unique_ptr<WmiSession> Win32Wmi::NewSession() { return std::make_unique<Win32WmiSession>(); }

}  // namespace plat::win32
