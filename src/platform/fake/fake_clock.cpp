#include "platform/fake/fake_clock.h"

#include <chrono>

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
};
}  // namespace

template <>
Clock& Port<Clock>::Default() {
    static HostClock instance;
    return instance;
}
}  // namespace tide::platform
