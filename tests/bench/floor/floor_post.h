// What the floors share: a file read whole, and one form POST with WinINet whose reply is read.
#pragma once
#include <windows.h>

#include <wininet.h>

#include <cstdio>
#include <string>

inline std::string ReadWholeFile(const wchar_t* path) {
    std::string data;
    FILE* f = _wfopen(path, L"rb");
    if (!f) return data;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, n);
    fclose(f);
    return data;
}

// 0 when the service answered 200 with a body.
inline int PostForm(const wchar_t* url, const std::string& body) {
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof parts;
    wchar_t host[256], path[2048];
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 2048;
    if (!InternetCrackUrlW(url, 0, 0, &parts)) return 2;
    HINTERNET session = InternetOpenW(L"floor", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET connection = session ? InternetConnectW(session, host, parts.nPort, nullptr, nullptr,
                                                      INTERNET_SERVICE_HTTP, 0, 0) : nullptr;
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                  (parts.nScheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0);
    HINTERNET request = connection ? HttpOpenRequestW(connection, L"POST", path, nullptr, nullptr, nullptr,
                                                      flags, 0) : nullptr;
    const wchar_t headers[] = L"Content-Type: application/x-www-form-urlencoded";
    int rc = 3;
    if (request && HttpSendRequestW(request, headers, static_cast<DWORD>(-1), const_cast<char*>(body.data()),
                                    static_cast<DWORD>(body.size()))) {
        DWORD status = 0, size = sizeof status;
        HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
        std::string reply;
        char buf[4096];
        DWORD read = 0;
        while (InternetReadFile(request, buf, sizeof buf, &read) && read) reply.append(buf, read);
        rc = status == 200 && !reply.empty() ? 0 : 4;
    }
    if (request) InternetCloseHandle(request);
    if (connection) InternetCloseHandle(connection);
    if (session) InternetCloseHandle(session);
    return rc;
}
