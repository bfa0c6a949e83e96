#include "core/reporting/rhythm/rhythm_chart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/reporting/report/report_chart.h"

namespace lumivo::reporting {

namespace {

constexpr double kHeader = 56.0;  // title and the light line
constexpr double kGap = 14.0;     // between panels

// A plot area and the values it shows.
struct Frame {
    double left = 0, top = 0, right = 0, bottom = 0;
    double x0 = 0, x1 = 1, y0 = 0, y1 = 1;
    double X(double v) const { return left + (right - left) * (v - x0) / (x1 - x0); }
    double Y(double v) const { return bottom - (bottom - top) * (v - y0) / (y1 - y0); }
};

SceneStyle Fill(const std::string& colour, double opacity = 1.0) {
    SceneStyle s;
    s.fill = colour;
    s.fill_opacity = opacity;
    return s;
}

SceneStyle Stroke(const std::string& colour, double width = 1.0, std::string dash = {}) {
    SceneStyle s;
    s.stroke = colour;
    s.stroke_width = width;
    s.dash = std::move(dash);
    return s;
}

std::string Fixed(double v, int decimals) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

std::string MonthDay(const LocalDateTime& t) {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    return std::to_string(t.day) + " " + kMonths[std::clamp(t.month, 1, 12) - 1];
}

// Phases (minutes from `offset`) shaded across the frame's height, clipped to its x range.
void ShadePhases(ChartScene& scene, const Frame& f, const std::vector<LightPhase>& phases,
                 double minutes_per_unit, double offset, double top, double bottom) {
    for (const LightPhase& p : phases) {
        const double a = std::max(f.x0, (p.begin - offset) / minutes_per_unit);
        const double b = std::min(f.x1, (p.end - offset) / minutes_per_unit);
        if (b <= a) continue;
        scene.Rect(p.light ? "light-phase" : "dark-phase", f.X(a), top, f.X(b) - f.X(a),
                   bottom - top, Fill(p.light ? kLightColour : kDarkColour));
    }
}

// Axis lines, ticks and labels of a frame.
void Axes(ChartScene& scene, const Frame& f, const std::vector<double>& x_ticks,
          const std::vector<double>& y_ticks, const std::string& x_label,
          const std::string& y_label, bool grid) {
    for (double t : y_ticks) {
        if (grid) scene.Line("grid", f.left, f.Y(t), f.right, f.Y(t), Stroke("#e0e0e0"));
        scene.Line("axis", f.left - 4, f.Y(t), f.left, f.Y(t), Stroke("#000000"));
        scene.Text("tick-label", f.left - 6, f.Y(t) + 4, SvgNumber(t), TextAnchor::End, 10);
    }
    for (double t : x_ticks) {
        scene.Line("axis", f.X(t), f.bottom, f.X(t), f.bottom + 4, Stroke("#000000"));
        scene.Text("tick-label", f.X(t), f.bottom + 15, SvgNumber(t), TextAnchor::Middle, 10);
    }
    scene.Line("axis", f.left, f.bottom, f.right, f.bottom, Stroke("#000000"));
    scene.Line("axis", f.left, f.top, f.left, f.bottom, Stroke("#000000"));
    if (!x_label.empty())
        scene.Text("axis-label", (f.left + f.right) / 2, f.bottom + 29, x_label, TextAnchor::Middle,
                   11);
    if (!y_label.empty()) {
        const double y = (f.top + f.bottom) / 2, x = f.left - 40;
        scene.Text("axis-label", x, y, y_label, TextAnchor::Middle, 11, false, -90.0);
    }
}

// Ticks within [lo, hi] every `step`.
std::vector<double> EveryStep(double lo, double hi, double step) {
    std::vector<double> out;
    for (double t = std::ceil(lo / step - 1e-9) * step; t <= hi + 1e-9; t += step) out.push_back(t);
    return out;
}

// Value ticks from 0 (or below) to at least `hi`, the axis ending on a tick.
std::vector<double> ValueTicks(double lo, double hi) {
    if (!(hi > lo)) hi = lo + 1.0;
    std::vector<double> t = AxisTicks(lo, hi, 4);
    if (t.size() < 2) return t;
    const double step = t[1] - t[0];
    if (t.back() < hi) t.push_back(t.back() + step);
    if (t.front() <= lo) return t;
    // A tick below the lowest value too.
    std::vector<double> out;
    out.reserve(t.size() + 1);
    out.push_back(t.front() - step);
    for (double v : t) out.push_back(v);
    return out;
}

void Header(ChartScene& scene, const RhythmData& data, const std::string& title) {
    scene.Text("title", scene.width / 2, 24, title, TextAnchor::Middle, 16, true);
    scene.Text("light-schedule", scene.width / 2, 44, "Light: " + data.light.description,
               TextAnchor::Middle, 11, false, 0.0, "#444444");
}

// Grid of panels: columns and the panel's origin.
struct Grid {
    int columns = 1;
    double width = 0, height = 0;
    double X(std::size_t i) const {
        return 10.0 + static_cast<double>(i % static_cast<std::size_t>(columns)) * width;
    }
    double Y(std::size_t i) const {
        return kHeader +
               static_cast<double>(i / static_cast<std::size_t>(columns)) * (height + kGap);
    }
    double SceneHeight(std::size_t n) const {
        const std::size_t rows =
            (n + static_cast<std::size_t>(columns) - 1) / static_cast<std::size_t>(columns);
        return kHeader + static_cast<double>(std::max<std::size_t>(rows, 1)) * (height + kGap) +
               6.0;
    }
};

// Panels side by side in two columns (one wide panel alone), each `height` high.
Grid PanelGrid(std::size_t panels, double height) {
    Grid grid;
    grid.columns = panels > 1 ? 2 : 1;
    grid.width = panels > 1 ? 480.0 : 940.0;
    grid.height = height;
    return grid;
}

ChartScene GridScene(const Grid& grid, std::size_t panels) {
    ChartScene scene;
    scene.width = grid.columns * grid.width + 20.0;
    scene.height = grid.SceneHeight(panels);
    return scene;
}

// The bars of one actogram row: per pixel column the highest bar, drawn as one outline.
void RowBars(ChartScene& scene, double left, double base, double height,
             const std::vector<double>& columns, const std::string& colour) {
    std::vector<ScenePoint> pts;
    std::size_t c = 0;
    const std::size_t n = columns.size();
    while (c < n) {
        if (columns[c] <= 0.0) {
            ++c;
            continue;
        }
        // A stretch of columns with bars: its outline, runs of equal heights merged.
        pts.clear();
        pts.push_back({left + static_cast<double>(c), base});
        while (c < n && columns[c] > 0.0) {
            const double h = columns[c];
            std::size_t e = c + 1;
            while (e < n && columns[e] == h) ++e;
            pts.push_back({left + static_cast<double>(c), base - h * height});
            pts.push_back({left + static_cast<double>(e), base - h * height});
            c = e;
        }
        pts.push_back({left + static_cast<double>(c), base});
        scene.Path("bars", pts, true, Fill(colour));
    }
}

// The plot area of panel i below `top` pixels of captions, with the panel's title.
Frame PanelFrame(ChartScene& scene, const Grid& grid, std::size_t i, double top,
                 const std::string& caption) {
    Frame f;
    f.left = grid.X(i) + 62.0;
    f.right = grid.X(i) + grid.width - 16.0;
    f.top = grid.Y(i) + top;
    f.bottom = grid.Y(i) + grid.height - 36.0;
    scene.Text("panel-title", f.left, grid.Y(i) + 14.0, caption, TextAnchor::Start, 12, true);
    return f;
}

constexpr const char* kOnsetColour = "#d62728";
constexpr const char* kOffsetColour = "#1f77b4";

void Diamond(ChartScene& scene, const std::string& role, double x, double y, double r,
             const std::string& colour, bool outlined = false) {
    SceneStyle style = Fill(colour);
    if (outlined) {  // a white edge keeps it apart from dark bars
        style.stroke = "#ffffff";
        style.stroke_width = 1.0;
    }
    scene.Path(role, {{x, y - r}, {x + r, y}, {x, y + r}, {x - r, y}}, true, style);
}

// The onsets and offsets of one series on its actogram: a point in the middle of the row at its
// time (also in the row before when double-plotted), and the free-running line through the
// onsets.
void DrawMarkers(ChartScene& scene, const Frame& f, const ActogramLayout& layout, double row_height,
                 const PhaseMarkers& m) {
    const double span = layout.period_minutes * (layout.double_plot ? 2.0 : 1.0);
    auto put = [&](const char* role, int row, double minute, const char* colour) {
        if (std::isnan(minute)) return;
        const double at = minute - layout.RowStart(row);
        for (int shift = 0; shift < (layout.double_plot ? 2 : 1); ++shift) {
            const int r = row - shift;
            const double x = at + shift * layout.period_minutes;
            // An offset in the next day is drawn there.
            const double in_row =
                x >= layout.period_minutes && !layout.double_plot ? x - layout.period_minutes : x;
            const int drawn_row = in_row != x ? r + 1 : r;
            if (drawn_row < 0 || drawn_row >= layout.rows || in_row < 0 || in_row > span) continue;
            const double y = f.top + drawn_row * row_height + row_height / 2.0;
            Diamond(scene, role, f.left + (f.right - f.left) * in_row / span, y, 4.0, colour, true);
        }
    };
    for (const DayMarkers& d : m.days) {
        put("onset", d.row, d.onset, kOnsetColour);
        put("offset", d.row, d.offset, kOffsetColour);
    }
    if (!std::isfinite(m.period_h)) return;
    // The fitted line: onset(row) = a + period x row, drawn where it lies in its row.
    double sx = 0, sy = 0, n = 0;
    for (const DayMarkers& d : m.days)
        if (!std::isnan(d.onset)) {
            sx += d.row;
            sy += d.onset;
            ++n;
        }
    const double a = sy / n - m.period_h * 60.0 * (sx / n);
    std::vector<ScenePoint> line;
    for (int r = 0; r < layout.rows; ++r) {
        const double at = a + m.period_h * 60.0 * r - layout.RowStart(r);
        if (at < 0 || at > layout.period_minutes) {
            if (line.size() > 1)
                scene.Path("free-run", line, false, Stroke(kOnsetColour, 1.0, "4 3"));
            line.clear();
            continue;
        }
        line.push_back(
            {f.left + (f.right - f.left) * at / span, f.top + r * row_height + row_height / 2.0});
    }
    if (line.size() > 1) scene.Path("free-run", line, false, Stroke(kOnsetColour, 1.0, "4 3"));
}

// "14:05" for 14.08 hours.
std::string HourText(double hours) {
    if (!std::isfinite(hours)) return "NA";
    return ClockText(std::fmod(std::round(hours * 60.0), 1440.0));
}

}  // namespace

std::string ViewTitle(const RhythmData& data, const std::string& what) {
    return data.experiment_name.empty() ? what : data.experiment_name + ": " + what;
}

ChartScene ActogramScene(const RhythmData& data, const std::vector<SeriesRef>& panels,
                         const ActogramLayout& layout, const std::vector<PhaseMarkers>& markers) {
    const double row_height = layout.rows > 14 ? 12.0 : 18.0;
    // A line under each panel's title says what the markers are.
    const double title_space = markers.empty() ? 24.0 : 36.0;
    const Grid grid = PanelGrid(panels.size(), title_space + layout.rows * row_height + 36.0);
    ChartScene scene = GridScene(grid, panels.size());
    Header(scene, data,
           ViewTitle(data, std::string(layout.double_plot ? "double-plotted " : "") + "actogram" +
                               (markers.empty() ? "" : " with onsets and offsets")));

    const double span = layout.period_minutes * (layout.double_plot ? 2.0 : 1.0);
    const double hours = span / 60.0;
    const bool by_day = data.clock.start_known && layout.period_minutes == 1440.0;
    for (std::size_t i = 0; i < panels.size(); ++i) {
        const SeriesRef& ref = panels[i];
        Frame f;
        f.left = grid.X(i) + 62.0;
        f.right = grid.X(i) + grid.width - 16.0;
        f.top = grid.Y(i) + title_space;
        f.bottom = f.top + layout.rows * row_height;
        f.x0 = 0.0;
        f.x1 = hours;
        scene.Text("panel-title", grid.X(i) + 62.0, grid.Y(i) + 14.0, SeriesCaption(data, ref),
                   TextAnchor::Start, 12, true);
        const double* v = SeriesValues(data, ref);
        double top_value = 0.0;
        for (std::size_t k = 0; k < data.bins; ++k)
            if (data.Observed(k)) top_value = std::max(top_value, v[k]);

        // Per row, per pixel column, the highest bar (a share of the row's height).
        const auto width = static_cast<std::size_t>(std::max(1.0, std::floor(f.right - f.left)));
        std::vector<std::vector<double>> columns(static_cast<std::size_t>(layout.rows),
                                                 std::vector<double>(width, 0.0));
        auto put = [&](int row, double offset, double share) {
            if (row < 0 || row >= layout.rows) return;
            const double a = offset / span * static_cast<double>(width);
            const double b = (offset + data.bin_minutes) / span * static_cast<double>(width);
            auto& col = columns[static_cast<std::size_t>(row)];
            const auto from = static_cast<std::size_t>(std::max(0.0, std::floor(a)));
            const auto to =
                std::min(width, static_cast<std::size_t>(std::max(a + 1.0, std::ceil(b))));
            for (std::size_t c = from; c < to; ++c) col[c] = std::max(col[c], share);
        };
        if (top_value > 0.0) {
            for (std::size_t k = 0; k < data.bins; ++k) {
                if (!data.Observed(k) || !(v[k] > 0.0)) continue;
                const double t = data.BinStart(k);
                const int row = layout.RowOf(t);
                const double offset = t - layout.RowStart(row);
                const double share = v[k] / top_value;
                put(row, offset, share);
                if (layout.double_plot) put(row - 1, offset + layout.period_minutes, share);
            }
        }
        const std::string colour = "#1f3b73";
        for (int r = 0; r < layout.rows; ++r) {
            const double top = f.top + r * row_height;
            const double base = top + row_height;
            const auto phases = ActogramRowPhases(layout, data.light.phases, r);
            for (const LightPhase& p : phases) {
                const double a = f.X(p.begin / 60.0), b = f.X(std::min(p.end, span) / 60.0);
                if (b > a)
                    scene.Rect(p.light ? "light-phase" : "dark-phase", a, top + 1, b - a,
                               row_height - 1, Fill(p.light ? kLightColour : kDarkColour));
            }
            RowBars(scene, f.left, base, row_height - 2.0, columns[static_cast<std::size_t>(r)],
                    colour);
            scene.Line("row-base", f.left, base, f.right, base, Stroke("#808080", 0.5));
            const std::string label =
                by_day ? MonthDay(data.clock.At(layout.RowStart(r) + 1.0)) : std::to_string(r + 1);
            scene.Text("row-label", f.left - 6, base - 3, label, TextAnchor::End, 10);
        }
        if (i < markers.size()) {
            DrawMarkers(scene, f, layout, row_height, markers[i]);
            const double period = markers[i].period_h;
            scene.Text("legend", f.left, grid.Y(i) + 28.0,
                       "onsets red, offsets blue; " +
                           (std::isfinite(period)
                                ? "free-running period (dashed) " + Fixed(period, 2) + " h"
                                : std::string("no free-running period (under 3 onsets)")),
                       TextAnchor::Start, 10, false, 0.0, "#444444");
        }
        const double step = hours > 30 ? 12.0 : 6.0;
        std::vector<double> ticks = EveryStep(0.0, hours, hours <= 12 ? 2.0 : step);
        Axes(scene, f, ticks, {}, by_day ? "Time of day [h]" : "Hours from the start of the row",
             "", false);
        if (top_value <= 0.0)
            scene.Text("note", (f.left + f.right) / 2, f.top + 14, "no counts", TextAnchor::Middle,
                       11, false, 0.0, "#555555");
    }
    if (panels.empty())
        scene.Text("note", scene.width / 2, kHeader + 20, "No well to show", TextAnchor::Middle);
    return scene;
}

ChartScene PeriodogramScene(const RhythmData& data, const std::vector<SeriesRef>& panels,
                            const PeriodogramSet& set) {
    const Grid grid = PanelGrid(panels.size(), 250.0);
    ChartScene scene = GridScene(grid, panels.size());
    const std::string method(PeriodogramMethodName(set.method));
    Header(scene, data,
           ViewTitle(data, method + " periodogram (alpha " + SvgNumber(set.alpha) + ")"));
    for (std::size_t i = 0; i < panels.size() && i < set.series.size(); ++i) {
        const Periodogram& pg = set.series[i];
        Frame f;
        f.left = grid.X(i) + 62.0;
        f.right = grid.X(i) + grid.width - 16.0;
        f.top = grid.Y(i) + 24.0;
        f.bottom = grid.Y(i) + grid.height - 36.0;
        scene.Text("panel-title", f.left, grid.Y(i) + 14.0, SeriesCaption(data, panels[i]),
                   TextAnchor::Start, 12, true);
        if (set.period_hours.empty()) {
            scene.Text("note", (f.left + f.right) / 2, (f.top + f.bottom) / 2,
                       "the recording is shorter than the periods asked for", TextAnchor::Middle,
                       11, false, 0.0, "#555555");
            continue;
        }
        f.x0 = set.period_hours.front();
        f.x1 = std::max(set.period_hours.back(), f.x0 + 1e-6);
        // An autocorrelation goes below zero, its significance lines on both sides of it.
        const bool correlation = set.method == PeriodogramMethod::Autocorrelation;
        double lo = 0.0, hi = 0.0;
        for (std::size_t p = 0; p < set.period_hours.size(); ++p) {
            if (std::isfinite(set.threshold[p])) {
                hi = std::max(hi, set.threshold[p]);
                if (correlation) lo = std::min(lo, -set.threshold[p]);
            }
            if (pg.valid && std::isfinite(pg.power[p])) {
                hi = std::max(hi, pg.power[p]);
                lo = std::min(lo, pg.power[p]);
            }
        }
        const std::vector<double> y_ticks = ValueTicks(lo * 1.05, hi * 1.05);
        f.y0 = y_ticks.front();
        f.y1 = y_ticks.back();
        Axes(scene, f, AxisTicks(f.x0, f.x1, 8), y_ticks, "Period [h]",
             set.method == PeriodogramMethod::ChiSquare ? "Qp"
             : correlation                              ? "Autocorrelation"
                                                        : "Power",
             true);
        for (const double side : {1.0, -1.0}) {
            if (side < 0.0 && !correlation) break;
            std::vector<ScenePoint> line;
            for (std::size_t p = 0; p < set.period_hours.size(); ++p)
                if (std::isfinite(set.threshold[p]))
                    line.push_back({f.X(set.period_hours[p]), f.Y(side * set.threshold[p])});
            scene.Path("significance", line, false, Stroke("#d62728", 1.2, "6 3"));
        }
        std::vector<ScenePoint> line;
        if (!pg.valid) {
            scene.Text("note", (f.left + f.right) / 2, (f.top + f.bottom) / 2,
                       "no variation to analyse", TextAnchor::Middle, 11, false, 0.0, "#555555");
            continue;
        }
        line.clear();
        for (std::size_t p = 0; p < set.period_hours.size(); ++p)
            line.push_back({f.X(set.period_hours[p]), f.Y(pg.power[p])});
        scene.Path("power", line, false, Stroke(SeriesColour(0), 1.6));
        if (pg.peak >= 0) {
            const double x = f.X(pg.peak_period_h), y = f.Y(pg.peak_power);
            scene.Path("peak", {{x, y - 5}, {x + 5, y}, {x, y + 5}, {x - 5, y}}, true,
                       Fill(pg.significant ? "#d62728" : "#7f7f7f"));
            scene.Text("peak-label", f.right - 4, f.top + 12,
                       pg.significant ? "peak " + Fixed(pg.peak_period_h, 1) + " h"
                                      : "no significant peak",
                       TextAnchor::End, 11, pg.significant, 0.0,
                       pg.significant ? "#000000" : "#555555");
        }
    }
    return scene;
}

ChartScene ProfileScene(const RhythmData& data, const Profile& profile, const std::string& title,
                        const std::string& y_label, double scale) {
    ChartScene scene;
    scene.width = 1120.0;
    const double plot_h = 250.0, legend_x = 790.0;
    scene.height = kHeader + 2.0 * (plot_h + 70.0) + 10.0;
    Header(scene, data, ViewTitle(data, title));

    struct Part {
        const std::vector<ProfileCurve>* curves;
        double x_end;  // minutes
        TimeAxis axis;
        const std::vector<LightPhase>* phases;
        std::string caption;
    };
    TimeAxis day_axis{60.0,
                      data.clock.start_known ? "Time of day [h]" : "Hours into the day of the run"};
    const Part parts[] = {
        {&profile.run, data.run_minutes, ChooseTimeAxis(data.run_minutes), &data.light.phases,
         "Over the run"},
        {&profile.daily, 1440.0, day_axis, &data.light.daily, "Over the day (folded at 24 h)"},
    };
    for (std::size_t part = 0; part < 2; ++part) {
        const Part& pt = parts[part];
        Frame f;
        f.left = 70.0;
        f.right = legend_x - 20.0;
        f.top = kHeader + 20.0 + static_cast<double>(part) * (plot_h + 70.0);
        f.bottom = f.top + plot_h;
        f.x0 = 0.0;
        f.x1 = pt.x_end / pt.axis.minutes_per_unit;
        scene.Text("panel-title", f.left, f.top - 6, pt.caption, TextAnchor::Start, 12, true);
        // Points per curve, reduced to the plot's pixel columns.
        std::vector<std::vector<std::vector<ChartPoint>>> drawn;
        double hi = 0.0;
        const int columns = static_cast<int>(f.right - f.left);
        for (const ProfileCurve& c : *pt.curves) {
            std::vector<std::vector<ChartPoint>> pieces(1);
            for (std::size_t k = 0; k < c.mean.size(); ++k) {
                if (!c.present[k]) {
                    if (!pieces.back().empty()) pieces.emplace_back();
                    continue;
                }
                const double minute = (static_cast<double>(k) + 0.5) * profile.step_minutes;
                const double m = c.mean[k] * scale, se = c.se[k] * scale;
                pieces.back().push_back({minute, m, m - se, m + se});
                hi = std::max(hi, m + se);
            }
            for (auto& p : pieces) p = ReduceToColumns(p, pt.x_end, columns);
            drawn.push_back(std::move(pieces));
        }
        const std::vector<double> y_ticks = ValueTicks(0.0, hi * 1.05);
        f.y0 = 0.0;
        f.y1 = y_ticks.back();
        ShadePhases(scene, f, *pt.phases, pt.axis.minutes_per_unit, 0.0, f.top, f.bottom);
        Axes(scene, f, part == 1 ? EveryStep(0.0, 24.0, 3.0) : AxisTicks(0.0, f.x1, 8), y_ticks,
             pt.axis.label, y_label, true);
        const double unit = pt.axis.minutes_per_unit;
        for (std::size_t i = 0; i < drawn.size(); ++i)
            for (const auto& piece : drawn[i]) {
                if (piece.empty()) continue;
                std::vector<ScenePoint> band;
                for (const ChartPoint& p : piece)
                    band.push_back({f.X(p.minute / unit), f.Y(p.high)});
                for (auto it = piece.rbegin(); it != piece.rend(); ++it)
                    band.push_back({f.X(it->minute / unit), f.Y(it->low)});
                scene.Path("se-band", band, true, Fill(TintColour(SeriesColour(i), 0.35), 0.6));
            }
        for (std::size_t i = 0; i < drawn.size(); ++i)
            for (const auto& piece : drawn[i]) {
                if (piece.empty()) continue;
                std::vector<ScenePoint> line;
                for (const ChartPoint& p : piece)
                    line.push_back({f.X(p.minute / unit), f.Y(p.mean)});
                if (line.size() == 1) line.push_back({line[0].x + 1.0, line[0].y});
                scene.Path("mean", line, false, Stroke(SeriesColour(i), 1.8, SeriesDash(i)));
            }
    }
    // Legend: the curves, then the shading.
    double y = kHeader + 26.0;
    for (std::size_t i = 0; i < profile.run.size(); ++i) {
        scene.Line("legend", legend_x, y, legend_x + 18, y,
                   Stroke(SeriesColour(i), 4, SeriesDash(i)));
        scene.Text("legend", legend_x + 24, y + 4, SeriesCaption(data, profile.run[i].series),
                   TextAnchor::Start, 11);
        y += 18.0;
        if (y > scene.height - 80.0) {
            scene.Text("legend", legend_x, y + 4, "...", TextAnchor::Start, 11);
            break;
        }
    }
    y += 10.0;
    if (!data.light.phases.empty()) {
        scene.Rect("legend", legend_x, y - 8, 18, 10, Fill(kLightColour));
        scene.Text("legend", legend_x + 24, y + 1, "light", TextAnchor::Start, 11);
        scene.Rect("legend", legend_x, y + 8, 18, 10, Fill(kDarkColour));
        scene.Text("legend", legend_x + 24, y + 17, "dark", TextAnchor::Start, 11);
        y += 32.0;
    }
    scene.Text("legend", legend_x, y + 4, "Bands: standard error", TextAnchor::Start, 11, false,
               0.0, "#555555");
    return scene;
}

ChartScene CosinorScene(const RhythmData& data, const std::vector<SeriesRef>& panels,
                        const std::vector<CosinorRow>& rows, const CosinorView& view) {
    const Grid grid = PanelGrid(panels.size(), 250.0);
    ChartScene scene = GridScene(grid, panels.size());
    Header(scene, data, ViewTitle(data, "cosinor"));
    const TimeAxis axis = ChooseTimeAxis(data.run_minutes);
    for (std::size_t i = 0; i < panels.size() && i < rows.size(); ++i) {
        const CosinorFit& fit = rows[i].fit;
        Frame f = PanelFrame(scene, grid, i, 50.0, SeriesCaption(data, panels[i]));
        f.x1 = data.run_minutes / axis.minutes_per_unit;
        // The series, reduced to the frame's pixel columns, broken where nothing was observed.
        const double* v = SeriesValues(data, panels[i]);
        std::vector<std::vector<ChartPoint>> pieces(1);
        double hi = 0.0;
        for (std::size_t k = 0; k < data.bins; ++k) {
            if (!data.Observed(k) || !std::isfinite(v[k])) {
                if (!pieces.back().empty()) pieces.emplace_back();
                continue;
            }
            const double minute = data.BinStart(k) + data.bin_minutes / 2.0;
            pieces.back().push_back({minute, v[k], v[k], v[k]});
            hi = std::max(hi, v[k]);
        }
        const int columns = static_cast<int>(f.right - f.left);
        for (auto& p : pieces) p = ReduceToColumns(p, data.run_minutes, columns);
        const double minute_of = view.reference_minute;
        // The axis holds the whole fitted curve, its trough below zero too.
        double lo = 0.0;
        if (fit.valid) {
            hi = std::max(hi, fit.mesor + fit.amplitude);
            lo = std::min(0.0, fit.mesor - fit.amplitude);
        }
        const std::vector<double> y_ticks = ValueTicks(lo * 1.05, hi * 1.05);
        f.y0 = y_ticks.front();
        f.y1 = y_ticks.back();
        ShadePhases(scene, f, data.light.phases, axis.minutes_per_unit, 0.0, f.top, f.bottom);
        Axes(scene, f, AxisTicks(0.0, f.x1, 8), y_ticks, axis.label,
             "Counts per " + std::to_string(data.bin_minutes) + " min", true);
        for (const auto& piece : pieces) {
            if (piece.empty()) continue;
            std::vector<ScenePoint> line;
            for (const ChartPoint& p : piece)
                line.push_back({f.X(p.minute / axis.minutes_per_unit), f.Y(p.mean)});
            if (line.size() == 1) line.push_back({line[0].x + 1.0, line[0].y});
            scene.Path("series", line, false, Stroke("#7f9ccf", 1.0));
        }
        if (!fit.valid) {
            scene.Text("note", (f.left + f.right) / 2, f.top + 14, "no fit: " + fit.why,
                       TextAnchor::Middle, 11, false, 0.0, "#555555");
            continue;
        }
        std::vector<ScenePoint> curve;
        for (int c = 0; c <= columns; ++c) {
            const double minute = data.run_minutes * c / std::max(1, columns);
            curve.push_back({f.left + c, f.Y(fit.At((minute - minute_of) / 60.0))});
        }
        scene.Path("fit", curve, false, Stroke("#d62728", 2.0));
        scene.Line("mesor", f.left, f.Y(fit.mesor), f.right, f.Y(fit.mesor),
                   Stroke("#d62728", 1.0, "6 3"));
        // The peaks of the fitted curve.
        if (std::isfinite(fit.acrophase_h))
            for (double peak = fit.acrophase_h * 60.0 + minute_of; peak <= data.run_minutes;
                 peak += fit.period_h * 60.0)
                if (peak >= 0.0)
                    Diamond(scene, "acrophase", f.X(peak / axis.minutes_per_unit),
                            f.Y(fit.mesor + fit.amplitude), 4.0, "#d62728");
        // Two lines, so that the figures stay within a narrow panel.
        const std::string figures = "period " + Fixed(fit.period_h, 2) + " h, mesor " +
                                    Fixed(fit.mesor, 2) + ", amplitude " + Fixed(fit.amplitude, 2);
        std::string phase = "acrophase ";
        phase += data.clock.start_known && std::fabs(fit.period_h - 24.0) < 1e-9
                     ? HourText(fit.acrophase_h)
                     : Fixed(fit.acrophase_h, 2) + " h";
        if (std::isfinite(rows[i].zt)) phase += " (ZT " + Fixed(rows[i].zt, 1) + ")";
        phase += fit.p < 0.001 ? ", p < 0.001" : ", p " + Fixed(fit.p, 3);
        phase += ", R² " + Fixed(fit.r2, 2);
        const char* ink = fit.p < 0.05 ? "#000000" : "#555555";
        scene.Text("fit-figures", f.left, grid.Y(i) + 29.0, figures, TextAnchor::Start, 10, false,
                   0.0, ink);
        scene.Text("fit-figures", f.left, grid.Y(i) + 42.0, phase, TextAnchor::Start, 10, false,
                   0.0, ink);
    }
    if (panels.empty())
        scene.Text("note", scene.width / 2, kHeader + 20, "No well to show", TextAnchor::Middle);
    return scene;
}

ChartScene IndicesScene(const RhythmData& data, const std::vector<SeriesRef>& panels,
                        const std::vector<RestActivity>& indices) {
    const Grid grid = PanelGrid(panels.size(), 230.0);
    ChartScene scene = GridScene(grid, panels.size());
    Header(scene, data, ViewTitle(data, "rest-activity indices (the average day)"));
    for (std::size_t i = 0; i < panels.size() && i < indices.size(); ++i) {
        const RestActivity& r = indices[i];
        Frame f = PanelFrame(scene, grid, i, 52.0, SeriesCaption(data, panels[i]));
        f.x1 = 24.0;
        if (!r.valid) {
            Axes(scene, f, EveryStep(0.0, 24.0, 3.0), {}, "Time of day [h]", "", false);
            scene.Text("note", (f.left + f.right) / 2, (f.top + f.bottom) / 2,
                       "no indices: " + r.why, TextAnchor::Middle, 11, false, 0.0, "#555555");
            continue;
        }
        double hi = 0.0;
        for (double v : r.profile) hi = std::max(hi, v);
        const std::vector<double> y_ticks = ValueTicks(0.0, hi * 1.05);
        f.y0 = 0.0;
        f.y1 = y_ticks.back();
        ShadePhases(scene, f, data.light.daily, 60.0, 0.0, f.top, f.bottom);
        // The windows as bands along the top, going round midnight.
        auto band = [&](double from_h, double hours, const char* role, const char* colour,
                        double y) {
            const double a = from_h, b = from_h + hours;
            const double pieces[2][2] = {{a, std::min(b, 24.0)}, {0.0, b > 24.0 ? b - 24.0 : 0.0}};
            for (const auto& p : pieces)
                if (p[1] > p[0])
                    scene.Rect(role, f.X(p[0]), y, f.X(p[1]) - f.X(p[0]), 6.0, Fill(colour));
        };
        band(r.m10_onset_h, 10.0, "m10", "#e6550d", f.top - 14.0);
        band(r.l5_onset_h, 5.0, "l5", "#3182bd", f.top - 7.0);
        Axes(scene, f, EveryStep(0.0, 24.0, 3.0), y_ticks, "Time of day [h]",
             "Mean counts per " + std::to_string(data.bin_minutes) + " min", true);
        for (std::size_t h = 0; h < r.profile.size(); ++h) {
            const double at =
                std::fmod(r.first_slot_h + static_cast<double>(h) * r.slot_hours, 24.0);
            const double x0 = f.X(at), x1 = f.X(std::min(24.0, at + r.slot_hours));
            scene.Rect("bar", x0 + 0.5, f.Y(r.profile[h]), std::max(0.5, x1 - x0 - 1.0),
                       f.bottom - f.Y(r.profile[h]), Fill("#1f3b73"));
        }
        scene.Text("indices", f.left, grid.Y(i) + 30.0,
                   "IS " + Fixed(r.is, 2) + ", IV " + Fixed(r.iv, 2) + ", RA " + Fixed(r.ra, 2) +
                       ", M10 " + Fixed(r.m10, 2) + " from " + HourText(r.m10_onset_h) + ", L5 " +
                       Fixed(r.l5, 2) + " from " + HourText(r.l5_onset_h),
                   TextAnchor::Start, 10);
        scene.Text("legend", f.right, grid.Y(i) + 14.0, "bands: M10 (orange), L5 (blue)",
                   TextAnchor::End, 9, false, 0.0, "#555555");
    }
    if (panels.empty())
        scene.Text("note", scene.width / 2, kHeader + 20, "No well to show", TextAnchor::Middle);
    return scene;
}

}  // namespace lumivo::reporting
