#include "platform/fake/fake_clock.h"

#include <chrono>
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
    void SleepMs(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};
}  // namespace

template <>
Clock& Port<Clock>::Default() {
    static HostClock instance;
    return instance;
}
}  // namespace tide::platform
