#include "core/reporting/compare/compare_chart.h"

#include <cmath>
#include <cstdio>

#include "core/reporting/report/report_chart.h"

namespace lumivo::reporting::compare_chart {

SceneStyle Stroke(const std::string& colour, double width, std::string dash) {
    SceneStyle s;
    s.stroke = colour;
    s.stroke_width = width;
    s.dash = std::move(dash);
    return s;
}

SceneStyle Fill(const std::string& colour, double opacity) {
    SceneStyle s;
    s.fill = colour;
    s.fill_opacity = opacity;
    return s;
}

void NiceRange(double& lo, double& hi) {
    if (!std::isfinite(lo) || !std::isfinite(hi)) lo = 0.0, hi = 1.0;
    if (hi - lo < 1e-12) {
        const double pad = std::max(1.0, std::fabs(hi) * 0.1);
        lo -= pad;
        hi += pad;
    }
    const std::vector<double> ticks = AxisTicks(lo, hi, 6);
    if (ticks.size() >= 2) {
        const double step = ticks[1] - ticks[0];
        lo = std::floor(lo / step + 1e-9) * step;
        hi = std::ceil(hi / step - 1e-9) * step;
    }
}

void ValueAxis(ChartScene& scene, const Frame& f, const std::string& label) {
    scene.Rect("frame", f.left, f.top, f.width, f.height, Stroke("#808080"));
    for (double v : AxisTicks(f.y_lo, f.y_hi, 6)) {
        if (v < f.y_lo - 1e-9 || v > f.y_hi + 1e-9) continue;
        const double y = f.Y(v);
        scene.Line("grid", f.left, y, f.left + f.width, y, Stroke("#e6e6e6"));
        scene.Line("axis", f.left - 5.0, y, f.left, y, Stroke("#404040"));
        scene.Text("axis", f.left - 8.0, y + 4.0, Number(v, 4), TextAnchor::End, 11.0);
    }
    scene.Text("axis", f.left - 55.0, f.top + f.height / 2.0, label, TextAnchor::Middle, 12.0,
               false, -90.0);
}

void BottomAxis(ChartScene& scene, const Frame& f, const std::vector<double>& ticks,
                const std::function<std::string(double)>& text, const std::string& label) {
    const double base = f.top + f.height;
    for (double v : ticks) {
        const double x = f.X(v);
        scene.Line("axis", x, base, x, base + 5.0, Stroke("#404040"));
        scene.Text("axis", x, base + 18.0, text(v), TextAnchor::Middle, 11.0);
    }
    scene.Text("axis", f.left + f.width / 2.0, base + 40.0, label, TextAnchor::Middle, 12.0);
}

void Header(ChartScene& scene, const std::string& title, const std::string& details) {
    scene.Text("title", 20.0, 26.0, title, TextAnchor::Start, 15.0, true);
    if (!details.empty()) scene.Text("details", 20.0, 46.0, details, TextAnchor::Start, 11.0);
}

void Dot(ChartScene& scene, const std::string& role, double x, double y, const std::string& colour,
         double size) {
    SceneStyle s = Fill(colour, 0.85);
    s.stroke = "#ffffff";
    s.stroke_width = 0.5;
    scene.Rect(role, x - size / 2.0, y - size / 2.0, size, size, s);
}

std::string Number(double v, int digits) {
    if (!std::isfinite(v)) return "NA";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.*g", digits, v);
    return buffer;
}

}  // namespace lumivo::reporting::compare_chart
