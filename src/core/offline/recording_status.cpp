#include "core/offline/recording_status.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

#include "core/acquisition/event_log_reader.h"

namespace lumivo::offline {

namespace {

// The shortest window a recording can have: 500 readings at the timer's 30 ms.
constexpr double kShortestWindowMinutes = 0.25;
// Older files restarted the minute count after midnight: a drop of more than this many minutes
// from one record to the next is read as a new day.
constexpr std::int32_t kDayRollDrop = 1000;

LoggedPeriod ToElapsed(const RunLog& log, const WallPeriod& w) {
    return {ElapsedMinutesAt(log, w.begin), ElapsedMinutesAt(log, w.end), w.end - w.begin, w.ended};
}

// Minutes of [a, b] covered by the periods.
double Covered(const std::vector<LoggedPeriod>& periods, double a, double b) {
    double sum = 0.0;
    for (const LoggedPeriod& p : periods)
        sum += std::max(0.0, std::min(b, p.end_minute) - std::max(a, p.begin_minute));
    return sum;
}

double EstimateWindowMinutes(const std::vector<double>& m) {
    if (m.empty()) return kShortestWindowMinutes;
    if (m.size() == 1) return std::max(m.front() + 0.5, kShortestWindowMinutes);
    double w = (m.back() - m.front()) / static_cast<double>(m.size() - 1);
    w = std::max(w, kShortestWindowMinutes);
    // Gaps inflate the plain mean: average the steps that are no gap, three times over.
    for (int pass = 0; pass < 3; ++pass) {
        double sum = 0.0;
        std::size_t count = 0;
        for (std::size_t i = 1; i < m.size(); ++i) {
            const double d = m[i] - m[i - 1];
            if (d >= 0.0 && d <= 1.5 * w + 1.0) {
                sum += d;
                ++count;
            }
        }
        if (count == 0 || sum <= 0.0) break;
        w = std::max(sum / static_cast<double>(count), kShortestWindowMinutes);
    }
    return w;
}

// Windows missing in a gap of `minutes` between two records (at least one).
std::size_t WindowsBetween(double minutes, double w) {
    return static_cast<std::size_t>(std::clamp(std::nearbyint(minutes / w) - 1.0, 1.0, 1e12));
}
// Whole windows that fit in `minutes` after the last record (at least one).
std::size_t WindowsBefore(double minutes, double w) {
    return static_cast<std::size_t>(std::clamp(std::floor(minutes / w), 1.0, 1e12));
}

struct KindInterval {
    double begin, end;
    StripKind kind;
};

// Cuts overlapping intervals into ordered stretches, each of the strongest kind covering it.
std::vector<StripSegment> Flatten(const std::vector<KindInterval>& intervals) {
    struct Edge {
        double at;
        int delta;
        StripKind kind;
    };
    std::vector<Edge> edges;
    for (const KindInterval& i : intervals) {
        if (i.end <= i.begin) continue;
        edges.push_back({i.begin, +1, i.kind});
        edges.push_back({i.end, -1, i.kind});
    }
    std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.at < b.at; });
    std::array<int, 7> open{};
    std::vector<StripSegment> out;
    for (std::size_t e = 0; e < edges.size();) {
        const double at = edges[e].at;
        for (; e < edges.size() && edges[e].at == at; ++e)
            open[static_cast<std::size_t>(edges[e].kind)] += edges[e].delta;
        if (e == edges.size()) break;
        StripKind kind = StripKind::None;
        for (std::size_t k = open.size(); k-- > 0;)
            if (open[k] > 0) {
                kind = static_cast<StripKind>(k);
                break;
            }
        const double next = edges[e].at;
        if (!out.empty() && out.back().kind == kind && out.back().end_minute == at)
            out.back().end_minute = next;
        else
            out.push_back({at, next, kind});
    }
    return out;
}

}  // namespace

RecordingStatus AnalyseRecording(std::span<const std::int32_t> record_minutes,
                                 std::string_view events_log) {
    RecordingStatus st;
    // Day-adjusted minutes, as the report reads them (in doubles: a damaged file may hold any
    // 32-bit values).
    std::vector<double> m;
    m.reserve(record_minutes.size());
    double day_offset = 0;
    for (std::size_t i = 0; i < record_minutes.size(); ++i) {
        if (i > 0 &&
            std::int64_t{record_minutes[i]} < std::int64_t{record_minutes[i - 1]} - kDayRollDrop)
            day_offset += 1440;
        m.push_back(record_minutes[i] + day_offset);
    }
    st.windows_recorded = m.size();
    if (!m.empty()) {
        const double last = *std::max_element(m.begin(), m.end());
        st.last_minute = static_cast<std::int32_t>(
            std::clamp(last, 0.0, static_cast<double>(std::numeric_limits<std::int32_t>::max())));
    }

    const RunLog log = ParseRunLog(events_log);
    st.has_event_log = log.any;
    st.log_ended = log.end.has_value();
    st.write_failures = log.write_failures;
    double log_end_minute = 0.0;
    if (log.any) {
        for (const WallPeriod& w : log.silences) st.silences.push_back(ToElapsed(log, w));
        for (const WallPeriod& w : log.running_pauses) st.pauses.push_back(ToElapsed(log, w));
        for (const WallPeriod& w : log.instrument_lost) st.losses.push_back(ToElapsed(log, w));
        for (const WallPeriod& w : log.interruptions) st.interruptions.push_back(ToElapsed(log, w));
        st.windows_not_recorded = log.windows_not_recorded;
        st.frozen_pauses = log.frozen_pauses.size();
        for (const WallPeriod& w : log.frozen_pauses) {
            st.frozen_pause_seconds += w.end - w.begin;
            const double at = ElapsedMinutesAt(log, w.begin);
            st.periods.push_back({at, at, StripKind::Paused,
                                  "paused " + DurationText(w.end - w.begin) +
                                      (w.ended ? "" : " (not resumed)") +
                                      " with the time counter held"});
        }
        log_end_minute = ElapsedMinutesAt(log, log.end.value_or(log.last));
    }

    const double w = EstimateWindowMinutes(m);
    st.window_minutes = m.empty() ? 0.0 : w;
    const double records_end =
        m.empty() ? 0.0 : std::max(0.0, *std::max_element(m.begin(), m.end()) + 0.5);
    st.run_minutes = std::max(records_end, log_end_minute);

    // Time no window was due or could hold animals' data: explained gaps.
    auto explained = [&](double a, double b) {
        return Covered(st.pauses, a, b) + Covered(st.silences, a, b) + Covered(st.losses, a, b) +
               Covered(st.interruptions, a, b);
    };
    const double gap_limit = 1.5 * w + 1.0;
    std::vector<KindInterval> intervals;
    if (!m.empty()) {
        intervals.push_back({0.0, records_end, StripKind::Data});
        const double lead = m.front() - explained(0.0, m.front());
        if (lead > gap_limit) {
            st.windows_missing += WindowsBetween(lead, w);
            intervals.push_back({0.0, m.front() + 0.5 - w, StripKind::Missing});
        }
        for (std::size_t i = 1; i < m.size(); ++i) {
            const double d = m[i] - m[i - 1] - explained(m[i - 1], m[i]);
            if (d <= gap_limit) continue;
            st.windows_missing += WindowsBetween(d, w);
            intervals.push_back({m[i - 1] + 0.5, m[i] + 0.5 - w, StripKind::Missing});
        }
        const double tail = st.run_minutes - records_end - explained(records_end, st.run_minutes);
        if (tail > gap_limit) {
            st.windows_missing += WindowsBefore(tail, w);
            intervals.push_back({records_end, st.run_minutes, StripKind::Missing});
        }
    } else if (st.run_minutes > 0.0) {
        intervals.push_back({0.0, st.run_minutes, StripKind::Missing});
    }
    for (const LoggedPeriod& p : st.pauses)
        intervals.push_back({p.begin_minute, p.end_minute, StripKind::Paused});
    for (const LoggedPeriod& p : st.silences)
        intervals.push_back({p.begin_minute, p.end_minute, StripKind::Silent});
    for (const LoggedPeriod& p : st.losses)
        intervals.push_back({p.begin_minute, p.end_minute, StripKind::Lost});
    for (const LoggedPeriod& p : st.interruptions)
        intervals.push_back({p.begin_minute, p.end_minute, StripKind::Interrupted});
    intervals.push_back({0.0, st.run_minutes, StripKind::None});
    // Minutes below 0 or periods beyond the end come only from damaged files: the strip shows
    // the run's own time axis.
    for (KindInterval& i : intervals) {
        i.begin = std::clamp(i.begin, 0.0, st.run_minutes);
        i.end = std::clamp(i.end, 0.0, st.run_minutes);
    }
    st.segments = Flatten(intervals);
    for (StripPeriod& p : st.periods) {
        p.begin_minute = std::clamp(p.begin_minute, 0.0, st.run_minutes);
        p.end_minute = std::clamp(p.end_minute, p.begin_minute, st.run_minutes);
    }
    std::stable_sort(st.periods.begin(), st.periods.end(),
                     [](const StripPeriod& a, const StripPeriod& b) {
                         return a.begin_minute < b.begin_minute;
                     });
    return st;
}

std::vector<StripKind> StripCells(const RecordingStatus& status, std::size_t cells) {
    std::vector<StripKind> out(cells, StripKind::None);
    if (cells == 0 || status.run_minutes <= 0.0) return out;
    const double width = status.run_minutes / static_cast<double>(cells);
    std::size_t s = 0;
    for (std::size_t c = 0; c < cells; ++c) {
        const double a = width * static_cast<double>(c);
        const double b = c + 1 == cells ? status.run_minutes : width * static_cast<double>(c + 1);
        while (s < status.segments.size() && status.segments[s].end_minute <= a) ++s;
        StripKind kind = StripKind::None;
        for (std::size_t k = s; k < status.segments.size() && status.segments[k].begin_minute < b;
             ++k)
            kind = std::max(kind, status.segments[k].kind);
        out[c] = kind;
    }
    return out;
}

std::string DurationText(std::int64_t seconds) {
    seconds = std::max<std::int64_t>(seconds, 0);
    const long long d = seconds / 86400, h = seconds / 3600 % 24, m = seconds / 60 % 60,
                    s = seconds % 60;
    char buf[64];
    if (seconds < 60)
        std::snprintf(buf, sizeof buf, "%lld s", s);
    else if (seconds < 3600)
        std::snprintf(buf, sizeof buf, "%lld min %02lld s", m, s);
    else if (seconds < 86400)
        std::snprintf(buf, sizeof buf, "%lld h %02lld min", h, m);
    else
        std::snprintf(buf, sizeof buf, "%lld d %02lld h %02lld min", d, h, m);
    return buf;
}

}  // namespace lumivo::offline
