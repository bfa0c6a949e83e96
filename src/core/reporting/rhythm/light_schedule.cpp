#include "core/reporting/rhythm/light_schedule.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/control/control_settings.h"
#include "core/reporting/report/recording_start.h"

namespace lumivo::reporting {

namespace {

constexpr double kMinutesPerDay = 1440.0;
// Boundaries closer than this (minutes) are one boundary.
constexpr double kSameMinute = 1e-6;

void Append(std::vector<LightPhase>& out, double a, double b, bool light) {
    if (b - a <= kSameMinute) return;
    if (!out.empty() && out.back().light == light && std::abs(out.back().end - a) <= kSameMinute) {
        out.back().end = b;
        return;
    }
    out.push_back({a, b, light});
}

std::string Hhmm(double minute_of_day) {
    return ClockText(minute_of_day);
}

// "dark 21:00-09:00" for one dark stretch a day, "constant dark", "3 light phases a day".
std::string DescribeDaily(const std::vector<LightPhase>& daily) {
    if (daily.empty()) return "no light phases";
    if (daily.size() == 1) return daily.front().light ? "constant light" : "constant dark";
    std::vector<LightPhase> dark;
    for (const LightPhase& p : daily)
        if (!p.light) dark.push_back(p);
    // A dark stretch across midnight is cut in two by the day's edges: join them.
    if (dark.size() == 2 && dark.front().begin == 0.0 && dark.back().end == kMinutesPerDay)
        return "dark " + Hhmm(dark.back().begin) + "-" + Hhmm(dark.front().end);
    if (dark.size() == 1) return "dark " + Hhmm(dark.front().begin) + "-" + Hhmm(dark.front().end);
    return std::to_string(dark.size()) + " dark phases a day";
}

}  // namespace

std::string ClockText(double minute_of_day) {
    long long m = std::llround(minute_of_day);
    m = ((m % 1440) + 1440) % 1440;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld", m / 60, m % 60);
    return buf;
}

LightProgram LightProgramOf(const ProjectState& project) {
    ClimateState climate;
    LoadClimateSettings(project, climate);
    LightProgram p;
    p.cycle_enabled = climate.light_cycle_enabled;
    p.on_hour = climate.light_on_hour;
    p.off_hour = climate.light_off_hour;
    p.pulse_on_minutes = climate.pulse_on_tenths / 10.0;
    p.pulse_off_minutes = climate.pulse_off_tenths / 10.0;
    p.pulse_count = climate.pulse_count;
    return p;
}

double RunClock::ClockMinute(double record_minute) const {
    double m = record_minute;
    for (const Shift& s : frozen)
        if (record_minute > s.at_record_minute) m += s.minutes;
    return m;
}

LocalDateTime RunClock::At(double clock_minute) const {
    const std::int64_t s0 = CivilDayNumber(start.year, start.month, start.day) * 86400 +
                            start.hour * 3600 + start.minute * 60 + start.second;
    return WallTime(s0 + std::llround(clock_minute * 60.0));
}

std::vector<LightPhase> ModelLightPhases(const LightProgram& program, double start_minute_of_day,
                                         double run_minutes, bool uncycled_light) {
    std::vector<LightPhase> out;
    if (!(run_minutes > 0.0)) return out;
    if (!program.cycle_enabled) {
        out.push_back({0.0, run_minutes, uncycled_light});
        return out;
    }
    const double period = program.pulse_on_minutes + program.pulse_off_minutes;
    const bool pulses = program.pulse_count > 0;
    const double series_end = pulses && period > 0.0 ? program.pulse_count * period : 0.0;

    // Every minute at which the program may change the light: the hours of the clock and the
    // edges of the pulses.
    std::vector<double> edges = {0.0, run_minutes};
    const double start = std::fmod(std::max(start_minute_of_day, 0.0), kMinutesPerDay);
    for (double t = 60.0 - std::fmod(start, 60.0); t < run_minutes; t += 60.0) edges.push_back(t);
    for (int k = 0; k < program.pulse_count && period > 0.0; ++k) {
        edges.push_back(k * period);
        edges.push_back(k * period + program.pulse_on_minutes);
    }
    edges.push_back(series_end);
    std::sort(edges.begin(), edges.end());
    std::vector<double> cuts;
    for (double e : edges) {
        if (e < 0.0 || e > run_minutes) continue;
        if (cuts.empty() || e - cuts.back() > kSameMinute) cuts.push_back(e);
    }

    const auto hour_at = [&](double t) {
        return static_cast<int>(std::floor((start + t + kSameMinute) / 60.0)) % 24;
    };
    // The light at the start: the cycle's state for the hour, or, with a pulse series, the
    // light as it was (the series sets it from its first tick).
    bool light =
        pulses ? uncycled_light : LightOnAtStart(program.on_hour, program.off_hour, hour_at(0.0));
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
        const double a = cuts[i], b = cuts[i + 1];
        if (pulses && a < series_end - kSameMinute) {
            const double phase = a - std::floor((a + kSameMinute) / period) * period;
            light = phase + kSameMinute < program.pulse_on_minutes;
        } else {
            // The cycle switches at every window that closes in the on or the off hour.
            light = LightCycleStep(program.on_hour, program.off_hour, hour_at(a), light);
        }
        Append(out, a, b, light);
    }
    return out;
}

std::vector<LightPhase> LoggedLightPhases(const std::vector<LightSwitchAt>& switches,
                                          double run_minutes) {
    std::vector<LightPhase> out;
    if (switches.empty() || !(run_minutes > 0.0)) return out;
    bool light = switches.front().on;
    double from = 0.0;
    for (const LightSwitchAt& s : switches) {
        const double at = std::clamp(s.minute, 0.0, run_minutes);
        Append(out, from, at, light);
        from = std::max(from, at);
        light = s.on;
    }
    Append(out, from, run_minutes, light);
    return out;
}

std::vector<LightPhase> DailyLightPhases(const std::vector<LightPhase>& phases,
                                         double start_minute_of_day) {
    std::vector<LightPhase> out;
    if (phases.empty()) return out;
    // Minutes of light and of dark at each minute of the day, over the run.
    std::vector<double> light(1440, 0.0), dark(1440, 0.0);
    for (const LightPhase& p : phases) {
        const double a = p.begin + start_minute_of_day, b = p.end + start_minute_of_day;
        for (double t = std::floor(a); t < b; t += 1.0) {
            const double cover = std::min(b, t + 1.0) - std::max(a, t);
            if (cover <= 0.0) continue;
            const auto slot =
                static_cast<std::size_t>((static_cast<long long>(t) % 1440 + 1440) % 1440);
            (p.light ? light : dark)[slot] += cover;
        }
    }
    // Each minute of the day takes the light most days had then; a minute the run never saw
    // (a run shorter than a day) takes the light of the last minute seen before it.
    std::vector<int> state(1440, -1);
    int seen = -1;
    for (std::size_t m = 0; m < 1440; ++m) {
        if (light[m] == 0.0 && dark[m] == 0.0) continue;
        state[m] = light[m] > dark[m] ? 1 : 0;
        seen = static_cast<int>(m);
    }
    if (seen < 0) return out;
    int last = state[static_cast<std::size_t>(seen)];
    for (std::size_t m = 0; m < 1440; ++m) {
        if (state[m] < 0) state[m] = last;
        last = state[m];
    }
    for (std::size_t m = 0; m < 1440; ++m)
        Append(out, static_cast<double>(m), static_cast<double>(m) + 1.0, state[m] == 1);
    return out;
}

bool LightAt(const std::vector<LightPhase>& phases, double minute) {
    const auto it = std::upper_bound(phases.begin(), phases.end(), minute,
                                     [](double m, const LightPhase& p) { return m < p.end; });
    return it != phases.end() && it->begin <= minute && it->light;
}

double LightMinutes(const std::vector<LightPhase>& phases, double a, double b) {
    double sum = 0.0;
    auto it = std::upper_bound(phases.begin(), phases.end(), a,
                               [](double m, const LightPhase& p) { return m < p.end; });
    for (; it != phases.end() && it->begin < b; ++it)
        if (it->light) sum += std::max(0.0, std::min(b, it->end) - std::max(a, it->begin));
    return sum;
}

RunClock MakeRunClock(const RunLog& log, const std::string& folder_name,
                      const std::string& register_name) {
    RunClock clock;
    const RecordingStart start = StartOfRecording(log, folder_name, register_name);
    clock.start_known = start.known;
    clock.start = start.local;
    clock.start_source = start.source;
    if (log.any) {
        for (const WallPeriod& f : log.frozen_pauses) {
            if (f.end <= f.begin) continue;
            clock.frozen.push_back(
                {ElapsedMinutesAt(log, f.begin), static_cast<double>(f.end - f.begin) / 60.0});
        }
    }
    return clock;
}

LightSchedule MakeLightSchedule(const LightProgram& program, const RunClock& clock,
                                const RunLog& log, double run_minutes) {
    LightSchedule s;
    s.program = program;
    if (!clock.start_known) {
        s.source = LightSource::Unknown;
        s.description = "no light phases: the time the run started is not known";
        return s;
    }
    std::string source_text;
    if (log.sampling_started && !log.light.empty()) {
        std::vector<LightSwitchAt> switches;
        for (const LoggedLightSwitch& l : log.light)
            switches.push_back({static_cast<double>(l.second - log.start) / 60.0, l.on});
        s.phases = LoggedLightPhases(switches, run_minutes);
        s.source = LightSource::EventLog;
        source_text = "as logged in events.log";
    } else if (program.cycle_enabled) {
        s.phases = ModelLightPhases(program, clock.StartMinuteOfDay(), run_minutes, false);
        s.source = LightSource::Setup;
        source_text = program.pulse_count > 0
                          ? "light cycle and pulse series of the acquisition's setup"
                          : "light cycle of the acquisition's setup";
    } else {
        s.phases = ModelLightPhases(program, clock.StartMinuteOfDay(), run_minutes, false);
        s.source = LightSource::Assumed;
        source_text = "no light cycle; the run did not record the light, dark is assumed";
    }
    s.daily = DailyLightPhases(s.phases, clock.StartMinuteOfDay());
    s.description = DescribeDaily(s.daily) + " (" + source_text + ")";
    return s;
}

}  // namespace lumivo::reporting
