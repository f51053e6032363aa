#include "platform/fake/fake_clock.h"

#include <chrono>
#include <ctime>
#include <thread>

namespace tide::platform {
namespace {
// The native build reads the host's real clock unless a test installs a
// FakeClock.
class HostClock : public Clock {
public:
    int64_t NowMs() override {
        using namespace std::chrono;
        return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    }
    uint64_t TickMs() override {
        using namespace std::chrono;
        return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }
    LocalDate Today() override {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        return LocalDate{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
    }
    void SleepMs(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};
}  // namespace

namespace fake {
LocalDate FakeClock::Today() {
    // Days since 1970-01-01 to a civil date (proleptic Gregorian calendar).
    int64_t ms = now_.load() + offset_.load();
    int64_t z = (ms >= 0 ? ms : ms - 86399999) / 86400000 + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    return LocalDate{static_cast<int>(yoe + era * 400 + (month <= 2)), month, day};
}
}  // namespace fake

template <>
Clock& Port<Clock>::Default() {
    static HostClock instance;
    return instance;
}
}  // namespace tide::platform
