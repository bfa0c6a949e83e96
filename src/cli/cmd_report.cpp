// lumivo-cli report ACQ_FOLDER: the report of a recorded acquisition, written headless into the
// acquisition folder by the same core code as the report window. The report's questions (basal
// minutes, zero-basal wells) are answered from the options; messages go to stderr and the path
// of the report file to stdout. Nothing is opened.
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

#include "cli/cli_messages.h"
#include "cli/commands.h"
#include "cli/report_args.h"
#include "core/reporting/report/basal.h"
#include "core/reporting/report/bend_histogram_report.h"
#include "core/reporting/report/report_inputs.h"
#include "core/reporting/report/report_run.h"
#include "core/storage/report_config.h"
#include "core/storage/storage_context.h"

namespace lumivo::cli {

namespace {

namespace fs = std::filesystem;
using namespace lumivo::reporting;

OutputFormat ParseLayout(const std::string& s) {
    if (s == "rows") return OutputFormat::Rows;
    if (s == "list") return OutputFormat::List;
    if (s == "warray") return OutputFormat::WellArray;
    if (s == "charray") return OutputFormat::ChannelArray;
    if (s == "histogram") return OutputFormat::Histogram;
    throw UsageError("--layout must be rows, list, warray, charray or histogram");
}

ZeroBasalPolicy ParsePolicy(const std::string& s) {
    if (s == "max") return ZeroBasalPolicy::Maximum;
    if (s == "average") return ZeroBasalPolicy::PlateAverage;
    if (s == "discard") return ZeroBasalPolicy::Discard;
    throw UsageError("--zero-basal must be max, average or discard");
}

void ParseStats(const std::string& s, ReportOptions& o) {
    o.std_error = o.std_dev = o.wells = false;
    if (s.empty() || s == "none") return;
    std::stringstream in(s);
    std::string item;
    while (std::getline(in, item, ',')) {
        if (item == "se")
            o.std_error = true;
        else if (item == "sd")
            o.std_dev = true;
        else if (item == "n")
            o.wells = true;
        else
            throw UsageError("--stats takes a list of se, sd and n (or none)");
    }
}

// The field separators a report may use: "," ";" "|" and "tab" (a TAB character). Others
// would merge the numbers (""), collide with the decimal point (".") or be written as a word.
std::string ParseSeparator(const std::string& s) {
    if (s == "," || s == ";" || s == "|") return s;
    if (s == "tab" || s == "\t") return "\t";
    throw UsageError("--sep must be \",\", \";\", \"|\" or \"tab\", not \"" + s + "\"");
}

}  // namespace

int RunReport(Args& args) {
    const auto bin = TakeReportBin(args);
    const auto layout = args.TakeOption("layout");
    const auto format = args.TakeOption("format");
    const auto sep_text = args.TakeOption("sep");
    const auto sep =
        sep_text ? std::optional<std::string>(ParseSeparator(*sep_text)) : std::nullopt;
    const auto stats = args.TakeOption("stats");
    const auto basal = args.TakeOption("basal");
    const auto basal_minutes = args.TakeInt("basal-minutes", 1, 100000);
    const auto zero_basal = args.TakeOption("zero-basal");
    const auto folder_text = args.TakePositional();
    RequireFolderText(folder_text);
    args.ExpectEnd();
    if ((basal_minutes || zero_basal) && !basal)
        throw UsageError("--basal-minutes and --zero-basal need --basal ACQ_FOLDER");
    if (format && *format != "csv" && *format != "txt")
        throw UsageError("--format must be csv or txt");

    ReportDialogs dialogs;
    if (basal_minutes) dialogs.basal_minutes = *basal_minutes;
    if (zero_basal) dialogs.zero_basal = ParsePolicy(*zero_basal);
    // The stored report settings (repoconf.dat) are the defaults; an absent file is not created.
    RecordedAcquisitionStart start(args.install_dir(), dialogs);
    LocalFileSystem& files = start.files;
    const ReportSettings& settings = start.settings;

    const fs::path folder = AcquisitionFolderArgument(*folder_text);
    if (!files.IsFile(folder / "counts.bin")) {
        dialogs.MessageBox(ActivityFileNotFoundText(files, folder / "counts.bin"), MsgButtons::Ok,
                           {});
        return 1;
    }
    ReportRequest request =
        RequestFromConfig(files, settings.config, folder, std::to_string(start.BinSize(bin)));
    if (layout) request.options.output = ParseLayout(*layout);
    if (format) {
        request.options.file_type = *format == "txt" ? ReportFileType::Text : ReportFileType::Csv;
        request.options.spacer = *format == "txt" ? std::string(" ") : settings.ListSeparator;
    }
    if (sep) request.options.spacer = *sep;
    if (stats) ParseStats(*stats, request.options);
    if (basal) {
        const fs::path basal_folder = AcquisitionFolderArgument(*basal);
        const std::string name = basal_folder.filename().string();
        if (basal_folder.parent_path() != folder.parent_path() || !BasalFolderName(name) ||
            name.size() != 13)
            throw UsageError(
                "--basal must name another acquisition folder (yyyymmdd_hhmm) of the same "
                "project");
        request.basal_text = name + " " + ReadExperimentName(start.ctx, basal_folder);
    }

    SystemClock clock;
    ReportEnvironment env{start.ctx, clock};
    const ReportOutcome outcome = GenerateReport(env, request);
    if (!outcome.written) {
        if (!dialogs.missing.empty())
            PrintError("report", dialogs.missing);
        else if (outcome.failure.empty())
            PrintError("report", "no report was written");
        return 1;
    }
    if (outcome.bin_size_corrected && !outcome.bin_size_note.empty())
        PrintError("report", outcome.bin_size_note);
    std::cout << outcome.report_file.string() << "\n";
    return 0;
}

}  // namespace lumivo::cli
