// The program's run: the main window (which runs its creation), the help
// windows, then the event loop until the main window closes or termination is
// requested. A request during creation ends the run before the user can act;
// a request during the loop leaves it without closing the windows, so the
// close step is skipped. The main window is destroyed either way.
#pragma once

#include <functional>

#include "app/main_form.h"

namespace tarn {

// Runs inside an existing application object; returns the exit code.
int RunProgram(TMainFormParts parts,
               const std::function<void(TMainForm&)>& create_help_windows = {});

}  // namespace tarn
