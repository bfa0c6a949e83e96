#include "core/reporting/compare/compare_stats.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>

#include "core/reporting/compare/compare_chart.h"
#include "core/reporting/report/report_chart.h"
#include "core/reporting/rhythm/rhythm_tables.h"
#include "core/storage/file_system.h"

namespace lumivo::reporting {

namespace {

namespace cc = compare_chart;
using statistics::Summary;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::size_t kAllGroups = static_cast<std::size_t>(-1);

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& ch : out) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return out;
}

std::string GroupList(const Screen& screen) {
    std::string out;
    for (const ScreenGroup& g : screen.groups) out += (out.empty() ? "\"" : ", \"") + g.name + "\"";
    return out;
}

// The group a --control names: its name in any letter case, or the treatment of exactly one
// group.
std::optional<std::size_t> FindControl(const Screen& screen, const std::string& name,
                                       std::string* failure) {
    if (name.empty()) {
        for (std::size_t g = 0; g < screen.groups.size(); ++g)
            if (screen.groups[g].role == WellRole::Negative) return g;
        *failure =
            "no group is a negative control (role \"negative\" in wells.csv); name the "
            "control with --control (the groups: " +
            GroupList(screen) + ")";
        return std::nullopt;
    }
    std::vector<std::size_t> by_treatment;
    for (std::size_t g = 0; g < screen.groups.size(); ++g) {
        if (Lower(screen.groups[g].name) == Lower(name)) return g;
        if (Lower(screen.groups[g].treatment) == Lower(name)) by_treatment.push_back(g);
    }
    if (by_treatment.size() == 1) return by_treatment.front();
    *failure = "no group is called \"" + name + "\"" +
               (by_treatment.size() > 1 ? " alone (it has several concentrations)" : "") +
               "; the groups: " + GroupList(screen);
    return std::nullopt;
}

std::string Field(double v, int decimals = 6) {
    return CsvNumber(v, decimals);
}

}  // namespace

std::string_view GroupTestName(GroupTest test) {
    switch (test) {
        case GroupTest::Welch:
            return "welch";
        case GroupTest::MannWhitney:
            return "mann-whitney";
        case GroupTest::Anova:
            return "anova";
        case GroupTest::WelchAnova:
            return "welch-anova";
        case GroupTest::Kruskal:
            return "kruskal";
    }
    return "welch";
}

std::optional<GroupTest> ParseGroupTest(std::string_view text) {
    for (GroupTest t : {GroupTest::Welch, GroupTest::MannWhitney, GroupTest::Anova,
                        GroupTest::WelchAnova, GroupTest::Kruskal})
        if (text == GroupTestName(t)) return t;
    return std::nullopt;
}

bool IsAgainstControl(GroupTest test) {
    return test == GroupTest::Welch || test == GroupTest::MannWhitney;
}

std::string SignificanceMark(double p) {
    if (std::isnan(p)) return "";
    if (p < 0.001) return "***";
    if (p < 0.01) return "**";
    if (p < 0.05) return "*";
    return "ns";
}

std::vector<PlateQuality> PlateQualities(const Screen& screen) {
    std::vector<PlateQuality> out;
    for (std::size_t p = 0; p < screen.plates.size(); ++p) {
        std::vector<double> positive, negative;
        for (const ScreenWell& w : screen.wells) {
            if (w.plate != p || !w.left_out.empty() || !w.in_map) continue;
            double sum = 0.0;
            std::size_t n = 0;
            for (double v : w.values)
                if (!std::isnan(v)) sum += v, ++n;
            if (n == 0) continue;
            if (w.entry.role == WellRole::Positive)
                positive.push_back(sum / static_cast<double>(n));
            if (w.entry.role == WellRole::Negative)
                negative.push_back(sum / static_cast<double>(n));
        }
        if (positive.empty() && negative.empty()) continue;
        out.push_back({p, positive.size(), negative.size(), statistics::ZPrime(positive, negative),
                       statistics::SignalWindow(positive, negative)});
    }
    return out;
}

std::optional<StatsResult> CompareGroups(Screen screen, const StatsRequest& request,
                                         std::string* failure) {
    StatsResult result;
    result.request = request;
    const std::size_t groups = screen.groups.size();
    const bool against = IsAgainstControl(request.test);
    if (against) {
        std::string why;
        result.control = FindControl(screen, request.control, &why);
        if (!result.control) {
            if (failure) *failure = why;
            return std::nullopt;
        }
        if (groups < 2) {
            if (failure) *failure = "only the control group has wells; there is nothing to compare";
            return std::nullopt;
        }
    } else if (groups < 2) {
        if (failure) *failure = "a test over all groups needs at least two groups";
        return std::nullopt;
    }
    for (std::size_t b = 0; b < screen.bins.size(); ++b) {
        std::vector<std::vector<double>> values(groups);
        for (std::size_t g = 0; g < groups; ++g) {
            values[g] = screen.Values(g, b);
            result.summaries.push_back(statistics::Summarise(values[g]));
        }
        if (against) {
            const std::size_t c = *result.control;
            for (std::size_t g = 0; g < groups; ++g) {
                if (g == c) continue;
                Comparison cmp;
                cmp.bin = b;
                cmp.group = g;
                cmp.summary = result.summaries[b * groups + g];
                cmp.control = result.summaries[b * groups + c];
                if (request.test == GroupTest::Welch) {
                    cmp.test = statistics::WelchT(values[g], values[c]);
                    cmp.effect = statistics::HedgesG(values[g], values[c]);
                } else {
                    cmp.test = statistics::MannWhitney(values[g], values[c]);
                    cmp.effect = statistics::RankBiserial(values[g], values[c]);
                }
                result.comparisons.push_back(cmp);
            }
        } else {
            std::vector<std::vector<double>> present;
            std::size_t n = 0;
            for (auto& v : values)
                if (!v.empty()) n += v.size(), present.push_back(v);
            Comparison cmp;
            cmp.bin = b;
            cmp.group = kAllGroups;
            cmp.summary.n = n;
            cmp.summary.mean = kNaN;
            cmp.effect = {kNaN, kNaN, kNaN};
            switch (request.test) {
                case GroupTest::Anova:
                    cmp.test = statistics::OneWayAnova(present);
                    break;
                case GroupTest::WelchAnova:
                    cmp.test = statistics::WelchAnova(present);
                    break;
                default:
                    cmp.test = statistics::KruskalWallis(present);
                    break;
            }
            result.comparisons.push_back(cmp);
        }
    }
    std::vector<double> p;
    for (const Comparison& c : result.comparisons) p.push_back(c.test.p);
    const std::vector<double> adjusted = statistics::AdjustPValues(p, request.adjust);
    for (std::size_t k = 0; k < adjusted.size(); ++k)
        result.comparisons[k].p_adjusted = adjusted[k];
    std::size_t untested = 0;
    for (const Comparison& c : result.comparisons) untested += std::isnan(c.test.p);
    if (untested > 0)
        result.notes.push_back(std::to_string(untested) +
                               (untested == 1 ? " comparison has" : " comparisons have") +
                               " too few values for the test (p is NA)");
    result.quality = PlateQualities(screen);
    result.screen = std::move(screen);
    return result;
}

std::string StatsTable(const StatsResult& result) {
    const Screen& s = result.screen;
    std::vector<std::string> columns = {"treatment", "concentration", "unit", "role"};
    columns.insert(columns.end(), s.extra_columns.begin(), s.extra_columns.end());
    std::string out =
        "group,control,n,mean,test,statistic,p,p_adjusted,effect,effect_low,effect_high,sd,se,"
        "median,ci_low,ci_high,control_n,control_mean,df,exact,significance,measure,from_h,to_h,"
        "bin_start_h,adjust";
    for (const std::string& c : columns) out += "," + CsvField(c);
    out += "\r\n";
    const std::string measure(EndpointName(s.request.endpoint));
    const std::string adjust(statistics::AdjustmentName(result.request.adjust));
    const std::string control =
        result.control ? CsvField(s.groups[*result.control].name) : std::string("NA");
    for (const Comparison& c : result.comparisons) {
        const bool all = c.group == kAllGroups;
        const ScreenBin& bin = s.bins[c.bin];
        out += (all ? std::string("all") : CsvField(s.groups[c.group].name)) + "," +
               (all ? std::string("NA") : control) + "," + std::to_string(c.summary.n) + "," +
               Field(c.summary.mean) + "," + std::string(GroupTestName(result.request.test)) + "," +
               Field(c.test.statistic) + "," + Field(c.test.p, 10) + "," + Field(c.p_adjusted, 10) +
               "," + Field(c.effect.value) + "," + Field(c.effect.low) + "," +
               Field(c.effect.high) + "," + Field(all ? kNaN : c.summary.sd) + "," +
               Field(all ? kNaN : c.summary.se) + "," + Field(all ? kNaN : c.summary.median) + "," +
               Field(all ? kNaN : c.summary.ci_low) + "," + Field(all ? kNaN : c.summary.ci_high) +
               "," + (all ? std::string("NA") : std::to_string(c.control.n)) + "," +
               Field(all ? kNaN : c.control.mean) + "," + Field(c.test.df) + "," +
               (result.request.test == GroupTest::MannWhitney ? (c.test.exact ? "TRUE" : "FALSE")
                                                              : "NA") +
               "," + SignificanceMark(c.p_adjusted) + "," + measure + "," + Field(bin.start_hours) +
               "," + Field(bin.end_hours) + "," +
               Field(s.request.per_bin ? bin.start_hours : kNaN) + "," + adjust;
        for (const std::string& column : columns)
            out += "," +
                   (all ? std::string("NA") : CsvField(s.GroupColumn(s.groups[c.group], column)));
        out += "\r\n";
    }
    for (const PlateQuality& q : result.quality) {
        out += CsvField(s.plates[q.plate].name) + ",NA," +
               std::to_string(q.positives + q.negatives) + ",NA,z-prime," + Field(q.z_prime) +
               ",NA,NA," + Field(q.signal_window) + ",NA,NA,NA,NA,NA,NA,NA,NA,NA,NA,NA,NA," +
               measure + "," + Field(s.request.from_hours) + "," + Field(s.request.to_hours) +
               ",NA," + adjust;
        for (std::size_t k = 0; k < columns.size(); ++k) out += ",NA";
        out += "\r\n";
    }
    return out;
}

ChartScene StatsScene(const StatsResult& result) {
    const Screen& s = result.screen;
    ChartScene scene;
    const std::size_t groups = s.groups.size();
    std::string measure(EndpointName(s.request.endpoint));
    const std::string experiment = s.plates.front().data.experiment_name;
    std::string details =
        measure + " from " + cc::Number(s.request.from_hours) + " h to " +
        cc::Number(s.request.to_hours) + " h; " + std::string(GroupTestName(result.request.test)) +
        (result.control ? " against " + s.groups[*result.control].name : "") +
        ", p adjusted: " + std::string(statistics::AdjustmentName(result.request.adjust)) + "; " +
        std::to_string(s.plates.size()) + (s.plates.size() == 1 ? " plate" : " plates");
    for (const PlateQuality& q : result.quality)
        details += "; Z' " + s.plates[q.plate].name + " " + cc::Number(q.z_prime, 2);
    cc::Header(scene, (experiment.empty() ? "" : experiment + ": ") + "group comparison", details);
    cc::Frame f;
    f.height = 330.0;
    const std::string y_label = s.request.endpoint == Endpoint::PercentBasal ? "% of basal"
                                : s.request.endpoint == Endpoint::Paralysis
                                    ? "hours to paralysis"
                                    : (measure + " counts per " +
                                       std::to_string(s.plates.front().data.bin_minutes) + " min");
    if (!s.request.per_bin) {
        double lo = 0.0, hi = 0.0;
        for (const ScreenWell& w : s.wells)
            if (w.left_out.empty() && !std::isnan(w.values[0]))
                lo = std::min(lo, w.values[0]), hi = std::max(hi, w.values[0]);
        for (std::size_t g = 0; g < groups; ++g)
            if (std::isfinite(result.summaries[g].ci_high))
                hi = std::max(hi, result.summaries[g].ci_high);
        hi *= 1.12;
        cc::NiceRange(lo, hi);
        f.y_lo = lo, f.y_hi = hi, f.x_lo = 0.0, f.x_hi = static_cast<double>(groups);
        cc::ValueAxis(scene, f, y_label);
        const double slot = f.width / static_cast<double>(groups);
        std::vector<double> p_of(groups, kNaN);
        for (const Comparison& c : result.comparisons)
            if (c.group != kAllGroups) p_of[c.group] = c.p_adjusted;
        for (std::size_t g = 0; g < groups; ++g) {
            const std::string colour = SeriesColour(g);
            const double cx = f.X(static_cast<double>(g) + 0.5);
            std::size_t k = 0;
            double top = -1e300;
            for (std::size_t wi : s.groups[g].wells) {
                const double v = s.wells[wi].values[0];
                if (std::isnan(v)) continue;
                const double jitter =
                    (static_cast<double>(k++ % 7) - 3.0) * std::min(5.0, slot / 16);
                cc::Dot(scene, "wells", cx + jitter, f.Y(v), colour);
                top = std::max(top, v);
            }
            const Summary& sum = result.summaries[g];
            const double half = std::min(24.0, slot * 0.35);
            if (std::isfinite(sum.mean))
                scene.Line("mean", cx - half, f.Y(sum.mean), cx + half, f.Y(sum.mean),
                           cc::Stroke("#202020", 2.0));
            if (std::isfinite(sum.ci_low) && std::isfinite(sum.ci_high)) {
                scene.Line("ci", cx, f.Y(sum.ci_low), cx, f.Y(sum.ci_high), cc::Stroke("#202020"));
                for (double v : {sum.ci_low, sum.ci_high})
                    scene.Line("ci", cx - half / 2, f.Y(v), cx + half / 2, f.Y(v),
                               cc::Stroke("#202020"));
                top = std::max(top, sum.ci_high);
            }
            const std::string mark =
                result.control && g == *result.control ? "control" : SignificanceMark(p_of[g]);
            if (!mark.empty() && top > -1e299)
                scene.Text("significance", cx, f.Y(top) - 8.0, mark, TextAnchor::Middle, 11.0,
                           mark != "ns" && mark != "control");
            scene.Text("group", cx + 4.0, f.top + f.height + 14.0,
                       s.groups[g].name + " (n=" + std::to_string(sum.n) + ")", TextAnchor::End,
                       10.5, false, groups > 6 ? -40.0 : 0.0);
        }
        if (!result.control && !result.comparisons.empty()) {
            const Comparison& c = result.comparisons.front();
            scene.Text("test", f.left + f.width - 6.0, f.top + 16.0,
                       std::string(GroupTestName(result.request.test)) + ": " +
                           cc::Number(c.test.statistic) + ", p = " + cc::Number(c.test.p),
                       TextAnchor::End, 11.0);
        }
        return scene;
    }
    // An endpoint per bin: group means over the run, significant bins marked in a strip per
    // group above the curves.
    double lo = 0.0, hi = 0.0;
    for (std::size_t k = 0; k < result.summaries.size(); ++k)
        if (std::isfinite(result.summaries[k].mean)) hi = std::max(hi, result.summaries[k].mean);
    cc::NiceRange(lo, hi);
    const double strip = 8.0;
    f.top = 70.0 + strip * static_cast<double>(std::min<std::size_t>(groups, 12));
    f.height = 420.0 - f.top;
    f.y_lo = lo, f.y_hi = hi;
    f.x_lo = s.bins.front().start_hours, f.x_hi = s.bins.back().end_hours;
    cc::ValueAxis(scene, f, y_label);
    cc::BottomAxis(
        scene, f, AxisTicks(f.x_lo, f.x_hi, 8), [](double v) { return cc::Number(v, 4); },
        "hours from the start");
    for (std::size_t g = 0; g < groups; ++g) {
        std::vector<ScenePoint> line;
        for (std::size_t b = 0; b < s.bins.size(); ++b) {
            const double m = result.summaries[b * groups + g].mean;
            const double x = f.X((s.bins[b].start_hours + s.bins[b].end_hours) / 2.0);
            if (std::isfinite(m)) {
                line.push_back({x, f.Y(m)});
            } else if (!line.empty()) {
                scene.Path("means", std::move(line), false, cc::Stroke(SeriesColour(g), 1.5));
                line.clear();
            }
        }
        if (!line.empty()) scene.Path("means", line, false, cc::Stroke(SeriesColour(g), 1.5));
    }
    for (const Comparison& c : result.comparisons) {
        if (c.group == kAllGroups || !(c.p_adjusted < 0.05) || c.group >= 12) continue;
        const ScreenBin& b = s.bins[c.bin];
        scene.Rect("significant", f.X(b.start_hours), 62.0 + strip * static_cast<double>(c.group),
                   std::max(1.0, f.X(b.end_hours) - f.X(b.start_hours)), strip - 2.0,
                   cc::Fill(SeriesColour(c.group)));
    }
    double lx = f.left;
    for (std::size_t g = 0; g < groups && g < 12; ++g) {
        scene.Rect("legend", lx, 476.0, 12.0, 8.0, cc::Fill(SeriesColour(g)));
        scene.Text("legend", lx + 16.0, 484.0, s.groups[g].name, TextAnchor::Start, 10.5);
        lx += 24.0 + 6.5 * static_cast<double>(s.groups[g].name.size());
        if (lx > f.left + f.width - 80.0) break;
    }
    scene.Text("legend", f.left, 505.0,
               "Strips above: bins where a group differs from the control (adjusted p < 0.05).",
               TextAnchor::Start, 10.5);
    return scene;
}

std::vector<std::string> StatsNotes(const StatsResult& result) {
    std::vector<std::string> notes = result.screen.notes;
    notes.insert(notes.end(), result.notes.begin(), result.notes.end());
    return notes;
}

std::optional<StatsResult> ComputeStats(StorageContext& ctx, const StatsRequest& request,
                                        std::string* failure) {
    auto screen = ReadScreen(ctx, request.screen, failure);
    if (!screen) return std::nullopt;
    return CompareGroups(std::move(*screen), request, failure);
}

CompareOutcome WriteStats(StorageContext& ctx, const StatsRequest& request) {
    CompareOutcome out;
    auto result = ComputeStats(ctx, request, &out.failure);
    if (!result) return out;
    const auto& folder = request.screen.folders.front();
    out.svg_file = folder / kStatsPictureName;
    out.csv_file = folder / kStatsTableName;
    try {
        const FileContent files[] = {{out.svg_file, RenderSceneSvg(StatsScene(*result))},
                                     {out.csv_file, StatsTable(*result)}};
        ctx.files.WriteFiles(files);
    } catch (const std::exception& e) {
        out.failure = std::string("the comparison could not be written: ") + e.what();
        return out;
    }
    out.written = true;
    out.notes = StatsNotes(*result);
    return out;
}

}  // namespace lumivo::reporting
