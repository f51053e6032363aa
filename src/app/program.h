// The program as a whole: the one place that sees every layer. It installs
// what the lower layers leave open (the manifest fetch) and hands each mode
// its unit.
#pragma once

#include "core/Tidestart.h"

namespace tide {

// The handlers of the modes built so far.
ModeHandlers DefaultModeHandlers();

// The start-up and the chosen mode, under the program's last handler: an
// error that escapes the mode (or that a window procedure or timer handler
// passed to the mode's message loop) is shown in a "Notice" box with the
// error icon, and the exit code is then 1.
int RunModes(const ModeHandlers& handlers);

// Connects the layers (the manifest fetch through the downloader), then runs
// RunModes with the default handlers. Returns the process exit code.
int RunProgram();

}  // namespace tide
