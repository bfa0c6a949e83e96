// lumivo-cli plot ACQ --kind actogram|periodogram|profile|sleep|cosinor|indices|onsets: a
// circadian or sleep view of a
// recorded acquisition, written into its folder as an SVG picture and a CSV table by the same
// core code as the report window's "Rhythm and sleep" views. Messages (the light schedule used,
// what the data lack) go to stderr; the two paths to stdout, the table last.
#include <iostream>
#include <optional>
#include <string>

#include "cli/cli_messages.h"
#include "cli/commands.h"
#include "cli/report_args.h"
#include "core/reporting/rhythm/rhythm_run.h"
#include "core/storage/file_system.h"
#include "core/storage/storage_context.h"

namespace lumivo::cli {

namespace {

using namespace lumivo::reporting;

// "16,32": the periodogram's range of periods in hours.
void ParsePeriodRange(const std::string& text, PeriodogramOptions& o) {
    const auto comma = text.find(',');
    const auto lo = comma == std::string::npos ? std::nullopt : ParseNumber(text.substr(0, comma));
    const auto hi = comma == std::string::npos ? std::nullopt : ParseNumber(text.substr(comma + 1));
    if (!lo || !hi || !(*lo >= 1.0) || !(*hi > *lo) || *hi > 240.0)
        throw UsageError(
            "--period-range takes two periods in hours, the shorter first, within "
            "1..240 (for example 16,32), not \"" +
            text + "\"");
    o.min_hours = *lo;
    o.max_hours = *hi;
}

}  // namespace

int RunPlot(Args& args) {
    const auto kind = args.TakeOption("kind");
    const auto group = args.TakeOption("group");
    const auto well = args.TakeOption("well");
    const auto bin = args.TakeInt("bin", 1, 1440);
    const bool double_plot = args.TakeFlag("double");
    const auto period_text = args.TakeOption("period");
    const auto smooth = args.TakeDouble("smooth", 0.0, 24.0);
    const auto organism = args.TakeOption("sleep-rule");
    const auto method = args.TakeOption("method");
    const auto range = args.TakeOption("period-range");
    const auto peak = args.TakeOption("peak");
    const auto bout = args.TakeDouble("bout-min", 1.0, 1440.0);
    const auto dead_hours = TakeDeadHours(args);
    const bool keep_dead = args.TakeFlag("keep-dead");
    const auto folder_text = args.TakePositional();
    RequireFolderText(folder_text);
    args.ExpectEnd();
    constexpr const char* kKinds =
        "actogram, periodogram, profile, sleep, cosinor, indices or onsets";
    if (!kind)
        throw UsageError(
            "--kind actogram|periodogram|profile|sleep|cosinor|indices|onsets is needed");
    const auto view = ParseRhythmView(*kind);
    if (!view) throw UsageError(std::string("--kind must be ") + kKinds);
    if (group && well) throw UsageError("--group and --well exclude each other");
    const bool rows = *view == RhythmView::Actogram || *view == RhythmView::Onsets;
    if (double_plot && !rows) throw UsageError("--double applies to --kind actogram and onsets");
    if (period_text && !rows && *view != RhythmView::Cosinor)
        throw UsageError("--period applies to --kind actogram, onsets and cosinor");
    if ((method || range || peak) && *view != RhythmView::Periodogram &&
        !(*view == RhythmView::Cosinor && period_text == "peak"))
        throw UsageError(
            "--method, --period-range and --peak apply to --kind periodogram (and to cosinor "
            "with --period peak)");
    if ((bout || organism) && *view != RhythmView::Sleep)
        throw UsageError("--bout-min and --sleep-rule apply to --kind sleep");
    if (smooth && *view != RhythmView::Onsets)
        throw UsageError("--smooth applies to --kind onsets");
    std::optional<double> period;
    if (period_text && !(*view == RhythmView::Cosinor && *period_text == "peak")) {
        period = ParseNumber(*period_text);
        if (!period || !(*period >= 1.0 && *period <= 240.0))
            throw UsageError("--period takes hours within 1..240" +
                             std::string(*view == RhythmView::Cosinor ? " or \"peak\"" : "") +
                             ", not \"" + *period_text + "\"");
    }

    PlotRequest request;
    request.folder = AcquisitionFolderArgument(args.install_dir(), *folder_text);
    request.view = *view;
    request.group = group.value_or("");
    request.well = well.value_or("");
    if (bin) request.bin_minutes = static_cast<std::int32_t>(*bin);
    request.actogram.double_plot = double_plot;
    if (period) request.actogram.period_hours = *period;
    if (*view == RhythmView::Cosinor && period_text)
        request.cosinor_period_hours = period;  // nullopt for "peak"
    if (smooth) request.smooth_hours = *smooth;
    if (organism) {
        request.sleep_organism = ParseOrganism(*organism);
        if (!request.sleep_organism)
            throw UsageError(
                "--sleep-rule must be \"C elegans(>L4)\" (worm), \"Zebrafish(Larvae)\" "
                "(zebrafish) or Customized (custom), not \"" +
                *organism + "\"");
    }
    if (method) {
        const auto m = ParsePeriodogramMethod(*method);
        if (!m) throw UsageError("--method must be chi-square, lomb-scargle or autocorrelation");
        request.periodogram.method = *m;
    }
    if (range) ParsePeriodRange(*range, request.periodogram);
    if (peak) {
        const auto rule = ParsePeakRule(*peak);
        if (!rule) throw UsageError("--peak must be max-power or above-line");
        request.periodogram.peak = *rule;
    }
    if (bout) request.bout_minutes = *bout;
    if (dead_hours) request.dead_hours = *dead_hours;
    request.keep_dead = keep_dead;

    LocalFileSystem files;
    CliDialogs dialogs("plot");
    StorageContext ctx{args.install_dir(), dialogs, files, {}};
    const PlotOutcome outcome = WritePlot(ctx, request);
    if (!outcome.written) {
        PrintError("plot",
                   outcome.failure.empty() ? std::string("no view was written") : outcome.failure);
        return 1;
    }
    PrintError("plot", "light: " + outcome.light);
    if (!outcome.sleep_rule.empty()) PrintError("plot", "sleep: " + outcome.sleep_rule);
    for (const std::string& note : outcome.notes) PrintError("plot", note);
    std::cout << outcome.svg_file.string() << "\n" << outcome.csv_file.string() << "\n";
    return 0;
}

}  // namespace lumivo::cli
