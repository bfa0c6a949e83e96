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
// With `markers` (one per panel), each day's onset and offset are drawn on it as points and the
// free-running period's line through the onsets.
ChartScene ActogramScene(const RhythmData& data, const std::vector<SeriesRef>& panels,
                         const ActogramLayout& layout,
                         const std::vector<PhaseMarkers>& markers = {});

// One panel per series (`rows` in the order of `panels`): the series over the run, the fitted
// cosine over it, its mesor dashed and its peaks marked, with the fit's figures.
ChartScene CosinorScene(const RhythmData& data, const std::vector<SeriesRef>& panels,
                        const std::vector<CosinorRow>& rows, const CosinorView& view);

// One panel per series: the average day as bars over the hours of the day, the M10 and L5
// windows shaded, with IS, IV and RA.
ChartScene IndicesScene(const RhythmData& data, const std::vector<SeriesRef>& panels,
                        const std::vector<RestActivity>& indices);

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
