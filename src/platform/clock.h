// The date-and-time clock. Elapsed times are measured on it rather than on
// the time of day, so an interval that spans midnight stays positive.
#pragma once

#include <cstdint>

#include "platform/port.h"

namespace tide::platform {

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since 1970-01-01 00:00 UTC (date and time together).
    virtual int64_t NowMs() = 0;
};

inline Clock& SystemClock() { return Port<Clock>::Get(); }

}  // namespace tide::platform
