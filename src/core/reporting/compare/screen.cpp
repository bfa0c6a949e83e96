#include "core/reporting/compare/screen.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <set>

#include "core/reporting/report/report_run.h"
#include "core/reporting/rhythm/rhythm_tables.h"

namespace lumivo::reporting {
namespace fs = std::filesystem;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The rhythm data's bins whose start lies in [from, to) hours.
std::pair<std::size_t, std::size_t> BinRange(const RhythmData& data, double from_h, double to_h) {
    const double bin = data.bin_minutes;
    const auto first =
        static_cast<std::size_t>(std::max(0.0, std::ceil(from_h * 60.0 / bin - 1e-9)));
    const auto last = static_cast<std::size_t>(std::max(0.0, std::ceil(to_h * 60.0 / bin - 1e-9)));
    return {std::min(first, data.bins), std::min(last, data.bins)};
}

// The mean and the sum of a well's observed bins in [from, to) hours; NaN without one.
struct Observed {
    double mean = kNaN, sum = kNaN;
    std::size_t bins = 0;
};
Observed Observe(const RhythmData& data, std::size_t well, double from_h, double to_h) {
    const auto [first, last] = BinRange(data, from_h, to_h);
    const double* values = data.Well(well);
    Observed out;
    double sum = 0.0;
    for (std::size_t k = first; k < last; ++k) {
        if (!data.Observed(k)) continue;
        sum += values[k];
        ++out.bins;
    }
    if (out.bins > 0) {
        out.sum = sum;
        out.mean = sum / static_cast<double>(out.bins);
    }
    return out;
}

// Hours from `from_h` to the first bin after which every observed bin up to `to_h` stays below
// `threshold`; NaN when that never happens (or the interval holds no observed bin).
double HoursToParalysis(const RhythmData& data, std::size_t well, double from_h, double to_h,
                        double threshold) {
    const auto [first, last] = BinRange(data, from_h, to_h);
    const double* values = data.Well(well);
    std::optional<std::size_t> onset;
    for (std::size_t k = first; k < last; ++k) {
        if (!data.Observed(k)) continue;
        if (values[k] < threshold) {
            if (!onset) onset = k;
        } else {
            onset.reset();
        }
    }
    return onset ? data.BinStart(*onset) / 60.0 - from_h : kNaN;
}

std::string ConcentrationText(const std::optional<double>& c) {
    return c ? CsvNumber(*c, 6) : std::string();
}

int RoleOrder(WellRole role) {
    switch (role) {
        case WellRole::Negative:
            return 0;
        case WellRole::Sample:
            return 1;
        case WellRole::Positive:
            return 2;
        case WellRole::Empty:
            return 3;
    }
    return 1;
}

}  // namespace

std::optional<double> PauseEndHours(const RunLog& log, int n) {
    std::vector<WallPeriod> pauses = log.running_pauses;
    pauses.insert(pauses.end(), log.frozen_pauses.begin(), log.frozen_pauses.end());
    std::sort(pauses.begin(), pauses.end(),
              [](const WallPeriod& a, const WallPeriod& b) { return a.begin < b.begin; });
    if (n < 1 || static_cast<std::size_t>(n) > pauses.size()) return std::nullopt;
    const WallPeriod& p = pauses[static_cast<std::size_t>(n - 1)];
    if (!p.ended) return std::nullopt;
    return static_cast<double>(p.end - log.start) / 3600.0;
}

std::string_view EndpointName(Endpoint endpoint) {
    switch (endpoint) {
        case Endpoint::Mean:
            return "mean";
        case Endpoint::Total:
            return "total";
        case Endpoint::PercentBasal:
            return "percent-basal";
        case Endpoint::Paralysis:
            return "paralysis";
    }
    return "mean";
}

std::optional<Endpoint> ParseEndpoint(std::string_view text) {
    for (Endpoint e :
         {Endpoint::Mean, Endpoint::Total, Endpoint::PercentBasal, Endpoint::Paralysis})
        if (text == EndpointName(e)) return e;
    return std::nullopt;
}

std::string_view GroupingName(Grouping grouping) {
    switch (grouping) {
        case Grouping::Dose:
            return "dose";
        case Grouping::Treatment:
            return "treatment";
        case Grouping::ProjectGroup:
            return "group";
    }
    return "group";
}

std::optional<Grouping> ParseGrouping(std::string_view text) {
    for (Grouping g : {Grouping::Dose, Grouping::Treatment, Grouping::ProjectGroup})
        if (text == GroupingName(g)) return g;
    return std::nullopt;
}

std::vector<double> Screen::Values(std::size_t group, std::size_t bin) const {
    std::vector<double> out;
    for (std::size_t w : groups[group].wells) {
        const double v = wells[w].values[bin];
        if (!std::isnan(v)) out.push_back(v);
    }
    return out;
}

std::string Screen::Column(const ScreenWell& well, std::string_view column) const {
    if (column == "plate") return plates[well.plate].name;
    if (column == "treatment") return well.entry.treatment;
    if (column == "concentration") return ConcentrationText(well.entry.concentration);
    if (column == "unit") return well.entry.unit;
    if (column == "role") return well.in_map ? std::string(WellRoleName(well.entry.role)) : "";
    const WellMap& map = plates[well.plate].map;
    for (std::size_t k = 0; k < map.extra_columns.size(); ++k)
        if (map.extra_columns[k] == column && k < well.entry.extra.size())
            return well.entry.extra[k];
    return {};
}

std::string Screen::GroupColumn(const ScreenGroup& group, std::string_view column) const {
    std::vector<std::string> distinct;
    for (std::size_t w : group.wells) {
        std::string v = Column(wells[w], column);
        if (std::find(distinct.begin(), distinct.end(), v) == distinct.end())
            distinct.push_back(std::move(v));
    }
    std::string out;
    for (const std::string& v : distinct) out += (out.empty() ? "" : "/") + v;
    return out;
}

std::optional<Screen> BuildScreen(std::vector<ScreenPlate> plates, const ScreenRequest& request,
                                  std::string* failure) {
    const auto fail = [&](std::string text) -> std::optional<Screen> {
        if (failure) *failure = std::move(text);
        return std::nullopt;
    };
    if (plates.empty()) return fail("no acquisition was given");
    Screen screen;
    screen.request = request;
    ScreenRequest& r = screen.request;
    // The longest run, in the request's hours (from each plate's own hour 0).
    double run_hours = 0.0;
    for (const ScreenPlate& p : plates)
        run_hours = std::max(run_hours, p.data.run_minutes / 60.0 - p.offset_hours);
    if (r.to_hours <= 0.0) r.to_hours = run_hours;
    if (!(r.from_hours >= 0.0) || !(r.to_hours > r.from_hours))
        return fail("the interval " + CsvNumber(r.from_hours) + " h to " + CsvNumber(r.to_hours) +
                    " h is empty; --to must lie after --from");
    if (r.from_hours >= run_hours)
        return fail("the interval starts at " + CsvNumber(r.from_hours) +
                    " h, after the end of the recording (" + CsvNumber(run_hours) +
                    " h); choose an earlier --from");
    const bool needs_basal =
        r.endpoint == Endpoint::PercentBasal || r.endpoint == Endpoint::Paralysis;
    const bool basal_given = r.basal_from_hours && r.basal_to_hours;
    if (needs_basal && basal_given && !(*r.basal_to_hours > *r.basal_from_hours))
        return fail("the basal interval " + CsvNumber(*r.basal_from_hours) + " h to " +
                    CsvNumber(*r.basal_to_hours) +
                    " h is empty; --basal-to must lie after "
                    "--basal-from");
    const bool basal_plates = std::all_of(plates.begin(), plates.end(),
                                          [](const ScreenPlate& p) { return p.basal.has_value(); });
    if (needs_basal && !basal_given && !basal_plates && !(r.from_hours > 0.0) &&
        std::all_of(plates.begin(), plates.end(),
                    [](const ScreenPlate& p) { return p.offset_hours <= 0.0; }))
        return fail(std::string(EndpointName(r.endpoint)) +
                    " needs a basal interval: start the interval after the basal hours (--from) "
                    "or give --basal-from and --basal-to");
    if (r.endpoint == Endpoint::Paralysis && r.per_bin)
        return fail("the time to paralysis is one value per well; it has no value per bin");

    if (r.per_bin) {
        const double step = r.bin_minutes / 60.0;
        for (double t = r.from_hours; t < r.to_hours - 1e-9; t += step)
            screen.bins.push_back({t, std::min(t + step, r.to_hours)});
    } else {
        screen.bins.push_back({r.from_hours, r.to_hours});
    }

    bool any_map = false, any_concentration = false;
    for (const ScreenPlate& p : plates) {
        any_map = any_map || !p.map.empty();
        for (const WellEntry& e : p.map.wells)
            any_concentration = any_concentration || e.concentration.has_value();
        for (const std::string& c : p.map.extra_columns)
            if (std::find(screen.extra_columns.begin(), screen.extra_columns.end(), c) ==
                screen.extra_columns.end())
                screen.extra_columns.push_back(c);
    }
    screen.grouping = r.grouping.value_or(!any_map            ? Grouping::ProjectGroup
                                          : any_concentration ? Grouping::Dose
                                                              : Grouping::Treatment);
    if (screen.grouping != Grouping::ProjectGroup && !any_map)
        return fail("grouping by " + std::string(GroupingName(screen.grouping)) +
                    " needs a plate map (wells.csv) in the acquisition folder; import one with "
                    "\"lumivo-cli wells\" or group by the project's groups");

    std::map<std::string, std::size_t> group_of;
    for (std::size_t p = 0; p < plates.size(); ++p) {
        const ScreenPlate& plate = plates[p];
        const RhythmData& data = plate.data;
        const double shift = plate.offset_hours;
        // The basal interval on this plate's clock: as given, or up to the interval's start.
        // A basal acquisition gives its whole recording unless basal hours were given.
        const RhythmData& basal_data = plate.basal ? *plate.basal : data;
        const double basal_from = basal_given ? *r.basal_from_hours : 0.0;
        const double basal_to = basal_given   ? *r.basal_to_hours
                                : plate.basal ? plate.basal->run_minutes / 60.0
                                              : r.from_hours + shift;
        if (plate.basal && plate.basal->wells.size() != data.wells.size())
            return fail("the basal acquisition has " + std::to_string(plate.basal->wells.size()) +
                        " wells and " + plate.name + " " + std::to_string(data.wells.size()) +
                        "; choose a basal acquisition of the same plate format");
        std::map<std::string, int> left_out;
        std::size_t unobserved = 0, bins_in = 0;
        {
            const auto [first, last] = BinRange(data, r.from_hours + shift, r.to_hours + shift);
            for (std::size_t k = first; k < last; ++k) unobserved += !data.Observed(k);
            bins_in = last - first;
        }
        if (data.run_minutes / 60.0 < r.to_hours + shift - 1e-9)
            screen.notes.push_back(plate.name + ": the recording ends at " +
                                   CsvNumber(data.run_minutes / 60.0 - shift) +
                                   " h, before the end of the interval; its later hours hold no "
                                   "values");
        if (unobserved > 0)
            screen.notes.push_back(plate.name + ": " + std::to_string(unobserved) + " of " +
                                   std::to_string(bins_in) +
                                   " bins of the interval were not recorded (a pause, a gap or a "
                                   "lost instrument); they are left out, not counted as zero");
        for (std::size_t w = 0; w < data.wells.size(); ++w) {
            const WellSeries& series = data.wells[w];
            ScreenWell sw;
            sw.plate = p;
            sw.well = series.name;
            sw.project_group = series.group_label;
            sw.status = series.status;
            sw.entry.well = series.name;
            if (const WellEntry* e = plate.map.Find(series.name)) {
                sw.entry = *e;
                sw.in_map = true;
            }
            if (series.status == WellStatus::NoBeams)
                sw.left_out = "no beams";
            else if (!plate.map.empty() && !sw.in_map)
                sw.left_out = "not in wells.csv";
            else if (sw.in_map && sw.entry.role == WellRole::Empty)
                sw.left_out = "empty";
            else if (series.status == WellStatus::Dead && !r.keep_dead)
                sw.left_out = "dead";

            double basal = kNaN;
            if (needs_basal) basal = Observe(basal_data, w, basal_from, basal_to).mean;
            for (const ScreenBin& b : screen.bins) {
                const Observed o = Observe(data, w, b.start_hours + shift, b.end_hours + shift);
                double v = kNaN;
                switch (r.endpoint) {
                    case Endpoint::Mean:
                        v = o.mean;
                        break;
                    case Endpoint::Total:
                        v = o.sum;
                        break;
                    case Endpoint::PercentBasal:
                        v = basal > 0.0 ? 100.0 * o.mean / basal : kNaN;
                        break;
                    case Endpoint::Paralysis:
                        v = basal > 0.0 ? HoursToParalysis(data, w, b.start_hours + shift,
                                                           b.end_hours + shift,
                                                           basal * r.paralysis_percent / 100.0)
                                        : kNaN;
                        break;
                }
                sw.values.push_back(v);
            }
            if (sw.left_out.empty() && needs_basal && !(basal > 0.0))
                // A basal interval the recording did not cover is no zero activity: said apart.
                sw.left_out = std::isnan(basal) ? "basal hours not recorded" : "no basal activity";
            if (!sw.left_out.empty()) {
                ++left_out[sw.left_out];
                std::fill(sw.values.begin(), sw.values.end(), kNaN);
            } else {
                std::string key;
                switch (screen.grouping) {
                    case Grouping::Dose: {
                        key = sw.entry.treatment.empty() ? std::string(WellRoleName(sw.entry.role))
                                                         : sw.entry.treatment;
                        if (sw.entry.concentration)
                            key += " " + ConcentrationText(sw.entry.concentration) +
                                   (sw.entry.unit.empty() ? "" : " " + sw.entry.unit);
                        break;
                    }
                    case Grouping::Treatment:
                        key = sw.entry.treatment.empty() ? std::string(WellRoleName(sw.entry.role))
                                                         : sw.entry.treatment;
                        break;
                    case Grouping::ProjectGroup:
                        key = sw.project_group;
                        break;
                }
                auto [it, added] = group_of.try_emplace(key, screen.groups.size());
                if (added) {
                    ScreenGroup g;
                    g.name = key;
                    g.treatment = sw.entry.treatment;
                    g.concentration =
                        screen.grouping == Grouping::Dose ? sw.entry.concentration : std::nullopt;
                    g.unit = sw.entry.unit;
                    g.role = sw.in_map ? sw.entry.role : WellRole::Sample;
                    screen.groups.push_back(std::move(g));
                }
                ScreenGroup& g = screen.groups[it->second];
                if (sw.in_map && g.role != sw.entry.role) g.role = WellRole::Sample;
                sw.group = it->second;
                g.wells.push_back(screen.wells.size());
            }
            screen.wells.push_back(std::move(sw));
        }
        for (const auto& [reason, count] : left_out)
            screen.notes.push_back(plate.name + ": " + std::to_string(count) +
                                   (count == 1 ? " well" : " wells") + " left out (" + reason +
                                   ")" + (reason == "dead" ? "; --keep-dead keeps them" : ""));
    }
    if (screen.groups.empty()) {
        std::string why;
        for (const std::string& note : screen.notes)
            if (note.find(" left out (") != std::string::npos) why += "; " + note;
        return fail("no well is left to compare" + why);
    }

    // Controls first, then the treatments as they first appear with rising concentrations,
    // positive controls last.
    std::vector<std::size_t> order(screen.groups.size());
    for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::map<std::string, std::size_t> first_seen;
    for (std::size_t k = 0; k < screen.groups.size(); ++k)
        first_seen.try_emplace(screen.groups[k].treatment, k);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const ScreenGroup& ga = screen.groups[a];
        const ScreenGroup& gb = screen.groups[b];
        if (RoleOrder(ga.role) != RoleOrder(gb.role))
            return RoleOrder(ga.role) < RoleOrder(gb.role);
        if (ga.treatment != gb.treatment)
            return first_seen[ga.treatment] < first_seen[gb.treatment];
        return ga.concentration.value_or(-1.0) < gb.concentration.value_or(-1.0);
    });
    std::vector<ScreenGroup> sorted;
    std::vector<std::size_t> new_index(order.size());
    for (std::size_t k = 0; k < order.size(); ++k) {
        new_index[order[k]] = k;
        sorted.push_back(std::move(screen.groups[order[k]]));
    }
    screen.groups = std::move(sorted);
    for (ScreenWell& w : screen.wells)
        if (w.left_out.empty()) w.group = new_index[w.group];
    screen.plates = std::move(plates);
    return screen;
}

std::optional<Screen> ReadScreen(StorageContext& ctx, const ScreenRequest& request,
                                 std::string* failure) {
    const auto fail = [&](std::string text) -> std::optional<Screen> {
        if (failure) *failure = std::move(text);
        return std::nullopt;
    };
    std::vector<ScreenPlate> plates;
    std::set<fs::path> seen;
    for (const fs::path& folder : request.folders) {
        if (!seen.insert(folder).second)
            return fail(folder.string() + " is given twice; name each plate once");
        const fs::path counts = folder / "counts.bin";
        if (!ctx.files.IsFile(counts)) return fail(ActivityFileNotFoundText(ctx.files, counts));
        std::string reason;
        const auto source = ReadRhythmSource(ctx, folder, &reason);
        if (!source) return fail(reason);
        RhythmOptions options;
        options.bin_minutes = request.bin_minutes;
        options.dead_hours = request.dead_hours;
        options.keep_dead = request.keep_dead;
        auto data = BuildRhythmData(*source, options, &reason);
        if (!data) return fail(counts.string() + ": " + reason);
        auto map = ReadWellMap(ctx, folder, source->inputs.well_names, &reason);
        if (!map)
            return fail(reason +
                        " (correct wells.csv in the acquisition folder, or import "
                        "a corrected map with \"lumivo-cli wells ACQ --import\")");
        ScreenPlate plate;
        plate.folder = folder;
        plate.name = folder.filename().string();
        plate.data = std::move(*data);
        plate.map = std::move(*map);
        if (!request.basal_folder.empty()) {
            const fs::path basal_counts = request.basal_folder / "counts.bin";
            if (!ctx.files.IsFile(basal_counts))
                return fail(ActivityFileNotFoundText(ctx.files, basal_counts));
            const auto basal_source = ReadRhythmSource(ctx, request.basal_folder, &reason);
            if (!basal_source) return fail(reason);
            plate.basal = BuildRhythmData(*basal_source, options, &reason);
            if (!plate.basal) return fail(basal_counts.string() + ": " + reason);
        }
        if (request.after_pause > 0) {
            const auto end = PauseEndHours(source->log, request.after_pause);
            if (!end)
                return fail((folder / "events.log").string() + " holds no pause " +
                            std::to_string(request.after_pause) +
                            " (a pause and its resumption); count the hours from the start "
                            "instead, or name a pause it holds");
            plate.offset_hours = *end;
        }
        if (plate.data.bin_minutes != request.bin_minutes)
            plate.data.notes.push_back("bins of " + std::to_string(plate.data.bin_minutes) +
                                       " minutes were used");
        plates.push_back(std::move(plate));
    }
    auto screen = BuildScreen(std::move(plates), request, failure);
    if (screen)
        for (const ScreenPlate& p : screen->plates)
            for (const std::string& note : p.data.notes)
                screen->notes.push_back(p.name + ": " + note);
    return screen;
}

}  // namespace lumivo::reporting
