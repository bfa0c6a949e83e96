// The report chart: series from the group statistics and the SVG image (one line and one
// standard-error band per group with wells, legend, basal line, escaped text, finite
// coordinates), and the axis ticks.
#include "core/reporting/report/report_chart.h"

#include <gtest/gtest.h>

#include <cmath>
#include <regex>

namespace lumivo::reporting {
namespace {

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Groups 0 ("Control", 2 wells), 1 ("Drug & <A>", 1 well), 2 (no wells); three report bins,
// the third not present.
struct ChartInputs {
    ReportInputs inputs;
    GroupStatistics stats;
    ChartInputs() {
        inputs.group_names[0] = "Control";
        inputs.group_names[1] = "Drug & <A>";
        inputs.experiment_name = "Run \"7\"";
        stats.group_count = 3;
        stats.bin_count = 3;
        stats.wells = {2, 1, 0};
        stats.mean.assign(3 * 4, 0);
        stats.sd.assign(3 * 4, 0);
        stats.bin_present = {false, true, true, false};
        const std::int32_t means[2][3] = {{100, 150, 0}, {40, 60, 0}};
        for (int g = 0; g < 2; ++g)
            for (int k = 1; k <= 3; ++k) stats.mean[stats.At(g, k)] = means[g][k - 1];
        stats.sd[stats.At(0, 1)] = 20;
        stats.sd[stats.At(0, 2)] = 0;
    }
};

TEST(ReportChart, SeriesFollowTheGroupsWithWellsAndThePresentBins) {
    const ChartInputs c;
    const ChartData chart = BuildChartData(c.inputs, c.stats, 30, 90, false);
    ASSERT_EQ(chart.series.size(), 2u);
    EXPECT_EQ(chart.series[0].label, "000_Control");
    EXPECT_EQ(chart.series[1].label, "001_Drug & <A>");
    ASSERT_EQ(chart.series[0].points.size(), 2u);
    EXPECT_EQ(chart.series[0].points[0].minute, 30.0);
    EXPECT_EQ(chart.series[0].points[1].minute, 60.0);
    EXPECT_EQ(chart.series[0].points[1].mean, 150.0);
    EXPECT_DOUBLE_EQ(chart.series[0].points[0].high - chart.series[0].points[0].mean,
                     20 / std::sqrt(2.0));
    EXPECT_DOUBLE_EQ(chart.series[0].points[0].mean - chart.series[0].points[0].low,
                     20 / std::sqrt(2.0));
    EXPECT_EQ(chart.series[0].points[1].high, 150.0);
    EXPECT_EQ(chart.series[0].points[1].low, 150.0);
    EXPECT_EQ(chart.last_minute, 90.0);
    EXPECT_FALSE(chart.basal_line);
    EXPECT_EQ(chart.title, "Run \"7\"");
}

TEST(ReportChart, SvgHasOneLineAndBandPerGroupALegendAndEscapedText) {
    const ChartInputs c;
    for (bool basal : {false, true}) {
        const std::string svg = RenderChartSvg(BuildChartData(c.inputs, c.stats, 30, 90, basal));
        EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
        EXPECT_NE(svg.find("</svg>"), std::string::npos);
        EXPECT_EQ(Count(svg, "<polyline class=\"mean\""), 2u);
        EXPECT_EQ(Count(svg, "<polygon class=\"se-band\""), 2u);
        EXPECT_EQ(Count(svg, "fill-opacity=\"0.6\""), 2u);
        EXPECT_NE(svg.find(">000_Control</text>"), std::string::npos);
        EXPECT_NE(svg.find(">001_Drug &amp; &lt;A&gt;</text>"), std::string::npos);
        EXPECT_NE(svg.find(">Run &quot;7&quot;</text>"), std::string::npos);
        EXPECT_NE(svg.find(">Time [min]</text>"), std::string::npos);
        EXPECT_EQ(svg.find("002_"), std::string::npos);  // no wells: not drawn
        EXPECT_EQ(svg.find("class=\"basal\"") != std::string::npos, basal);
        EXPECT_EQ(svg.find("% of basal") != std::string::npos, basal);
        EXPECT_EQ(svg.find("nan"), std::string::npos);
        EXPECT_EQ(svg.find("inf"), std::string::npos);
        // Every coordinate is a plain number with "." (never a locale's ",").
        const std::regex coordinate(" (x1|y1|x2|y2|cx|cy|x|y)=\"([^\"]*)\"");
        for (std::sregex_iterator it(svg.begin(), svg.end(), coordinate), end; it != end; ++it)
            EXPECT_TRUE(std::regex_match((*it)[2].str(), std::regex("-?[0-9]+(\\.[0-9]+)?")))
                << (*it)[0].str();
    }
    // Nothing to draw still gives a valid image.
    ChartData empty;
    empty.title = "x";
    const std::string svg = RenderChartSvg(empty);
    EXPECT_NE(svg.find("No group has wells"), std::string::npos);
    EXPECT_NE(svg.find("</svg>"), std::string::npos);
}

TEST(ReportChart, LongRecordingsAreReducedToWhatThePixelsShow) {
    // 22 days in 1-minute bins, one group of two wells whose mean saws between 0 and 99 with a
    // spike of 5000 at minute 20000.
    const int bins = 32000;
    ChartInputs c;
    c.stats.bin_count = bins;
    c.stats.group_count = 1;
    c.stats.wells = {2};
    c.stats.mean.assign(bins + 1, 0);
    c.stats.sd.assign(bins + 1, 0);
    c.stats.bin_present.assign(bins + 1, true);
    c.stats.bin_present[0] = false;
    for (int k = 1; k <= bins; ++k) {
        c.stats.mean[c.stats.At(0, k)] = k == 20000 ? 5000 : k % 100;
        c.stats.sd[c.stats.At(0, k)] = k == 20001 ? 800 : 4;
    }
    const ChartData chart = BuildChartData(c.inputs, c.stats, 1, bins, false);
    ASSERT_EQ(chart.series.size(), 1u);
    const auto& points = chart.series[0].points;
    EXPECT_LE(points.size(), 2u * kChartColumns);
    // Nothing that shows is lost: the lowest and highest means and band edges survive, in time
    // order.
    double lowest = 1e9, highest = -1e9, band_top = -1e9;
    for (std::size_t i = 0; i < points.size(); ++i) {
        lowest = std::min(lowest, points[i].mean);
        highest = std::max(highest, points[i].mean);
        band_top = std::max(band_top, points[i].high);
        if (i > 0) {
            EXPECT_LE(points[i - 1].minute, points[i].minute);
        }
    }
    EXPECT_EQ(lowest, 0.0);
    EXPECT_EQ(highest, 5000.0);
    EXPECT_DOUBLE_EQ(band_top, 5000.0 + 4 / std::sqrt(2.0));
    EXPECT_EQ(chart.time_axis.label, "Time [d]");

    // The image: one path per series of at most two points per pixel column, days on the axis.
    const std::string svg = RenderChartSvg(chart);
    EXPECT_LT(svg.size(), 200'000u);
    EXPECT_NE(svg.find(">Time [d]</text>"), std::string::npos);
    EXPECT_NE(svg.find("text-anchor=\"middle\">20</text>"), std::string::npos);  // day 20
    const auto line = svg.find("<polyline class=\"mean\" points=\"");
    ASSERT_NE(line, std::string::npos);
    const auto end = svg.find('"', line + 35);
    EXPECT_LE(Count(svg.substr(line, end - line), ","), 2u * 680u);

    // Short series are kept point for point.
    const std::vector<ChartPoint> few = {{1, 5, 4, 6}, {2, 7, 7, 7}, {3, 1, 0, 2}};
    const auto kept = ReduceToColumns(few, 3, 1);
    ASSERT_EQ(kept.size(), 2u);  // three points in one column: lowest and highest
    EXPECT_EQ(kept[0].minute, 2.0);
    EXPECT_EQ(kept[1].minute, 3.0);
    EXPECT_EQ(kept[0].low, 0.0);
    EXPECT_EQ(kept[1].high, 7.0);
    EXPECT_EQ(ReduceToColumns(few, 3, 2).size(), 3u);
}

TEST(ReportChart, TimeAxisUnitFollowsTheRecordingLength) {
    const std::pair<double, const char*> cases[] = {{90, "Time [min]"}, {300, "Time [min]"},
                                                    {301, "Time [h]"},  {4320, "Time [h]"},
                                                    {4321, "Time [d]"}, {32767, "Time [d]"}};
    for (const auto& [minutes, label] : cases) {
        const TimeAxis axis = ChooseTimeAxis(minutes);
        EXPECT_EQ(axis.label, label) << minutes;
        EXPECT_EQ(axis.minutes_per_unit, std::string(label) == "Time [d]"   ? 1440.0
                                         : std::string(label) == "Time [h]" ? 60.0
                                                                            : 1.0)
            << minutes;
    }
    // Hours on the image's axis for a 12-hour run.
    ChartInputs c;
    const std::string svg = RenderChartSvg(BuildChartData(c.inputs, c.stats, 240, 720, false));
    EXPECT_NE(svg.find(">Time [h]</text>"), std::string::npos);
    EXPECT_NE(svg.find("text-anchor=\"middle\">12</text>"), std::string::npos);
}

TEST(ReportChart, AxisTicksAreRoundNumbersCoveringTheRange) {
    struct Case {
        double lo, hi;
        int target;
        std::vector<double> ticks;
    };
    const Case cases[] = {
        {0, 100, 5, {0, 20, 40, 60, 80, 100}},
        {0, 7, 8, {0, 1, 2, 3, 4, 5, 6, 7}},
        {0, 1440, 8, {0, 200, 400, 600, 800, 1000, 1200, 1400}},
        {-30, 30, 6, {-30, -20, -10, 0, 10, 20, 30}},
        {0, 0.5, 5, {0, 0.1, 0.2, 0.3, 0.4, 0.5}},
    };
    for (const Case& c : cases) {
        const auto ticks = AxisTicks(c.lo, c.hi, c.target);
        ASSERT_EQ(ticks.size(), c.ticks.size()) << c.hi;
        for (std::size_t i = 0; i < ticks.size(); ++i) EXPECT_NEAR(ticks[i], c.ticks[i], 1e-9);
    }
    EXPECT_EQ(AxisTicks(5, 5, 4), std::vector<double>{5});
}

}  // namespace
}  // namespace lumivo::reporting
