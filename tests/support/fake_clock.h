// A virtual clock for tests: time moves only when the code under test sleeps or the test
// advances it, so timing behaviour is checked without real waiting.
#pragma once

#include <cstdint>

#include "core/ui_port.h"

namespace lumivo::testing {

class FakeClock final : public Clock {
public:
    explicit FakeClock(LocalDateTime start = {2026, 3, 14, 9, 30, 0, 0}) : start_(start) {}

    std::int64_t MonotonicMicros() override { return micros_; }
    LocalDateTime Now() override;
    void SleepMs(int ms) override {
        if (ms > 0) micros_ += std::int64_t{ms} * 1000;
        total_sleep_ms_ += ms > 0 ? ms : 0;
    }

    void SleepMicros(std::int64_t us) override {
        if (us > 0) micros_ += us;
    }

    void AdvanceMicros(std::int64_t us) { micros_ += us; }
    void AdvanceMs(std::int64_t ms) { micros_ += ms * 1000; }
    std::int64_t total_sleep_ms() const { return total_sleep_ms_; }

private:
    LocalDateTime start_;
    std::int64_t micros_ = 0;
    std::int64_t total_sleep_ms_ = 0;
};

}  // namespace lumivo::testing
