#include "core/reporting/rhythm/rhythm_views.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace lumivo::reporting {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Mean and standard error of the values (SE 0 for one value).
void MeanAndSe(const std::vector<double>& v, double& mean, double& se) {
    mean = 0.0;
    se = 0.0;
    if (v.empty()) return;
    for (double x : v) mean += x;
    mean /= static_cast<double>(v.size());
    if (v.size() < 2) return;
    double squares = 0.0;
    for (double x : v) squares += (x - mean) * (x - mean);
    const auto n = static_cast<double>(v.size());
    se = std::sqrt(squares / (n - 1.0) / n);
}

// A well's points: the mean of the observed bins of each run of `factor` bins.
void WellPoints(const RhythmData& d, const double* v, std::size_t factor, std::vector<double>& mean,
                std::vector<std::uint8_t>& present) {
    const std::size_t points = (d.bins + factor - 1) / factor;
    mean.assign(points, 0.0);
    present.assign(points, 0);
    for (std::size_t p = 0; p < points; ++p) {
        double sum = 0.0;
        std::size_t n = 0;
        for (std::size_t k = p * factor; k < std::min(d.bins, (p + 1) * factor); ++k) {
            if (!d.Observed(k)) continue;
            sum += v[k];
            ++n;
        }
        if (n == 0) continue;
        mean[p] = sum / static_cast<double>(n);
        present[p] = 1;
    }
}

// A well's daily points: the mean (and SE over the days) of its run points at each time of day.
void DailyPoints(const RhythmData& d, double step, const std::vector<double>& run,
                 const std::vector<std::uint8_t>& present, std::vector<double>& mean,
                 std::vector<double>& se, std::vector<std::uint8_t>& has) {
    const auto slots = static_cast<std::size_t>(std::ceil(1440.0 / step - 1e-9));
    std::vector<std::vector<double>> at(slots);
    const double start = d.clock.start_known ? d.clock.StartMinuteOfDay() : 0.0;
    for (std::size_t p = 0; p < run.size(); ++p) {
        if (!present[p]) continue;
        const double tod = std::fmod(start + static_cast<double>(p) * step, 1440.0);
        const auto slot = std::min(slots - 1, static_cast<std::size_t>(tod / step + 1e-9));
        at[slot].push_back(run[p]);
    }
    mean.assign(slots, 0.0);
    se.assign(slots, 0.0);
    has.assign(slots, 0);
    for (std::size_t s = 0; s < slots; ++s) {
        if (at[s].empty()) continue;
        MeanAndSe(at[s], mean[s], se[s]);
        has[s] = 1;
    }
}

const std::vector<std::size_t>& Members(const RhythmData& d, const SeriesRef& ref) {
    return d.groups[ref.index].members;
}

}  // namespace

std::vector<SeriesRef> SelectedSeries(const RhythmData& data, const SeriesSelection& selection) {
    std::vector<SeriesRef> out;
    switch (selection.kind) {
        case SeriesSelection::Kind::All:
            for (std::size_t g = 0; g < data.groups.size(); ++g) out.push_back({true, g});
            for (std::size_t w = 0; w < data.wells.size(); ++w) out.push_back({false, w});
            break;
        case SeriesSelection::Kind::Group: {
            out.push_back({true, selection.index});
            const int number = data.groups[selection.index].group;
            for (std::size_t w = 0; w < data.wells.size(); ++w)
                if (data.wells[w].group == number) out.push_back({false, w});
            break;
        }
        case SeriesSelection::Kind::Well:
            out.push_back({false, selection.index});
            break;
    }
    return out;
}

std::vector<SeriesRef> PanelSeries(const RhythmData& data, const SeriesSelection& selection) {
    std::vector<SeriesRef> out;
    if (selection.kind == SeriesSelection::Kind::All && !data.groups.empty()) {
        for (std::size_t g = 0; g < data.groups.size(); ++g) out.push_back({true, g});
        return out;
    }
    for (const SeriesRef& r : SelectedSeries(data, selection))
        if (r.group || data.wells[r.index].beams > 0) out.push_back(r);
    return out;
}

const double* SeriesValues(const RhythmData& data, const SeriesRef& ref) {
    return ref.group ? data.GroupMean(ref.index) : data.Well(ref.index);
}

std::string SeriesName(const RhythmData& data, const SeriesRef& ref) {
    return ref.group ? data.groups[ref.index].label : data.wells[ref.index].name;
}

std::string SeriesCaption(const RhythmData& data, const SeriesRef& ref) {
    if (ref.group) {
        const GroupSeries& g = data.groups[ref.index];
        std::string text = g.label + ": mean of " + std::to_string(g.members.size()) +
                           (g.members.size() == 1 ? " well" : " wells");
        if (g.left_out > 0) text += " (" + std::to_string(g.left_out) + " left out)";
        return text;
    }
    const WellSeries& w = data.wells[ref.index];
    std::string text = w.name + " (" + w.group_label;
    if (w.status != WellStatus::Ok) text += ", " + std::string(WellStatusText(w.status));
    return text + ")";
}

int SeriesWells(const RhythmData& data, const SeriesRef& ref) {
    return ref.group ? static_cast<int>(Members(data, ref).size()) : 1;
}

int ActogramLayout::RowOf(double clock_minute) const {
    return static_cast<int>(std::floor((clock_minute - origin) / period_minutes + 1e-9));
}

ActogramLayout MakeActogramLayout(const RhythmData& data, const ActogramOptions& options) {
    ActogramLayout a;
    a.period_minutes = std::max(options.period_hours, 1.0) * 60.0;
    a.double_plot = options.double_plot;
    a.origin = data.clock.start_known ? -data.clock.StartMinuteOfDay() : 0.0;
    a.rows = std::max(
        1, static_cast<int>(std::ceil((data.run_minutes - a.origin) / a.period_minutes - 1e-9)));
    return a;
}

std::vector<LightPhase> ActogramRowPhases(const ActogramLayout& layout,
                                          const std::vector<LightPhase>& phases, int row) {
    std::vector<LightPhase> out;
    const double a = layout.RowStart(row);
    const double b = a + layout.period_minutes * (layout.double_plot ? 2.0 : 1.0);
    for (const LightPhase& p : phases) {
        const double from = std::max(a, p.begin), to = std::min(b, p.end);
        if (to > from) out.push_back({from - a, to - a, p.light});
    }
    return out;
}

Profile MakeProfile(const RhythmData& data, const std::vector<SeriesRef>& series,
                    const std::vector<double>& well_values, std::size_t factor) {
    factor = std::max<std::size_t>(factor, 1);
    Profile out;
    out.step_minutes = static_cast<double>(factor) * data.bin_minutes;
    // Each well's points over the run and over the day, computed once.
    struct WellProfile {
        bool done = false;
        std::vector<double> run, daily, daily_se;
        std::vector<std::uint8_t> run_present, daily_present;
    };
    std::vector<WellProfile> wells(data.wells.size());
    auto well = [&](std::size_t w) -> const WellProfile& {
        WellProfile& p = wells[w];
        if (!p.done) {
            WellPoints(data, well_values.data() + w * data.bins, factor, p.run, p.run_present);
            DailyPoints(data, out.step_minutes, p.run, p.run_present, p.daily, p.daily_se,
                        p.daily_present);
            p.done = true;
        }
        return p;
    };
    for (const SeriesRef& ref : series) {
        ProfileCurve run, daily;
        run.series = daily.series = ref;
        if (!ref.group) {
            const WellProfile& p = well(ref.index);
            run.mean = p.run;
            run.se.assign(p.run.size(), 0.0);
            run.present = p.run_present;
            daily.mean = p.daily;
            daily.se = p.daily_se;
            daily.present = p.daily_present;
        } else {
            const auto& members = Members(data, ref);
            const std::size_t points = (data.bins + factor - 1) / factor;
            const auto slots =
                static_cast<std::size_t>(std::ceil(1440.0 / out.step_minutes - 1e-9));
            run.mean.assign(points, 0.0);
            run.se.assign(points, 0.0);
            run.present.assign(points, 0);
            daily.mean.assign(slots, 0.0);
            daily.se.assign(slots, 0.0);
            daily.present.assign(slots, 0);
            std::vector<double> values;
            for (std::size_t p = 0; p < points; ++p) {
                values.clear();
                for (std::size_t w : members)
                    if (well(w).run_present[p]) values.push_back(well(w).run[p]);
                if (values.empty()) continue;
                MeanAndSe(values, run.mean[p], run.se[p]);
                run.present[p] = 1;
            }
            for (std::size_t s = 0; s < slots; ++s) {
                values.clear();
                for (std::size_t w : members)
                    if (well(w).daily_present[s]) values.push_back(well(w).daily[s]);
                if (values.empty()) continue;
                MeanAndSe(values, daily.mean[s], daily.se[s]);
                daily.present[s] = 1;
            }
        }
        out.run.push_back(std::move(run));
        out.daily.push_back(std::move(daily));
    }
    return out;
}

PeriodogramSet MakePeriodograms(const RhythmData& data, const std::vector<SeriesRef>& series,
                                const PeriodogramOptions& options) {
    std::vector<const double*> values;
    values.reserve(series.size());
    for (const SeriesRef& ref : series) values.push_back(SeriesValues(data, ref));
    PeriodogramSet set =
        ComputePeriodograms(values, data.bins, data.observed, data.bin_minutes, options);
    // A series without wells (a group whose wells were all left out, a well without beams) has
    // nothing to show.
    for (std::size_t i = 0; i < series.size(); ++i) {
        const SeriesRef& ref = series[i];
        const bool empty =
            ref.group ? Members(data, ref).empty() : data.wells[ref.index].beams == 0;
        if (!empty) continue;
        set.series[i] = Periodogram{};
        set.series[i].power.assign(set.period_bins.size(), kNaN);
    }
    return set;
}

SleepView MakeSleepView(const RhythmData& data, const SleepDefinition& definition) {
    SleepView v;
    v.definition = definition;
    const double bout_minutes = definition.bout_minutes;
    v.wells.resize(data.wells.size());
    v.in_bout.assign(data.wells.size() * data.bins, 0.0);
    for (std::size_t w = 0; w < data.wells.size(); ++w) {
        if (data.wells[w].beams == 0) continue;
        v.wells[w] = AnalyseSleep(data.Well(w), data.bins, data.observed, data.bin_minutes,
                                  data.light.phases, bout_minutes);
        const auto& state = v.wells[w].state;
        double* out = v.in_bout.data() + w * data.bins;
        for (std::size_t k = 0; k < data.bins; ++k) out[k] = state[k] == 1 ? 1.0 : 0.0;
    }
    return v;
}

SleepRow SleepRowOf(const RhythmData& data, const SleepView& view, const SeriesRef& ref,
                    SleepPhase phase) {
    auto of = [&](std::size_t w) -> const PhaseSleep& {
        const SleepSummary& s = view.wells[w];
        return phase == SleepPhase::Light ? s.light : phase == SleepPhase::Dark ? s.dark : s.all;
    };
    auto row_of_well = [&](std::size_t w) {
        const PhaseSleep& p = of(w);
        SleepRow r;
        r.observed_minutes = p.observed_minutes;
        r.sleep_minutes = p.sleep_minutes;
        r.sleep_share = p.SleepShare();
        r.zero_minutes = p.zero_minutes;
        r.bouts = p.bouts;
        r.mean_bout_minutes = p.MeanBout();
        r.latency_minutes = phase == SleepPhase::Dark ? view.wells[w].MeanLatency() : kNaN;
        r.nights = phase == SleepPhase::Dark ? view.wells[w].nights : kNaN;
        return r;
    };
    if (!ref.group) {
        if (data.wells[ref.index].beams == 0) {
            SleepRow r;
            r.sleep_share = r.mean_bout_minutes = r.latency_minutes = r.nights = kNaN;
            return r;
        }
        return row_of_well(ref.index);
    }
    // A group: the mean of its members' values, each over the members that have one.
    SleepRow r;
    double* fields[] = {&r.observed_minutes, &r.sleep_minutes, &r.sleep_share,
                        &r.zero_minutes,     &r.bouts,         &r.mean_bout_minutes,
                        &r.latency_minutes,  &r.nights};
    constexpr std::size_t kFields = std::size(fields);
    double sums[kFields] = {};
    std::size_t counts[kFields] = {};
    for (std::size_t w : Members(data, ref)) {
        const SleepRow m = row_of_well(w);
        const double values[] = {m.observed_minutes, m.sleep_minutes, m.sleep_share,
                                 m.zero_minutes,     m.bouts,         m.mean_bout_minutes,
                                 m.latency_minutes,  m.nights};
        for (std::size_t f = 0; f < kFields; ++f) {
            if (std::isnan(values[f])) continue;
            sums[f] += values[f];
            ++counts[f];
        }
    }
    for (std::size_t f = 0; f < kFields; ++f)
        *fields[f] = counts[f] > 0 ? sums[f] / static_cast<double>(counts[f]) : kNaN;
    return r;
}

namespace {

bool EmptySeries(const RhythmData& data, const SeriesRef& ref) {
    return ref.group ? data.groups[ref.index].members.empty() : data.wells[ref.index].beams == 0;
}

}  // namespace

double LightsOnHour(const LightSchedule& light) {
    const auto& d = light.daily;
    for (std::size_t i = 0; i < d.size(); ++i) {
        const LightPhase& before = d[(i + d.size() - 1) % d.size()];
        if (d[i].light && !before.light) return d[i].begin / 60.0;
    }
    return kNaN;
}

double CosinorReferenceMinute(const RhythmData& data) {
    return data.clock.start_known ? -data.clock.StartMinuteOfDay() : 0.0;
}

CosinorView MakeCosinorView(const RhythmData& data, const std::vector<SeriesRef>& series,
                            const CosinorOptions& options) {
    CosinorView v;
    v.reference_minute = CosinorReferenceMinute(data);
    v.lights_on_hour = LightsOnHour(data.light);
    PeriodogramSet peaks;
    if (!options.period_hours) peaks = MakePeriodograms(data, series, options.periodogram);
    for (std::size_t i = 0; i < series.size(); ++i) {
        CosinorRow row;
        double period = options.period_hours.value_or(24.0);
        row.period_source = "given";
        if (!options.period_hours) {
            const Periodogram& pg = peaks.series[i];
            if (pg.peak >= 0 && pg.significant) {
                period = pg.peak_period_h;
                row.period_source = "periodogram peak";
            } else {
                row.period_source = "24 h: no significant peak";
            }
        }
        if (EmptySeries(data, series[i])) {
            row.fit.period_h = period;
            row.fit.why = "no well to fit";
        } else {
            row.fit = FitCosinor(SeriesValues(data, series[i]), data.bins, data.observed,
                                 data.bin_minutes, period, v.reference_minute);
        }
        // Zeitgeber time needs the time of day: the reference is midnight.
        const bool day_clock = data.clock.start_known && row.fit.valid;
        row.zt = day_clock ? ZeitgeberHours(row.fit.acrophase_h, v.lights_on_hour) : kNaN;
        row.zt_lo = day_clock ? ZeitgeberHours(row.fit.acrophase_lo_h, v.lights_on_hour) : kNaN;
        row.zt_hi = day_clock ? ZeitgeberHours(row.fit.acrophase_hi_h, v.lights_on_hour) : kNaN;
        v.rows.push_back(std::move(row));
    }
    return v;
}

std::vector<RestActivity> MakeRestActivity(const RhythmData& data,
                                           const std::vector<SeriesRef>& series) {
    std::vector<RestActivity> out;
    const double start = data.clock.start_known ? data.clock.StartMinuteOfDay() : 0.0;
    for (const SeriesRef& ref : series) {
        if (EmptySeries(data, ref)) {
            RestActivity r;
            r.why = "no well";
            out.push_back(r);
            continue;
        }
        out.push_back(RestActivityIndices(SeriesValues(data, ref), data.bins, data.observed,
                                          data.bin_minutes, start));
    }
    return out;
}

std::vector<PhaseMarkers> MakePhaseMarkers(const RhythmData& data,
                                           const std::vector<SeriesRef>& series,
                                           const ActogramLayout& layout, double smooth_hours) {
    std::vector<PhaseMarkers> out;
    for (const SeriesRef& ref : series) {
        if (EmptySeries(data, ref)) {
            PhaseMarkers m;
            m.period_h = m.period_lo_h = m.period_hi_h = kNaN;
            for (int r = 0; r < layout.rows; ++r) m.days.push_back({r, kNaN, kNaN, kNaN});
            out.push_back(std::move(m));
            continue;
        }
        out.push_back(FindPhaseMarkers(SeriesValues(data, ref), data.bins, data.observed,
                                       data.bin_minutes, layout.origin, layout.period_minutes,
                                       layout.rows, smooth_hours));
    }
    return out;
}

}  // namespace lumivo::reporting
