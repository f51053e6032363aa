// Which function runs each mode. Each mode's unit adds itself here when it
// lands.
#include "core/Tidestart.h"
#include "download/verification.h"

namespace tide {

ModeHandlers DefaultModeHandlers() {
    ModeHandlers h;
    h.testIni = VerifyManifestFiles;
    return h;
}

}  // namespace tide
