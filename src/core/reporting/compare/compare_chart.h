// Drawing pieces the comparison and dose-response pictures share: a plotting frame with value
// axes, and the header lines.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/reporting/report/chart_scene.h"

namespace lumivo::reporting::compare_chart {

struct Frame {
    double left = 80.0, top = 70.0, width = 840.0, height = 380.0;
    double y_lo = 0.0, y_hi = 1.0;
    double x_lo = 0.0, x_hi = 1.0;
    double X(double x) const { return left + (x - x_lo) / (x_hi - x_lo) * width; }
    double Y(double y) const { return top + height - (y - y_lo) / (y_hi - y_lo) * height; }
};

SceneStyle Stroke(const std::string& colour, double width = 1.0, std::string dash = {});
SceneStyle Fill(const std::string& colour, double opacity = 1.0);

// [lo, hi] widened to nice tick values (a flat range gets some room).
void NiceRange(double& lo, double& hi);
// The frame's box, the value axis with ticks and its label, rotated at the left.
void ValueAxis(ChartScene& scene, const Frame& f, const std::string& label);
// Ticks along the bottom at the given x values with their texts, and the axis label below.
void BottomAxis(ChartScene& scene, const Frame& f, const std::vector<double>& ticks,
                const std::function<std::string(double)>& text, const std::string& label);
// The title (bold) and a line of details beneath it.
void Header(ChartScene& scene, const std::string& title, const std::string& details);
// A small filled square marking a point.
void Dot(ChartScene& scene, const std::string& role, double x, double y, const std::string& colour,
         double size = 5.0);
// "1.23" with `digits` significant digits, "NA" for NaN.
std::string Number(double v, int digits = 3);

}  // namespace lumivo::reporting::compare_chart
