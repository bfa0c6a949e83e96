#include "core/acquisition/event_log_reader.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <fstream>

#include "core/acquisition/event_log.h"

namespace lumivo {

namespace {

// Longer spans in the log's texts come from a damaged file (a recording lasts weeks at most).
constexpr std::int64_t kMaxLoggedSeconds = std::int64_t{10} * 366 * 86400;

constexpr std::array<std::string_view, 3> kRunEnds = {"Acquisition finished", "Acquisition stopped",
                                                      "Stopped before the first window"};

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

int Digits(std::string_view text, std::size_t at, std::size_t count, bool& ok) {
    int n = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9') {
            ok = false;
            return 0;
        }
        n = n * 10 + (text[i] - '0');
    }
    return n;
}

// The whole seconds written right after `prefix` ("... for 12 s"); nullopt when none.
std::optional<std::int64_t> SecondsAfter(std::string_view text, std::string_view prefix) {
    const std::string_view rest = text.substr(prefix.size());
    std::int64_t n = 0;
    const auto r = std::from_chars(rest.data(), rest.data() + rest.size(), n);
    if (r.ec != std::errc() || n < 0 || n > kMaxLoggedSeconds) return std::nullopt;
    return n;
}

// "Light on (...)" or "Light off (...)": the word must end where the text or the cause begins.
std::optional<bool> LightSwitchOf(std::string_view text) {
    for (const auto& [prefix, on] :
         {std::pair{kLightOnEvent, true}, std::pair{kLightOffEvent, false}}) {
        if (!StartsWith(text, prefix)) continue;
        if (text.size() == prefix.size() || text[prefix.size()] == ' ') return on;
    }
    return std::nullopt;
}

// "N (" at the start of the text after `prefix`: the number of windows a line counts.
std::int64_t CountAfter(std::string_view text, std::string_view prefix) {
    const std::string_view rest = text.substr(prefix.size());
    std::int64_t n = 0;
    const auto r = std::from_chars(rest.data(), rest.data() + rest.size(), n);
    if (r.ec != std::errc() || n < 0 || n > kMaxLoggedSeconds) return 0;
    return n;
}

}  // namespace

std::optional<LoggedZone> ParseTimeZoneText(std::string_view text) {
    if (text.size() < 9 || text.substr(0, 3) != "UTC" || (text[3] != '+' && text[3] != '-') ||
        text[6] != ':')
        return std::nullopt;
    bool ok = true;
    const int h = Digits(text, 4, 2, ok), m = Digits(text, 7, 2, ok);
    if (!ok || h > 18 || m > 59) return std::nullopt;
    LoggedZone z;
    z.utc_offset_minutes = (text[3] == '-' ? -1 : 1) * (h * 60 + m);
    const std::string_view rest = text.substr(9);
    if (rest.size() > 3 && rest.substr(0, 2) == " (" && rest.back() == ')')
        z.name = std::string(rest.substr(2, rest.size() - 3));
    return z;
}

std::optional<int> RunLog::UtcOffsetAt(std::int64_t second) const {
    if (zones.empty()) return std::nullopt;
    int offset = zones.front().utc_offset_minutes;
    for (const LoggedZone& z : zones)
        if (z.second <= second) offset = z.utc_offset_minutes;
    return offset;
}

std::int64_t RunLog::UtcSecond(std::int64_t second) const {
    return zones.empty() ? second : second - std::int64_t{zones.front().utc_offset_minutes} * 60;
}

std::int64_t CivilDayNumber(int year, int month, int day) {
    // Days since 0000-03-01 in the proleptic Gregorian calendar, shifted to 0001-01-01.
    const std::int64_t y = year - (month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t mp = (month + 9) % 12;
    const std::int64_t doy = (153 * mp + 2) / 5 + day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 306;
}

std::optional<LoggedLine> ParseEventLogLine(std::string_view line) {
    constexpr std::size_t kStamp = 21;
    if (line.size() < kStamp || line[4] != '-' || line[7] != '-' || line[10] != ' ' ||
        line[13] != ':' || line[16] != ':')
        return std::nullopt;
    bool ok = true;
    const int year = Digits(line, 0, 4, ok), month = Digits(line, 5, 2, ok);
    const int day = Digits(line, 8, 2, ok), hour = Digits(line, 11, 2, ok);
    const int minute = Digits(line, 14, 2, ok), second = Digits(line, 17, 2, ok);
    if (!ok || month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
    LoggedLine out;
    out.second = CivilDayNumber(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    std::size_t text_at = 19;
    while (text_at < line.size() && line[text_at] == ' ') ++text_at;
    out.text = line.substr(text_at);
    return out;
}

std::optional<std::int64_t> ParseElapsedText(std::string_view rest) {
    bool ok = true;
    const int h = Digits(rest, 0, 2, ok), m = Digits(rest, 3, 2, ok), s = Digits(rest, 6, 2, ok);
    if (!ok || rest.size() < 8 || rest[2] != ':' || rest[5] != ':') return std::nullopt;
    std::int64_t days = 0;
    if (rest.size() > 10 && rest[8] == ' ' && rest[9] == '[') {
        const auto r = std::from_chars(rest.data() + 10, rest.data() + rest.size(), days);
        if (r.ec != std::errc() || days < 0 || days > kMaxLoggedSeconds / 86400) days = 0;
    }
    return days * 86400 + h * 3600 + m * 60 + s;
}

RunLog ParseRunLog(std::string_view log) {
    RunLog p;
    std::optional<std::int64_t> sampling_started, first;
    // Open periods: an alarm or a pause whose end is not logged yet.
    bool alarm_open = false, pause_open = false, pause_frozen = false, lost_open = false;
    std::int64_t alarm_since = 0, pause_since = 0, lost_since = 0;
    // Stamps after a change of zone are moved onto the first zone's axis by this many seconds.
    std::int64_t shift = 0;
    std::optional<std::int64_t> previous;  // the stamp of the line before
    auto add = [](auto& list, auto item) {
        if (list.size() < kMaxLoggedPeriods) list.push_back(item);
    };
    ForEachEventLogLine(log, [&](std::string_view, const LoggedLine& entry) {
        const LoggedLine* line = &entry;
        const std::string_view text = line->text;
        if (StartsWith(text, kTimeZoneEvent)) {
            if (auto zone = ParseTimeZoneText(text.substr(kTimeZoneEvent.size()))) {
                if (p.zones.empty()) {
                    shift = 0;
                } else {
                    shift = std::int64_t{p.zones.front().utc_offset_minutes -
                                         zone->utc_offset_minutes} *
                            60;
                }
                zone->second = line->second + shift;
                if (p.zones.size() < kMaxLoggedPeriods) p.zones.push_back(std::move(*zone));
            }
        }
        const std::int64_t t = line->second + shift;
        const std::optional<std::int64_t> before = previous;
        // A zone line is written right before the line it goes with, not on its own.
        if (!StartsWith(text, kTimeZoneEvent)) previous = t;
        if (!first) first = t;
        p.last = std::max(p.last, t);
        if (!sampling_started && StartsWith(text, kSamplingStartedEvent)) sampling_started = t;
        if (StartsWith(text, kPausedFrozenEvent) || StartsWith(text, kPausedRunningEvent)) {
            pause_open = true;
            pause_since = t;
            pause_frozen = StartsWith(text, kPausedFrozenEvent);
        } else if (StartsWith(text, kResumedEvent)) {
            const bool frozen =
                pause_open ? pause_frozen : text.find(kNotCountedInLapse) != std::string_view::npos;
            const std::int64_t begin =
                pause_open ? pause_since
                           : t - ParseElapsedText(text.substr(kResumedEvent.size())).value_or(0);
            add(frozen ? p.frozen_pauses : p.running_pauses, WallPeriod{begin, t, true});
            pause_open = false;
        } else if (StartsWith(text, kAlarmBeginsEvent)) {
            if (!alarm_open) alarm_since = t - SecondsAfter(text, kAlarmBeginsEvent).value_or(0);
            alarm_open = true;
        } else if (StartsWith(text, kAlarmEndsEvent)) {
            const std::int64_t begin =
                alarm_open ? alarm_since : t - SecondsAfter(text, kAlarmEndsEvent).value_or(0);
            add(p.silences, WallPeriod{begin, t, true});
            alarm_open = false;
        } else if (StartsWith(text, kRecordingErrorEvent)) {
            ++p.write_failures;
        } else if (StartsWith(text, kInstrumentLostEvent)) {
            if (!lost_open) lost_since = t;
            lost_open = true;
        } else if (StartsWith(text, kInstrumentReconnectedEvent)) {
            if (lost_open) add(p.instrument_lost, WallPeriod{lost_since, t, true});
            lost_open = false;
        } else if (StartsWith(text, kRecordingResumedEvent)) {
            // Whatever was open when the recorder died ended with it: at its last line, or at
            // its last record when the resume says that came later.
            std::int64_t died = before.value_or(t);
            if (const auto at = text.find(kLastRecordAtMinute); at != std::string_view::npos) {
                const std::string_view rest = text.substr(at + kLastRecordAtMinute.size());
                std::int64_t minute = 0;
                const auto r = std::from_chars(rest.data(), rest.data() + rest.size(), minute);
                const std::int64_t origin = sampling_started.value_or(first.value_or(t));
                if (r.ec == std::errc() && minute >= 0 && minute * 60 < kMaxLoggedSeconds) {
                    std::int64_t wall = origin + minute * 60;
                    for (const WallPeriod& f : p.frozen_pauses)
                        if (f.begin < wall) wall += f.end - f.begin;
                    died = std::clamp(std::max(died, wall), origin, t);
                }
            }
            if (alarm_open) add(p.silences, WallPeriod{alarm_since, died, false});
            if (lost_open) add(p.instrument_lost, WallPeriod{lost_since, died, false});
            if (pause_open)
                add(pause_frozen ? p.frozen_pauses : p.running_pauses,
                    WallPeriod{pause_since, died, false});
            alarm_open = lost_open = pause_open = false;
            add(p.interruptions, WallPeriod{died, t, true});
            p.end.reset();
        } else if (StartsWith(text, kWindowsNotRecordedEvent)) {
            p.windows_not_recorded += CountAfter(text, kWindowsNotRecordedEvent);
        } else if (const auto on = LightSwitchOf(text)) {
            // Switches before the start of sampling belong to the start (the light schedule
            // is applied before calibrating); the state logged at the start supersedes them.
            if (sampling_started) add(p.light, LoggedLightSwitch{t, *on});
        } else {
            for (std::string_view e : kRunEnds)
                if (StartsWith(text, e)) p.end = t;
        }
    });
    if (!first) return p;
    p.any = true;
    p.sampling_started = sampling_started.has_value();
    p.start = sampling_started.value_or(*first);
    const std::int64_t until = p.end.value_or(p.last);
    if (alarm_open) add(p.silences, WallPeriod{alarm_since, until, false});
    if (lost_open) add(p.instrument_lost, WallPeriod{lost_since, until, false});
    if (pause_open)
        add(pause_frozen ? p.frozen_pauses : p.running_pauses,
            WallPeriod{pause_since, until, false});
    return p;
}

double ElapsedMinutesAt(const RunLog& log, std::int64_t t) {
    std::int64_t seconds = t - log.start;
    for (const WallPeriod& f : log.frozen_pauses) {
        const std::int64_t a = std::max(f.begin, log.start), b = std::min(f.end, t);
        if (b > a) seconds -= b - a;
    }
    return std::max<double>(0.0, static_cast<double>(seconds) / 60.0);
}

std::string ReadEventLog(const std::filesystem::path& folder) {
    const std::filesystem::path file = folder / kEventLogFileName;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) return {};
    const std::uintmax_t size = std::filesystem::file_size(file, ec);
    if (ec) return {};
    std::ifstream in(file, std::ios::binary);
    if (!in) return {};
    std::string text(static_cast<std::size_t>(std::min(size, kMaxEventLogBytes)), '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

}  // namespace lumivo
