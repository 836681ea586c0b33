// Authenticode through wintrust and crypt32, both loaded from the system directory.
#include "platform/win32/Win32Platform.h"

#include <wincrypt.h>
#include <wintrust.h>

#include "platform/win32/Win32Libraries.h"

namespace plat::win32 {

namespace {

// WINTRUST_ACTION_GENERIC_VERIFY_V2, written out: the header's DEFINE_GUID needs a GUID library.
GUID GenericVerifyV2() { return {0x00aac56b, 0xcd44, 0x11d0, {0x8c, 0xc2, 0x00, 0xc0, 0x4f, 0xc2, 0x95, 0xee}}; }

using VerifyTrustFn = LONG(WINAPI*)(HWND, GUID*, LPVOID);
using ProvDataFn = CRYPT_PROVIDER_DATA*(WINAPI*)(HANDLE);
using ProvSignerFn = CRYPT_PROVIDER_SGNR*(WINAPI*)(CRYPT_PROVIDER_DATA*, DWORD, BOOL, DWORD);
using NameToStrFn = DWORD(WINAPI*)(DWORD, PCERT_NAME_BLOB, DWORD, LPWSTR, DWORD);

struct TrustApi {
    VerifyTrustFn verify = SystemFunction<VerifyTrustFn>(L"wintrust.dll", "WinVerifyTrust");
    ProvDataFn provData = SystemFunction<ProvDataFn>(L"wintrust.dll", "WTHelperProvDataFromStateData");
    ProvSignerFn provSigner = SystemFunction<ProvSignerFn>(L"wintrust.dll", "WTHelperGetProvSignerFromChain");
    NameToStrFn nameToStr = SystemFunction<NameToStrFn>(L"crypt32.dll", "CertNameToStrW");
};

const TrustApi& Api() {
    static const TrustApi api;
    return api;
}

// One WinVerifyTrust request for a file, never asking anyone over the network.
WINTRUST_DATA Request(WINTRUST_FILE_INFO& file, DWORD revocationChecks, DWORD stateAction, DWORD providerFlags) {
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = revocationChecks;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = stateAction;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL | providerFlags;
    return data;
}

struct Held {
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE folder = INVALID_HANDLE_VALUE;
};

bool IsReparsePoint(HANDLE h) {
    BY_HANDLE_FILE_INFORMATION info{};
    return ::GetFileInformationByHandle(h, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The subject of the certificate that signed the verified file, by the one rule of Trust.h.
std::u16string SignerSubject(const TrustApi& api, HANDLE state) {
    if (!api.provData || !api.provSigner || !api.nameToStr || !state) return {};
    CRYPT_PROVIDER_DATA* data = api.provData(state);
    CRYPT_PROVIDER_SGNR* signer = data ? api.provSigner(data, 0, FALSE, 0) : nullptr;
    if (!signer || signer->csCertChain == 0 || !signer->pasCertChain || !signer->pasCertChain[0].pCert) return {};
    PCERT_NAME_BLOB name = &signer->pasCertChain[0].pCert->pCertInfo->Subject;
    const DWORD n = api.nameToStr(X509_ASN_ENCODING, name, CERT_X500_NAME_STR, nullptr, 0);
    if (n <= 1) return {};
    std::wstring text(n, L'\0');
    const DWORD written = api.nameToStr(X509_ASN_ENCODING, name, CERT_X500_NAME_STR, text.data(), n);
    return written > 1 ? U16(text.c_str(), written - 1) : std::u16string();
}

}  // namespace

uint32_t Win32Trust::Hold(const std::u16string& path, HeldFile& held, bool& isLink) {
    held = 0;
    isLink = false;
    const std::size_t slash = path.find_last_of(u'\\');
    if (slash == std::u16string::npos) return ERROR_INVALID_NAME;
    auto* h = new Held;
    // Reading access, so that the sharing modes bind others: the folder cannot be
    // renamed or deleted, the file neither written, deleted nor renamed.
    h->folder = ::CreateFileW(W(path.substr(0, slash)), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h->folder == INVALID_HANDLE_VALUE) {
        const DWORD err = ::GetLastError();
        delete h;
        return err ? err : ERROR_OPEN_FAILED;
    }
    h->file = ::CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h->file == INVALID_HANDLE_VALUE) {
        const DWORD err = ::GetLastError();
        ::CloseHandle(h->folder);
        delete h;
        return err ? err : ERROR_OPEN_FAILED;
    }
    isLink = IsReparsePoint(h->folder) || IsReparsePoint(h->file);
    held = reinterpret_cast<HeldFile>(h);
    return ERROR_SUCCESS;
}

void Win32Trust::Release(HeldFile held) {
    auto* h = reinterpret_cast<Held*>(held);
    if (!h) return;
    ::CloseHandle(h->file);
    ::CloseHandle(h->folder);
    delete h;
}

Signature Win32Trust::Verify(const std::u16string& path, HeldFile held) {
    Signature s;
    const TrustApi& api = Api();
    if (!api.verify) {
        s.status = HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
        return s;
    }
    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = W(path);
    file.hFile = held ? reinterpret_cast<Held*>(held)->file : nullptr;
    // Nothing from the network, not even a missing intermediate certificate.
    WINTRUST_DATA data = Request(file, WTD_REVOKE_NONE, WTD_STATEACTION_VERIFY, WTD_REVOCATION_CHECK_NONE);
    GUID action = GenericVerifyV2();
    s.status = api.verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    if (s.status == 0) s.subject = SignerSubject(api, data.hWVTStateData);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    api.verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    if (s.status != 0) return s;

    // Revocation apart, from what the machine knows without asking anyone.
    WINTRUST_DATA revocation = Request(file, WTD_REVOKE_WHOLECHAIN, WTD_STATEACTION_IGNORE,
                                       WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT);
    s.revocation = api.verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &revocation);
    return s;
}

}  // namespace plat::win32
