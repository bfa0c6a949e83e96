// The wells of a screen ready to compare: one or several acquisitions (replicate plates), each
// with its plate map (wells.csv) and its activity on the run's clock (rhythm.h), reduced to one
// endpoint per well over a chosen interval, or one per bin of it.
//
// Endpoints (hours count from the start of sampling on the run's clock):
//   mean           the well's mean count per bin over the observed bins of the interval;
//   total          the sum of its counts over the observed bins of the interval;
//   percent-basal  the mean as a percent of the well's own mean over the basal interval;
//   paralysis      hours from the interval's start to the first bin after which every observed
//                  bin stays below the threshold percent of the basal mean ("not reached": NaN).
// A bin the recording does not cover (a pause, a gap, a lost instrument) is never a zero: it is
// left out, and an interval without one observed bin gives no endpoint. Wells that are dead or
// have no beams (as the rhythm views classify them), wells whose role is "empty" and, when the
// plate has a map, wells the map does not name are left out, each with its reason; dead wells
// stay in when they are kept.
//
// Wells are grouped by treatment and concentration ("Levamisole 0.5 mM"), by treatment alone,
// or by the project's groups ("001_Control") when there is no map.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/reporting/rhythm/rhythm.h"
#include "core/storage/storage_context.h"
#include "core/storage/well_map.h"

namespace lumivo::reporting {

enum class Endpoint { Mean, Total, PercentBasal, Paralysis };
// "mean", "total", "percent-basal", "paralysis".
std::string_view EndpointName(Endpoint endpoint);
std::optional<Endpoint> ParseEndpoint(std::string_view text);

enum class Grouping { Dose, Treatment, ProjectGroup };
// "dose", "treatment", "group".
std::string_view GroupingName(Grouping grouping);
std::optional<Grouping> ParseGrouping(std::string_view text);

struct ScreenRequest {
    std::vector<std::filesystem::path> folders;  // the acquisitions (plates), at least one
    double from_hours = 0.0;
    double to_hours = 0.0;  // exclusive; 0 or less: to the end of the recording
    Endpoint endpoint = Endpoint::Mean;
    // The basal interval of percent-basal and paralysis; when not given: from the start of
    // sampling to from_hours.
    std::optional<double> basal_from_hours, basal_to_hours;
    double paralysis_percent = 10.0;  // of the basal mean
    std::int32_t bin_minutes = 30;
    bool per_bin = false;  // an endpoint per bin of the interval instead of one for all of it
    std::optional<Grouping> grouping;  // default: dose with a map that has concentrations,
                                       // treatment with one that has none, else group
    double dead_hours = kDefaultDeadHours;
    bool keep_dead = false;
    // With N > 0 the interval's hours count from the end of the N-th pause events.log holds
    // (the pause that marked the dosing), on each plate its own; the basal interval, when not
    // given, runs from the start of sampling to the interval's start.
    int after_pause = 0;
};

struct ScreenWell {
    std::size_t plate = 0;      // index into Screen::plates
    std::string well;           // "A1"
    std::string project_group;  // "001_Control"
    WellStatus status = WellStatus::Ok;
    WellEntry entry;  // from the map (only `well` set when the plate has none)
    bool in_map = false;
    std::string left_out;        // why the well is not compared ("" when it is)
    std::size_t group = 0;       // index into Screen::groups (when not left out)
    std::vector<double> values;  // one per Screen::bins; NaN where there is no endpoint
};

struct ScreenGroup {
    std::string name;  // "Levamisole 0.5 mM", "Levamisole", "001_Control"
    std::string treatment;
    std::optional<double> concentration;
    std::string unit;
    WellRole role = WellRole::Sample;  // the role its wells share (sample when mixed)
    std::vector<std::size_t> wells;    // indices into Screen::wells
};

struct ScreenPlate {
    std::filesystem::path folder;
    std::string name;  // the folder's name, "20260301_0900"
    RhythmData data;
    WellMap map;
    double offset_hours = 0.0;  // where the request's hour 0 lies on this plate's clock
};

struct ScreenBin {
    double start_hours = 0.0, end_hours = 0.0;
};

struct Screen {
    ScreenRequest request;  // as used (the interval's end filled in)
    Grouping grouping = Grouping::ProjectGroup;
    std::vector<ScreenPlate> plates;
    std::vector<std::string> extra_columns;  // the maps' own columns, in order, each once
    std::vector<ScreenWell> wells;
    std::vector<ScreenGroup> groups;
    std::vector<ScreenBin> bins;  // one for the whole interval, or one per bin
    std::vector<std::string> notes;

    // The values of a group at bin k, NaN left out.
    std::vector<double> Values(std::size_t group, std::size_t bin) const;
    // A map column of a well: "treatment", "concentration", "unit", "role" or an extra column.
    std::string Column(const ScreenWell& well, std::string_view column) const;
    // The column's value shared by the group's wells, or their distinct values joined by "/".
    std::string GroupColumn(const ScreenGroup& group, std::string_view column) const;
};

// Hours from the start of sampling to the end of the n-th pause of the log (1 = the first),
// whether its time counter ran on or stopped; nullopt when the log holds no such pause or it
// did not end.
std::optional<double> PauseEndHours(const RunLog& log, int n);

// Reads every acquisition of the request and reduces its wells. nullopt with the reason (naming
// the folder or file, and what to do) when a folder cannot be read, a plate map does not fit the
// plate, or the interval holds no bin.
std::optional<Screen> ReadScreen(StorageContext& ctx, const ScreenRequest& request,
                                 std::string* failure);
// The same from plates already read (their data binned at request.bin_minutes).
std::optional<Screen> BuildScreen(std::vector<ScreenPlate> plates, const ScreenRequest& request,
                                  std::string* failure);

}  // namespace lumivo::reporting
