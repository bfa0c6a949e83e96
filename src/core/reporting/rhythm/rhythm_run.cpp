#include "core/reporting/rhythm/rhythm_run.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "core/reporting/report/report_run.h"
#include "core/reporting/rhythm/rhythm_chart.h"
#include "core/reporting/rhythm/rhythm_tables.h"

namespace lumivo::reporting {

namespace fs = std::filesystem;

namespace {

// The sleep curves show the time in bouts per half hour (or per bin when bins are longer).
constexpr double kSleepCurveMinutes = 30.0;

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::optional<int> WholeNumber(std::string_view s) {
    if (s.empty() || s.size() > 6) return std::nullopt;
    int n = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
    }
    return n;
}

std::string Names(const std::vector<std::string>& names) {
    std::string out;
    for (std::size_t i = 0; i < names.size() && i < 12; ++i) out += (i ? ", " : "") + names[i];
    if (names.size() > 12) out += ", ...";
    return out;
}

// The entries of `rows` (one per series) that belong to the panels, in the panels' order.
template <class Row>
std::vector<Row> PanelRows(const std::vector<SeriesRef>& series,
                           const std::vector<SeriesRef>& panels, const std::vector<Row>& rows) {
    std::vector<Row> out;
    for (const SeriesRef& p : panels) {
        const auto at = std::find(series.begin(), series.end(), p) - series.begin();
        out.push_back(rows[static_cast<std::size_t>(at)]);
    }
    return out;
}

}  // namespace

std::string_view RhythmViewName(RhythmView view) {
    switch (view) {
        case RhythmView::Actogram:
            return "actogram";
        case RhythmView::Periodogram:
            return "periodogram";
        case RhythmView::Profile:
            return "profile";
        case RhythmView::Sleep:
            return "sleep";
        case RhythmView::Cosinor:
            return "cosinor";
        case RhythmView::Indices:
            return "indices";
        case RhythmView::Onsets:
            return "onsets";
    }
    return "actogram";
}

std::optional<RhythmView> ParseRhythmView(std::string_view text) {
    for (RhythmView v :
         {RhythmView::Actogram, RhythmView::Periodogram, RhythmView::Profile, RhythmView::Sleep,
          RhythmView::Cosinor, RhythmView::Indices, RhythmView::Onsets})
        if (text == RhythmViewName(v)) return v;
    return std::nullopt;
}

std::int32_t DefaultBinMinutes(RhythmView view) {
    switch (view) {
        case RhythmView::Periodogram:
            return 6;
        case RhythmView::Sleep:
            return 1;
        case RhythmView::Indices:
            return 60;
        case RhythmView::Onsets:
            return 10;
        default:
            return 30;
    }
}

std::optional<SeriesSelection> ResolveSelection(const RhythmData& data, const PlotRequest& request,
                                                std::string* failure) {
    SeriesSelection s;
    if (!request.well.empty()) {
        for (std::size_t w = 0; w < data.wells.size(); ++w)
            if (Lower(data.wells[w].name) == Lower(request.well)) {
                s.kind = SeriesSelection::Kind::Well;
                s.index = w;
                return s;
            }
        if (failure)
            *failure = "the plate has no well \"" + request.well + "\" (wells are named like A1, " +
                       "row letter and column number)";
        return std::nullopt;
    }
    if (!request.group.empty()) {
        const auto number = WholeNumber(request.group);
        std::vector<std::string> labels;
        for (std::size_t g = 0; g < data.groups.size(); ++g) {
            const GroupSeries& gs = data.groups[g];
            const std::string name = gs.label.substr(gs.label.find('_') + 1);
            if ((number && gs.group == *number) || Lower(name) == Lower(request.group) ||
                Lower(gs.label) == Lower(request.group)) {
                s.kind = SeriesSelection::Kind::Group;
                s.index = g;
                return s;
            }
            labels.push_back(gs.label);
        }
        if (failure)
            *failure = "no group \"" + request.group + "\" has wells in this acquisition" +
                       (labels.empty() ? std::string(" (no group has wells)")
                                       : " (groups: " + Names(labels) + ")");
        return std::nullopt;
    }
    return s;
}

std::string PlotFileStem(const RhythmData& data, RhythmView view,
                         const SeriesSelection& selection) {
    std::string stem(RhythmViewName(view));
    if (selection.kind == SeriesSelection::Kind::Group)
        stem += "_group" + std::to_string(data.groups[selection.index].group);
    else if (selection.kind == SeriesSelection::Kind::Well)
        stem += "_" + data.wells[selection.index].name;
    return stem;
}

SleepDefinition SleepDefinitionOf(const RhythmData& data, const PlotRequest& request) {
    return ResolveSleepDefinition(data.organism, request.sleep_organism, request.bout_minutes);
}

RhythmViewResult MakeRhythmView(const RhythmData& data, const PlotRequest& request,
                                const SeriesSelection& selection) {
    RhythmViewResult r;
    const std::vector<SeriesRef> series = SelectedSeries(data, selection);
    const std::vector<SeriesRef> panels = PanelSeries(data, selection);
    switch (request.view) {
        case RhythmView::Actogram: {
            const ActogramLayout layout = MakeActogramLayout(data, request.actogram);
            r.scene = ActogramScene(data, panels, layout);
            r.table = ActogramTable(data, series, layout);
            break;
        }
        case RhythmView::Periodogram: {
            const PeriodogramSet set = MakePeriodograms(data, series, request.periodogram);
            // The panels' periodograms are among the series'.
            PeriodogramSet shown = set;
            shown.series = PanelRows(series, panels, set.series);
            r.scene = PeriodogramScene(data, panels, shown);
            r.table = PeriodogramTable(data, series, set, request.periodogram);
            break;
        }
        case RhythmView::Profile: {
            const Profile profile = MakeProfile(data, series, data.well_values, 1);
            Profile shown;
            shown.step_minutes = profile.step_minutes;
            for (std::size_t i = 0; i < series.size(); ++i)
                if (std::find(panels.begin(), panels.end(), series[i]) != panels.end()) {
                    shown.run.push_back(profile.run[i]);
                    shown.daily.push_back(profile.daily[i]);
                }
            r.scene = ProfileScene(data, shown, "activity profile",
                                   "Counts per " + std::to_string(data.bin_minutes) + " min");
            r.table = ProfileTable(data, profile);
            break;
        }
        case RhythmView::Sleep: {
            const SleepView view = MakeSleepView(data, SleepDefinitionOf(data, request));
            const auto factor = static_cast<std::size_t>(
                std::max(1.0, std::round(kSleepCurveMinutes / data.bin_minutes)));
            const Profile curves = MakeProfile(data, panels, view.in_bout, factor);
            r.scene =
                ProfileScene(data, curves,
                             "sleep of " + std::string(OrganismName(view.definition.organism)) +
                                 ": " + view.definition.RuleText(),
                             "Time in bouts [%]", 100.0);
            r.table = SleepTable(data, view, series);
            break;
        }
        case RhythmView::Cosinor: {
            CosinorOptions options;
            options.period_hours = request.cosinor_period_hours;
            options.periodogram = request.periodogram;
            const CosinorView view = MakeCosinorView(data, series, options);
            r.scene = CosinorScene(data, panels, PanelRows(series, panels, view.rows), view);
            r.table = CosinorTable(data, series, view);
            break;
        }
        case RhythmView::Indices: {
            const std::vector<RestActivity> indices = MakeRestActivity(data, series);
            r.scene = IndicesScene(data, panels, PanelRows(series, panels, indices));
            r.table = IndicesTable(data, series, indices);
            break;
        }
        case RhythmView::Onsets: {
            const ActogramLayout layout = MakeActogramLayout(data, request.actogram);
            const std::vector<PhaseMarkers> markers =
                MakePhaseMarkers(data, series, layout, request.smooth_hours);
            r.scene = ActogramScene(data, panels, layout, PanelRows(series, panels, markers));
            r.table = OnsetsTable(data, series, layout, markers, request.smooth_hours);
            break;
        }
    }
    return r;
}

std::optional<ComputedPlot> ComputePlot(StorageContext& ctx, const PlotRequest& request,
                                        std::string* failure) {
    std::string reason;
    auto fail = [&](std::string text) -> std::optional<ComputedPlot> {
        if (failure) *failure = std::move(text);
        return std::nullopt;
    };
    const fs::path counts = request.folder / "counts.bin";
    if (!ctx.files.IsFile(counts)) return fail(ActivityFileNotFoundText(ctx.files, counts));
    const auto source = ReadRhythmSource(ctx, request.folder, &reason);
    if (!source) return fail(reason);
    RhythmOptions options;
    options.bin_minutes = request.bin_minutes.value_or(DefaultBinMinutes(request.view));
    options.dead_hours = request.dead_hours;
    options.keep_dead = request.keep_dead;
    auto data = BuildRhythmData(*source, options, &reason);
    if (!data) return fail(counts.string() + ": " + reason);
    const auto selection = ResolveSelection(*data, request, &reason);
    if (!selection) return fail(reason);
    ComputedPlot plot{std::move(*data), *selection, {}};
    plot.view = MakeRhythmView(plot.data, request, plot.selection);
    return plot;
}

std::vector<std::string> PlotNotes(const RhythmData& data, const PlotRequest& request) {
    std::vector<std::string> notes = data.notes;
    std::size_t dead = 0;
    for (const WellSeries& w : data.wells) dead += w.status == WellStatus::Dead;
    if (dead > 0)
        notes.push_back(
            std::to_string(dead) + (dead == 1 ? " well is" : " wells are") +
            " dead (no counts in the last " + CsvNumber(request.dead_hours) + " h)" +
            (request.keep_dead ? ", kept in the group means" : ", left out of the group means"));
    return notes;
}

PlotOutcome WritePlot(StorageContext& ctx, const PlotRequest& request) {
    PlotOutcome out;
    const auto plot = ComputePlot(ctx, request, &out.failure);
    if (!plot) return out;
    const std::string stem = PlotFileStem(plot->data, request.view, plot->selection);
    out.svg_file = request.folder / (stem + ".svg");
    out.csv_file = request.folder / (stem + ".csv");
    try {
        const FileContent files[] = {{out.svg_file, RenderSceneSvg(plot->view.scene)},
                                     {out.csv_file, plot->view.table}};
        ctx.files.WriteFiles(files);
    } catch (const std::exception& e) {
        out.failure = std::string("the view could not be written: ") + e.what();
        return out;
    }
    out.written = true;
    out.light = plot->data.light.description;
    if (request.view == RhythmView::Sleep) {
        const SleepDefinition d = SleepDefinitionOf(plot->data, request);
        out.sleep_rule = std::string(OrganismName(d.organism)) + ": " + d.RuleText();
    }
    out.notes = PlotNotes(plot->data, request);
    return out;
}

}  // namespace lumivo::reporting
