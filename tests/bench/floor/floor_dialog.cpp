// The silent check as the design has it and nothing more: the client's own
// resources (built from its resource script), the common controls, dialog
// template 103 created hidden, one thread that looks up the adapters (the MAC
// goes into the request) and posts the check, the UI thread pumping messages
// until that thread reports back, exit.
// Usage: floor_dialog URL BODYFILE [STAMPFILE]
// With STAMPFILE, the times of its steps are written there at the end (FILETIME
// units, one a line): the bench's timed runs leave it out.
// Before windows.h: the adapter records need its socket address types.
#include <winsock2.h>
#include <windows.h>

#include <commctrl.h>
#include <iphlpapi.h>
#include <wininet.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "ResourceIds.h"
#include "floor_post.h"

namespace {

constexpr UINT kCheckDone = WM_APP + 2;

// wWinMain entered, the thread's first step, the request started, the reply read, the loop left.
enum Step { kMain, kThread, kRequest, kReply, kLoopEnd, kSteps };
ULONGLONG gStamps[kSteps];

void Stamp(Step step) {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    gStamps[step] = (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

struct Check {
    std::wstring url;
    std::string body;
    HWND dialog = nullptr;
};

// A check that finds no usable adapter still posts: the client sends an empty MAC then.
void LookUpAdapters() {
    ULONG size = 16384;  // the client's first guess
    std::vector<unsigned long long> buf;
    for (int attempt = 0; attempt < 4; ++attempt) {
        buf.assign((size + 7) / 8, 0);
        if (GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_DNS_SERVER, nullptr,
                                 reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buf.data()), &size) != ERROR_BUFFER_OVERFLOW)
            return;
    }
}

DWORD WINAPI CheckThread(void* arg) {
    auto* check = static_cast<Check*>(arg);
    Stamp(kThread);
    LookUpAdapters();
    Stamp(kRequest);
    const int rc = PostForm(check->url.c_str(), check->body);
    Stamp(kReply);
    PostMessageW(check->dialog, kCheckDone, static_cast<WPARAM>(rc), 0);
    return 0;
}

bool gDone = false;
int gResult = 6;

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        // The window carries the client's icon, as the client's does.
        HINSTANCE instance = GetModuleHandleW(nullptr);
        for (auto [which, cx, cy] : {std::tuple{ICON_BIG, SM_CXICON, SM_CYICON},
                                     std::tuple{ICON_SMALL, SM_CXSMICON, SM_CYSMICON}}) {
            HANDLE icon = LoadImageW(instance, MAKEINTRESOURCEW(BRUT_IDI_APP), IMAGE_ICON, GetSystemMetrics(cx),
                                     GetSystemMetrics(cy), 0);
            if (icon) SendMessageW(hwnd, WM_SETICON, which, reinterpret_cast<LPARAM>(icon));
        }
        return FALSE;
    }
    case kCheckDone:
        gResult = static_cast<int>(wParam);
        gDone = true;
        return TRUE;
    default:
        return FALSE;
    }
}

// Template 103 as the client uses it: the visible style cleared, so nothing shows.
std::vector<DWORD> HiddenTemplate(HINSTANCE instance) {
    HRSRC res = FindResourceW(instance, MAKEINTRESOURCEW(BRUT_IDD_UPDATE_DIALOG), MAKEINTRESOURCEW(5));
    HGLOBAL loaded = res ? LoadResource(instance, res) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    const DWORD size = res ? SizeofResource(instance, res) : 0;
    // A dialog template is a few hundred bytes; the cap also keeps the rounding below from wrapping.
    if (!data || size < 18 || size > 64 * 1024) return {};
    std::vector<DWORD> copy((size + 3) / 4, 0);
    std::memcpy(copy.data(), data, size);
    auto* words = reinterpret_cast<WORD*>(copy.data());
    DWORD* style = words[0] == 1 && words[1] == 0xFFFF ? &copy[3] : &copy[0];
    *style &= ~static_cast<DWORD>(WS_VISIBLE);
    return copy;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    Stamp(kMain);
    const int argc = __argc;
    wchar_t** argv = __wargv;
    if (argc < 3) return 1;
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    const std::vector<DWORD> tmpl = HiddenTemplate(instance);
    HWND dialog = tmpl.empty() ? nullptr
                               : CreateDialogIndirectParamW(instance, reinterpret_cast<LPCDLGTEMPLATEW>(tmpl.data()),
                                                            nullptr, DialogProc, 0);
    if (!dialog) return 5;
    // The thread's last use of it is the message that ends the loop below.
    Check check{argv[1], ReadWholeFile(argv[2]), dialog};
    HANDLE thread = CreateThread(nullptr, 0, CheckThread, &check, 0, nullptr);
    if (!thread) return 7;
    CloseHandle(thread);
    MSG msg;
    while (!gDone && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (IsDialogMessageW(dialog, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    Stamp(kLoopEnd);
    DestroyWindow(dialog);
    if (argc > 3) {
        if (FILE* f = _wfopen(argv[3], L"w")) {
            for (ULONGLONG t : gStamps) fprintf(f, "%llu\n", t);
            fclose(f);
        }
    }
    return gResult;
}
