#include "fakes/FakeInstaller.h"

#include "util/Text.h"

namespace fake {

uint32_t FakeInstaller::EnumProducts(uint32_t index, std::u16string& productCode) {
    ++enumCalls;
    auto err = enumErrors.find(index);
    if (err != enumErrors.end()) return err->second;
    if (index >= products.size()) return plat::kErrNoMoreItems;
    productCode = products[index].code;
    return plat::kErrSuccess;
}

uint32_t FakeInstaller::GetProductInfo(const std::u16string& productCode, const std::u16string& property,
                                       uint32_t capacity, std::u16string& value) {
    infoCalls.push_back({productCode, property, capacity});
    for (const MsiProduct& p : products) {
        if (p.code != productCode) continue;
        auto err = p.errors.find(property);
        if (err != p.errors.end()) return err->second;
        auto v = p.properties.find(property);
        if (v == p.properties.end()) return plat::kErrUnknownProperty;
        if (v->second.size() + 1 > capacity) return plat::kErrMoreData;
        value = v->second;
        return plat::kErrSuccess;
    }
    return kErrUnknownProduct;
}

void FakeInstaller::Add(const std::u16string& code, std::map<std::u16string, std::u16string> properties) {
    products.push_back(MsiProduct{code, std::move(properties), {}});
}

WmiObjectData WmiObjectData::Strings(const std::map<std::u16string, std::u16string>& values) {
    WmiObjectData d;
    for (const auto& v : values) d.properties[v.first] = plat::WmiValue{true, v.second};
    return d;
}

namespace {

class Object : public plat::WmiObject {
public:
    Object(FakeWmi& wmi, const WmiObjectData& data, int number) : mWmi(wmi), mData(data), mNumber(number) {}
    ~Object() override {
        if (mWmi.initialisedComs <= 0) ++mWmi.objectsReleasedAfterUninitialize;
    }
    int32_t Get(const std::u16string& name, plat::WmiValue& value) override {
        mWmi.gets.push_back(brut::Format(u"%d:%s", mNumber, name));
        auto err = mData.errors.find(name);
        if (err != mData.errors.end()) return err->second;
        auto v = mData.properties.find(name);
        if (v == mData.properties.end()) return kWbemENotFound;
        value = v->second;
        return plat::kSOk;
    }

private:
    FakeWmi& mWmi;
    WmiObjectData mData;
    int mNumber;
};

class Session : public plat::WmiSession {
public:
    explicit Session(FakeWmi& wmi) : mWmi(wmi) {}
    int32_t CoInitializeMultithreaded() override {
        mWmi.steps.push_back(u"CoInitializeEx");
        if (mWmi.coInitialize >= 0) ++mWmi.initialisedComs;
        return mWmi.coInitialize;
    }
    void CoUninitialize() override {
        mWmi.steps.push_back(u"CoUninitialize");
        --mWmi.initialisedComs;
    }
    int32_t InitializeSecurity() override {
        mWmi.steps.push_back(u"CoInitializeSecurity");
        if (mWmi.security != plat::kSOk) return mWmi.security;
        if (mWmi.securityInitialised) return plat::kRpcETooLate;
        mWmi.securityInitialised = true;
        return plat::kSOk;
    }
    int32_t CreateLocator() override {
        mWmi.steps.push_back(u"CoCreateInstance");
        return mWmi.locator;
    }
    int32_t ConnectServer(const std::u16string& ns) override {
        mWmi.steps.push_back(u"ConnectServer");
        mWmi.connectedNamespace = ns;
        return mWmi.connect;
    }
    int32_t SetProxyBlanket() override {
        mWmi.steps.push_back(u"CoSetProxyBlanket");
        return mWmi.blanket;
    }
    int32_t ExecQuery(const std::u16string& language, const std::u16string& query) override {
        mWmi.steps.push_back(u"ExecQuery");
        mWmi.queryLanguage = language;
        mWmi.queryText = query;
        return mWmi.query;
    }
    int32_t Next(uint32_t timeoutMs, std::unique_ptr<plat::WmiObject>& object) override {
        object.reset();
        const int call = mWmi.nextCalls++;
        mWmi.nextTimeouts.push_back(timeoutMs);
        auto stall = mWmi.nextWithoutObject.find(call);
        if (stall != mWmi.nextWithoutObject.end()) return stall->second;
        if (mNext >= mWmi.objects.size()) return mWmi.endAnswer;
        object = std::make_unique<Object>(mWmi, mWmi.objects[mNext], static_cast<int>(mNext));
        ++mNext;
        return plat::kSOk;
    }
    void ReleaseAll() override {
        mWmi.steps.push_back(u"Release");
        ++mWmi.releases;
    }

private:
    FakeWmi& mWmi;
    std::size_t mNext = 0;
};

}  // namespace

std::unique_ptr<plat::WmiSession> FakeWmi::NewSession() { return std::make_unique<Session>(*this); }

}  // namespace fake
