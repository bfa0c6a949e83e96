#include "core/control/self_test.h"

#include <algorithm>
#include <cstdio>
#include <exception>

#include "core/device/connection.h"
#include "core/storage/file_system.h"

namespace lumivo {
namespace {

constexpr int kPassPauseMs = 100;     // between the two reading passes of a tick
constexpr int kStepPauseMs = 100;     // after a step that switched beams
constexpr int kVerdictPauseMs = 500;  // after a verdict step
constexpr double kProgressPerStep = 0.83;
constexpr int kEventsEveryChannels = 21;
constexpr int kChannelsPerRowStep = 12;  // the middle-setting steps set 2 x 12 channels each

constexpr const char* kOnAllCaption = "[ON ALL]";
constexpr const char* kOffAllCaption = "[OFF ALL]";
constexpr const char* kColumnCaption = "[1 COLUMN]";
constexpr const char* kRowCaption = "[1 ROW]";
constexpr const char* kMiddleCaption = "[GAIN/POWER=2]";

constexpr const char* kWrittenBack =
    "the calibrated settings of calvalue.dat were written back to the instrument";
constexpr const char* kRecalibrateAdvice = "run a calibration (Fast CALIB) before recording";

bool LitInColumn(int channel, int column) {
    return channel / kGridRows == column;
}

bool LitInRow(int channel, int row) {
    return channel % kGridRows == row;
}

// Counts the lit channels that pass (>= 1638.4) and the dark ones that pass (<= 1024), listing
// those that do not.
struct GridJudgement {
    int lit_pass = 0;
    int dark_pass = 0;
    std::string lit_failures;
    std::string dark_failures;
    std::vector<int> failed;
};

template <typename IsLit>
GridJudgement JudgeGrid(std::span<const std::uint16_t> readings, IsLit is_lit) {
    GridJudgement j;
    for (int ch = 0; ch < kChannelCount; ++ch) {
        const int r = readings[static_cast<std::size_t>(ch)];
        if (is_lit(ch)) {
            if (r >= kLitPassLevel) {
                ++j.lit_pass;
            } else {
                j.lit_failures += FailedChannelEntry(ch, r);
                j.failed.push_back(ch);
            }
        } else if (r <= kDarkPassLevel) {
            ++j.dark_pass;
        } else {
            j.dark_failures += FailedChannelEntry(ch, r);
            j.failed.push_back(ch);
        }
    }
    std::sort(j.failed.begin(), j.failed.end());
    return j;
}

// A verdict on one column or row: `name` is "Col[" n or "Row[" n.
SelfTestVerdict LineVerdict(const std::string& name, int lit_count, const GridJudgement& j) {
    SelfTestVerdict v;
    v.failed_channels = j.failed;
    v.passed = j.lit_pass == lit_count && j.dark_pass == kChannelCount - lit_count;
    if (v.passed) {
        v.caption = name + "]: PASS!";
        v.lines = {v.caption};
    } else {
        v.caption = name + "]: CHECK!";
        v.lines = {name + "]: NONPASS " + std::to_string(j.lit_pass) +
                   "CH > 80% (NONOK:" + j.lit_failures + "); " + std::to_string(j.dark_pass) +
                   "CH < 20% (NONOK:" + j.dark_failures + ")"};
    }
    return v;
}

// "yyyy-mm-dd_hh:mm"
std::string ReportStamp(const LocalDateTime& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d_%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute);
    return text;
}

class TestRun {
  public:
    TestRun(SelfTestContext& ctx, SelfTestState& state) : ctx_(ctx), st_(state) {}

    // Rewrites the report with its new lines: each verdict leaves a complete file behind.
    void Append(const std::vector<std::string>& lines, bool verdict) {
        for (const auto& line : lines) {
            st_.report += line;
            st_.report += "\r\n";
            ctx_.view.ReportLine(line, verdict);
        }
        SaveReport();
    }

    bool SaveReport() {
        try {
            ctx_.storage.files.WriteFile(st_.report_path, st_.report);
            return true;
        } catch (const std::exception& e) {
            if (!st_.report_error_shown) {
                st_.report_error_shown = true;
                ctx_.link.dialogs.MessageBox(
                    FileErrorTag(st_.report_path) +
                        " => the device test report cannot be written: " + e.what(),
                    MsgButtons::Ok);
            }
            return false;
        }
    }

    void Show(const SelfTestVerdict& v) {
        ctx_.view.ShowCaption(v.caption);
        st_.verdicts.push_back(v);
        Append(v.lines, true);
    }

    // Writes one setting; false (the test then ends) when the write failed.
    bool Write(int channel, BeamSetting s) {
        st_.settings_changed = true;
        if (WriteChannelSetting(ctx_.link, channel, s.PinHole, s.Gain) == 1) return true;
        st_.Timer_test = false;
        ctx_.view.SetTestTimer(false);
        st_.DeviceTestStep = kSelfTestAbortStep;
        st_.end = SelfTestEnd::WriteFailed;
        return false;
    }

    bool WriteRow(int row, BeamSetting s) {
        for (int k = 0; k < kGridColumns; ++k) {
            if (!Write(row + kGridRows * k, s)) return false;
        }
        return true;
    }

    bool WriteColumn(int column, BeamSetting s) {
        for (int k = 0; k < kGridRows; ++k) {
            if (!Write(kGridRows * column + k, s)) return false;
        }
        return true;
    }

    // Reads all channels twice; false on a block that did not come back whole.
    bool ReadTwice() {
        for (int pass = 0; pass < 2; ++pass) {
            if (pass == 1) ctx_.link.clock.SleepMs(kPassPauseMs);
            for (int block : kBlockStarts) {
                const BlockRead r =
                    ReadChannelBlock(ctx_.link, block, BlockReadMode::Whole, st_.readings);
                if (!r.decode.accepted) return false;
            }
        }
        return true;
    }

    void Action(int step) {
        auto& view = ctx_.view;
        Dialogs& dialogs = ctx_.link.dialogs;
        Clock& clock = ctx_.link.clock;
        if (step == 1) {
            dialogs.MessageBox(kTurningOnMessage, MsgButtons::Ok);
            for (int ch = 0; ch < 4; ++ch) {
                if (!Write(ch, kBeamOn)) return;
            }
        } else if (step == 2) {
            dialogs.MessageBox(kTurningOffMessage, MsgButtons::Ok);
            for (int ch = 0; ch < 4; ++ch) {
                if (!Write(ch, kBeamOff)) return;
            }
        } else if (step == 3) {
            if (dialogs.MessageBox(kProceedQuestion, MsgButtons::YesNo) == MsgResult::No) {
                st_.Timer_test = false;
                view.SetTestTimer(false);
                st_.end = SelfTestEnd::Declined;
            }
        } else if (step >= 4 && step <= 19) {
            view.ShowCaption(kOnAllCaption);
            if (!WriteRow(step - 4, kBeamOn)) return;
            clock.SleepMs(kStepPauseMs);
        } else if (step == 20) {
            Show(JudgeAllOnTest(st_.readings));
            clock.SleepMs(kVerdictPauseMs);
        } else if (step >= 21 && step <= 36) {
            view.ShowCaption(kOffAllCaption);
            if (!WriteRow(step - 21, kBeamOff)) return;
            clock.SleepMs(kStepPauseMs);
        } else if (step == 37) {
            Show(JudgeAllOffTest(st_.readings));
            clock.SleepMs(kVerdictPauseMs);
        } else if (step == 38) {
            view.ShowCaption(kColumnCaption);
            Append({"", "Test_24_Columns:"}, true);
            if (!WriteColumn(0, kBeamOn)) return;
            clock.SleepMs(kStepPauseMs);
        } else if (step >= 39 && step <= 61) {
            view.ShowCaption(kColumnCaption);
            Show(EvaluateColumnTest(step - 39, st_.readings));
            if (!WriteColumn(step - 39, kBeamOff) || !WriteColumn(step - 38, kBeamOn)) return;
            clock.SleepMs(kStepPauseMs);
        } else if (step == 62) {
            Show(EvaluateColumnTest(kGridColumns - 1, st_.readings));
            if (!WriteColumn(kGridColumns - 1, kBeamOff)) return;
            clock.SleepMs(kVerdictPauseMs);
        } else if (step == 63) {
            view.ShowCaption(kRowCaption);
            Append({"", "Test_16_Rows:"}, true);
            if (!WriteRow(0, kBeamOn)) return;
            clock.SleepMs(kStepPauseMs);
        } else if (step >= 64 && step <= 78) {
            view.ShowCaption(kRowCaption);
            Show(EvaluateRowTest(step - 64, st_.readings));
            if (!WriteRow(step - 64, kBeamOff) || !WriteRow(step - 63, kBeamOn)) return;
            clock.SleepMs(kStepPauseMs);
        } else if (step == 79) {
            Show(EvaluateRowTest(kGridRows - 1, st_.readings));
            WriteRow(kGridRows - 1, kBeamOff);
        } else if (step >= 80 && step <= 95) {
            view.ShowCaption(kMiddleCaption);
            const int d = step - 80;
            for (int k = 0; k < kChannelsPerRowStep; ++k) {
                if (!Write(d + kGridRows * k, kBeamMiddle)) return;
                if (!Write(kChannelCount - 1 - d - kGridRows * k, kBeamMiddle)) return;
            }
        } else if (step == 96) {
            Append({"", "Gain/Power[2] Values:"}, true);
            std::vector<std::string> values;
            values.reserve(kChannelCount);
            for (int ch = 0; ch < kChannelCount; ++ch) {
                values.push_back(
                    "CH[" + std::to_string(ch) + "] " +
                    std::to_string(ReadingPercent(st_.readings[static_cast<std::size_t>(ch)])) +
                    "%");
            }
            Append(values, false);
        } else if (step == 100) {
            view.OpenReport(st_.report_path);
        }
    }

    // The end of the test: timer off, captions and plot restored, beams given back their
    // calibrated settings.
    void Finish() {
        st_.Timer_test = false;
        ctx_.view.SetTestTimer(false);
        ctx_.view.ShowCaption(kNoTemperatureCaption);
        ctx_.view.ShowDoorHint(false, "");
        ctx_.view.RestorePlot();
        if (st_.end == SelfTestEnd::Running) st_.end = SelfTestEnd::Completed;
        Conclude();
    }

    // The status line of an ended test, after its beams were given their settings back. A
    // test that did not reach its end says so in its report, which it has overwritten.
    void Conclude() {
        if (st_.end != SelfTestEnd::Completed) {
            st_.report += "\r\nPARTIAL REPORT: the device test " +
                          std::string(SelfTestEndText(st_.end)) + " at step " +
                          std::to_string(std::min<int>(st_.DeviceTestStep, kSelfTestLastStep)) +
                          " of " + std::to_string(kSelfTestLastStep) +
                          "; the tests after that step were not carried out.\r\n";
            SaveReport();
        }
        std::string text = std::string("Device test ") + SelfTestEndText(st_.end);
        if (st_.end == SelfTestEnd::Completed) {
            const auto passed = std::count_if(st_.verdicts.begin(), st_.verdicts.end(),
                                              [](const SelfTestVerdict& v) { return v.passed; });
            text += ": " + std::to_string(passed) + " of " + std::to_string(st_.verdicts.size()) +
                    " verdicts PASS";
        }
        if (st_.settings_changed && !ctx_.offline) {
            text += "; " + WriteBackCalibratedSettings(ctx_.link, ctx_.storage);
        }
        text += ". Report: " + st_.report_path.string();
        if (st_.end != SelfTestEnd::Completed) text += " (partial)";
        st_.status = text;
        ctx_.view.ShowStatusLine(text);
    }

  private:
    SelfTestContext& ctx_;
    SelfTestState& st_;
};

}  // namespace

int ReadingPercent(int reading) {
    // Whole readings: reading x 100 / 2048 rounded down is Int(reading / 2048 x 100).
    const int scaled = reading * 100;
    return scaled >= 0 ? scaled / 2048 : -((-scaled + 2047) / 2048);
}

std::string FailedChannelEntry(int channel, int reading) {
    return "CH" + std::to_string(channel) + "[" + std::to_string(ReadingPercent(reading)) + "%], ";
}

SelfTestVerdict JudgeAllOnTest(std::span<const std::uint16_t> readings) {
    const GridJudgement j = JudgeGrid(readings, [](int) { return true; });
    SelfTestVerdict v;
    v.failed_channels = j.failed;
    v.passed = j.lit_pass == kChannelCount;
    if (v.passed) {
        v.caption = "[Test100%=PASS!]";
        v.lines = {"", "Test_all_100%: OK PASS!",
                   "Number of Channels > 80% = " + std::to_string(kChannelCount)};
    } else {
        v.caption = "[Test100%= CHECK!]";
        v.lines = {"", "Test_all_100%:  NEEDS REVISION!",
                   "Number of Channels > 80% = " + std::to_string(j.lit_pass),
                   "Channels < 80%: " + j.lit_failures};
    }
    return v;
}

SelfTestVerdict JudgeAllOffTest(std::span<const std::uint16_t> readings) {
    const GridJudgement j = JudgeGrid(readings, [](int) { return false; });
    SelfTestVerdict v;
    v.failed_channels = j.failed;
    v.passed = j.dark_pass == kChannelCount;
    if (v.passed) {
        v.caption = "[Test0%=PASS!]";
        v.lines = {"", "Test_all_0%: OK PASS!",
                   "Number of Channels < 20% = " + std::to_string(kChannelCount)};
    } else {
        v.caption = "[Test0%= CHECK!]";
        v.lines = {"", "Test_all_0%:  NEEDS REVISION!",
                   "Number of Channels < 20% = " + std::to_string(j.dark_pass),
                   "Channels > 20%: " + j.dark_failures};
    }
    return v;
}

SelfTestVerdict EvaluateColumnTest(int column, std::span<const std::uint16_t> readings) {
    const GridJudgement j =
        JudgeGrid(readings, [column](int ch) { return LitInColumn(ch, column); });
    return LineVerdict("Col[" + std::to_string(column + 1), kGridRows, j);
}

SelfTestVerdict EvaluateRowTest(int row, std::span<const std::uint16_t> readings) {
    const GridJudgement j = JudgeGrid(readings, [row](int ch) { return LitInRow(ch, row); });
    return LineVerdict("Row[" + std::to_string(row + 1), kGridColumns, j);
}

const char* SelfTestEndText(SelfTestEnd end) {
    switch (end) {
        case SelfTestEnd::NotStarted:
            return "not started";
        case SelfTestEnd::Running:
            return "running";
        case SelfTestEnd::Completed:
            return "completed";
        case SelfTestEnd::Declined:
            return "stopped (No to \"OK to proceed?\")";
        case SelfTestEnd::ComError:
            return "stopped (COM Error: a block reply was short)";
        case SelfTestEnd::WriteFailed:
            return "stopped (a channel setting could not be written)";
        case SelfTestEnd::Stopped:
            return "stopped before its end";
    }
    return "?";
}

std::filesystem::path SelfTestReportPath(const std::filesystem::path& install_dir, int serial) {
    return install_dir / ("testdev" + std::to_string(serial) + ".txt");
}

bool StartSelfTest(SelfTestContext& ctx, SelfTestState& state) {
    Dialogs& dialogs = ctx.link.dialogs;
    if (!ctx.acquisition_stopped) {
        dialogs.MessageBox(kStopBeforeTestingMessage, MsgButtons::Ok);
        return false;
    }
    if (dialogs.MessageBox(kSelfTestQuestion, MsgButtons::OkCancel) != MsgResult::Ok) {
        state.Timer_test = false;
        ctx.view.SetTestTimer(false);
        state.DeviceTestStep = 0;
        ctx.view.RestorePlot();
        ctx.view.ShowDoorHint(false, "");
        return false;
    }
    state = SelfTestState{};
    ctx.view.ShowDoorHint(true, kDoorHint);
    int serial = ctx.offline ? -1 : ReadSerialNumber(ctx.link, ctx.link.ComPortNumber);
    // An instrument that does not answer now was identified when it was connected.
    if (serial < 0 && ctx.link.SerialNumber > 0) serial = ctx.link.SerialNumber;
    state.serial = serial;
    // The instrument is named as on its label and in the main window ("LMVO00123"). The
    // report's first line keeps its "Serial:SN123 <date>" fields, which earlier reports have,
    // and names it so at the end.
    const std::string instrument = serial >= 0 ? InstrumentSerialText(serial) : "no serial number";
    ctx.view.ShowCaption(instrument);
    state.report_path = SelfTestReportPath(ctx.storage.install_dir, serial);
    state.report = "Serial:SN" + std::to_string(serial) + " " + ReportStamp(ctx.link.clock.Now()) +
                   " (instrument " + instrument + ")\r\n";
    TestRun run(ctx, state);
    if (!run.SaveReport()) {
        // Nothing was changed yet: the test does not start without its report.
        ctx.view.ShowDoorHint(false, "");
        ctx.view.ShowCaption(kNoTemperatureCaption);
        return false;
    }
    state.end = SelfTestEnd::Running;
    state.Timer_test = true;
    ctx.view.SetTestTimer(true);
    return true;
}

void SelfTestTick(SelfTestContext& ctx, SelfTestState& state) {
    TestRun run(ctx, state);
    if (state.DeviceTestStep <= 120) {
        if (!ctx.offline && !run.ReadTwice()) {
            ctx.view.ShowCaption(kComErrorCaption);
            state.Timer_test = false;
            ctx.view.SetTestTimer(false);
            state.end = SelfTestEnd::ComError;
            run.Conclude();
            return;
        }
        ctx.view.DrawReadings(std::span<const std::uint16_t>(
            state.readings.data(), static_cast<std::size_t>(kChannelCount)));
        ctx.view.DrawProgress(state.DeviceTestStep * kProgressPerStep);
        run.Action(state.DeviceTestStep);
        if (state.end == SelfTestEnd::Declined) {
            ++state.DeviceTestStep;
            run.Conclude();
            return;
        }
    }
    ++state.DeviceTestStep;
    if (state.DeviceTestStep > kSelfTestLastStep) run.Finish();
}

void StopSelfTest(SelfTestContext& ctx, SelfTestState& state) {
    if (state.end != SelfTestEnd::Running) return;
    state.end = SelfTestEnd::Stopped;
    TestRun(ctx, state).Finish();
}

bool SelfTestPassed(const SelfTestState& state) {
    return state.end == SelfTestEnd::Completed && !state.verdicts.empty() &&
           std::all_of(state.verdicts.begin(), state.verdicts.end(),
                       [](const SelfTestVerdict& v) { return v.passed; });
}

std::vector<int> SelfTestFailedChannels(const SelfTestState& state) {
    std::vector<int> out;
    for (const auto& v : state.verdicts)
        out.insert(out.end(), v.failed_channels.begin(), v.failed_channels.end());
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

std::string WriteBackCalibratedSettings(DeviceLink& link, StorageContext& storage) {
    const auto file = storage.install_dir / kCalibrationFileName;
    if (!storage.files.IsFile(file)) {
        return std::string("there is no calvalue.dat, so the beams keep the test's settings: ") +
               kRecalibrateAdvice;
    }
    CalibrationValues cal;
    try {
        // Read quietly: a channel the file does not set validly is said below, in the words of
        // a missing calibration, instead of "Loading default values".
        DefaultAnswerDialogs quiet;
        StorageContext silent{storage.install_dir, quiet, storage.files,
                              storage.list_separator_source};
        std::size_t channels = 0;
        const std::vector<int> invalid = LoadCalibration(silent, cal, &channels);
        const std::size_t valid = std::min<std::size_t>(channels, kBeamChannelCount) -
                                  std::min<std::size_t>(invalid.size(), channels);
        if (channels < kBeamChannelCount || !invalid.empty())
            return "calvalue.dat gives a valid setting to " + std::to_string(valid) + " of the " +
                   std::to_string(kBeamChannelCount) +
                   " channels only, so it is no calibration and the beams keep the test's "
                   "settings: " +
                   kRecalibrateAdvice;
    } catch (const std::exception& e) {
        link.dialogs.MessageBox(FileErrorTag(file) + " " + e.what(), MsgButtons::Ok);
        return std::string(
                   "calvalue.dat could not be read, so the beams keep the test's "
                   "settings: ") +
               kRecalibrateAdvice;
    }
    // One question first: an instrument that has stopped answering would make every channel
    // wait out the whole write ladder.
    if (ReadTemperatureRaw(link) == kNoReply) {
        return std::string(
                   "the instrument does not answer, so the calibrated settings were NOT "
                   "written back: ") +
               kRecalibrateAdvice + " once it answers";
    }
    for (int ch = 0; ch < kChannelCount; ++ch) {
        if (ch > 0 && ch % kEventsEveryChannels == 0) link.dialogs.ProcessEvents();
        const auto i = static_cast<std::size_t>(ch);
        if (WriteChannelSetting(link, ch, cal.PinHole[i], cal.Gain[i]) != 1) {
            const std::string done =
                ch == 0 ? "none was" : "channels 0.." + std::to_string(ch - 1) + " were";
            return "channel " + std::to_string(ch) +
                   " could not be written, so the calibrated settings were NOT all written "
                   "back (" +
                   done + "): " + kRecalibrateAdvice;
        }
    }
    return kWrittenBack;
}

}  // namespace lumivo
