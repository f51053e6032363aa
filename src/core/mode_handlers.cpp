// Which function runs each mode. Each mode's unit adds itself here when it
// lands.
#include "core/Tidestart.h"

namespace tide {

ModeHandlers DefaultModeHandlers() {
    ModeHandlers h;
    return h;
}

}  // namespace tide
