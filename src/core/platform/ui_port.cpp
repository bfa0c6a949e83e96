#include "core/platform/ui_port.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <iomanip>
#include <locale>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace lumivo {

namespace {

std::tm ToTm(const LocalDateTime& t) {
    std::tm tm{};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    tm.tm_isdst = -1;
    return tm;
}

// The date and time fields of `tm` into `t` (its milliseconds left alone).
void SetFromTm(LocalDateTime& t, const std::tm& tm) {
    t.year = tm.tm_year + 1900;
    t.month = tm.tm_mon + 1;
    t.day = tm.tm_mday;
    t.hour = tm.tm_hour;
    t.minute = tm.tm_min;
    t.second = tm.tm_sec;
    t.utc_offset_minutes = static_cast<int>(tm.tm_gmtoff / 60);
    t.zone = tm.tm_zone != nullptr ? tm.tm_zone : "";
}

}  // namespace

LocalDateTime AddSeconds(const LocalDateTime& t, std::int64_t seconds) {
    std::tm tm = ToTm(t);
    const std::time_t base = std::mktime(&tm);
    if (base == static_cast<std::time_t>(-1)) return t;
    const std::time_t later = base + static_cast<std::time_t>(seconds);
    std::tm out{};
    localtime_r(&later, &out);
    LocalDateTime r = t;
    SetFromTm(r, out);
    return r;
}

std::string TimeZoneText(const LocalDateTime& t) {
    const int m = t.utc_offset_minutes < 0 ? -t.utc_offset_minutes : t.utc_offset_minutes;
    char text[32];
    std::snprintf(text, sizeof text, "UTC%c%02d:%02d", t.utc_offset_minutes < 0 ? '-' : '+',
                  m / 60 % 100, m % 60);
    std::string out = text;
    if (!t.zone.empty()) out += " (" + t.zone + ")";
    return out;
}

std::string LocaleDateTimeText(const LocalDateTime& t) {
    const std::tm tm = ToTm(t);
    std::ostringstream out;
    try {
        out.imbue(std::locale(""));
    } catch (const std::exception&) {
        // The environment names a locale the machine does not have: the classic one.
    }
    out << std::put_time(&tm, "%x %X");
    return out.str();
}

std::int64_t SystemClock::MonotonicMicros() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

LocalDateTime SystemClock::Now() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    std::tm tm{};
    localtime_r(&t, &tm);
    LocalDateTime out;
    SetFromTm(out, tm);
    out.millisecond =
        static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    return out;
}

void SystemClock::SleepMs(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void SystemClock::SleepMicros(std::int64_t us) {
    if (us > 0) std::this_thread::sleep_for(std::chrono::microseconds(us));
}

MsgResult DefaultAnswerDialogs::MessageBox(const std::string&, MsgButtons buttons,
                                           const std::string&) {
    switch (buttons) {
        case MsgButtons::Ok:
        case MsgButtons::OkCancel:
            return MsgResult::Ok;
        case MsgButtons::YesNo:
        case MsgButtons::YesNoCancel:
            return MsgResult::Yes;
    }
    return MsgResult::Ok;
}

std::optional<std::string> DefaultAnswerDialogs::InputBox(const std::string&, const std::string&,
                                                          const std::string& default_text) {
    return default_text;
}

}  // namespace lumivo
