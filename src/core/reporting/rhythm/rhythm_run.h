// One circadian or sleep view of an acquisition written into its folder: the picture as
// "<view>.svg" and the table as "<view>.csv" ("<view>_group<G>" and "<view>_<well>" when one group
// or one well was chosen), both replaced whole and never left half written. What `lumivo-cli
// plot` runs; the window's tab shows the same scenes and tables.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/reporting/report/chart_scene.h"
#include "core/reporting/rhythm/rhythm_views.h"
#include "core/storage/storage_context.h"

namespace lumivo::reporting {

enum class RhythmView { Actogram, Periodogram, Profile, Sleep, Cosinor, Indices, Onsets };
// "actogram", "periodogram", "profile", "sleep", "cosinor", "indices", "onsets".
std::string_view RhythmViewName(RhythmView view);
std::optional<RhythmView> ParseRhythmView(std::string_view text);

// The bin a view uses unless another is chosen: 30 minutes for actograms, profiles and the
// cosinor, 6 for periodograms (their 0.1 h resolution), 1 for inactivity bouts (a bout is
// counted in minutes), 60 for the rest-activity indices (defined on hourly data), 10 for onsets
// and offsets (a tenth of the 2-hour smoothing).
std::int32_t DefaultBinMinutes(RhythmView view);

struct PlotRequest {
    std::filesystem::path folder;
    RhythmView view = RhythmView::Actogram;
    std::string group;  // a group number ("3", "003") or name; "" for all
    std::string well;   // a well name ("A1"); "" for all
    std::optional<std::int32_t> bin_minutes;
    ActogramOptions actogram;
    PeriodogramOptions periodogram;
    // The cosinor's period (nullopt: each series' periodogram peak, by `periodogram`).
    std::optional<double> cosinor_period_hours = 24.0;
    // The sleep rule: the acquisition's organism's unless another organism's is chosen, with
    // the bout length given here when it is.
    std::optional<Organism> sleep_organism;
    std::optional<double> bout_minutes;
    double smooth_hours = kDefaultSmoothHours;  // onsets and offsets
    double dead_hours = kDefaultDeadHours;
    bool keep_dead = false;
};

// The picture and table of one view.
struct RhythmViewResult {
    ChartScene scene;
    std::string table;
};

// Which series the request chooses; nullopt with the reason when the group or well is unknown.
std::optional<SeriesSelection> ResolveSelection(const RhythmData& data, const PlotRequest& request,
                                                std::string* failure);
// The view of the chosen series of `data` (binned as the request asks).
RhythmViewResult MakeRhythmView(const RhythmData& data, const PlotRequest& request,
                                const SeriesSelection& selection);

// "actogram", "actogram_group3", "actogram_A1".
std::string PlotFileStem(const RhythmData& data, RhythmView view, const SeriesSelection& selection);

// The sleep rule a request gives for the data.
SleepDefinition SleepDefinitionOf(const RhythmData& data, const PlotRequest& request);

// One view of an acquisition folder as data, picture and table: what WritePlot writes and the
// window's tab shows.
struct ComputedPlot {
    RhythmData data;
    SeriesSelection selection;
    RhythmViewResult view;
};
// Reads the folder and computes the view; nullopt with the reason (naming the file or what the
// user gave) when it cannot.
std::optional<ComputedPlot> ComputePlot(StorageContext& ctx, const PlotRequest& request,
                                        std::string* failure);
// What the user should know about the data of a computed view: the reader's notes and the dead
// wells.
std::vector<std::string> PlotNotes(const RhythmData& data, const PlotRequest& request);

struct PlotOutcome {
    bool written = false;
    std::string failure;  // why nothing was written
    std::filesystem::path svg_file, csv_file;
    std::string light;               // the light schedule shown
    std::string sleep_rule;          // the sleep view's: "Zebrafish(Larvae): no counts for ..."
    std::vector<std::string> notes;  // what the user should know about the data
};

// Reads the acquisition folder, computes the view and writes its two files.
PlotOutcome WritePlot(StorageContext& ctx, const PlotRequest& request);

}  // namespace lumivo::reporting
