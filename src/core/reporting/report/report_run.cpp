#include "core/reporting/report/report_run.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>

#include "core/acquisition/event_log_reader.h"
#include "core/reporting/report/activity_file.h"
#include "core/reporting/report/basal.h"
#include "core/reporting/report/bend_histogram_report.h"
#include "core/reporting/report/group_statistics.h"
#include "core/reporting/report/recording_start.h"
#include "core/reporting/report/report_inputs.h"
#include "core/reporting/report/report_output.h"
#include "core/reporting/report/resample.h"

namespace lumivo::reporting {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCountsFile = "counts.bin";
constexpr const char* kActivityNotFound = "Activity file not Found";
constexpr const char* kResamplingError = "Resampling ERROR";
constexpr int kEventRounds = 1000;

std::string DefaultDate(const LocalDateTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return buf;
}

void LetEventsRun(Dialogs& dialogs) {
    for (int i = 0; i < kEventRounds; ++i) dialogs.ProcessEvents();
}

// counts.bin loaded and re-binned at `bin_size`.
struct Rebinned {
    BinTable bins;
    int last_bin = -1;
    std::int32_t length = 0;  // largest re-binned minute
};

// counts.bin loaded: the records of its continuous run.
struct LoadedRecords {
    RecordTable records;
    int last = -1;
    std::int32_t length = 0;  // the largest minute
    double window_minutes = 0.0;
    std::string backward;  // where the minutes went back ("" when they never did)
};

// Loads one acquisition's records (their memory is reused); on failure returns the message to
// show.
std::optional<std::string> LoadRecords(RecordTable stored, const fs::path& counts_file,
                                       LoadedRecords& out) {
    const std::size_t total = stored.size();
    std::optional<BackwardStep> step;
    out.last = LoadActivityFile(std::move(stored), out.records, &step);
    if (step) out.backward = BackwardStepText(counts_file, *step, total);
    out.length = LargestMinute(out.records, out.last);
    if (out.last < 1 || out.length < 1)
        return TooShortMessage(counts_file, out.records.size(), out.length);
    if (out.length > kMaxReportMinutes)
        return std::string(kResamplingError) + ": " + counts_file.string() + " reaches minute " +
               std::to_string(out.length) + ", more than a report can hold (" +
               std::to_string(kMaxReportMinutes) + " minutes)";
    out.window_minutes = RecordingWindowMinutes(out.records, out.last);
    return std::nullopt;
}

// Re-bins loaded records; on failure returns the message to show.
std::optional<std::string> Rebin(const LoadedRecords& in, const fs::path& counts_file,
                                 std::int32_t bin_size, Rebinned& out) {
    std::int32_t covered = in.length;
    std::string why;
    out.last_bin =
        ResampleActivity(covered, in.last, bin_size, in.records, out.bins, in.window_minutes, &why);
    if (out.last_bin < 0 || out.bins.size() == 0)
        return std::string(kResamplingError) + " (" + counts_file.string() + "): " + why;
    out.length = covered;
    return std::nullopt;
}

// Reads a counts.bin and leaves out the records with impossible counts, saying how many (the
// message names the file; the returned text goes into the report's header, "" when none).
RecordTable ReadActivityRecords(Dialogs& dialogs, const fs::path& counts_file,
                                std::string& excluded, const RecordTable* given = nullptr) {
    RecordTable stored = given != nullptr ? *given : ReadCountsRecords(counts_file);
    const std::size_t total = stored.size();
    const std::size_t dropped = DropImpossibleRecords(stored);
    excluded.clear();
    if (dropped > 0) {
        excluded = ImpossibleRecordsText(dropped, total);
        dialogs.MessageBox(counts_file.string() + ": " + excluded + " of the report.");
    }
    return stored;
}

// The last `n` characters of a text.
std::string Tail(const std::string& text, std::size_t n) {
    return text.size() <= n ? text : text.substr(text.size() - n);
}

}  // namespace

std::string ActivityFileNotFoundText(FileSystem& files, const fs::path& counts_file) {
    std::string what;
    if (files.Exists(counts_file) && !files.IsFile(counts_file))
        what =
            " is not a regular file (an acquisition's counts.bin is a file its recording "
            "wrote)";
    else if (!files.IsFolder(counts_file.parent_path()))
        what = " does not exist (no such folder)";
    else
        what = " does not exist";
    return std::string(kActivityNotFound) + ": " + counts_file.string() + what +
           ": give the folder of a recorded acquisition (yyyymmdd_hhmm in a project folder), "
           "which holds counts.bin.";
}

std::string TooShortMessage(const fs::path& counts_file, std::size_t records,
                            std::int64_t minutes) {
    return "Not enough activity data for a report in " + counts_file.string() + " (" +
           std::to_string(records) + (records == 1 ? " record, " : " records, ") +
           std::to_string(minutes < 0 ? 0 : minutes) + " minutes)";
}

std::string LastCountsReplacement(const std::string& event_log) {
    std::string found;
    const std::string_view prefix = kCountsReanalysedEvent;
    ForEachEventLogLine(event_log, [&](std::string_view raw, const LoggedLine& line) {
        if (line.text.substr(0, prefix.size()) != prefix ||
            line.text.find(kCountsReplacedMark) == std::string_view::npos)
            return;
        found =
            std::string(raw.substr(0, 19)) + ": " + std::string(line.text.substr(prefix.size()));
    });
    return found;
}

std::int64_t LeadingWholeNumber(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    std::int64_t v = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) != 0; ++i)
        v = std::min<std::int64_t>(v * 10 + (text[i] - '0'), 1'000'000'000);
    return negative ? -v : v;
}

std::optional<ComputedReport> ComputeReport(ReportEnvironment& env, const ReportRequest& request,
                                            ReportOutcome& outcome) {
    Dialogs& dialogs = env.storage.dialogs;
    FileSystem& files = env.storage.files;
    auto fail = [&](const std::string& message) {
        dialogs.MessageBox(message);
        outcome.failure = message;
        return std::nullopt;
    };
    const fs::path folder = request.folder;
    const fs::path counts_file = folder / kCountsFile;
    if (!files.IsFile(counts_file)) return fail(ActivityFileNotFoundText(files, counts_file));

    auto inputs = LoadReportInputs(env.storage, folder, &outcome.failure);
    if (!inputs) return std::nullopt;  // the message was shown
    outcome.start_text = RecordingStartText(ReadRecordingStart(env.storage, folder));
    outcome.reanalysis =
        !request.reanalysis_text.empty()
            ? request.reanalysis_text
            : (request.activity == nullptr ? LastCountsReplacement(ReadEventLog(folder))
                                           : std::string());

    std::string excluded;
    RecordTable stored = ReadActivityRecords(dialogs, counts_file, excluded, request.activity);
    outcome.excluded_records = excluded;
    const std::int32_t scanned = ScanActivityDuration(stored);
    if (stored.size() < 2 || scanned < 1)
        return fail(TooShortMessage(counts_file, stored.size(), scanned));
    const std::int64_t requested = LeadingWholeNumber(request.bin_size_text);
    std::int32_t bin_size = CorrectBinSize(requested, scanned);
    outcome.bin_size_note = BinCorrectionText(requested, bin_size, scanned);

    LoadedRecords loaded;
    if (auto error = LoadRecords(std::move(stored), counts_file, loaded)) return fail(*error);
    outcome.window_minutes = loaded.window_minutes;
    if (!loaded.backward.empty()) {
        outcome.backward_step = loaded.backward;
        dialogs.MessageBox(loaded.backward + ".");
    }
    if (const std::int32_t fitted = BinForWindows(bin_size, loaded.window_minutes);
        fitted != bin_size) {
        outcome.bin_size_note = BinRaisedText(bin_size, fitted, loaded.window_minutes);
        bin_size = fitted;
    }
    outcome.bin_size = bin_size;
    outcome.bin_size_corrected = bin_size != requested;

    Rebinned main;
    if (auto error = Rebin(loaded, counts_file, bin_size, main)) return fail(*error);

    if (WantsBasal(request.basal_text)) {
        dialogs.MessageBox("Using Groups Selected in Experiment: " + Tail(request.basal_text, 20),
                           MsgButtons::Ok, "<BASAL CALCULATION>");
        const auto name = BasalFolderName(request.basal_text);
        const fs::path basal_counts = folder.parent_path() / name.value_or("") / kCountsFile;
        if (!name || !files.IsFile(basal_counts))
            return fail(ActivityFileNotFoundText(files, basal_counts));
        Rebinned basal;
        RecordTable basal_records = ReadActivityRecords(dialogs, basal_counts, excluded);
        outcome.excluded_basal_records = excluded;
        LoadedRecords basal_loaded;
        if (auto error = LoadRecords(std::move(basal_records), basal_counts, basal_loaded))
            return fail(*error);
        if (!basal_loaded.backward.empty()) {
            outcome.basal_backward_step = basal_loaded.backward;
            dialogs.MessageBox(basal_loaded.backward + ".");
        }
        if (auto error = Rebin(basal_loaded, basal_counts, bin_size, basal)) return fail(*error);
        const auto minutes = ChooseBasalMinutes(dialogs, basal.length, bin_size);
        if (!minutes) return std::nullopt;  // cancelled: no report
        auto per_channel = ChannelBasal(basal.bins, *minutes, bin_size, basal.length);
        const BasalOutcome normalised =
            NormaliseToBasal(dialogs, *inputs, main.bins, std::move(per_channel));
        if (!normalised.proceed) return std::nullopt;  // declined: no report
        outcome.basal_applied = true;
    }

    ComputedReport report;
    report.stats = ComputeGroupStatistics(*inputs, main.bins, main.length, main.last_bin, bin_size);
    if (request.options.output == OutputFormat::Histogram) {
        std::string why;
        report.histogram = LoadBendHistograms(files, folder, *inputs, report.stats, bin_size, &why);
        if (!report.histogram) return fail("Error getting Histogram.bin data: " + why);
        if (!report.histogram->notes.empty()) {
            std::string said;
            for (const std::string& n : report.histogram->notes)
                said += (said.empty() ? "" : "; ") + n;
            dialogs.MessageBox("Body-bends histograms of " + folder.string() + ": " + said + ".");
        }
    }
    report.inputs = std::move(*inputs);
    report.length = main.length;
    report.last_bin = main.last_bin;
    return report;
}

void WriteReportFiles(ReportEnvironment& env, const ReportRequest& request, ComputedReport& report,
                      ReportOutcome& outcome) {
    Dialogs& dialogs = env.storage.dialogs;
    const fs::path folder = request.folder;
    ReportDocument doc;
    doc.inputs = &report.inputs;
    doc.stats = &report.stats;
    doc.histogram = report.histogram ? &*report.histogram : nullptr;
    doc.length = report.length;
    doc.bin_size = outcome.bin_size;
    doc.basal_applied = outcome.basal_applied;
    doc.basal_text = request.basal_text;
    doc.folder_text = folder.string();
    doc.excluded_records = outcome.excluded_records;
    doc.excluded_basal_records = outcome.excluded_basal_records;
    doc.window_minutes = outcome.window_minutes;
    doc.start_text = outcome.start_text;
    if (!outcome.bin_size_note.empty()) doc.notes.emplace_back("BIN SIZE:", outcome.bin_size_note);
    if (!outcome.reanalysis.empty())
        doc.notes.emplace_back("RE-ANALYSED COUNTS:", outcome.reanalysis);
    if (report.histogram && !report.histogram->notes.empty()) {
        std::string said;
        for (const std::string& n : report.histogram->notes) said += (said.empty() ? "" : "; ") + n;
        doc.notes.emplace_back("HISTOGRAMS:", said);
    }
    if (!outcome.backward_step.empty())
        doc.notes.emplace_back("RECORDS READ:", outcome.backward_step);
    if (!outcome.basal_backward_step.empty())
        doc.notes.emplace_back("BASAL RECORDS READ:", outcome.basal_backward_step);
    const LocalDateTime now = env.clock.Now();
    doc.date_text = env.format_date ? env.format_date(now) : DefaultDate(now);
    // The report file and its copy named after the experiment, inside the acquisition
    // folder, written together as the text is made; the copy appears after the report.
    const std::string file_name = ReportFileName(request.options.file_type);
    const std::string extension = fs::path(file_name).extension().string();
    const std::string copy_name = ExperimentCopyName(report.inputs.experiment_name);
    const bool copied = !copy_name.empty() && copy_name + extension != file_name;
    const fs::path copy_file = folder / (copy_name + extension);
    std::unique_ptr<AtomicFileSink> copy;
    std::string copy_error;
    if (copied) {
        try {
            copy = std::make_unique<AtomicFileSink>(copy_file);
        } catch (const std::exception& e) {
            copy_error = e.what();
        }
    }
    outcome.report_file = folder / file_name;
    try {
        AtomicFileSink file(outcome.report_file);
        TeeSink both(file, copy.get());
        WriteReportText(doc, request.options, both);
        file.Commit();
        if (copy_error.empty()) copy_error = both.secondary_error();
    } catch (const std::exception& e) {
        outcome.report_file.clear();
        const std::string message = "Error writing the report file: " + std::string(e.what());
        dialogs.MessageBox(message);
        outcome.failure = message;
        return;
    }
    outcome.written = true;
    outcome.length = report.length;
    outcome.last_bin = report.last_bin;
    LetEventsRun(dialogs);

    if (copy && copy_error.empty()) {
        try {
            copy->Commit();
            outcome.copy_file = copy_file;
        } catch (const std::exception& e) {
            copy_error = e.what();
        }
    }
    copy.reset();
    if (!copy_error.empty()) dialogs.MessageBox("Error writing the report copy: " + copy_error);

    outcome.chart = BuildChartData(report.inputs, report.stats, outcome.bin_size, report.length,
                                   outcome.basal_applied);
    try {
        env.storage.files.WriteFile(folder / kChartFileName, RenderChartSvg(outcome.chart));
        outcome.chart_file = folder / kChartFileName;
    } catch (const std::exception& e) {
        dialogs.MessageBox("Error writing the report chart: " + std::string(e.what()));
    }

    LetEventsRun(dialogs);
    if (env.open_file)
        env.open_file(outcome.copy_file.empty() ? outcome.report_file : outcome.copy_file);
}

ReportOutcome GenerateReport(ReportEnvironment& env, const ReportRequest& request) {
    ReportOutcome outcome;
    try {
        std::optional<ComputedReport> report = ComputeReport(env, request, outcome);
        if (!report) return outcome;
        WriteReportFiles(env, request, *report, outcome);
        if (!outcome.written) return outcome;
        outcome.inputs = std::move(report->inputs);
        outcome.stats = std::move(report->stats);
        return outcome;
    } catch (const std::exception& e) {
        if (outcome.written) return outcome;
        const std::string message = "Report not written: " + std::string(e.what());
        env.storage.dialogs.MessageBox(message);
        outcome.failure = message;
        return outcome;
    }
}

ReportRequest RequestFromConfig(FileSystem& files, const ReportConfig& config,
                                const fs::path& folder, const std::string& bin_size_text) {
    ReportRequest r;
    r.folder = folder;
    r.bin_size_text = bin_size_text;
    const int output = std::clamp<int>(config.out_format, 0, 3);
    r.options.output = HistogramFileNames(files, folder).empty() ? static_cast<OutputFormat>(output)
                                                                 : OutputFormat::Histogram;
    r.options.file_type = config.filetype == 1 ? ReportFileType::Text : ReportFileType::Csv;
    r.options.spacer = config.spacer;
    r.options.std_error = config.stdError == 1;
    r.options.std_dev = config.stdDev == 1;
    r.options.wells = config.n == 1;
    r.options.decimal_symbol = QueryDecimalSymbol();
    r.basal_text.clear();
    return r;
}

ReportOutcome RunAutomaticReport(ReportEnvironment& env, const ReportRequest& request,
                                 bool raw_export) {
    Dialogs& dialogs = env.storage.dialogs;
    ReportOutcome outcome = GenerateReport(env, request);
    if (!outcome.written) {
        // GenerateReport showed why (or the user ended it): no success notice, no export.
        if (outcome.failure.empty()) outcome.failure = "the report was not written";
        return outcome;
    }
    env.clock.SleepMs(1500);
    dialogs.ProcessEvents();
    if (raw_export) {
        if (!env.raw_reanalysis) {
            outcome.raw_export_failure = "raw data processing is not available";
        } else {
            dialogs.ProcessEvents();
            env.clock.SleepMs(1000);
            outcome.raw_export_failure = env.raw_reanalysis();
            dialogs.ProcessEvents();
            env.clock.SleepMs(500);
        }
    }
    if (outcome.raw_export_failure.empty()) {
        dialogs.MessageBox("Report File AutoGenerated");
    } else {
        dialogs.MessageBox("Report File AutoGenerated, but the raw data were not exported: " +
                           outcome.raw_export_failure);
    }
    return outcome;
}

ReportOutcome ReportAfterAcquisition(ReportEnvironment& env, const ReportSettings& settings,
                                     bool user_defined, const fs::path& folder,
                                     const std::string& bin_size_text,
                                     const std::function<void()>& open_report_window) {
    if (!user_defined) {
        if (open_report_window) open_report_window();
        env.storage.dialogs.MessageBox("Acquisition finished");
        return ReportOutcome{};
    }
    const ReportRequest request =
        RequestFromConfig(env.storage.files, settings.config, folder, bin_size_text);
    return RunAutomaticReport(env, request, settings.config.rawexport == 1);
}

}  // namespace lumivo::reporting
