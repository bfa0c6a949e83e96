// The pictures of the circadian and sleep views as chart scenes (chart_scene.h): written as SVG
// files by the core, and the same shapes for a window to paint. Light phases are shaded (light
// pale yellow, dark grey) wherever the run's light schedule is known; the colours of the series
// are those of the report chart.
#pragma once

#include <string>
#include <vector>

#include "core/reporting/report/chart_scene.h"
#include "core/reporting/rhythm/rhythm_views.h"

namespace lumivo::reporting {

inline constexpr const char* kLightColour = "#fff4c2";
inline constexpr const char* kDarkColour = "#c9c9c9";

// One actogram panel per series: a row per period, bars of counts per bin (each series scaled to
// its own highest bin), the light phases behind the bars.
ChartScene ActogramScene(const RhythmData& data, const std::vector<SeriesRef>& panels,
                         const ActogramLayout& layout);

// One periodogram panel per series (`set.series` in the order of `panels`): power over the
// periods, the significance line dashed, the peak marked with its period.
ChartScene PeriodogramScene(const RhythmData& data, const std::vector<SeriesRef>& panels,
                            const PeriodogramSet& set);

// Curves of a profile (the activity profile, or the time in bouts): over the run above, over the
// day below, mean lines with standard-error bands. `scale` multiplies every value (100 for
// shares shown as percentages).
ChartScene ProfileScene(const RhythmData& data, const Profile& profile, const std::string& title,
                        const std::string& y_label, double scale = 1.0);

// The title line of a view: "<experiment>: <what>", or just what.
std::string ViewTitle(const RhythmData& data, const std::string& what);

}  // namespace lumivo::reporting
