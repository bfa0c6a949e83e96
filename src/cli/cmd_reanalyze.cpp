// lumivo-cli reanalyze ACQ_FOLDER: the report window's raw-data processing (RUN) headless. The
// recorded raw pages are analysed again with the given method and threshold; the report is
// written as the panel writes it and its path printed; --replace puts the new counts into
// counts.bin (the recorded file stays as counts.bak), --export-raw writes the event strings.
// "Block m/N" progress goes to stderr; SIGINT and SIGTERM act as the panel's STOP.
#include <unistd.h>

#include <iostream>
#include <string>

#include "cli/cli_messages.h"
#include "cli/commands.h"
#include "cli/report_args.h"
#include "cli/stop_signals.h"
#include "core/reporting/report/raw_reanalysis.h"
#include "core/reporting/report/report_run.h"
#include "core/storage/report_config.h"
#include "core/storage/storage_context.h"

namespace lumivo::cli {

namespace {

namespace fs = std::filesystem;
using namespace lumivo::reporting;

constexpr const char* kCommand = "reanalyze";

// "Block m/N" on stderr: redrawn in place on a terminal, otherwise a line at the start, at
// every tenth of the run and at the end. The signals are the STOP button.
class TerminalRawRunView final : public RawRunView {
  public:
    explicit TerminalRawRunView(StopSignals& signals) : signals_(signals), tty_(::isatty(2) == 1) {}

    void ShowStatus(const std::string& text) override {
        if (tty_) {
            std::cerr << "\r\033[K" << text << std::flush;
            drawn_ = true;
            return;
        }
        // "Block m/N": a line when m / N passes a tenth; other texts always.
        const auto slash = text.find('/');
        if (text.rfind("Block ", 0) == 0 && slash != std::string::npos) {
            const long m = std::stol(text.substr(6, slash - 6));
            const long n = std::stol(text.substr(slash + 1));
            const long tenth = n > 0 ? m * 10 / n : 10;
            if (tenth == last_tenth_) return;
            last_tenth_ = tenth;
        }
        PrintError(kCommand, text);
    }
    void ShowBinSize(const std::string& text) override {
        Finish();
        PrintError(kCommand, "bin size raised to " + text + " min");
    }
    bool StopRequested() override { return signals_.received() != 0 || signals_.Wait(0) != 0; }

    // Ends the redrawn line so that what follows starts on a fresh one.
    void Finish() {
        if (drawn_) std::cerr << "\n" << std::flush;
        drawn_ = false;
    }

  private:
    StopSignals& signals_;
    bool tty_;
    bool drawn_ = false;
    long last_tenth_ = -1;
};

}  // namespace

int RunReanalyze(Args& args) {
    const auto method = args.TakeInt("method", 0, 2);
    const auto snr = args.TakeOption("snr");
    const auto lapse = args.TakeDouble("lapse-hours", 0.0, 1.0e6);
    const auto bin = TakeReportBin(args);
    const bool replace = args.TakeFlag("replace");
    const bool export_raw = args.TakeFlag("export-raw");
    const auto folder_text = args.TakePositional();
    args.ExpectEnd();
    RequireFolderText(folder_text);
    if (!method) throw UsageError("--method 0|1|2 is required");
    if (!snr) throw UsageError("--snr X (the threshold, 1.1 to 6.0) is required");
    const auto threshold = ParseNumber(*snr);
    if (!threshold || *threshold < kMinReanalysisThreshold || *threshold > kMaxReanalysisThreshold)
        throw UsageError("--snr must be a number from 1.1 to 6.0, not \"" + *snr + "\"");
    if (replace && lapse)
        throw UsageError("--replace re-analyses the whole recording: leave out --lapse-hours");
    if (lapse && !(*lapse > 0.0))
        throw UsageError(
            "--lapse-hours must be more than 0 (the hours from the start to "
            "re-analyse; leave it out for the whole recording)");

    CliDialogs dialogs(kCommand);
    RecordedAcquisitionStart start(args.install_dir(), dialogs);

    const fs::path folder = AcquisitionFolderArgument(*folder_text);
    const std::string bin_text = std::to_string(start.BinSize(bin));
    RawRunRequest request;
    request.folder = folder;
    request.datalapse_text = lapse ? std::to_string(*lapse) : std::string();
    request.replace_data = replace;
    request.raw_export = export_raw;
    request.method = static_cast<int>(*method);
    request.threshold_text = *snr;
    request.bin_size_text = bin_text;
    request.options =
        RequestFromConfig(start.files, start.settings.config, folder, bin_text).options;

    if (lapse && *lapse * 60.0 < kMinReanalysisMinutes)
        PrintError(kCommand, "a lapse of " + FormatOneDecimal(*lapse * 60.0, ".") +
                                 " min is shorter than the shortest re-analysed, " +
                                 std::to_string(kMinReanalysisMinutes) + " min: " +
                                 std::to_string(kMinReanalysisMinutes) + " min are re-analysed");
    StopSignals signals;
    TerminalRawRunView view(signals);
    dialogs.before_message = [&view] { view.Finish(); };
    SystemClock clock;
    ReportEnvironment env{start.ctx, clock};
    const RawRunOutcome out = ReanalyzeRawData(env, request, view);
    view.Finish();
    if (out.leftovers_removed > 0)
        PrintError(kCommand, "removed " + std::to_string(out.leftovers_removed) +
                                 " temporary files (" +
                                 std::to_string(out.leftover_bytes / (1024 * 1024)) +
                                 " MB) left by an earlier run that did not end");
    if (out.stopped) return 128 + (signals.received() != 0 ? signals.received() : SIGINT);
    if (!out.completed) return 1;
    PrintError(kCommand,
               "re-analysed " + std::to_string(out.analysed) + " of " + std::to_string(out.blocks) +
                   " blocks with method " + std::to_string(request.method) + " and threshold " +
                   *snr +
                   (out.replaced ? "; counts.bin holds the new counts, the recorded ones are in " +
                                       out.backup_file.string()
                                 : std::string()) +
                   (out.event_files.empty()
                        ? std::string()
                        : "; event strings in " + std::to_string(out.event_files.size()) +
                              " chN.raw files"));
    if (!out.report.written) return 1;  // the report's message was shown
    if (out.report.bin_size_corrected && !out.report.bin_size_note.empty())
        PrintError(kCommand, out.report.bin_size_note);
    std::cout << out.report.report_file.string() << "\n";
    return 0;
}

}  // namespace lumivo::cli
