#include "update/WebService.h"

#include "log/Log.h"
#include "net/HttpWrapper.h"
#include "system/Settings.h"
#include "system/Directories.h"
#include "update/RequestDocument.h"
#include "util/Text.h"
#include "platform/Platform.h"

namespace brut {

const char16_t* const kDefaultServiceBaseUrl = u"https://uptide.brindle.example/Uptide/";

std::u16string ServiceBaseUrl(const ProgramInfo& info) {
    std::u16string debugUrl = GetDebugUrl(info);
    return debugUrl.empty() ? std::u16string(kDefaultServiceBaseUrl) : debugUrl;
}

bool IsRetriedWithoutSsl(uint32_t result) {
    return result == plat::kInetCannotConnect || result == plat::kInetCertDateInvalid ||
           result == plat::kInetInvalidCa || result == plat::kInetRevocationFailed;
}

namespace {

// Logs and clears a last-error value left by the step just taken.
void CheckLastError(const char16_t* format) {
    plat::System& sys = plat::Sys();
    uint32_t code = sys.LastError();
    if (code == 0) return;
    std::u16string text = GetLastErrorText();
    LogError(format, text, code);
    sys.SetLastError(0);
}

}  // namespace

WebServiceResult CallWebService(const ProgramInfo& info, const TiXmlDocument& document,
                                const std::u16string& methodPath, const std::u16string& argumentName) {
    WebServiceResult out;
    plat::System& sys = plat::Sys();

    const std::u16string text = sys.FromAnsi(SerializeXml(document));
    LogTextInfo(text);

    std::u16string url = ServiceBaseUrl(info) + u"BRUTWebservice.asmx" + methodPath;
    LogInfo(u"url to Webserver: %s", url);

    sys.SetLastError(0);
    CHttpWrapper http;
    CheckLastError(u"After Create CHttpWrapper: \"%s\" (%d)");
    http.SetTimeLimit(kExchangeLimitMs);

    http.AddPostArgument(argumentName, UrlEncode(text));
    CheckLastError(u"After AddPostArgument: \"%s\" (%d)");

    out.Result = http.PostUrl(url, out.Reply);
    CheckLastError(u"After PostUrl: \"%s\" (%d)");

    if (out.Result == 0) {
        LogInfo(u"%s result = %d", methodPath, out.Result);
        return out;
    }
    LogError(u"%s result = %d", methodPath, out.Result);
    if (IsRetriedWithoutSsl(out.Result) && url.find(u"https://") != std::u16string::npos) {
        url = ReplaceAll(url, u"https://", u"http://");
        LogWarning(u"Try to connect without SSL: %s", url);
        out.Result = http.PostUrl(url, out.Reply);
        if (out.Result != 0) {
            LogError(u"%s result = %d", methodPath, out.Result);
        } else {
            LogInfo(u"%s result = %d", methodPath, out.Result);
            out.IsAnsweredOverHttpRetry = true;
            LogWarning(u"%s answered over http without SSL: download addresses from this answer will not be used",
                       methodPath);
        }
    }
    return out;
}

}  // namespace brut
