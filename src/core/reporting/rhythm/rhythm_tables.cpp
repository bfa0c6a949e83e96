#include "core/reporting/rhythm/rhythm_tables.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <initializer_list>

#include "core/common/rounding.h"

namespace lumivo::reporting {

namespace {

constexpr const char* kEnd = "\r\n";

// id,kind,group,status of a series.
std::string SeriesFields(const RhythmData& d, const SeriesRef& ref) {
    if (ref.group) {
        const std::string label = CsvField(d.groups[ref.index].label);
        return label + ",group," + label + ",NA";
    }
    const WellSeries& w = d.wells[ref.index];
    return CsvField(w.name) + ",well," + CsvField(w.group_label) + "," +
           std::string(WellStatusText(w.status));
}

const char* LightText(const RhythmData& d, double a, double b) {
    if (d.light.phases.empty()) return "NA";
    return LightMinutes(d.light.phases, a, b) * 2.0 >= b - a ? "light" : "dark";
}

}  // namespace

std::string CsvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string out = "\"";
    for (char c : text) {
        out += c;
        if (c == '"') out += '"';
    }
    return out + "\"";
}

std::string CsvNumber(double v, int decimals) {
    if (!std::isfinite(v)) return "NA";
    static constexpr double kScale[] = {1.0, 10.0, 100.0, 1e3, 1e4, 1e5, 1e6};
    const double scale = kScale[std::clamp(decimals, 0, 6)];
    // Halves to the even neighbour, as every number the program writes.
    v = RoundHalfEven(v * scale) / scale;
    if (v == 0.0) v = 0.0;
    std::array<char, 64> buf{};
    const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), v);
    return std::string(buf.data(), r.ptr);
}

std::string ActogramTable(const RhythmData& data, const std::vector<SeriesRef>& series,
                          const ActogramLayout& layout) {
    std::string out = "id,kind,group,status,row,t_h,offset_h,counts,light";
    out += kEnd;
    out.reserve(out.size() + series.size() * data.bins * 56);
    // Per bin: the row fields and the light, the same for every series.
    std::vector<std::string> bin_fields(data.bins);
    std::vector<std::string> light(data.bins);
    for (std::size_t k = 0; k < data.bins; ++k) {
        const double t = data.BinStart(k);
        const int row = layout.RowOf(t);
        bin_fields[k] = "," + std::to_string(row + 1) + "," + CsvNumber(t / 60.0) + "," +
                        CsvNumber((t - layout.RowStart(row)) / 60.0) + ",";
        light[k] = std::string(",") + LightText(data, t, t + data.bin_minutes) + kEnd;
    }
    for (const SeriesRef& ref : series) {
        const std::string head = SeriesFields(data, ref);
        const double* v = SeriesValues(data, ref);
        const bool empty =
            ref.group ? data.groups[ref.index].members.empty() : data.wells[ref.index].beams == 0;
        for (std::size_t k = 0; k < data.bins; ++k) {
            out += head;
            out += bin_fields[k];
            out += data.Observed(k) && !empty ? CsvNumber(v[k]) : std::string("NA");
            out += light[k];
        }
    }
    return out;
}

std::string PeriodogramTable(const RhythmData& data, const std::vector<SeriesRef>& series,
                             const PeriodogramSet& set, const PeriodogramOptions& options) {
    std::string out =
        "id,kind,group,status,n_wells,method,peak_rule,period_min_h,period_max_h,alpha,"
        "peak_period_h,power,threshold,significant";
    out += kEnd;
    const std::string fixed = "," + std::string(PeriodogramMethodName(set.method)) + "," +
                              std::string(PeakRuleName(set.peak)) + "," +
                              CsvNumber(options.min_hours) + "," + CsvNumber(options.max_hours) +
                              "," + CsvNumber(set.alpha) + ",";
    for (std::size_t i = 0; i < series.size() && i < set.series.size(); ++i) {
        const Periodogram& pg = set.series[i];
        out += SeriesFields(data, series[i]) + "," + std::to_string(SeriesWells(data, series[i])) +
               fixed;
        if (pg.peak >= 0)
            out += CsvNumber(pg.peak_period_h) + "," + CsvNumber(pg.peak_power) + "," +
                   CsvNumber(pg.peak_threshold) + "," + (pg.significant ? "TRUE" : "FALSE");
        else
            out += "NA,NA,NA,FALSE";
        out += kEnd;
    }
    return out;
}

std::string ProfileTable(const RhythmData& data, const Profile& profile) {
    std::string out = "id,kind,group,n_wells,fold,t_h,mean,se,light";
    out += kEnd;
    for (std::size_t i = 0; i < profile.run.size(); ++i) {
        const SeriesRef& ref = profile.run[i].series;
        std::string head = SeriesFields(data, ref);
        head.erase(head.rfind(','));  // no status column here
        head += "," + std::to_string(SeriesWells(data, ref));
        for (int fold = 0; fold < 2; ++fold) {
            const ProfileCurve& c = fold == 0 ? profile.run[i] : profile.daily[i];
            const auto& phases = fold == 0 ? data.light.phases : data.light.daily;
            for (std::size_t k = 0; k < c.mean.size(); ++k) {
                const double a = static_cast<double>(k) * profile.step_minutes;
                out += head;
                out += fold == 0 ? ",run," : ",day,";
                out += CsvNumber(a / 60.0) + ",";
                if (c.present[k])
                    out += CsvNumber(c.mean[k]) + "," + CsvNumber(c.se[k]);
                else
                    out += "NA,NA";
                out += ",";
                if (phases.empty())
                    out += "NA";
                else
                    out += LightMinutes(phases, a, a + profile.step_minutes) * 2.0 >=
                                   profile.step_minutes
                               ? "light"
                               : "dark";
                out += kEnd;
            }
        }
    }
    return out;
}

std::string SleepTable(const RhythmData& data, const SleepView& view,
                       const std::vector<SeriesRef>& series) {
    std::string out =
        "id,kind,group,status,n_wells,phase,observed_min,sleep_min,sleep_pct,zero_min,bouts,"
        "mean_bout_min,latency_min,nights,bout_min,definition,rule";
    out += kEnd;
    const bool known = !data.light.phases.empty();
    const std::string definition = "," + CsvField(OrganismName(view.definition.organism)) + "," +
                                   CsvField(view.definition.RuleText()) + kEnd;
    const std::pair<SleepPhase, const char*> phases[] = {
        {SleepPhase::Light, "light"}, {SleepPhase::Dark, "dark"}, {SleepPhase::All, "all"}};
    for (const SeriesRef& ref : series) {
        const std::string head =
            SeriesFields(data, ref) + "," + std::to_string(SeriesWells(data, ref)) + ",";
        for (const auto& [phase, name] : phases) {
            if (!known && phase != SleepPhase::All) continue;
            const SleepRow r = SleepRowOf(data, view, ref, phase);
            out += head + name + "," + CsvNumber(r.observed_minutes, 2) + "," +
                   CsvNumber(r.sleep_minutes, 2) + "," + CsvNumber(r.sleep_share * 100.0, 2) + "," +
                   CsvNumber(r.zero_minutes, 2) + "," + CsvNumber(r.bouts, 2) + "," +
                   CsvNumber(r.mean_bout_minutes, 2) + "," + CsvNumber(r.latency_minutes, 2) + "," +
                   CsvNumber(r.nights, 2) + "," + CsvNumber(view.definition.bout_minutes) +
                   definition;
        }
    }
    return out;
}

namespace {

// id,kind,group,status,n_wells, of a series.
std::string SeriesHead(const RhythmData& d, const SeriesRef& ref) {
    return SeriesFields(d, ref) + "," + std::to_string(SeriesWells(d, ref)) + ",";
}

// A p-value: four decimals, or three significant digits below 0.0001 ("2.31e-12").
std::string PValueText(double p) {
    if (!std::isfinite(p)) return "NA";
    if (p >= 1e-4 || p == 0.0) return CsvNumber(p, 4);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3g", p);
    return buf;
}

// Numbers joined by commas.
std::string Numbers(std::initializer_list<double> values, int decimals = 4) {
    std::string out;
    for (double v : values) {
        if (!out.empty()) out += ',';
        out += CsvNumber(v, decimals);
    }
    return out;
}

}  // namespace

std::string CosinorTable(const RhythmData& data, const std::vector<SeriesRef>& series,
                         const CosinorView& view) {
    std::string out =
        "id,kind,group,status,n_wells,period_h,period_source,reference,n_bins,mesor,mesor_lo,"
        "mesor_hi,amplitude,amplitude_lo,amplitude_hi,acrophase_h,acrophase_lo_h,acrophase_hi_h,"
        "acrophase_zt,acrophase_zt_lo,acrophase_zt_hi,f,df1,df2,p,r2,note";
    out += kEnd;
    const char* reference = data.clock.start_known ? "midnight" : "start";
    for (std::size_t i = 0; i < series.size() && i < view.rows.size(); ++i) {
        const CosinorRow& row = view.rows[i];
        const CosinorFit& f = row.fit;
        out += SeriesHead(data, series[i]) + CsvNumber(f.period_h) + "," +
               CsvField(row.period_source) + "," + reference + "," + std::to_string(f.n) + ",";
        if (f.valid) {
            out += Numbers({f.mesor, f.mesor_lo, f.mesor_hi, f.amplitude, f.amplitude_lo,
                            f.amplitude_hi, f.acrophase_h, f.acrophase_lo_h, f.acrophase_hi_h,
                            row.zt, row.zt_lo, row.zt_hi, f.f}) +
                   ",2," + std::to_string(f.n - 3) + "," + PValueText(f.p) + "," + CsvNumber(f.r2) +
                   ",";
            if (f.p >= 0.05) out += "no significant rhythm at this period";
        } else {
            out += "NA,NA,NA,NA,NA,NA,NA,NA,NA,NA,NA,NA,NA,NA,NA,NA,NA," + CsvField(f.why);
        }
        out += kEnd;
    }
    return out;
}

std::string IndicesTable(const RhythmData& data, const std::vector<SeriesRef>& series,
                         const std::vector<RestActivity>& indices) {
    std::string out =
        "id,kind,group,status,n_wells,bin_min,days,is,iv,ra,m10,m10_onset_h,l5,l5_onset_h,note";
    out += kEnd;
    for (std::size_t i = 0; i < series.size() && i < indices.size(); ++i) {
        const RestActivity& r = indices[i];
        out += SeriesHead(data, series[i]) + std::to_string(data.bin_minutes) + "," +
               CsvNumber(r.days, 2) + ",";
        if (r.valid)
            out += Numbers({r.is, r.iv, r.ra, r.m10, r.m10_onset_h, r.l5, r.l5_onset_h}) + ",";
        else
            out += "NA,NA,NA,NA,NA,NA,NA," + CsvField(r.why);
        out += kEnd;
    }
    return out;
}

std::string OnsetsTable(const RhythmData& data, const std::vector<SeriesRef>& series,
                        const ActogramLayout& layout, const std::vector<PhaseMarkers>& markers,
                        double smooth_hours) {
    std::string out =
        "id,kind,group,status,n_wells,day,date,day_mean,onset_h,offset_h,onset_t_h,offset_t_h,"
        "smooth_h,period_h,period_lo_h,period_hi_h,onsets";
    out += kEnd;
    for (std::size_t i = 0; i < series.size() && i < markers.size(); ++i) {
        const PhaseMarkers& m = markers[i];
        const std::string head = SeriesHead(data, series[i]);
        const std::string tail = "," +
                                 Numbers({smooth_hours, m.period_h, m.period_lo_h, m.period_hi_h}) +
                                 "," + std::to_string(m.onsets) + kEnd;
        for (const DayMarkers& d : m.days) {
            const double start = layout.RowStart(d.row);
            std::string date = "NA";
            if (data.clock.start_known && layout.period_minutes == 1440.0) {
                const LocalDateTime t = data.clock.At(start + 1.0);
                char buf[16];
                std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", t.year, t.month, t.day);
                date = buf;
            }
            out += head + std::to_string(d.row + 1) + "," + date + "," +
                   Numbers({d.mean, (d.onset - start) / 60.0, (d.offset - start) / 60.0,
                            d.onset / 60.0, d.offset / 60.0}) +
                   tail;
        }
    }
    return out;
}

}  // namespace lumivo::reporting
