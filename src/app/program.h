// The program as a whole: the one place that sees every layer. It installs
// what the lower layers leave open (the manifest fetch) and hands each mode
// its unit.
#pragma once

#include "core/Tidestart.h"

namespace tide {

// The handlers of the modes built so far.
ModeHandlers DefaultModeHandlers();

// Connects the layers (the manifest fetch through the downloader), then runs
// the start-up and the chosen mode. Returns the process exit code.
int RunProgram();

}  // namespace tide
