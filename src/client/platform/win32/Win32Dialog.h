#pragma once
// The update dialog's window: dialog template 103 bound to the Dialog logic.
#include "app/BRUptide.h"

namespace plat::win32 {

// Runs the dialog modally; installed at start-up through InstallDialogRunner.
brut::DialogRunner& DialogWindowRunner();

}  // namespace plat::win32
