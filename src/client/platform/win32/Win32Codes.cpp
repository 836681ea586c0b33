// The values the logic restates in Codes.h must be the system's own.
#include "platform/win32/Win32Platform.h"

#include <iphlpapi.h>
#include <wbemcli.h>
#include <winerror.h>

namespace plat::win32 {

static_assert(kTrustNoSignature == TRUST_E_NOSIGNATURE);
static_assert(kTrustSubjectUnknown == TRUST_E_SUBJECT_FORM_UNKNOWN);
static_assert(kTrustBadDigest == TRUST_E_BAD_DIGEST);
static_assert(kCertRevoked == CERT_E_REVOKED);
static_assert(kErrSuccess == ERROR_SUCCESS);
static_assert(kErrFileNotFound == ERROR_FILE_NOT_FOUND);
static_assert(kErrPathNotFound == ERROR_PATH_NOT_FOUND);
static_assert(kErrAccessDenied == ERROR_ACCESS_DENIED);
static_assert(kErrInvalidHandle == ERROR_INVALID_HANDLE);
static_assert(kErrNotEnoughMemory == ERROR_NOT_ENOUGH_MEMORY);
static_assert(kErrInvalidParameter == ERROR_INVALID_PARAMETER);
static_assert(kErrBufferOverflow == ERROR_BUFFER_OVERFLOW);
static_assert(kErrInvalidName == ERROR_INVALID_NAME);
static_assert(kErrAlreadyExists == ERROR_ALREADY_EXISTS);
static_assert(kErrMoreData == ERROR_MORE_DATA);
static_assert(kErrNoMoreItems == ERROR_NO_MORE_ITEMS);
static_assert(kErrUnknownProperty == ERROR_UNKNOWN_PROPERTY);

static_assert(kRegNone == REG_NONE);
static_assert(kRegSz == REG_SZ);
static_assert(kRegExpandSz == REG_EXPAND_SZ);
static_assert(kRegBinary == REG_BINARY);
static_assert(kRegDword == REG_DWORD);
static_assert(kRegMultiSz == REG_MULTI_SZ);
static_assert(kRegQword == REG_QWORD);

static_assert(kKeyQueryValue == KEY_QUERY_VALUE);
static_assert(kKeySetValue == KEY_SET_VALUE);
static_assert(kKeyCreateSubKey == KEY_CREATE_SUB_KEY);
static_assert(kKeyEnumerateSubKeys == KEY_ENUMERATE_SUB_KEYS);
static_assert(kKeyRead == KEY_READ);
static_assert(kKeyAllAccess == KEY_ALL_ACCESS);
static_assert(kKeyWow64_64 == KEY_WOW64_64KEY);

static_assert(kInetTimeout == ERROR_INTERNET_TIMEOUT);
static_assert(kInetNameNotResolved == ERROR_INTERNET_NAME_NOT_RESOLVED);
static_assert(kInetCannotConnect == ERROR_INTERNET_CANNOT_CONNECT);
static_assert(kInetCertDateInvalid == ERROR_INTERNET_SEC_CERT_DATE_INVALID);
static_assert(kInetInvalidCa == ERROR_INTERNET_INVALID_CA);
static_assert(kInetRevocationFailed == ERROR_INTERNET_SEC_CERT_REV_FAILED);

static_assert(kSOk == S_OK);
static_assert(kSFalse == S_FALSE);
static_assert(kENotImpl == E_NOTIMPL);
static_assert(kEFail == E_FAIL);
static_assert(kWbemSTimedOut == WBEM_S_TIMEDOUT);
static_assert(kRpcETooLate == RPC_E_TOO_LATE);

static_assert(kMbOk == MB_OK);
static_assert(kMbOkCancel == MB_OKCANCEL);
static_assert(kMbYesNo == MB_YESNO);
static_assert(kMbIconQuestion == MB_ICONQUESTION);
static_assert(kMbIconError == MB_ICONERROR);
static_assert(kIdOk == IDOK);
static_assert(kIdCancel == IDCANCEL);
static_assert(kIdYes == IDYES);
static_assert(kIdNo == IDNO);

static_assert(kWaitObject0 == WAIT_OBJECT_0);
static_assert(kWaitTimeout == WAIT_TIMEOUT);
static_assert(kWaitFailed == WAIT_FAILED);
static_assert(kAfInet == AF_INET);
static_assert(kIfOperStatusUp == IfOperStatusUp);
static_assert(kInetFlagSecure == INTERNET_FLAG_SECURE);
static_assert(kInetFlagExistingConnect == INTERNET_FLAG_EXISTING_CONNECT);
static_assert(kOsVersionRecordSize == sizeof(RTL_OSVERSIONINFOEXW));

}  // namespace plat::win32
