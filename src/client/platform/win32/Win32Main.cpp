#include "app/BRUptide.h"
#include "platform/win32/Win32Dialog.h"
#include "platform/win32/Win32Libraries.h"
#include "platform/win32/Win32Platform.h"
#include "ui/Banner.h"
#include "ui/Dialog.h"

#include <commctrl.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    // Before anything can load a library: none from the program's folder (a Downloads
    // folder, say) or the current one.
    plat::win32::RestrictLibrarySearch();
    // A missing medium must fail the call, not stop a silent run with a system dialog.
    ::SetErrorMode(SEM_FAILCRITICALERRORS);
    // The dialog uses the version 6 progress bar and tooltips (see the manifest).
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    plat::Install(plat::win32::RealPlatform());
    brut::InstallDialogRunner(&plat::win32::DialogWindowRunner());
    brut::InstallBannerRoutine(&brut::DownloadBanner);
    brut::InstallShowBanner(&brut::ShowBanner);
    brut::BRUptide app;
    app.InitInstance();
    return app.ExitInstance();
}
