#include "platform/win32/Win32Platform.h"

#include "platform/win32/Win32Libraries.h"

namespace plat::win32 {

namespace {

// version.dll is no protected system DLL: from the system directory, on first use.
constexpr wchar_t kVersion[] = L"version.dll";

struct VersionApi {
    using InfoSize = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
    using Info = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
    using QueryValue = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);

    SystemProc<InfoSize> infoSize{kVersion, "GetFileVersionInfoSizeW"};
    SystemProc<Info> info{kVersion, "GetFileVersionInfoW"};
    SystemProc<QueryValue> queryValue{kVersion, "VerQueryValueW"};
};

const VersionApi& Version() {
    static const VersionApi api;
    return api;
}

class Win32VersionBlock : public VersionBlock {
public:
    explicit Win32VersionBlock(std::vector<uint8_t> data) : mData(std::move(data)) {}

    std::vector<std::pair<uint16_t, uint16_t>> Translations() override {
        std::vector<std::pair<uint16_t, uint16_t>> pairs;
        void* p = nullptr;
        UINT len = 0;
        if (!Version().queryValue.Call(FALSE, mData.data(), L"\\VarFileInfo\\Translation", &p, &len) || !p)
            return pairs;
        const auto* words = static_cast<const WORD*>(p);
        for (UINT i = 0; i + 1 < len / sizeof(WORD); i += 2) pairs.emplace_back(words[i], words[i + 1]);
        return pairs;
    }

    bool QueryString(const std::u16string& key, std::u16string& value) override {
        void* p = nullptr;
        UINT len = 0;
        if (!Version().queryValue.Call(FALSE, mData.data(), W(key), &p, &len) || !p) return false;
        // len counts characters and may include the terminating zero.
        const auto* text = static_cast<const wchar_t*>(p);
        std::size_t n = 0;
        while (n < len && text[n]) ++n;
        value = U16(text, n);
        return true;
    }

private:
    std::vector<uint8_t> mData;
};

}  // namespace

std::unique_ptr<VersionBlock> Win32VersionInfo::Load(const std::u16string& path) {
    DWORD ignored = 0;
    const VersionApi& version = Version();
    DWORD size = version.infoSize.Call(0, W(path), &ignored);
    if (size == 0) return nullptr;
    std::vector<uint8_t> data(size);
    if (!version.info.Call(FALSE, W(path), 0, size, data.data())) return nullptr;
    return std::make_unique<Win32VersionBlock>(std::move(data));
}

}  // namespace plat::win32
