// The clocks: the date-and-time clock, the local date, a monotonic millisecond tick, and
// sleeping. Elapsed times are measured on the tick (or, where a date is
// needed as well, on the date-and-time clock) rather than on the time of
// day, so an interval that spans midnight stays positive. Every wait of the
// logic sleeps through SleepMs, so tests can stand in a clock that moves
// without waiting.
#pragma once

#include <cstdint>

#include "platform/port.h"

namespace tide::platform {

// A calendar date of the machine's time zone.
struct LocalDate {
    int year;   // e.g. 2026
    int month;  // 1..12
    int day;    // 1..31
};

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since 1970-01-01 00:00 UTC (date and time together).
    virtual int64_t NowMs() = 0;
    // Milliseconds since an arbitrary start; never goes back (GetTickCount64).
    virtual uint64_t TickMs() = 0;
    // Today in the machine's time zone (GetLocalTime).
    virtual LocalDate Today() = 0;
    // Suspends the calling thread for ms milliseconds (Sleep).
    virtual void SleepMs(uint32_t ms) = 0;
};

inline Clock& SystemClock() { return Port<Clock>::Get(); }

}  // namespace tide::platform
