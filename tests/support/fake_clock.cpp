#include "support/fake_clock.h"

#include <ctime>

namespace lumivo::testing {

LocalDateTime FakeClock::Now() {
    // Civil time = start + elapsed, normalised through timegm/gmtime_r so that month and
    // year boundaries roll over correctly and no time zone rules interfere.
    std::tm tm{};
    tm.tm_year = start_.year - 1900;
    tm.tm_mon = start_.month - 1;
    tm.tm_mday = start_.day;
    tm.tm_hour = start_.hour;
    tm.tm_min = start_.minute;
    tm.tm_sec = start_.second;
    const std::int64_t total_ms = start_.millisecond + micros_ / 1000;
    const std::time_t base = timegm(&tm) + static_cast<std::time_t>(total_ms / 1000 + wall_step_s_);
    std::tm out{};
    gmtime_r(&base, &out);
    LocalDateTime now;
    now.year = out.tm_year + 1900;
    now.month = out.tm_mon + 1;
    now.day = out.tm_mday;
    now.hour = out.tm_hour;
    now.minute = out.tm_min;
    now.second = out.tm_sec;
    now.millisecond = static_cast<int>(total_ms % 1000);
    now.utc_offset_minutes = offset_minutes_;
    now.zone = zone_;
    return now;
}

}  // namespace lumivo::testing
