#include "core/control/channel_calibration.h"

#include <exception>
#include <stdexcept>
#include <string>

namespace lumivo {
namespace {

constexpr int kPauseAfterDiscardMs = 50;
constexpr int kEventsEveryChannels = 21;
constexpr double kProgressWidth = 383.0;
constexpr double kProgressHeight = 10.0;
constexpr int kStartCount = 383;

using Readings = std::array<std::uint16_t, kChannelTableSize>;

bool InWindow(int r) {
    return r >= CalibrationWindowLow && r <= CalibrationWindowHigh;
}

bool InUse(std::span<const std::int16_t> channel_well, int ch) {
    const auto i = static_cast<std::size_t>(ch);
    return i < channel_well.size() && channel_well[i] >= 0;
}

// Requests all four blocks and throws the replies away: the instrument's first answers after
// a pause or a change of settings are not trusted.
void DiscardingPass(DeviceLink& link, BlockReadMode mode) {
    Readings scratch{};
    ReadFullSample(link, scratch, mode);
}

std::string CountStatus(int count) {
    return "Calibrating... [" + std::to_string(count) + "]";
}

// Ends a run that will not be saved: the status line and a message say so.
void ReportNotCompleted(ControlContext& ctx) {
    ctx.view.SetStatus(kCalibrationInterruptedStatus);
    ctx.link.dialogs.MessageBox(kCalibrationInterruptedStatus, MsgButtons::Ok);
}

// "Error [<installation folder>/calvalue.dat]"
std::string CalibrationFileTag(const StorageContext& storage) {
    return FileErrorTag(storage.install_dir / kCalibrationFileName);
}

// Saves the tables; a failure is told to the user and recorded in the result.
void SaveCompleted(ControlContext& ctx, const CalibrationValues& cal, CalibrationResult& result) {
    try {
        SaveCalibration(ctx.storage, cal);
        result.outcome = RunOutcome::Completed;
        ctx.view.SetStatus(CalibrationSummary(result));
    } catch (const std::exception& e) {
        result.outcome = RunOutcome::SaveFailed;
        result.error = e.what();
        ctx.view.SetStatus("Calibration NOT saved");
        ctx.link.dialogs.MessageBox(
            CalibrationFileTag(ctx.storage) + " => Calibration NOT saved: " + e.what(),
            MsgButtons::Ok);
    }
}

int BlockIndexOf(int ch) {
    return (ch % 128) / 32;
}

// The stepping passes shared by calibration and automatic adjustment.
class SteppingPasses {
  public:
    SteppingPasses(ControlContext& ctx, CalibrationValues& cal,
                   std::array<ChannelStepState, kChannelCount>& st, CalibrationResult& result,
                   BlockReadMode mode)
        : ctx_(ctx), cal_(cal), st_(st), result_(result), mode_(mode) {}

    enum class End { AllDone, Interrupted, WriteFailed };

    // Runs passes until every channel is done, the run is stopped, or a write fails.
    // `before_read` runs at the start of each pass; `on_done` when a channel finishes.
    template <typename BeforeRead, typename OnDone>
    End Run(std::span<std::uint16_t> readings, BeforeRead before_read, OnDone on_done) {
        int count = kStartCount;
        bool goes_on = true;
        while (goes_on) {
            if (!ctx_.run.KeepGoing()) return End::Interrupted;
            if (result_.passes >= kMaxCalibrationPasses) {
                for (ChannelStepState& s : st_) {
                    if (!s.done) s.finish = ChannelFinish::Unsettled;
                }
                return End::AllDone;
            }
            ++result_.passes;
            before_read();
            DiscardingPass(ctx_.link, mode_);
            ctx_.link.clock.SleepMs(kPauseAfterDiscardMs);
            const SampleRead read = ReadFullSample(ctx_.link, readings, mode_);
            std::array<bool, 4> fresh{};
            for (std::size_t b = 0; b < fresh.size(); ++b) {
                fresh[b] = read.blocks[b].decode.accepted;
                missed_[b] = fresh[b] ? 0 : missed_[b] + 1;
            }

            ctx_.view.SetStatus(CountStatus(count));
            ctx_.view.DrawProgress(kProgressWidth - count);
            count = 0;
            goes_on = false;
            for (int ch = 0; ch < kChannelCount; ++ch) {
                const auto i = static_cast<std::size_t>(ch);
                ChannelStepState& s = st_[i];
                if (s.done) continue;
                const auto b = static_cast<std::size_t>(BlockIndexOf(ch));
                if (!fresh[b]) {
                    if (missed_[b] >= kMaxMissedBlockPasses) {
                        s.done = true;
                        s.direction = 0;
                        s.finish = ChannelFinish::NoReading;
                        on_done(ch);
                    } else {
                        goes_on = true;  // stepped when its block comes back
                    }
                    continue;
                }
                const int r = readings[i];
                if (!InWindow(r)) goes_on = true;
                ApplyCalibrationStep(r, s);
                cal_.PinHole[i] = s.PinHole;
                cal_.Gain[i] = s.Gain;
                if (s.done) {
                    on_done(ch);
                    continue;
                }
                ++count;
                if (WriteChannelSetting(ctx_.link, ch, s.PinHole, s.Gain) != 1) {
                    result_.failed_channel = ch;
                    return End::WriteFailed;
                }
            }
            ctx_.link.dialogs.ProcessEvents();
        }
        return End::AllDone;
    }

  private:
    ControlContext& ctx_;
    CalibrationValues& cal_;
    std::array<ChannelStepState, kChannelCount>& st_;
    CalibrationResult& result_;
    BlockReadMode mode_;
    std::array<int, 4> missed_{};
};

void CopyFinish(const std::array<ChannelStepState, kChannelCount>& st, CalibrationResult& result) {
    for (std::size_t i = 0; i < st.size(); ++i) result.finish[i] = st[i].finish;
}

}  // namespace

const char* ChannelFinishName(ChannelFinish f) {
    switch (f) {
        case ChannelFinish::NotInUse:
            return "not in use";
        case ChannelFinish::Pending:
            return "pending";
        case ChannelFinish::InWindow:
            return "in window";
        case ChannelFinish::DarkAtLimit:
            return "too dark at the top setting";
        case ChannelFinish::BrightAtLimit:
            return "too bright at the bottom setting";
        case ChannelFinish::SteppedPast:
            return "stepped past the window";
        case ChannelFinish::Unsettled:
            return "did not settle";
        case ChannelFinish::NoReading:
            return "no reading";
    }
    return "?";
}

void ApplyCalibrationStep(int reading, ChannelStepState& s) {
    if (InWindow(reading)) {
        s.done = true;
        s.direction = 0;
        s.finish = ChannelFinish::InWindow;
        return;
    }
    const bool dark = reading < CalibrationWindowLow;
    if (dark && s.direction != -1) {
        if (s.Gain < kMaxGain) {
            ++s.Gain;
            s.direction = 1;
        } else if (s.PinHole >= kCalibrationTopPinHole) {
            s.done = true;
            s.direction = 0;
            s.finish = ChannelFinish::DarkAtLimit;
        } else {
            s.Gain = 0;
            ++s.PinHole;
            s.direction = 1;
        }
    } else if (!dark && s.direction != 1) {
        if (s.Gain >= 1) {
            --s.Gain;
            s.direction = -1;
        } else if (s.PinHole <= kCalibrationBottomPinHole) {
            s.done = true;
            s.direction = 0;
            s.finish = ChannelFinish::BrightAtLimit;
        } else {
            s.Gain = kMaxGain;
            --s.PinHole;
            s.direction = -1;
        }
    } else if (dark) {
        // Stepped down past the window: keep the lower setting.
        s.done = true;
        s.direction = 0;
        s.finish = ChannelFinish::SteppedPast;
    } else {
        // Stepped up past the window: wait a pass, then step down.
        s.direction = 0;
    }
}

bool NeedsReadjustment(double mean_level, bool auto_calibrate_on_start, bool recording_on,
                       std::int16_t pin_hole, std::int16_t gain) {
    return mean_level >= kReadjustTriggerLevel && auto_calibrate_on_start && recording_on &&
           (gain != 0 || pin_hole > kCalibrationBottomPinHole);
}

std::vector<int> CalibrationResult::ChannelsOutsideWindow() const {
    std::vector<int> out;
    for (int ch = 0; ch < kChannelCount; ++ch) {
        const ChannelFinish f = finish[static_cast<std::size_t>(ch)];
        if (f == ChannelFinish::DarkAtLimit || f == ChannelFinish::BrightAtLimit ||
            f == ChannelFinish::SteppedPast || f == ChannelFinish::Unsettled ||
            f == ChannelFinish::NoReading) {
            out.push_back(ch);
        }
    }
    return out;
}

int CalibrationResult::CountFinished(ChannelFinish f) const {
    int n = 0;
    for (ChannelFinish g : finish) n += g == f ? 1 : 0;
    return n;
}

std::string ChannelNumbersText(const std::vector<int>& channels) {
    constexpr std::size_t kListed = 8;
    if (channels.empty() || channels.size() > kListed) return {};
    std::string text = " (";
    for (std::size_t i = 0; i < channels.size(); ++i) {
        text += (i > 0 ? ", " : "") + std::to_string(channels[i]);
    }
    return text + ")";
}

std::string CalibrationSummary(const CalibrationResult& result) {
    if (result.outcome != RunOutcome::Completed && result.outcome != RunOutcome::SaveFailed) {
        std::string text =
            std::string(kCalibrationInterruptedStatus) + " (" + RunOutcomeText(result.outcome);
        if (result.failed_channel >= 0)
            text += " at channel " + std::to_string(result.failed_channel);
        return text + ")";
    }
    // "2 dead (17, 250)": channels named when few, counted when many.
    auto listed = [&](ChannelFinish f, const char* what) {
        std::vector<int> channels;
        for (int ch = 0; ch < kChannelCount; ++ch) {
            if (result.finish[static_cast<std::size_t>(ch)] == f) channels.push_back(ch);
        }
        return std::to_string(channels.size()) + " " + what + ChannelNumbersText(channels);
    };
    std::string text =
        std::string(result.outcome == RunOutcome::Completed ? kCalibrationOkStatus
                                                            : "Calibration NOT saved") +
        ": " + std::to_string(result.CountFinished(ChannelFinish::InWindow)) +
        " channels in the window, " + listed(ChannelFinish::DarkAtLimit, "dead") + ", " +
        listed(ChannelFinish::BrightAtLimit, "saturated");
    const struct {
        ChannelFinish finish;
        const char* what;
    } others[] = {{ChannelFinish::SteppedPast, "stepped past the window"},
                  {ChannelFinish::Unsettled, "did not settle"},
                  {ChannelFinish::NoReading, "without reading"}};
    for (const auto& o : others) {
        if (result.CountFinished(o.finish) > 0) text += ", " + listed(o.finish, o.what);
    }
    return text;
}

CalibrationResult CalibrateChannels(ControlContext& ctx, CalibrationValues& cal,
                                    std::span<const std::int16_t> channel_well,
                                    std::span<std::uint16_t> readings) {
    CalibrationResult result;
    result.finish.fill(ChannelFinish::Pending);
    if (RefusedBeforeStart(ctx, readings.size(), "CalibrateChannels: the reading row needs"))
        return result;
    Dialogs& dialogs = ctx.link.dialogs;
    CalibrationView& view = ctx.view;

    // The settings the instrument is to hold: the last calibration, or the first-time ones
    // (kept in memory only: the file is written when a calibration has completed).
    if (ctx.storage.files.IsFile(ctx.storage.install_dir / kCalibrationFileName)) {
        view.SetStatus("Writing Calibration...");
        try {
            LoadCalibration(ctx.storage, cal);
        } catch (const std::exception& e) {
            // The tables keep their values; a completed run rewrites the file.
            result.error = e.what();
            dialogs.MessageBox(CalibrationFileTag(ctx.storage) + " " + e.what() +
                                   " => Calibrating from the current values",
                               MsgButtons::Ok);
        }
    } else {
        view.SetStatus("Writing First Time Calibration...");
        for (std::size_t i = 0; i < static_cast<std::size_t>(kChannelCount); ++i) {
            cal.PinHole[i] = kFirstPinHole;
            cal.Gain[i] = kFirstGain;
        }
    }
    view.ScaleProgress(kProgressWidth, kProgressHeight);

    std::array<ChannelStepState, kChannelCount> st{};
    for (int ch = 0; ch < kChannelCount; ++ch) {
        const auto i = static_cast<std::size_t>(ch);
        ChannelStepState& s = st[i];
        if (InUse(channel_well, ch)) {
            if (cal.PinHole[i] == 0 && cal.Gain[i] == 0) cal.PinHole[i] = kRestartPinHole;
        } else {
            cal.PinHole[i] = 0;
            cal.Gain[i] = 0;
            s.done = true;
            s.finish = ChannelFinish::NotInUse;
        }
        s.PinHole = cal.PinHole[i];
        s.Gain = cal.Gain[i];
    }

    // Writing phase: every channel, those not in use included (with setting 0).
    for (int ch = 0; ch < kChannelCount; ++ch) {
        if (ch > 0 && ch % kEventsEveryChannels == 0) dialogs.ProcessEvents();
        if (!ctx.run.KeepGoing()) {
            CopyFinish(st, result);
            result.outcome = RunOutcome::Interrupted;
            ReportNotCompleted(ctx);
            return result;
        }
        const auto i = static_cast<std::size_t>(ch);
        view.SetStatus("Writing calibration..." + std::to_string(ch));
        view.DrawProgress(ch);
        if (WriteChannelSetting(ctx.link, ch, cal.PinHole[i], cal.Gain[i]) != 1) {
            dialogs.MessageBox(kCommunicationErrorMessage, MsgButtons::Ok);
            CopyFinish(st, result);
            result.outcome = RunOutcome::WriteFailed;
            result.failed_channel = ch;
            return result;
        }
    }

    if (ctx.run.reset_sample_row) ctx.run.reset_sample_row();
    view.ClearProgress();
    SteppingPasses passes(ctx, cal, st, result, BlockReadMode::TwoHalves);
    const auto end = passes.Run(
        readings, [&] { view.SetStatus("Acquiring..."); }, [](int) {});
    CopyFinish(st, result);
    switch (end) {
        case SteppingPasses::End::Interrupted:
            result.outcome = RunOutcome::Interrupted;
            ReportNotCompleted(ctx);
            return result;
        case SteppingPasses::End::WriteFailed:
            if (ctx.run.stop_acquisition) ctx.run.stop_acquisition();
            dialogs.ProcessEvents();
            result.outcome = RunOutcome::WriteFailed;
            return result;
        case SteppingPasses::End::AllDone:
            break;
    }
    SaveCompleted(ctx, cal, result);
    return result;
}

CalibrationResult AutoAdjustChannels(ControlContext& ctx, CalibrationValues& cal,
                                     std::span<const std::int16_t> channel_well,
                                     AdjustmentList& list) {
    CalibrationResult result;
    result.finish.fill(ChannelFinish::NotInUse);
    if (ctx.run.offline) return result;  // nothing to read the channels from
    CalibrationView& view = ctx.view;

    std::array<ChannelStepState, kChannelCount> st{};
    Readings readings{};
    for (int ch = 0; ch < kChannelCount; ++ch) {
        const auto i = static_cast<std::size_t>(ch);
        if (InUse(channel_well, ch)) {
            if (cal.PinHole[i] == 0 && cal.Gain[i] == 0) cal.PinHole[i] = kRestartPinHole;
        } else {
            cal.PinHole[i] = 0;
            cal.Gain[i] = 0;
            list[i] = -1;
        }
        st[i].PinHole = cal.PinHole[i];
        st[i].Gain = cal.Gain[i];
        st[i].done = list[i] != 0;
        st[i].finish = st[i].done ? ChannelFinish::NotInUse : ChannelFinish::Pending;
    }

    view.ShowFrame(true);
    view.SetTitle(kAutoCalibrationTitle);
    view.SetStatus("Auto-Adjustment...");
    view.ScaleProgress(kProgressWidth, kProgressHeight);
    view.ClearProgress();

    SteppingPasses passes(ctx, cal, st, result, BlockReadMode::Whole);
    const auto end = passes.Run(
        readings, [] {}, [&](int ch) { list[static_cast<std::size_t>(ch)] = -1; });
    CopyFinish(st, result);
    switch (end) {
        case SteppingPasses::End::Interrupted:
            result.outcome = RunOutcome::Interrupted;
            ReportNotCompleted(ctx);
            break;
        case SteppingPasses::End::WriteFailed:
            result.outcome = RunOutcome::WriteFailed;
            break;
        case SteppingPasses::End::AllDone:
            SaveCompleted(ctx, cal, result);
            break;
    }
    view.ShowFrame(false);
    return result;
}

}  // namespace lumivo
