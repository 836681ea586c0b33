#pragma once
// One call of the update web service: a document posted as a single form
// argument, URL-encoded twice; the reply body comes back as text.
#include <cstdint>
#include <string>

#include <tinyxml.h>

#include "product/ProgramInfo.h"

namespace brut {

// The built-in base of every service address.
extern const char16_t* const kDefaultServiceBaseUrl;
// "DebugUrl_v2" when set, else the built-in base; used unchanged.
std::u16string ServiceBaseUrl(const ProgramInfo& info);

struct WebServiceResult {
    uint32_t Result = 0;               // 0: HTTP 200; else the failure code of PostUrl
    std::u16string Reply;              // the body, or the platform's error description
    bool IsAnsweredOverHttpRetry = false;  // the answer came over http after an https failure
};

// The whole exchange of one call (connect, send, read, the http retry included) ends
// within this wall time, like a failed exchange when it does not.
constexpr uint32_t kExchangeLimitMs = 5u * 60u * 1000u;

// Method path with its leading "/", e.g. "/QuickCheck"; argument e.g. "QuickCheckXML".
WebServiceResult CallWebService(const ProgramInfo& info, const TiXmlDocument& document,
                                const std::u16string& methodPath, const std::u16string& argumentName);

// WinINet failures of an https call that are tried once more over http.
bool IsRetriedWithoutSsl(uint32_t result);

}  // namespace brut
