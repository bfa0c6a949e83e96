// lumivo-cli export ACQ_FOLDER: the binned activity of an acquisition for other programs,
// written into the acquisition folder by the same core code as the report window.
//   --per channel|well [--time]: the "1 file/well Report" files (time.txt and ch000000.txt ...,
//     or 000_A1.txt ...) and report2.txt; prints report2.txt and, last, the folder.
//   --tidy [--per channel|well] [--dead-hours H]: activity.csv and metadata.csv for R and
//     Python (a well without counts over the last H hours, 12 by default, is "dead" in the
//     status column); prints metadata.csv and, last, activity.csv.
// The bin size is --bin, else the stored report settings' bin size.
#include <iostream>
#include <string>

#include "cli/cli_messages.h"
#include "cli/commands.h"
#include "cli/report_args.h"
#include "core/reporting/export/activity_export.h"
#include "core/reporting/export/tidy_export.h"
#include "core/storage/report_config.h"
#include "core/storage/storage_context.h"

namespace lumivo::cli {

namespace {

namespace fs = std::filesystem;
using namespace lumivo::reporting;

constexpr const char* kCommand = "export";

// Answers the export's two questions from the options.
class ExportDialogs final : public CliDialogs {
  public:
    ExportDialogs(bool per_channel, bool with_time)
        : CliDialogs(kCommand), per_channel_(per_channel), with_time_(with_time) {}

    MsgResult MessageBox(const std::string& text, MsgButtons buttons,
                         const std::string& title) override {
        if (text == kExportFilesQuestion) return per_channel_ ? MsgResult::Yes : MsgResult::No;
        if (text == kIncludeTimeQuestion) return with_time_ ? MsgResult::Yes : MsgResult::No;
        return CliDialogs::MessageBox(text, buttons, title);
    }

  private:
    bool per_channel_;
    bool with_time_;
};

}  // namespace

int RunExport(Args& args) {
    const bool tidy = args.TakeFlag("tidy");
    const auto per = args.TakeOption("per");
    const bool with_time = args.TakeFlag("time");
    const auto bin = TakeReportBin(args);
    const auto dead_hours = TakeDeadHours(args);
    const auto folder_text = args.TakePositional();
    args.ExpectEnd();
    RequireFolderText(folder_text);
    if (per && *per != "channel" && *per != "well")
        throw UsageError("--per must be channel or well, not \"" + *per + "\"");
    if (!tidy && !per) throw UsageError("give --per channel|well, or --tidy");
    if (tidy && with_time) throw UsageError("--time belongs to --per channel, not to --tidy");
    if (!tidy && dead_hours) throw UsageError("--dead-hours belongs to --tidy");
    const bool per_channel = per && *per == "channel";

    ExportDialogs dialogs(per_channel, with_time);
    RecordedAcquisitionStart start(args.install_dir(), dialogs);
    const std::int64_t bin_size = start.BinSize(bin);
    const fs::path folder = AcquisitionFolderArgument(*folder_text);

    if (tidy) {
        TidyExportRequest request{folder, bin_size, per_channel};
        if (dead_hours) request.dead_hours = *dead_hours;
        const TidyExportOutcome out = ExportTidyTables(start.ctx, request);
        if (!out.written) return 1;
        if (out.bin_size_corrected && !out.bin_size_note.empty())
            PrintError(kCommand, out.bin_size_note);
        std::cout << out.metadata_file.string() << "\n" << out.activity_file.string() << "\n";
        return 0;
    }
    ExportEnvironment env{start.ctx};
    const ActivityExportOutcome out = ExportActivityFiles(env, folder, std::to_string(bin_size));
    if (!out.written) return 1;
    if (out.bin_size != bin_size)
        PrintError(kCommand, !out.bin_size_note.empty()
                                 ? out.bin_size_note
                                 : "the bin size of " + std::to_string(bin_size) +
                                       " min was raised to the smallest, " +
                                       std::to_string(out.bin_size) + " min");
    PrintError(kCommand, std::to_string(out.files.size()) + " files written");
    std::cout << out.notes_file.string() << "\n" << folder.string() << "\n";
    return 0;
}

}  // namespace lumivo::cli
