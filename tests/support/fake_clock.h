// A virtual clock for tests: time moves only when the code under test sleeps or the test
// advances it, so timing behaviour is checked without real waiting.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "core/platform/ui_port.h"

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
    // The wall clock jumps by `seconds` (a changed system time) while the monotonic time goes
    // on as before.
    void StepWallClock(std::int64_t seconds) { wall_step_s_ += seconds; }
    // The zone Now() reports from now on; with `shift_wall` the civil time moves with the offset,
    // as it does at a summer-time change (the same instant, another local time).
    void SetZone(int utc_offset_minutes, std::string name, bool shift_wall = true) {
        if (shift_wall) wall_step_s_ += std::int64_t{utc_offset_minutes - offset_minutes_} * 60;
        offset_minutes_ = utc_offset_minutes;
        zone_ = std::move(name);
    }
    void AdvanceMs(std::int64_t ms) { micros_ += ms * 1000; }
    std::int64_t total_sleep_ms() const { return total_sleep_ms_; }

  private:
    LocalDateTime start_;
    std::int64_t micros_ = 0;
    std::int64_t total_sleep_ms_ = 0;
    std::int64_t wall_step_s_ = 0;
    int offset_minutes_ = 0;
    std::string zone_ = "UTC";
};

}  // namespace lumivo::testing
