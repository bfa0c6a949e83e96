// The chart of a report: each group's mean activity over time with its standard-error band,
// and the basal line (100 %) when the data were normalised. The same series feed the report
// window's chart and the SVG image saved beside the report file.
//
// A long recording in short bins has far more points than a chart has pixels: each series is
// reduced to the lowest and highest value of every pixel column (the band to its lowest and
// highest edge), which draws the same picture. The time axis is in minutes, hours or days by
// the recording's length.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/reporting/report/report_tables.h"

namespace lumivo::reporting {

struct ChartPoint {
    double minute = 0.0;
    double mean = 0.0;
    double low = 0.0;   // lower edge of the standard-error band (mean - SE)
    double high = 0.0;  // upper edge (mean + SE)
};

struct ChartSeries {
    int group = 0;
    std::string label;  // "001_Control"
    std::vector<ChartPoint> points;
};

// The unit of the time axis: minutes per unit and the axis title.
struct TimeAxis {
    double minutes_per_unit = 1.0;
    std::string label = "Time [min]";
};
// Minutes up to 5 hours, hours up to 3 days, days beyond.
TimeAxis ChooseTimeAxis(double last_minute);

struct ChartData {
    std::string title;
    std::string y_label;
    double last_minute = 0.0;  // right end of the time axis
    TimeAxis time_axis;
    bool basal_line = false;  // draw the 100 % line
    std::vector<ChartSeries> series;
};

// More pixel columns than a report window's chart shows.
inline constexpr int kChartColumns = 1600;

// One series per group that has wells, one point per present report bin, each series reduced
// to `columns` pixel columns over the time axis.
ChartData BuildChartData(const ReportInputs& inputs, const GroupStatistics& stats,
                         std::int32_t bin_size, std::int32_t length, bool basal_applied,
                         int columns = kChartColumns);

// The points of a series as `columns` pixel columns over minutes 0..last_minute show them: a
// column holding more than two points keeps its lowest and its highest mean (in time order),
// both carrying the column's lowest and highest band edge. Fewer points are kept as they are.
std::vector<ChartPoint> ReduceToColumns(const std::vector<ChartPoint>& points, double last_minute,
                                        int columns);

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
