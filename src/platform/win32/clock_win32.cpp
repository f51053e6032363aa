// The clocks on Windows.
#include <windows.h>

#include "platform/clock.h"

namespace tide::platform {
namespace {
class Win32Clock : public Clock {
public:
    int64_t NowMs() override {
        FILETIME ft;
        GetSystemTimeAsFileTime(&ft);
        ULARGE_INTEGER t;
        t.LowPart = ft.dwLowDateTime;
        t.HighPart = ft.dwHighDateTime;
        // 100-ns units since 1601-01-01 -> ms since 1970-01-01.
        return static_cast<int64_t>(t.QuadPart / 10000ULL) - 11644473600000LL;
    }
    uint64_t TickMs() override { return GetTickCount64(); }
    LocalDate Today() override {
        SYSTEMTIME st;
        GetLocalTime(&st);
        return LocalDate{st.wYear, st.wMonth, st.wDay};
    }
    void SleepMs(uint32_t ms) override { Sleep(ms); }
};
}  // namespace

template <>
Clock& Port<Clock>::Default() {
    static Win32Clock instance;
    return instance;
}
}  // namespace tide::platform
