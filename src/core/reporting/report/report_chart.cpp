#include "core/reporting/report/report_chart.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "core/reporting/report/chart_scene.h"
#include "core/reporting/report/group_statistics.h"
#include "core/reporting/report/report_writer.h"

namespace lumivo::reporting {

namespace {

constexpr std::array<const char*, 10> kPalette = {"#1f77b4", "#d62728", "#2ca02c", "#ff7f0e",
                                                  "#9467bd", "#8c564b", "#e377c2", "#7f7f7f",
                                                  "#bcbd22", "#17becf"};

// Coordinates and labels, band colours and texts as every chart of the program writes them.
std::string Num(double v) {
    return SvgNumber(v);
}
std::string Tint(const std::string& colour, double weight) {
    return TintColour(colour, weight);
}
std::string Escape(const std::string& text) {
    return SvgEscape(text);
}

std::string Unquoted(const std::string& quoted) {
    if (quoted.size() >= 2 && quoted.front() == '"' && quoted.back() == '"') {
        std::string inner = quoted.substr(1, quoted.size() - 2);
        std::string out;
        for (std::size_t i = 0; i < inner.size(); ++i) {
            out += inner[i];
            if (inner[i] == '"' && i + 1 < inner.size() && inner[i + 1] == '"') ++i;
        }
        return out;
    }
    return quoted;
}

}  // namespace

std::string SeriesColour(std::size_t index) {
    return kPalette[index % kPalette.size()];
}

std::string SeriesDash(std::size_t index) {
    static const char* const kDashes[] = {"", "6 3", "2 3", "8 3 2 3"};
    return kDashes[(index / kPalette.size()) % 4];
}

std::vector<double> AxisTicks(double lo, double hi, int target) {
    if (!(hi > lo) || !std::isfinite(lo) || !std::isfinite(hi)) return {lo};
    const double raw = (hi - lo) / std::max(target, 1);
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    double step = magnitude;
    for (double m : {1.0, 2.0, 5.0, 10.0}) {
        step = m * magnitude;
        if (step >= raw) break;
    }
    std::vector<double> ticks;
    for (double t = std::ceil(lo / step - 1e-9) * step; t <= hi + step * 1e-9; t += step) {
        ticks.push_back(std::abs(t) < step * 1e-9 ? 0.0 : t);
        if (ticks.size() > 100) break;
    }
    return ticks;
}

TimeAxis ChooseTimeAxis(double last_minute) {
    if (last_minute > 3 * 1440.0) return {1440.0, "Time [d]"};
    if (last_minute > 5 * 60.0) return {60.0, "Time [h]"};
    return {};
}

std::vector<ChartPoint> ReduceToColumns(const std::vector<ChartPoint>& points, double last_minute,
                                        int columns) {
    if (columns < 1 || points.size() <= 2 * static_cast<std::size_t>(columns) || !(last_minute > 0))
        return points;
    std::vector<ChartPoint> out;
    out.reserve(2 * static_cast<std::size_t>(columns) + 2);
    auto column_of = [&](double minute) {
        const double c = std::floor(minute / last_minute * columns);
        return static_cast<long long>(std::clamp(c, 0.0, static_cast<double>(columns - 1)));
    };
    std::size_t i = 0;
    while (i < points.size()) {
        const long long column = column_of(points[i].minute);
        std::size_t end = i + 1;
        while (end < points.size() && column_of(points[end].minute) == column) ++end;
        if (end - i <= 2) {
            out.insert(out.end(), points.begin() + static_cast<std::ptrdiff_t>(i),
                       points.begin() + static_cast<std::ptrdiff_t>(end));
        } else {
            std::size_t lo = i, hi = i;
            double band_low = points[i].low, band_high = points[i].high;
            for (std::size_t j = i; j < end; ++j) {
                if (points[j].mean < points[lo].mean) lo = j;
                if (points[j].mean > points[hi].mean) hi = j;
                band_low = std::min(band_low, points[j].low);
                band_high = std::max(band_high, points[j].high);
            }
            for (std::size_t j : {std::min(lo, hi), std::max(lo, hi)}) {
                ChartPoint p = points[j];
                p.low = band_low;
                p.high = band_high;
                out.push_back(p);
            }
        }
        i = end;
    }
    return out;
}

ChartData BuildChartData(const ReportInputs& inputs, const GroupStatistics& stats,
                         std::int32_t bin_size, std::int32_t length, bool basal_applied,
                         int columns) {
    ChartData chart;
    chart.title =
        inputs.experiment_name.empty() ? std::string("Group activity") : inputs.experiment_name;
    chart.y_label = basal_applied ? "Activity [% of basal]" : "Activity counts per bin";
    chart.basal_line = basal_applied;
    chart.last_minute = length;
    chart.time_axis = ChooseTimeAxis(chart.last_minute);
    std::vector<ChartPoint> points;
    for (int g = 0; g < stats.group_count; ++g) {
        if (stats.wells[static_cast<std::size_t>(g)] < 1) continue;
        ChartSeries s;
        s.group = g;
        s.label = Unquoted(GroupLabel(inputs, g));
        points.clear();
        for (int k = 1; k <= stats.bin_count; ++k) {
            if (!stats.bin_present[static_cast<std::size_t>(k)]) continue;
            const double mean = stats.Mean(g, k);
            const double se = StandardError(stats, g, k);
            points.push_back(ChartPoint{static_cast<double>(BinTime(k, bin_size, length)), mean,
                                        mean - se, mean + se});
        }
        s.points = ReduceToColumns(points, chart.last_minute, columns);
        chart.series.push_back(std::move(s));
    }
    return chart;
}

std::string RenderChartSvg(const ChartData& chart, int width, int height) {
    const double left = 80;
    const double top = 50;
    const double legend_width = 200;
    const double right = width - legend_width;
    const double bottom = height - 60.0;

    // Each series as the plot's pixel columns show it.
    const double x_hi = chart.last_minute > 0 ? chart.last_minute : 1.0;
    const int plot_columns = std::max(1, static_cast<int>(right - left));
    std::vector<std::vector<ChartPoint>> drawn;
    for (const auto& s : chart.series)
        drawn.push_back(ReduceToColumns(s.points, x_hi, plot_columns));

    double y_lo = 0.0;
    double y_hi = chart.basal_line ? 100.0 : 0.0;
    for (const auto& points : drawn)
        for (const auto& p : points) {
            y_lo = std::min(y_lo, p.low);
            y_hi = std::max(y_hi, p.high);
        }
    if (y_hi <= y_lo) y_hi = y_lo + 1.0;
    std::vector<double> y_ticks = AxisTicks(y_lo, y_hi, 6);
    // The axis ends on a tick.
    if (y_ticks.size() > 1 && y_ticks.back() < y_hi)
        y_ticks.push_back(y_ticks.back() + (y_ticks[1] - y_ticks[0]));
    y_lo = std::min(y_lo, y_ticks.front());
    y_hi = std::max(y_hi, y_ticks.back());
    // Ticks in the axis unit.
    const double unit =
        chart.time_axis.minutes_per_unit > 0 ? chart.time_axis.minutes_per_unit : 1.0;
    std::vector<double> x_ticks = AxisTicks(0.0, x_hi / unit, 8);

    auto X = [&](double minute) { return left + (right - left) * minute / x_hi; };
    auto Y = [&](double v) { return bottom - (bottom - top) * (v - y_lo) / (y_hi - y_lo); };

    std::string svg;
    svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) +
           "\" height=\"" + std::to_string(height) + "\" viewBox=\"0 0 " + std::to_string(width) +
           " " + std::to_string(height) + "\" font-family=\"sans-serif\" font-size=\"12\">\n";
    svg += "<rect x=\"0\" y=\"0\" width=\"" + std::to_string(width) + "\" height=\"" +
           std::to_string(height) + "\" fill=\"white\"/>\n";
    svg += "<text x=\"" + Num((left + right) / 2) + "\" y=\"28\" text-anchor=\"middle\" " +
           "font-size=\"16\" font-weight=\"bold\">" + Escape(chart.title) + "</text>\n";

    // Grid, ticks and tick labels.
    svg += "<g class=\"axes\" stroke=\"#000\" stroke-width=\"1\">\n";
    for (double t : y_ticks) {
        svg += "<line x1=\"" + Num(left) + "\" y1=\"" + Num(Y(t)) + "\" x2=\"" + Num(right) +
               "\" y2=\"" + Num(Y(t)) + "\" stroke=\"#e0e0e0\"/>\n";
        svg += "<line x1=\"" + Num(left - 5) + "\" y1=\"" + Num(Y(t)) + "\" x2=\"" + Num(left) +
               "\" y2=\"" + Num(Y(t)) + "\"/>\n";
    }
    for (double t : x_ticks)
        svg += "<line x1=\"" + Num(X(t * unit)) + "\" y1=\"" + Num(bottom) + "\" x2=\"" +
               Num(X(t * unit)) + "\" y2=\"" + Num(bottom + 5) + "\"/>\n";
    svg += "<line x1=\"" + Num(left) + "\" y1=\"" + Num(bottom) + "\" x2=\"" + Num(right) +
           "\" y2=\"" + Num(bottom) + "\"/>\n";
    svg += "<line x1=\"" + Num(left) + "\" y1=\"" + Num(top) + "\" x2=\"" + Num(left) + "\" y2=\"" +
           Num(bottom) + "\"/>\n";
    svg += "</g>\n<g class=\"tick-labels\">\n";
    for (double t : y_ticks)
        svg += "<text x=\"" + Num(left - 8) + "\" y=\"" + Num(Y(t) + 4) +
               "\" text-anchor=\"end\">" + Num(t) + "</text>\n";
    for (double t : x_ticks)
        svg += "<text x=\"" + Num(X(t * unit)) + "\" y=\"" + Num(bottom + 20) +
               "\" text-anchor=\"middle\">" + Num(t) + "</text>\n";
    svg += "</g>\n";
    svg += "<text x=\"" + Num((left + right) / 2) + "\" y=\"" + Num(bottom + 42) +
           "\" text-anchor=\"middle\">" + Escape(chart.time_axis.label) + "</text>\n";
    svg += "<text x=\"18\" y=\"" + Num((top + bottom) / 2) +
           "\" text-anchor=\"middle\" transform=\"rotate(-90 18 " + Num((top + bottom) / 2) +
           ")\">" + Escape(chart.y_label) + "</text>\n";

    // Bands first, so every line stays visible above all bands.
    for (std::size_t i = 0; i < drawn.size(); ++i) {
        const auto& points = drawn[i];
        if (points.empty()) continue;
        std::string pts;
        for (const auto& p : points) pts += Num(X(p.minute)) + "," + Num(Y(p.high)) + " ";
        for (auto it = points.rbegin(); it != points.rend(); ++it)
            pts += Num(X(it->minute)) + "," + Num(Y(it->low)) + " ";
        pts.pop_back();
        svg += "<polygon class=\"se-band\" points=\"" + pts + "\" fill=\"" +
               Tint(SeriesColour(i), 0.35) + "\" fill-opacity=\"0.6\" stroke=\"none\"/>\n";
    }
    // The basal line above the bands, below the means.
    if (chart.basal_line)
        svg += "<line class=\"basal\" x1=\"" + Num(left) + "\" y1=\"" + Num(Y(100)) + "\" x2=\"" +
               Num(right) + "\" y2=\"" + Num(Y(100)) +
               "\" stroke=\"#000\" stroke-width=\"1.5\" stroke-dasharray=\"6 4\"/>\n";
    for (std::size_t i = 0; i < drawn.size(); ++i) {
        const auto& points = drawn[i];
        if (points.empty()) continue;
        std::string pts;
        for (const auto& p : points) pts += Num(X(p.minute)) + "," + Num(Y(p.mean)) + " ";
        pts.pop_back();
        const std::string dash = SeriesDash(i);
        svg += "<polyline class=\"mean\" points=\"" + pts + "\" fill=\"none\" stroke=\"" +
               SeriesColour(i) + "\" stroke-width=\"2\"" +
               (dash.empty() ? std::string() : " stroke-dasharray=\"" + dash + "\"") + "/>\n";
        if (points.size() <= 60)
            for (const auto& p : points)
                svg += "<circle cx=\"" + Num(X(p.minute)) + "\" cy=\"" + Num(Y(p.mean)) +
                       "\" r=\"3\" fill=\"" + SeriesColour(i) + "\" stroke=\"none\"/>\n";
    }

    // Legend.
    svg += "<g class=\"legend\">\n";
    double ly = top;
    const double lx = right + 20;
    if (chart.series.empty()) {
        svg += "<text x=\"" + Num(lx) + "\" y=\"" + Num(ly + 10) + "\">No group has wells</text>\n";
    }
    for (std::size_t i = 0; i < chart.series.size(); ++i) {
        const std::string dash = SeriesDash(i);
        svg += "<line x1=\"" + Num(lx) + "\" y1=\"" + Num(ly + 7) + "\" x2=\"" + Num(lx + 16) +
               "\" y2=\"" + Num(ly + 7) + "\" stroke=\"" + SeriesColour(i) +
               "\" stroke-width=\"4\"" +
               (dash.empty() ? std::string() : " stroke-dasharray=\"" + dash + "\"") + "/>\n";
        svg += "<text x=\"" + Num(lx + 20) + "\" y=\"" + Num(ly + 11) + "\">" +
               Escape(chart.series[i].label) + "</text>\n";
        ly += 20;
    }
    if (chart.basal_line) {
        svg += "<line x1=\"" + Num(lx) + "\" y1=\"" + Num(ly + 7) + "\" x2=\"" + Num(lx + 14) +
               "\" y2=\"" + Num(ly + 7) + "\" stroke=\"#000\" stroke-dasharray=\"4 2\"/>\n";
        svg += "<text x=\"" + Num(lx + 20) + "\" y=\"" + Num(ly + 11) + "\">Basal (100 %)</text>\n";
        ly += 20;
    }
    svg += "<text x=\"" + Num(lx) + "\" y=\"" + Num(ly + 14) +
           "\" fill=\"#555\">Bands: standard error</text>\n";
    svg += "</g>\n</svg>\n";
    return svg;
}

}  // namespace lumivo::reporting
