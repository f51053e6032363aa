// Which function runs each mode. Each mode's unit adds itself here when it
// lands.
#include "app/program.h"
#include "download/manifest_download.h"
#include "download/verification.h"

namespace tide {

ModeHandlers DefaultModeHandlers() {
    ModeHandlers h;
    h.testIni = VerifyManifestFiles;
    return h;
}

int RunProgram() {
    SetManifestFetcher(&ManifestDownload());
    return RunTidestart(DefaultModeHandlers());
}

}  // namespace tide
