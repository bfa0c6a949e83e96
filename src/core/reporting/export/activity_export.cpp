#include "core/reporting/export/activity_export.h"

#include <algorithm>
#include <cstdio>
#include <exception>

#include "core/reporting/report/activity_file.h"
#include "core/reporting/report/group_statistics.h"
#include "core/reporting/report/report_inputs.h"
#include "core/reporting/report/report_run.h"
#include "core/reporting/report/report_settings.h"
#include "core/reporting/report/report_writer.h"
#include "core/reporting/report/resample.h"

namespace lumivo::reporting {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCountsFile = "counts.bin";

// "dd/mm/yyyy hh:mm".
std::string DayMonthYearTime(const LocalDateTime& t) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d", t.day, t.month, t.year, t.hour,
                  t.minute);
    return buf;
}

void AppendNumber(std::string& out, std::int64_t v) {
    out += std::to_string(v);
}

std::string NotesText(const fs::path& folder, const BinnedActivity& a, ExportLayout layout,
                      bool with_time) {
    const std::string bins = std::to_string(a.last_bin + 1) + (a.last_bin == 0 ? " bin" : " bins");
    std::string t;
    t += "Activity export of the acquisition " + folder.string() + "\r\n";
    t += "Experiment: " + a.inputs.experiment_name + "\r\n";
    t += "Started: " + DayMonthYearTime(a.start) + " (" + RecordingStartText(a.recording_start) +
         ")\r\n";
    t += "Bin size: " + std::to_string(a.bin_size) + " minutes, " + bins +
         "; the recording lasted " + std::to_string(a.recorded_minutes) + " minutes\r\n";
    t += "Values: activity counts per bin; for a well with several beams the rounded mean of "
         "its beams\r\n";
    t += "A bin's value: " + BinValueText(a.bin_size, a.window_minutes, false) + "\r\n";
    if (!a.bin_size_note.empty()) t += "Bin size: " + a.bin_size_note + "\r\n";
    if (!a.backward_step.empty()) t += "Records read: " + a.backward_step + "\r\n";
    std::size_t missing = 0;
    for (int k = 0; k <= a.last_bin; ++k)
        missing += a.bins.Present(static_cast<std::size_t>(k)) ? 0u : 1u;
    if (missing > 0)
        t += std::string(kExportMissingValue) + ": " + std::to_string(missing) +
             (missing == 1 ? " bin is" : " bins are") +
             " not covered three quarters by the recording (a pause, a gap, a lost instrument): "
             "no value, not zero activity\r\n";
    t += "Bin times: the start of each bin\r\n";
    t += "\r\n";
    if (layout == ExportLayout::PerChannel) {
        t += std::string(kExportTimeFileName) +
             ": the start of each bin in minutes from the start of the recording, one line\r\n";
        t += "ch000000.txt to ch000383.txt: one file per channel, the channel's counts per bin "
             "on one line" +
             std::string(with_time ? ", after the line of bin times" : "") + "\r\n";
    } else {
        t += "000_A1.txt ...: one file per well that has a beam, one line per bin: the bin's "
             "start date and time (dd/mm/yyyy hh:mm), a space, the well's counts\r\n";
    }
    return t;
}

}  // namespace

std::optional<LocalDateTime> AcquisitionStart(const std::string& name) {
    if (name.size() != 13) return std::nullopt;
    return StartOfFolderName(name, 0);
}

std::optional<BinnedActivity> LoadBinnedActivity(StorageContext& ctx, const fs::path& folder,
                                                 std::int64_t requested_bin, std::int32_t min_bin,
                                                 std::string* failure) {
    auto fail = [&](const std::string& message) -> std::optional<BinnedActivity> {
        ctx.dialogs.MessageBox(message);
        if (failure) *failure = message;
        return std::nullopt;
    };
    const fs::path counts_file = folder / kCountsFile;
    if (!ctx.files.IsFile(counts_file))
        return fail(ActivityFileNotFoundText(ctx.files, counts_file));
    BinnedActivity a;
    a.recording_start = ReadRecordingStart(ctx, folder);
    if (!a.recording_start.known)
        return fail("The start of the acquisition " + folder.string() +
                    " is not known: its events.log does not say when sampling started and its "
                    "folder is not named by its start time, yyyymmdd_hhmm. Give the folder that "
                    "name again.");
    a.start = a.recording_start.local;
    auto inputs = LoadReportInputs(ctx, folder, failure);
    if (!inputs) return std::nullopt;  // the message was shown
    a.inputs = std::move(*inputs);

    RecordTable stored;
    try {
        stored = ReadCountsRecords(counts_file);
    } catch (const std::exception& e) {
        return fail(e.what());
    }
    const std::size_t total = stored.size();
    if (const std::size_t dropped = DropImpossibleRecords(stored); dropped > 0) {
        ctx.dialogs.MessageBox(counts_file.string() + ": " + ImpossibleRecordsText(dropped, total) +
                               " of the export.");
    }
    const std::int32_t scanned = ScanActivityDuration(stored);
    if (stored.size() < 2 || scanned < 1)
        return fail(TooShortMessage(counts_file, stored.size(), scanned));
    const std::int64_t wanted = std::max<std::int64_t>(requested_bin, min_bin);
    a.bin_size = CorrectBinSize(wanted, scanned);
    a.bin_size_note = BinCorrectionText(wanted, a.bin_size, scanned);

    RecordTable records;
    std::optional<BackwardStep> step;
    const std::size_t kept = stored.size();
    const int last = LoadActivityFile(std::move(stored), records, &step);
    if (step) {
        a.backward_step = BackwardStepText(counts_file, *step, kept);
        ctx.dialogs.MessageBox(a.backward_step + ".");
    }
    std::int32_t length = LargestMinute(records, last);
    if (last < 1 || length < 1) return fail(TooShortMessage(counts_file, records.size(), length));
    a.recorded_minutes = length;
    a.window_minutes = RecordingWindowMinutes(records, last);
    if (const std::int32_t fitted = BinForWindows(a.bin_size, a.window_minutes);
        fitted != a.bin_size) {
        a.bin_size_note = BinRaisedText(a.bin_size, fitted, a.window_minutes);
        a.bin_size = fitted;
    }
    a.bin_size_corrected = a.bin_size != requested_bin;
    std::string why;
    a.last_bin =
        ResampleActivity(length, last, a.bin_size, records, a.bins, a.window_minutes, &why);
    if (a.last_bin < 0 || a.bins.size() == 0)
        return fail("Resampling ERROR (" + counts_file.string() + "): " + why);
    a.last_bin = std::min<int>(a.last_bin, static_cast<int>(a.bins.size()) - 1);
    return a;
}

std::int32_t ExportWellValue(const BinnedActivity& a, int well, std::size_t k) {
    std::int32_t v = 0;
    return WellValue(a.inputs, a.bins, well, k, v) ? v : 0;
}

std::vector<int> ExportedWells(const ReportInputs& inputs) {
    std::vector<int> wells;
    for (int w = 0; w <= inputs.max_well_index; ++w) {
        for (int b = 0; b <= inputs.max_beam_index; ++b) {
            const int c = inputs.WellChannel(w, b);
            if (c >= 0 && c < kChannelCount) {
                wells.push_back(w);
                break;
            }
        }
    }
    return wells;
}

std::string ExportTimeLine(const BinnedActivity& a) {
    std::string line;
    for (int k = 0; k <= a.last_bin; ++k) {
        if (k > 0) line += ' ';
        AppendNumber(line, std::int64_t{k} * a.bin_size);
    }
    return line + "\r\n";
}

std::string ChannelExportFileName(int channel) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "ch%06d.txt", channel);
    return buf;
}

std::string WellExportFileName(const ReportInputs& inputs, int well) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%03d_", well);
    const auto w = static_cast<std::size_t>(well);
    return buf + (w < inputs.well_names.size() ? inputs.well_names[w] : std::string()) + ".txt";
}

ActivityExportOutcome ExportActivityFiles(ExportEnvironment& env, const fs::path& folder,
                                          const std::string& bin_size_text) {
    ActivityExportOutcome out;
    Dialogs& dialogs = env.storage.dialogs;
    out.layout = dialogs.MessageBox(kExportFilesQuestion, MsgButtons::YesNo) == MsgResult::Yes
                     ? ExportLayout::PerChannel
                     : ExportLayout::PerWell;
    out.with_time = dialogs.MessageBox(kIncludeTimeQuestion, MsgButtons::YesNo) == MsgResult::Yes;

    auto activity =
        LoadBinnedActivity(env.storage, folder, LeadingWholeNumber(bin_size_text), 2, &out.failure);
    if (!activity) return out;
    const BinnedActivity& a = *activity;
    out.bin_size = a.bin_size;
    out.bin_size_note = a.bin_size_note;

    std::vector<FileContent> batch;
    if (out.layout == ExportLayout::PerChannel) {
        const std::string times = ExportTimeLine(a);
        batch.push_back({folder / kExportTimeFileName, times});
        for (int c = 0; c < kChannelCount; ++c) {
            std::string text = out.with_time ? times : std::string();
            for (int k = 0; k <= a.last_bin; ++k) {
                if (k > 0) text += ' ';
                const auto uk = static_cast<std::size_t>(k);
                if (a.bins.Present(uk))
                    AppendNumber(text, a.bins.count(uk, static_cast<std::size_t>(c)));
                else
                    text += kExportMissingValue;
            }
            text += "\r\n";
            batch.push_back({folder / ChannelExportFileName(c), std::move(text)});
        }
    } else {
        for (const int w : ExportedWells(a.inputs)) {
            std::string text;
            for (int k = 0; k <= a.last_bin; ++k) {
                const LocalDateTime t = AddSeconds(a.start, std::int64_t{k} * a.bin_size * 60);
                text += DayMonthYearTime(t);
                text += ' ';
                if (a.bins.Present(static_cast<std::size_t>(k)))
                    AppendNumber(text, ExportWellValue(a, w, static_cast<std::size_t>(k)));
                else
                    text += kExportMissingValue;
                text += "\r\n";
            }
            batch.push_back({folder / WellExportFileName(a.inputs, w), std::move(text)});
        }
    }
    out.notes_file = folder / kExportNotesFileName;
    batch.push_back({out.notes_file, NotesText(folder, a, out.layout, out.with_time)});
    try {
        env.storage.files.WriteFiles(batch);
    } catch (const std::exception& e) {
        out.notes_file.clear();
        out.failure = "The export files were not written: " + std::string(e.what());
        dialogs.MessageBox(out.failure);
        return out;
    }
    for (std::size_t i = 0; i + 1 < batch.size(); ++i) out.files.push_back(batch[i].path);
    out.written = true;
    if (env.open_folder) env.open_folder(folder);
    if (env.open_file) env.open_file(out.notes_file);
    return out;
}

}  // namespace lumivo::reporting
