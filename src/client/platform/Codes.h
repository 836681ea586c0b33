#pragma once
// Numeric values of the operating system that the logic decides on. They carry
// Win32 semantics but not Win32 names, so that <windows.h> macros never clash.
#include <cstdint>

namespace plat {

// Win32 error codes (GetLastError, registry and installer results).
constexpr uint32_t kErrSuccess = 0;
constexpr uint32_t kErrFileNotFound = 2;
constexpr uint32_t kErrPathNotFound = 3;
constexpr uint32_t kErrAccessDenied = 5;
constexpr uint32_t kErrInvalidHandle = 6;
constexpr uint32_t kErrNotEnoughMemory = 8;
constexpr uint32_t kErrInvalidParameter = 87;
constexpr uint32_t kErrBufferOverflow = 111;
constexpr uint32_t kErrInvalidName = 123;
constexpr uint32_t kErrAlreadyExists = 183;
constexpr uint32_t kErrMoreData = 234;
constexpr uint32_t kErrNoMoreItems = 259;
constexpr uint32_t kErrUnknownProperty = 1608;

// Registry value types.
constexpr uint32_t kRegNone = 0;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegMultiSz = 7;
constexpr uint32_t kRegQword = 11;

// Registry access rights (REGSAM).
constexpr uint32_t kKeyQueryValue = 0x0001;
constexpr uint32_t kKeySetValue = 0x0002;
constexpr uint32_t kKeyCreateSubKey = 0x0004;
constexpr uint32_t kKeyEnumerateSubKeys = 0x0008;
constexpr uint32_t kKeyRead = 0x20019;
constexpr uint32_t kKeyAllAccess = 0xF003F;
constexpr uint32_t kKeyWow64_64 = 0x0100;

// WinINet errors the exchange decides on.
constexpr uint32_t kInetTimeout = 12002;
constexpr uint32_t kInetNameNotResolved = 12007;
constexpr uint32_t kInetCannotConnect = 12029;
constexpr uint32_t kInetCertDateInvalid = 12037;
constexpr uint32_t kInetInvalidCa = 12045;
constexpr uint32_t kInetRevocationFailed = 12057;

// COM / WMI.
constexpr int32_t kSOk = 0;
constexpr int32_t kSFalse = 1;
constexpr int32_t kENotImpl = static_cast<int32_t>(0x80004001);
constexpr int32_t kEFail = static_cast<int32_t>(0x80004005);
constexpr int32_t kEAbort = static_cast<int32_t>(0x80004004);
constexpr int32_t kWbemSTimedOut = 0x40004;
constexpr int32_t kRpcETooLate = static_cast<int32_t>(0x80010119);

// WinVerifyTrust results the hand-off decides on.
constexpr int32_t kTrustNoSignature = static_cast<int32_t>(0x800B0100);     // TRUST_E_NOSIGNATURE
constexpr int32_t kTrustSubjectUnknown = static_cast<int32_t>(0x800B0003);  // TRUST_E_SUBJECT_FORM_UNKNOWN
constexpr int32_t kTrustBadDigest = static_cast<int32_t>(0x80096010);       // TRUST_E_BAD_DIGEST
constexpr int32_t kCertRevoked = static_cast<int32_t>(0x800B010C);          // CERT_E_REVOKED

// Message boxes.
constexpr uint32_t kMbOk = 0x0;
constexpr uint32_t kMbOkCancel = 0x1;
constexpr uint32_t kMbYesNo = 0x4;
constexpr uint32_t kMbIconQuestion = 0x20;
constexpr uint32_t kMbIconError = 0x10;
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

}  // namespace plat
