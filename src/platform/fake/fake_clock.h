// A clock that moves only when told to (Advance), by a fixed step at every
// reading, or by a sleep: SleepMs moves it on by the time asked for and
// returns at once (after yielding, so other threads of a test get on).
#pragma once

#include <atomic>
#include <thread>

#include "platform/clock.h"

namespace tide::platform::fake {

class FakeClock : public Clock {
public:
    explicit FakeClock(int64_t startMs = 1767225600000 /* 2026-01-01 00:00 UTC */) : now_(startMs) {}
    int64_t NowMs() override { return now_.fetch_add(step_.load()); }
    // The same time line as NowMs.
    uint64_t TickMs() override { return static_cast<uint64_t>(NowMs()); }
    // The date of NowMs in a time zone SetUtcOffset ahead of UTC (default 0).
    LocalDate Today() override;
    void SleepMs(uint32_t ms) override {
        now_ += ms;
        std::this_thread::yield();
    }
    void Advance(int64_t ms) { now_ += ms; }
    void Set(int64_t ms) { now_ = ms; }
    // Every reading moves the clock on by ms afterwards.
    void SetStep(int64_t ms) { step_ = ms; }
    void SetUtcOffset(int64_t ms) { offset_ = ms; }

private:
    std::atomic<int64_t> now_;
    std::atomic<int64_t> step_{0};
    std::atomic<int64_t> offset_{0};
};

}  // namespace tide::platform::fake
