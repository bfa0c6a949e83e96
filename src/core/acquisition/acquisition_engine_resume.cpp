// The engine's resume of an interrupted acquisition: its own settings, its files cut back to
// whole windows, its counters from what is on disk, the channel settings written back, and the
// time axis of its original start.
#include <algorithm>
#include <cmath>
#include <string>

#include "core/acquisition/acquisition_engine.h"
#include "core/acquisition/data_files.h"
#include "core/acquisition/event_log_reader.h"
#include "core/acquisition/resume.h"
#include "core/common/com_ports.h"
#include "core/device/connection.h"
#include "core/storage/project_setup.h"

namespace lumivo {

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kMicrosPerMinute = 60'000'000;

std::string Windows(std::int64_t n) {
    return std::to_string(n) + (n == 1 ? " window" : " windows");
}

}  // namespace

std::string AcquisitionEngine::WriteRunSettings() {
    ctx_.views.strip.ShowFrame(true);
    ctx_.views.strip.SetTitle("<RESUMING: channel settings>");
    ctx_.views.strip.ScaleProgress(kChannelCount - 1, 10.0);
    ctx_.views.strip.ClearProgress();
    int failed = 0;
    for (int c = 0; c < kChannelCount && Running(); ++c) {
        const auto i = static_cast<std::size_t>(c);
        if (WriteChannelSetting(ctx_.link, c, ctx_.cal.PinHole[i], ctx_.cal.Gain[i]) != 1) ++failed;
        ctx_.views.strip.DrawProgress(c);
        if (c % 32 == 31) ctx_.link.dialogs.ProcessEvents();
    }
    ctx_.views.strip.ShowFrame(false);
    std::string text =
        "the channel settings of calvalue.dat were written to the instrument "
        "(the calibration at the start is not repeated)";
    if (failed > 0) text += "; " + std::to_string(failed) + " channels did not take theirs";
    return text;
}

StartOutcome AcquisitionEngine::ResumeAcquisition(const fs::path& folder) {
    if (state.AcquisitionRunning != RunState::Stopped || in_start_) return StartOutcome::Refused;
    const InProgress leave(in_start_);
    Dialogs& dialogs = ctx_.link.dialogs;
    Clock& clock = ctx_.link.clock;
    ctx_.views.desk.StopSelfTest();

    if (!Online()) {
        dialogs.MessageBox(kOfflineAcquisitionRefusal);
        return StartOutcome::Refused;
    }
    ResumeCheck check = CheckInterruptedAcquisition(ctx_.storage, folder, clock.Now());
    if (!check.run) {
        dialogs.MessageBox(check.refusal);
        return StartOutcome::Refused;
    }
    const InterruptedAcquisition run = std::move(*check.run);
    if (folder.parent_path() != ctx_.app.project.ProjectFolder) {
        dialogs.MessageBox(folder.string() + " belongs to another project than the current one (" +
                           ctx_.app.project.ProjectFolder.string() +
                           "): open its project first, then resume it");
        return StartOutcome::Refused;
    }

    // The settings the run was started with, from its own copy of the project.
    AcquisitionFileDialogs copy_dialogs(dialogs);
    StorageContext copy{ctx_.storage.install_dir, copy_dialogs, ctx_.storage.files,
                        ctx_.storage.list_separator_source};
    ProjectState project;
    project.ProjectFolder = folder;
    PlateMap plate;
    if (const auto failure = LoadProjectAsStored(copy, 0, project, plate, SetupUse::Recording)) {
        dialogs.MessageBox(folder.string() +
                           " cannot be resumed: its copy of the project cannot "
                           "be read (" +
                           failure->Describe() + ")");
        return StartOutcome::Refused;
    }
    project.ProjectFolder = ctx_.app.project.ProjectFolder;
    const std::size_t rt_buffer = RecordingRtBuffer(project.Setup);
    ResumedFiles files = PrepareFilesForResume(ctx_.data_files, folder, rt_buffer,
                                               SavesRawSignals(project.Setup), run.body_bends);
    if (!files.error.empty()) {
        dialogs.MessageBox(folder.string() +
                           " cannot be resumed: its data files cannot be cut "
                           "back to whole windows (" +
                           files.error + ")");
        return StartOutcome::Refused;
    }
    std::vector<std::string> notes = files.notes;
    if (SavesRawSignals(project.Setup) && !files.raw_pages_whole) {
        // Raw pages missing windows cannot be continued in step with counts.bin.
        SetSavesRawSignals(project.Setup, false);
        notes.push_back(
            "the raw pages lack windows that counts.bin holds, so no raw signals are "
            "saved from now on");
    }
    ctx_.app.project = project;
    ctx_.app.plate = plate;

    state.ExperimentName = run.experiment_name;
    ctx_.views.display.ShowExperimentName(run.experiment_name);
    for (int i = 0; i < 10; ++i) dialogs.ProcessEvents();
    CommFlush(ctx_.link.ports, ctx_.link.ComPortNumber);
    ctx_.views.live.PrepareActivityView();
    state.RecordingOn = true;
    state.AcquisitionFolderName = folder.filename().string();
    state.AcquisitionFolder = folder;
    state.folder_created = false;
    state.finished_at_lapse = false;
    state.quick_report.reset();
    state.quick_report_error.clear();
    state.stop_reason.clear();
    state.BodyBendsMode = run.body_bends;
    event_log_.Close();
    event_log_.Open(folder);
    event_log_failed_ = false;
    logged_offset_.reset();
    expected_end_second_ = -1;

    ResetChannelState();
    ResetWindowCounters();
    // The counters go on from the windows on disk.
    SamplingState& s = sampling;
    const auto kept = static_cast<std::int32_t>(files.records);
    s.windows_recorded = kept;
    s.windows_closed = kept;
    // What the dead recorder could not record is in its events.log: the run's summary counts
    // the whole acquisition.
    s.window_write_failures = static_cast<std::int32_t>(run.log.write_failures);
    s.windows_not_recorded = static_cast<std::int32_t>(run.log.windows_not_recorded);
    s.recovery.losses = static_cast<std::int32_t>(run.log.instrument_lost.size());
    s.RawFileIndex =
        static_cast<std::int16_t>(kept / static_cast<std::int32_t>(kWindowsPerRawPage));
    s.WindowSubCounter =
        static_cast<std::int16_t>(kept % static_cast<std::int32_t>(kWindowsPerRawPage));
    try {
        const CountsFileContents counts = ReadCountsFile(folder / kCountsFileName);
        for (const CountsRecord& r : counts.records) {
            for (std::size_t c = 0; c < kBeamChannelCount; ++c) {
                if (ctx_.app.plate.ChannelWell[c] < 0 || s.ChannelTotals[c] >= kMaxChannelTotal)
                    continue;
                s.ChannelTotals[c] = static_cast<std::int16_t>(
                    std::min<int>(s.ChannelTotals[c] + r.values[c], 32767));
            }
        }
        if (run.body_bends && files.histogram_records > 0) {
            // The histograms accumulate over the whole run: they go on from the last one.
            const auto where =
                LocateRawWindow(static_cast<std::size_t>(files.histogram_records - 1));
            const HistogramFileContents h =
                ReadHistogramFile(folder / HistogramFileName(where.page));
            if (where.record < h.records.size()) s.BendHistogram = h.records[where.record].cells;
            for (std::size_t c = 0; c < kChannelTableSize; ++c)
                for (std::size_t b = 0; b < kHistogramBinCount; ++b)
                    s.BendHistogramPeak[c] = std::max(s.BendHistogramPeak[c],
                                                      s.BendHistogram[kChannelTableSize * b + c]);
            s.HistogramRecords = static_cast<std::int32_t>(files.histogram_records);
        }
    } catch (const std::exception& e) {
        notes.push_back(std::string("the totals of the windows on disk could not be read (") +
                        e.what() + ")");
    }

    BeginRunning();
    const std::string settings = WriteRunSettings();
    std::string zero = "the zero levels are the run's own (its threshld.dat)";
    if (ctx_.calibration.AutoZeroOnStart && Running()) {
        const RunOutcome r = CalibrateAtStart(false);
        if (r == RunOutcome::ReadFailed || r == RunOutcome::Refused) {
            return EndFailedStart(std::string("the zero at the resume failed (") +
                                  RunOutcomeText(r) + ")");
        }
        zero = "the zero levels were measured again";
    }
    if (!Running()) return StartOutcome::Stopped;

    // The time axis of the original start: the time the recorder was dead counts.
    const double elapsed = ElapsedMinutesAt(run.log, StampOnLogAxis(run.log, clock.Now()));
    auto elapsed_us = static_cast<std::int64_t>(std::llround(elapsed * 60e6));
    if (run.last_minute >= 0 && elapsed_us < std::int64_t{run.last_minute} * kMicrosPerMinute) {
        // The clock is behind the last record (it was set back): the axis goes on from there,
        // so that the minutes never go backwards.
        elapsed_us = std::int64_t{run.last_minute} * kMicrosPerMinute;
        notes.push_back("the clock is behind the last record, so the minutes go on from minute " +
                        std::to_string(run.last_minute));
    }
    const std::int64_t now = clock.MonotonicMicros();
    ClearLiveViews(s.rt_buffer);
    state.AcquisitionStartTime = now - elapsed_us;
    state.LastTickTime = now;
    state.PauseBegan = now;
    state.PausedElapsed = 0;
    UpdateElapsed(now);
    const int minute = s.ElapsedMinutes;
    std::string text =
        std::string(kRecordingResumedEvent) + "\"" + run.experiment_name + "\" goes on at minute " +
        std::to_string(minute) + " of " + std::to_string(run.lapse) + ", instrument " +
        InstrumentSerialText(ctx_.link.SerialNumber) + " on " +
        ComPortName(ctx_.link.ComPortNumber) + "; " + Windows(kept) + " on disk are kept";
    if (run.last_minute >= 0) {
        text += std::string(kLastRecordAtMinute) + std::to_string(run.last_minute) +
                ", so minutes " + std::to_string(run.last_minute) + " to " +
                std::to_string(minute) + " were not observed";
    }
    text += "; " + settings + "; " + zero;
    for (const std::string& n : notes) text += "; " + n;
    SetTimer(true);
    ShowControls(true);
    LogEvent(text);
    logged_light_.reset();
    LogLightChange("at the resume");
    return StartOutcome::Started;
}

}  // namespace lumivo
