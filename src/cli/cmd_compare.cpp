// lumivo-cli wells | stats | dose: the plate map of what is in each well (wells.csv), the group
// comparisons of one or several plates, and their dose-response curves. The tables and pictures
// are written into the (first) acquisition folder by the same core code as the report window's
// "Compare" and "Dose-response" tabs; what the data lack goes to stderr, the two paths to
// stdout, the table last.
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_messages.h"
#include "cli/commands.h"
#include "cli/report_args.h"
#include "core/reporting/compare/compare_stats.h"
#include "core/reporting/compare/dose_response.h"
#include "core/reporting/report/report_inputs.h"
#include "core/setup/project_ops.h"
#include "core/storage/file_system.h"
#include "core/storage/project_setup.h"
#include "core/storage/storage_context.h"
#include "core/storage/well_map.h"

namespace lumivo::cli {

namespace {

using namespace lumivo::reporting;

// PROJECT is a project number or a folder (a project's or an acquisition's).
std::filesystem::path ProjectOrAcquisition(const std::string& install, const std::string& text) {
    const auto n = ParseInteger(text);
    if (n) {
        if (*n < 0 || *n > kLastProjectNumber)
            throw UsageError("the project number must be a whole number from 0 to " +
                             std::to_string(kLastProjectNumber));
        return ProjectFolderFor(install, static_cast<int>(*n));
    }
    return AcquisitionFolderArgument(text);
}

// The options stats and dose share: the acquisitions, the interval and the endpoint.
ScreenRequest TakeScreen(Args& args, bool allow_per_bin_flag) {
    ScreenRequest r;
    const auto from = args.TakeDouble("from", 0.0, 1e6);
    const auto to = args.TakeDouble("to", 0.0, 1e6);
    const auto measure = args.TakeOption("measure");
    const auto by = args.TakeOption("by");
    const auto basal_from = args.TakeDouble("basal-from", 0.0, 1e6);
    const auto basal_to = args.TakeDouble("basal-to", 0.0, 1e6);
    const auto paralysis = args.TakeDouble("paralysis-percent", 0.1, 100.0);
    const auto bin = args.TakeInt("bin", 1, 1440);
    const auto dead_hours = TakeDeadHours(args);
    const auto after_pause = args.TakeInt("after-pause", 1, 10000);
    r.keep_dead = args.TakeFlag("keep-dead");
    if (after_pause) r.after_pause = static_cast<int>(*after_pause);
    r.per_bin = args.TakeFlag(allow_per_bin_flag ? "per-bin" : "over-time");
    while (const auto folder = args.TakePositional())
        r.folders.push_back(AcquisitionFolderArgument(*folder));
    if (r.folders.empty()) throw UsageError("the acquisition folder is missing");
    if (!from) throw UsageError("--from H is needed (hours from the start of sampling)");
    if (!to) throw UsageError("--to H is needed (hours from the start of sampling)");
    if (!(*to > *from)) throw UsageError("--to must lie after --from");
    r.from_hours = *from;
    r.to_hours = *to;
    if (measure) {
        const auto e = ParseEndpoint(*measure);
        if (!e) throw UsageError("--measure must be mean, total, percent-basal or paralysis");
        r.endpoint = *e;
    }
    if (by) {
        const auto g = ParseGrouping(*by);
        if (!g) throw UsageError("--by must be dose, treatment or group");
        r.grouping = *g;
    }
    if (basal_from.has_value() != basal_to.has_value())
        throw UsageError("--basal-from and --basal-to go together");
    r.basal_from_hours = basal_from;
    r.basal_to_hours = basal_to;
    if (paralysis) r.paralysis_percent = *paralysis;
    if (bin) r.bin_minutes = static_cast<std::int32_t>(*bin);
    if (dead_hours) r.dead_hours = *dead_hours;
    return r;
}

int Report(const char* command, const CompareOutcome& outcome) {
    if (!outcome.written) {
        PrintError(command,
                   outcome.failure.empty() ? std::string("nothing was written") : outcome.failure);
        return 1;
    }
    for (const std::string& note : outcome.notes) PrintError(command, note);
    std::cout << outcome.svg_file.string() << "\n" << outcome.csv_file.string() << "\n";
    return 0;
}

}  // namespace

int RunWells(Args& args) {
    const auto import_file = args.TakeOption("import");
    const auto export_file = args.TakeOption("export");
    const auto target = args.TakePositional();
    args.ExpectEnd();
    if (!target) throw UsageError("the project (number or folder) or acquisition is missing");
    if (import_file.has_value() == export_file.has_value())
        throw UsageError("give one of --import FILE.csv and --export FILE.csv");
    const std::filesystem::path folder = ProjectOrAcquisition(args.install_dir(), *target);

    LocalFileSystem files;
    CliDialogs dialogs("wells");
    StorageContext ctx{args.install_dir(), dialogs, files, {}};
    if (!files.IsFile(folder / "setup.dat")) {
        PrintError("wells", folder.string() +
                                " holds no setup.dat; name a project or an "
                                "acquisition folder");
        return 3;
    }
    std::string failure;
    const auto inputs = LoadReportInputs(ctx, folder, &failure);
    if (!inputs) {
        PrintError("wells", failure);
        return 1;
    }
    if (import_file) {
        std::string text;
        try {
            text = files.ReadFile(*import_file);
        } catch (const std::exception& e) {
            PrintError("wells", *import_file + ": " + e.what());
            return 1;
        }
        const auto map = ParseWellMap(text, inputs->well_names, &failure);
        if (!map) {
            PrintError("wells", *import_file + " " + failure + " Nothing was saved.");
            return 1;
        }
        try {
            WriteWellMap(ctx, folder, *map);
        } catch (const std::exception& e) {
            PrintError("wells", e.what());
            return 1;
        }
        PrintError("wells", std::to_string(map->wells.size()) + " wells imported for the " +
                                inputs->plate_format + " plate");
        std::cout << WellMapPath(folder).string() << "\n";
        return 0;
    }
    const auto map = ReadWellMap(ctx, folder, inputs->well_names, &failure);
    if (!map) {
        PrintError("wells", failure);
        return 1;
    }
    if (map->empty()) {
        PrintError("wells", folder.string() +
                                " has no plate map (wells.csv); import one with "
                                "--import FILE.csv");
        return 1;
    }
    try {
        files.WriteFile(*export_file, FormatWellMap(*map));
    } catch (const std::exception& e) {
        PrintError("wells", e.what());
        return 1;
    }
    std::cout << *export_file << "\n";
    return 0;
}

int RunStats(Args& args) {
    const auto control = args.TakeOption("control");
    const auto test = args.TakeOption("test");
    const auto adjust = args.TakeOption("adjust");
    StatsRequest request;
    request.screen = TakeScreen(args, true);
    args.ExpectEnd();
    if (control) request.control = *control;
    if (test) {
        const auto t = ParseGroupTest(*test);
        if (!t)
            throw UsageError("--test must be welch, mann-whitney, anova, welch-anova or kruskal");
        request.test = *t;
    }
    if (adjust) {
        if (*adjust == "holm")
            request.adjust = statistics::Adjustment::Holm;
        else if (*adjust == "bh")
            request.adjust = statistics::Adjustment::BenjaminiHochberg;
        else if (*adjust == "none")
            request.adjust = statistics::Adjustment::None;
        else
            throw UsageError("--adjust must be holm, bh or none");
    }
    LocalFileSystem files;
    CliDialogs dialogs("stats");
    StorageContext ctx{args.install_dir(), dialogs, files, {}};
    return Report("stats", WriteStats(ctx, request));
}

int RunDose(Args& args) {
    const auto normalise = args.TakeOption("normalise");
    const auto model = args.TakeOption("model");
    DoseRequest request;
    request.screen = TakeScreen(args, false);
    args.ExpectEnd();
    if (request.screen.grouping && *request.screen.grouping != Grouping::Treatment)
        throw UsageError("dose fits one curve per treatment: --by takes only treatment");
    if (normalise) {
        const auto n = ParseDoseNormalise(*normalise);
        if (!n) throw UsageError("--normalise must be none or control");
        request.normalise = *n;
    }
    if (model) {
        if (*model == "ll4")
            request.model = statistics::DoseModel::LL4;
        else if (*model == "ll3")
            request.model = statistics::DoseModel::LL3;
        else
            throw UsageError("--model must be ll4 or ll3");
    }
    if (request.screen.endpoint == Endpoint::Paralysis && request.screen.per_bin)
        throw UsageError(
            "--over-time needs a value per bin; the time to paralysis has one per well");
    LocalFileSystem files;
    CliDialogs dialogs("dose");
    StorageContext ctx{args.install_dir(), dialogs, files, {}};
    return Report("dose", WriteDose(ctx, request));
}

}  // namespace lumivo::cli
