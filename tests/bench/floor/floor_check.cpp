// The least a silent check needs: the common controls, one hidden dialog from a
// template, one form POST with WinINet, the reply read, exit.
// Usage: floor_check URL BODYFILE
#include <windows.h>

#include <cstdlib>
#include <commctrl.h>
#include <wininet.h>

#include "floor_post.h"

namespace {

INT_PTR CALLBACK DialogProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    const int argc = __argc;
    wchar_t** argv = __wargv;
    if (argc < 3) return 1;
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    HWND dialog = CreateDialogParamW(instance, MAKEINTRESOURCEW(100), nullptr, DialogProc, 0);
    if (!dialog) return 5;
    const int rc = PostForm(argv[1], ReadWholeFile(argv[2]));
    DestroyWindow(dialog);
    return rc;
}
