// The chart of a report: each group's mean activity over time with its standard-error band,
// and the basal line (100 %) when the data were normalised. The same series feed the report
// window's chart and the SVG image saved beside the report file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/reporting/report_tables.h"

namespace lumivo::reporting {

struct ChartPoint {
    double minute = 0.0;
    double mean = 0.0;
    double se = 0.0;  // standard error (0 when the group has no spread)
};

struct ChartSeries {
    int group = 0;
    std::string label;  // "001_Control"
    std::vector<ChartPoint> points;
};

struct ChartData {
    std::string title;
    std::string y_label;
    double last_minute = 0.0;  // right end of the time axis
    bool basal_line = false;   // draw the 100 % line
    std::vector<ChartSeries> series;
};

// One series per group that has wells, one point per present report bin.
ChartData BuildChartData(const ReportInputs& inputs, const GroupStatistics& stats,
                         std::int32_t bin_size, std::int32_t length, bool basal_applied);

// A self-contained SVG image of the chart: axes with ticks and labels, one colour per group
// with a legend, standard-error bands as translucent polygons.
std::string RenderChartSvg(const ChartData& chart, int width = 960, int height = 560);

// Colour of the i-th series ("#rrggbb") and its dash pattern ("" for solid, else an SVG
// dash array): ten colours, then the same colours dashed. Shared with the window's chart.
std::string SeriesColour(std::size_t index);
std::string SeriesDash(std::size_t index);

// "Nice" axis ticks covering [lo, hi]: about `target` steps of 1, 2 or 5 x 10^n.
std::vector<double> AxisTicks(double lo, double hi, int target);

}  // namespace lumivo::reporting
