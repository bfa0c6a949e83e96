// The circadian and sleep views of an acquisition as data, computed from RhythmData and drawn by
// rhythm_chart.h (SVG, or a window's painter) and written as tables by rhythm_tables.h:
// - the actogram: the run cut into rows of one period (a day unless chosen otherwise), each row
//   starting at midnight of the first day, bars of counts per bin; double-plotted rows show a row
//   and the next side by side;
// - periodograms (periodogram.h) of each well and group mean;
// - the activity profile: mean +- SE per bin over the run, and folded over the 24 hours of the
//   day (each well's mean per time of day, then the mean +- SE over the group's wells);
// - inactivity bouts (sleep_bouts.h) per well and, as means over the wells, per group, with the
//   share of time in bouts over the run and folded over the day;
// - the cosinor, the rest-activity indices and the daily onsets and offsets (circadian.h) of
//   each well and group mean (a group's are those of its mean series, as its periodogram).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/reporting/rhythm/circadian.h"
#include "core/reporting/rhythm/periodogram.h"
#include "core/reporting/rhythm/rhythm.h"
#include "core/reporting/rhythm/sleep_bouts.h"

namespace lumivo::reporting {

// A series of RhythmData: a well or a group's mean.
struct SeriesRef {
    bool group = false;
    std::size_t index = 0;  // into RhythmData::wells or ::groups
    friend bool operator==(const SeriesRef&, const SeriesRef&) = default;
};

// Which series a view shows.
struct SeriesSelection {
    enum class Kind { All, Group, Well } kind = Kind::All;
    std::size_t index = 0;  // the group or well (index into RhythmData::groups or ::wells)
};

// The series of a selection, in the order they are shown: all groups' means then all wells; a
// group's mean then its wells; a well.
std::vector<SeriesRef> SelectedSeries(const RhythmData& data, const SeriesSelection& selection);
// The series drawn as panels: groups' means for All (the wells when there is no group), the
// group's mean and its wells, the well.
std::vector<SeriesRef> PanelSeries(const RhythmData& data, const SeriesSelection& selection);

const double* SeriesValues(const RhythmData& data, const SeriesRef& ref);
// "A1" or "001_Control".
std::string SeriesName(const RhythmData& data, const SeriesRef& ref);
// "A1 (001_Control)", "A1 (001_Control, dead)", "001_Control: mean of 8 wells".
std::string SeriesCaption(const RhythmData& data, const SeriesRef& ref);
// Wells in a group's mean, 1 for a well.
int SeriesWells(const RhythmData& data, const SeriesRef& ref);

// ---- Actogram ----------------------------------------------------------------------------------

struct ActogramOptions {
    double period_hours = 24.0;
    bool double_plot = false;
};

// Where the bins of a run fall in the actogram's rows.
struct ActogramLayout {
    double period_minutes = 1440.0;
    double origin = 0.0;  // clock minute at which row 0 starts (midnight of the first day)
    int rows = 0;
    bool double_plot = false;

    int RowOf(double clock_minute) const;
    double RowStart(int row) const { return origin + row * period_minutes; }
};
ActogramLayout MakeActogramLayout(const RhythmData& data, const ActogramOptions& options);
// The light phases of row `row` in minutes from the row's start (over two periods when
// double-plotted), only where the run has phases.
std::vector<LightPhase> ActogramRowPhases(const ActogramLayout& layout,
                                          const std::vector<LightPhase>& phases, int row);

// ---- Profiles ----------------------------------------------------------------------------------

// One curve: the mean (and standard error) per point; `present` 0 where nothing was observed.
struct ProfileCurve {
    SeriesRef series;
    std::vector<double> mean, se;
    std::vector<std::uint8_t> present;
};

struct Profile {
    double step_minutes = 30.0;       // minutes per point
    std::vector<ProfileCurve> run;    // point k covers clock minutes [k step, (k + 1) step)
    std::vector<ProfileCurve> daily;  // point k covers minutes [k step, (k + 1) step) of the day
};

// A profile of per-well values ([well * data.bins + bin], observed per data.observed) for the
// series, `factor` bins a point: a point is the mean of its observed bins; a group's point the
// mean +- SE over its members that have one (a well's daily point: over the days).
Profile MakeProfile(const RhythmData& data, const std::vector<SeriesRef>& series,
                    const std::vector<double>& well_values, std::size_t factor);

// ---- Periodograms ------------------------------------------------------------------------------

PeriodogramSet MakePeriodograms(const RhythmData& data, const std::vector<SeriesRef>& series,
                                const PeriodogramOptions& options);

// ---- Sleep -------------------------------------------------------------------------------------

// The summary of a series for one light phase: a well's own, or the mean over a group's members.
struct SleepRow {
    double observed_minutes = 0.0;
    double sleep_minutes = 0.0;  // in bouts
    double sleep_share = 0.0;    // NaN when nothing was observed
    double zero_minutes = 0.0;   // every observed minute that counted nothing
    double bouts = 0.0;
    double mean_bout_minutes = 0.0;  // NaN without bouts
    double latency_minutes = 0.0;    // NaN when no night has a bout (dark phase only)
    double nights = 0.0;             // lights-off changes covered
};

struct SleepView {
    SleepDefinition definition;
    std::vector<SleepSummary> wells;  // per well of the data (empty summaries for no beams)
    // Per well, 1 for each bin in a bout, 0 otherwise: the series of the time-in-bouts curves.
    std::vector<double> in_bout;
};

SleepView MakeSleepView(const RhythmData& data, const SleepDefinition& definition);

enum class SleepPhase { Light, Dark, All };
SleepRow SleepRowOf(const RhythmData& data, const SleepView& view, const SeriesRef& ref,
                    SleepPhase phase);

// ---- Cosinor, rest-activity indices, phase markers ----------------------------------------------

// The time of day the lights go on in the run's daily light (hours), NaN when the day has no
// change from dark to light.
double LightsOnHour(const LightSchedule& light);
// The cosinor's reference: midnight of the first day when the start is known, else the start.
double CosinorReferenceMinute(const RhythmData& data);

struct CosinorOptions {
    // The period fitted; nullopt for each series' periodogram peak (24 h when it has no
    // significant one).
    std::optional<double> period_hours = 24.0;
    PeriodogramOptions periodogram;  // the periodogram whose peak is used
};

struct CosinorRow {
    CosinorFit fit;
    std::string period_source;  // "given", "periodogram peak", "24 h: no significant peak"
    // The acrophase in zeitgeber time (hours after lights on), NaN without a light schedule.
    double zt = 0, zt_lo = 0, zt_hi = 0;
};

struct CosinorView {
    double reference_minute = 0.0;
    double lights_on_hour = 0.0;   // NaN when unknown
    std::vector<CosinorRow> rows;  // per series
};

CosinorView MakeCosinorView(const RhythmData& data, const std::vector<SeriesRef>& series,
                            const CosinorOptions& options);

// The indices of each series.
std::vector<RestActivity> MakeRestActivity(const RhythmData& data,
                                           const std::vector<SeriesRef>& series);

// The onsets and offsets of each series on the actogram's days.
std::vector<PhaseMarkers> MakePhaseMarkers(const RhythmData& data,
                                           const std::vector<SeriesRef>& series,
                                           const ActogramLayout& layout, double smooth_hours);

}  // namespace lumivo::reporting
