#pragma once
// The application object: the whole run happens in InitInstance.
#include <cstdint>

#include "platform/System.h"

namespace brut {

class CmdLineInfo;
class UpdaterBase;

// Runs the modal dialog for a prepared run and returns its end code (-1 when
// the dialog cannot be created). Installed by the user-interface layer.
class DialogRunner {
public:
    virtual ~DialogRunner() = default;
    virtual int RunModal(CmdLineInfo& cmdLine, UpdaterBase& checker, intptr_t bannerThread) = 0;
    // True when a thread the dialog started had not ended when the dialog did:
    // what that thread uses must then live until the process ends.
    virtual bool ThreadStillRunning() const { return false; }
};
void InstallDialogRunner(DialogRunner* runner);
// The banner download routine started at start-up unless "UpdateSilent" was given.
void InstallBannerRoutine(plat::ThreadRoutine routine);

class BRUptide {
public:
    // Tells the log its folder, before anything is logged.
    BRUptide();
    virtual ~BRUptide() = default;
    virtual bool InitInstance();
    virtual int ExitInstance();
    int32_t mExitCode = 0;
};

}  // namespace brut
