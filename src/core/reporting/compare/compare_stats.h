// Group comparisons of a screen (screen.h): per group n, mean, SD, SE, median and 95 % CI;
// each group against the control by Welch's t-test or Mann-Whitney U with Hedges' g or the
// rank-biserial r and their CIs, or one test over all groups (one-way ANOVA, Welch's ANOVA,
// Kruskal-Wallis); p-values adjusted over every comparison of the table (across bins too);
// and the plate quality (Z' and signal window) from each plate's control wells.
//
// stats.csv (long format, CR LF, "NA" where there is no value), one row per comparison:
//   group,control,n,mean,test,statistic,p,p_adjusted,effect,effect_low,effect_high,
//   sd,se,median,ci_low,ci_high,control_n,control_mean,df,exact,significance,measure,
//   from_h,to_h,bin_start_h,adjust,treatment,concentration,unit,role[,the map's own columns]
// An all-groups test has the group "all" and no control; the plate quality of each plate is a
// row with the test "z-prime": group the plate, statistic Z', effect the signal window.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/reporting/compare/screen.h"
#include "core/reporting/report/chart_scene.h"
#include "core/statistics/group_tests.h"

namespace lumivo::reporting {

inline constexpr const char* kStatsTableName = "stats.csv";
inline constexpr const char* kStatsPictureName = "stats.svg";

enum class GroupTest { Welch, MannWhitney, Anova, WelchAnova, Kruskal };
// "welch", "mann-whitney", "anova", "welch-anova", "kruskal".
std::string_view GroupTestName(GroupTest test);
std::optional<GroupTest> ParseGroupTest(std::string_view text);
bool IsAgainstControl(GroupTest test);

struct StatsRequest {
    ScreenRequest screen;
    std::string control;  // a group's name; "" for the negative controls' group
    GroupTest test = GroupTest::Welch;
    statistics::Adjustment adjust = statistics::Adjustment::Holm;
};

struct Comparison {
    std::size_t bin = 0;
    std::size_t group = 0;  // index into Screen::groups; SIZE_MAX for an all-groups test
    statistics::Summary summary;
    statistics::Summary control;
    statistics::TestResult test{};
    double p_adjusted = 0.0;
    statistics::Effect effect{};
};

struct PlateQuality {
    std::size_t plate = 0;
    std::size_t positives = 0, negatives = 0;
    double z_prime = 0.0, signal_window = 0.0;  // NaN without enough controls
};

struct StatsResult {
    Screen screen;
    StatsRequest request;
    std::optional<std::size_t> control;          // the control group (tests against it)
    std::vector<statistics::Summary> summaries;  // [bin * groups + group]
    std::vector<Comparison> comparisons;
    std::vector<PlateQuality> quality;
    std::vector<std::string> notes;
};

// The comparisons of a screen; nullopt with the reason (the control is unknown, fewer than two
// groups...).
std::optional<StatsResult> CompareGroups(Screen screen, const StatsRequest& request,
                                         std::string* failure);
// Z' and the signal window of each plate, from its control wells' values (over the bins, each
// well's mean of them).
std::vector<PlateQuality> PlateQualities(const Screen& screen);
// "***" below 0.001, "**" below 0.01, "*" below 0.05, "ns" otherwise, "" for NaN.
std::string SignificanceMark(double p);

std::string StatsTable(const StatsResult& result);
// Points per well over each group's mean and 95 % CI, the adjusted significance above; with
// an endpoint per bin, the group means over the run with the significant bins marked.
ChartScene StatsScene(const StatsResult& result);

struct CompareOutcome {
    bool written = false;
    std::string failure;
    std::filesystem::path svg_file, csv_file;
    std::vector<std::string> notes;
};
// The data's notes and the comparisons'.
std::vector<std::string> StatsNotes(const StatsResult& result);
// Reads the acquisitions and compares (what the window's tab shows); nullopt with the reason.
std::optional<StatsResult> ComputeStats(StorageContext& ctx, const StatsRequest& request,
                                        std::string* failure);
// Reads the acquisitions, compares and writes stats.csv and stats.svg into the first folder.
CompareOutcome WriteStats(StorageContext& ctx, const StatsRequest& request);

}  // namespace lumivo::reporting
