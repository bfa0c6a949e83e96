#include "core/control/factory_station.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <optional>

#include "core/common/rounding.h"
#include "core/control/channel_calibration.h"
#include "core/control/control_fields.h"
#include "core/control/sensor_calibration.h"
#include "core/storage/file_system.h"

namespace lumivo {
namespace {

constexpr int kSettleBeforeReadMs = 100;  // after a write, before the fresh reading
constexpr int kFreshReadingTries = 3;
constexpr int kFreshReadingPauseMs = 200;
constexpr int kRegisterReadTries = 8;
constexpr int kRegisterReadPauseMs = 200;
constexpr int kCurveSettleMs = 10;
constexpr int kSetAllRepeats = 9;
constexpr int kMaxStationPinHole = 8;
constexpr double kPercentToLevel = 20.48;  // 1 % of 2048

std::string FreshReadingError(int block) {
    return "Ops...Data Sending ERROR reg(" + std::to_string(block) + ")... Try again";
}

int BlockOfChannel(int channel) {
    return 32 * ((channel % 128) / 32);
}

// "channels a..b" or "channel a".
std::string RangeText(int first, int last) {
    if (first == last) return "channel " + std::to_string(first);
    return "channels " + std::to_string(first) + ".." + std::to_string(last);
}

// The channel-by-channel search of the automatic calibration.
class StationSearch {
  public:
    StationSearch(BenchContext& ctx, FactoryStationState& st, StationCalibrationResult& result)
        : ctx_(ctx), st_(st), res_(result) {}

    // Writes the working setting of `c` with the verified write.
    bool Write(int c) {
        const auto i = static_cast<std::size_t>(c);
        const int value = st_.Gain[i] * 32 + st_.PinHole[i];
        if (VerifiedRegisterWrite(ctx_.link, WriteChannelStoredByteCommand(c, value), c)) {
            return true;
        }
        res_.failed_channel = c;
        res_.outcome = RunOutcome::WriteFailed;
        return false;
    }

    // Waits, then takes a fresh reading of the channel's block; false (abort flag set, message
    // shown) when the block does not come back whole in three tries 200 ms apart.
    bool Read(int c, int& r) {
        ctx_.link.clock.SleepMs(kSettleBeforeReadMs);
        const int block = BlockOfChannel(c);
        for (int attempt = 0; attempt < kFreshReadingTries; ++attempt) {
            if (attempt > 0) ctx_.link.clock.SleepMs(kFreshReadingPauseMs);
            const BlockRead b =
                ReadChannelBlock(ctx_.link, block, BlockReadMode::TwoHalves, st_.readings.current);
            if (b.decode.accepted) {
                r = st_.readings.current[static_cast<std::size_t>(c)];
                return true;
            }
        }
        st_.abort = true;
        res_.failed_block = block;
        res_.outcome = RunOutcome::ReadFailed;
        ctx_.link.dialogs.MessageBox(FreshReadingError(block), MsgButtons::Ok);
        return false;
    }

    // Write and fresh reading.
    bool Step(int c, int& r) { return Write(c) && Read(c, r); }

    // Steps channel c into the window [low, high]; false when the calibration must stop.
    bool Calibrate(int c, const StationWindow& w) {
        const auto i = static_cast<std::size_t>(c);
        std::int16_t& p = st_.PinHole[i];
        std::int16_t& g = st_.Gain[i];
        int r = 0;
        if (!Read(c, r)) return false;
        while (r < w.low && p < kStationTopPinHole) {
            g = 7;
            ++p;
            if (!Step(c, r)) return false;
        }
        if (r > w.high) {
            g = 0;
            if (!Step(c, r)) return false;
            while (r > w.high && p >= 3) {
                --p;
                g = 7;
                if (!Step(c, r)) return false;
                if (r > w.high) {
                    g = 0;
                    if (!Step(c, r)) return false;
                }
            }
            g = 7;
            if (!Step(c, r)) return false;
            while (r > w.high && g >= 1) {
                --g;
                if (!Step(c, r)) return false;
            }
        }
        if (r < w.low && g == 0 && p == 3) {
            const int r0 = r;
            g = 7;
            p = 2;
            if (!Step(c, r)) return false;
            while (r > w.high && g >= 1) {
                --g;
                if (!Step(c, r)) return false;
            }
            if (r0 > r) {
                g = 0;
                p = 3;
                if (!Step(c, r)) return false;
            }
        }
        res_.reading[i] = r;
        return true;
    }

  private:
    BenchContext& ctx_;
    FactoryStationState& st_;
    StationCalibrationResult& res_;
};

// One reading with all four blocks whole, in three tries 200 ms apart; the block that failed
// last otherwise.
bool TakeWholeReading(BenchContext& ctx, FactoryStationState& state, int& failed_block) {
    for (int attempt = 0; attempt < kFreshReadingTries; ++attempt) {
        if (attempt > 0) ctx.link.clock.SleepMs(kFreshReadingPauseMs);
        if (TakeOnlineReading(ctx, state)) return true;
    }
    for (std::size_t b = 0; b < kBlockStarts.size(); ++b) {
        if (!state.readings.block_whole[b]) failed_block = kBlockStarts[b];
    }
    return false;
}

std::string FormatWhole(double v) {
    return std::to_string(static_cast<long long>(RoundHalfEven(v)));
}

std::optional<int> IntegerPart(std::string_view text) {
    const auto v = ParseNumericText(text);
    if (!v || std::fabs(*v) > 1e6) return std::nullopt;
    return static_cast<int>(std::floor(*v));
}

}  // namespace

StationWindow StationTargetWindow(double target_percent) {
    return {RoundToInt32((target_percent - 5.0) * kPercentToLevel),
            RoundToInt32((target_percent + 5.0) * kPercentToLevel)};
}

bool TakeOnlineReading(BenchContext& ctx, FactoryStationState& state) {
    BenchReadings& rd = state.readings;
    bool whole = true;
    for (std::size_t b = 0; b < kBlockStarts.size(); ++b) {
        rd.block_whole[b] = false;
        if (ctx.offline) continue;
        const BlockRead r =
            ReadChannelBlock(ctx.link, kBlockStarts[b], BlockReadMode::TwoHalves, rd.current);
        rd.block_whole[b] = r.decode.accepted;
        whole = whole && r.decode.accepted;
    }
    auto& row = rd.history[static_cast<std::size_t>(rd.row)];
    row = rd.current;
    if (rd.count + 1 >= kTraceReadings) {
        for (int ch = 0; ch < kChannelCount; ++ch) {
            const auto c = static_cast<std::size_t>(ch);
            int largest = 0;
            for (int k = 0; k < kTraceReadings; ++k) {
                const int r = (rd.row - k + kBenchHistoryRows) % kBenchHistoryRows;
                largest = std::max<int>(largest, rd.history[static_cast<std::size_t>(r)][c]);
            }
            const double zero = c < ctx.zero_level.size() ? ctx.zero_level[c] : 0.0;
            rd.trace[c] = RoundToInt16(largest * (100.0 - zero) / 100.0);
        }
    }
    ctx.view.ShowReadings(rd);
    rd.fresh = true;
    rd.row = (rd.row + 1) % kBenchHistoryRows;
    ++rd.count;
    return whole && !ctx.offline;
}

std::vector<int> StationCalibrationResult::ChannelsOutsideWindow() const {
    std::vector<int> out;
    for (int ch = 0; ch < kChannelCount; ++ch) {
        const auto i = static_cast<std::size_t>(ch);
        if (channel[i] == StationChannel::Calibrated &&
            (reading[i] < window.low || reading[i] > window.high)) {
            out.push_back(ch);
        }
    }
    return out;
}

std::string StationCalibrationResult::WrittenText() const {
    const char* what[] = {"not written", "at the starting setting PinHole 3, Gain 7", "calibrated",
                          "stopped part-way through its search"};
    std::string text;
    int first = 0;
    for (int ch = 1; ch <= kChannelCount; ++ch) {
        const auto prev = channel[static_cast<std::size_t>(ch - 1)];
        if (ch < kChannelCount && channel[static_cast<std::size_t>(ch)] == prev) continue;
        if (!text.empty()) text += ", ";
        text += RangeText(first, ch - 1) + " " + what[static_cast<std::size_t>(prev)];
        first = ch;
    }
    return text;
}

StationCalibrationResult CalibrateStationChannels(BenchContext& ctx, FactoryStationState& state,
                                                  double target_percent,
                                                  std::string_view mode_text) {
    StationCalibrationResult result;
    result.window = StationTargetWindow(target_percent);
    state.abort = false;
    state.online = false;
    ctx.view.SetOnline(false);
    if (ctx.offline) {
        ctx.link.dialogs.MessageBox(kOfflineRefusalMessage, MsgButtons::Ok);
        return result;
    }
    if (mode_text != kMaxGainMode) {
        ctx.view.ShowCalibrating(false, "");
        return result;
    }
    StationSearch search(ctx, state, result);
    auto finish = [&](RunOutcome outcome) {
        if (result.outcome == RunOutcome::Refused) result.outcome = outcome;
        ctx.view.ShowCalibrating(false, "");
        return result;
    };

    ctx.view.ShowCalibrating(true, "starting");
    for (int c = 0; c < kChannelCount; ++c) {
        if (!ctx.KeepGoing()) return finish(RunOutcome::Interrupted);
        const auto i = static_cast<std::size_t>(c);
        state.PinHole[i] = kStationStartPinHole;
        state.Gain[i] = kStationStartGain;
        if (!search.Write(c)) return finish(RunOutcome::WriteFailed);
        result.channel[i] = StationChannel::Started;
    }
    for (int c = 0; c < kChannelCount; ++c) {
        ctx.link.dialogs.ProcessEvents();
        if (!ctx.KeepGoing()) return finish(RunOutcome::Interrupted);
        ctx.view.ShowCalibrating(true, "Calibrating CH" + std::to_string(c));
        ctx.view.DrawProgress(c);
        const auto i = static_cast<std::size_t>(c);
        if (!search.Calibrate(c, result.window)) {
            if (state.PinHole[i] != kStationStartPinHole || state.Gain[i] != kStationStartGain) {
                result.channel[i] = StationChannel::Partial;
            }
            return finish(result.outcome);
        }
        result.channel[i] = StationChannel::Calibrated;
    }
    return finish(RunOutcome::Completed);
}

namespace {

// "7 min 00 s", "45 s": the time left of a run of minutes.
std::string MinutesAndSeconds(long long seconds) {
    char buf[48];
    if (seconds < 60)
        std::snprintf(buf, sizeof buf, "%lld s", seconds);
    else
        std::snprintf(buf, sizeof buf, "%lld min %02lld s", seconds / 60, seconds % 60);
    return buf;
}

}  // namespace

std::string StationProgressText(int channels_done, double elapsed_seconds) {
    const int done = std::clamp(channels_done, 0, int{kChannelCount});
    std::string text =
        std::to_string(done) + " of " + std::to_string(kChannelCount) + " channels calibrated";
    if (done > 0 && done < kChannelCount && elapsed_seconds > 0.0) {
        const double left = elapsed_seconds / done * (kChannelCount - done);
        text += ", about " + MinutesAndSeconds(std::llround(left)) + " left";
    }
    return text;
}

DeviceCalibrationSave SaveDeviceCalibration(BenchContext& ctx, CalibrationValues& cal) {
    DeviceCalibrationSave out;
    CalibrationValues read = cal;
    for (int c = 0; c < kChannelCount; ++c) {
        ctx.view.ShowCalibrating(true, "Saving CH" + std::to_string(c));
        int v = kNoReply;
        for (int attempt = 0; attempt < kRegisterReadTries && v == kNoReply; ++attempt) {
            v = SendCommandAndRead(ctx.link, ReadChannelStoredByteCommand(c));
            if (v == kNoReply) {
                SendCommand(ctx.link, NullFrameCommand());
                ctx.link.clock.SleepMs(kRegisterReadPauseMs);
            }
        }
        if (v == kNoReply) {
            // calvalue.dat is written only from a complete read-back: no need to go on.
            out.unanswered.push_back(c);
            break;
        }
        const auto i = static_cast<std::size_t>(c);
        read.Gain[i] = static_cast<std::int16_t>(v / 32);
        read.PinHole[i] = static_cast<std::int16_t>(std::min(v % 32, int{kStationTopPinHole}));
    }
    ctx.view.ShowCalibrating(false, "");
    const auto file = ctx.storage.install_dir / kCalibrationFileName;
    if (!out.unanswered.empty()) {
        ctx.link.dialogs.MessageBox(
            "Calibration NOT saved: the register of channel " +
                std::to_string(out.unanswered.front()) +
                " did not answer, so calvalue.dat and the program's settings are unchanged. "
                "Check COM and Try again.",
            MsgButtons::Ok);
        return out;
    }
    try {
        SaveCalibration(ctx.storage, read);
    } catch (const std::exception& e) {
        out.error = e.what();
        ctx.link.dialogs.MessageBox(FileErrorTag(file) + " => Calibration NOT saved: " + out.error,
                                    MsgButtons::Ok);
        return out;
    }
    cal = read;
    out.saved = true;
    ctx.link.dialogs.MessageBox(kCalibrationSavingOk, MsgButtons::Ok);
    return out;
}

int StationPinHoleFromText(std::string_view text) {
    const auto v = IntegerPart(text);
    return v && *v >= 0 && *v <= kMaxStationPinHole ? *v : 0;
}

int StationGainFromText(std::string_view text) {
    const auto v = IntegerPart(text);
    return v && *v >= 0 && *v <= kMaxGain ? *v : 0;
}

RunOutcome WriteStationSettingToAll(BenchContext& ctx, int pin_hole, int gain,
                                    int* failed_channel) {
    const int value = gain * 32 + pin_hole;
    for (int c = 0; c < kChannelCount; ++c) {
        ctx.view.DrawProgress(c);
        if (!VerifiedRegisterWrite(ctx.link, WriteChannelStoredByteCommand(c, value), c)) {
            ctx.link.dialogs.MessageBox(kCommunicationErrorMessage, MsgButtons::Ok);
            if (failed_channel != nullptr) *failed_channel = c;
            return RunOutcome::WriteFailed;
        }
    }
    return RunOutcome::Completed;
}

bool SetAllChannelsNineTimes(BenchContext& ctx, const FactoryStationState& state, int pin_hole,
                             int gain) {
    const int value = gain * 32 + pin_hole;
    if (!state.online || pin_hole < 0 || gain < 0 || value > 255) return false;
    for (int c = 0; c < kChannelCount; ++c) {
        for (int k = 0; k < kSetAllRepeats; ++k) {
            ctx.view.ShowReply(
                SendCommandAndRead(ctx.link, WriteChannelStoredByteCommand(c, value)));
        }
    }
    return true;
}

bool WriteSelectedChannel(BenchContext& ctx, int channel, int pin_hole, int gain) {
    if (channel < 0 || channel >= kChannelCount) return false;
    return VerifiedRegisterWrite(
        ctx.link, WriteChannelStoredByteCommand(channel, gain * 32 + pin_hole), channel);
}

std::string ToggleChannelEnabled(Dialogs& dialogs, int channel, const std::string& label,
                                 std::int16_t& enabled_flag) {
    const bool enabled = label == kChannelEnabledText;
    const std::string question = std::string(enabled ? "Do you like to Disable Channel "
                                                     : "Do you like to Enable Channel ") +
                                 std::to_string(channel) + "?";
    if (dialogs.MessageBox(question, MsgButtons::YesNoCancel) != MsgResult::Yes) return label;
    enabled_flag = enabled ? std::int16_t{0} : std::int16_t{-1};
    return enabled ? kChannelDisabledText : kChannelEnabledText;
}

CurveCombinationText FormatCurveCombination(
    int pin_hole, int gain,
    const std::vector<std::array<std::uint16_t, kChannelTableSize>>& samples) {
    CurveCombinationText t;
    t.raw = "p=" + std::to_string(pin_hole) + ",g=" + std::to_string(gain) + "\r\n";
    for (std::size_t s = 0; s < samples.size(); ++s) {
        t.raw += "[" + std::to_string(s) + "]";
        for (int ch = 0; ch < kChannelCount; ++ch) {
            t.raw += " " + std::to_string(samples[s][static_cast<std::size_t>(ch)]);
        }
        t.raw += "\r\n";
    }
    const std::string head = "[p" + std::to_string(pin_hole) + ",g" + std::to_string(gain) + "]";
    t.mean = head;
    t.deviation = head;
    const double n = static_cast<double>(samples.size());
    for (int ch = 0; ch < kChannelCount; ++ch) {
        const auto c = static_cast<std::size_t>(ch);
        double sum = 0.0;
        for (const auto& s : samples) sum += s[c];
        const double mean = n > 0 ? sum / n : 0.0;
        double squares = 0.0;
        for (const auto& s : samples) squares += (s[c] - mean) * (s[c] - mean);
        t.mean += " " + FormatWhole(mean);
        t.deviation += " " + FormatWhole(n > 0 ? std::sqrt(squares / n) : 0.0);
    }
    t.mean += "\r\n";
    t.deviation += "\r\n";
    return t;
}

GainCurveResult RunGainCurveTest(BenchContext& ctx, FactoryStationState& state) {
    GainCurveResult result;
    const auto dir = ctx.storage.install_dir;
    result.files = {dir / kCurveRawFile, dir / kCurveMeanFile, dir / kCurveDeviationFile};
    if (ctx.offline) {
        ctx.link.dialogs.MessageBox(kOfflineRefusalMessage, MsgButtons::Ok);
        return result;
    }
    for (const auto& f : result.files) ctx.storage.files.RemoveFile(f);
    ctx.view.ShowCurveStep("Gain=0;Pinhole=0");
    std::string raw;
    std::string mean;
    std::string deviation;
    for (int p = 0; p < kCurveSteps; ++p) {
        for (int g = 0; g < kCurveSteps; ++g) {
            if (!ctx.KeepGoing()) {
                result.outcome = RunOutcome::Interrupted;
                return result;
            }
            if (WriteStationSettingToAll(ctx, p, g, &result.failed_channel) !=
                RunOutcome::Completed) {
                result.outcome = RunOutcome::WriteFailed;
                return result;
            }
            ctx.view.ShowCurveStep("Gain=" + std::to_string(g) + ";Pinhole=" + std::to_string(p));
            ctx.link.clock.SleepMs(kCurveSettleMs);
            std::vector<std::array<std::uint16_t, kChannelTableSize>> samples;
            for (int k = 0; k < kCurveSettleReadings + kCurveSamples; ++k) {
                ctx.link.dialogs.ProcessEvents();
                if (!TakeWholeReading(ctx, state, result.failed_block)) {
                    ctx.link.dialogs.MessageBox(FreshReadingError(result.failed_block),
                                                MsgButtons::Ok);
                    result.outcome = RunOutcome::ReadFailed;
                    return result;
                }
                if (k >= kCurveSettleReadings) samples.push_back(state.readings.current);
            }
            const CurveCombinationText t = FormatCurveCombination(p, g, samples);
            raw += t.raw;
            mean += t.mean;
            deviation += t.deviation;
            const FileContent batch[] = {
                {result.files[0], raw}, {result.files[1], mean}, {result.files[2], deviation}};
            try {
                ctx.storage.files.WriteFiles(batch);
            } catch (const std::exception& e) {
                result.error = e.what();
                result.outcome = RunOutcome::SaveFailed;
                ctx.link.dialogs.MessageBox(
                    FileErrorTag(result.files[0]) +
                        " => the gain curve files cannot be written: " + result.error,
                    MsgButtons::Ok);
                return result;
            }
            ++result.combinations;
        }
    }
    result.outcome = RunOutcome::Completed;
    return result;
}

void ReleaseMultitaskPort(StorageContext& storage, int port) {
    const auto file = storage.install_dir / kMultitaskFile;
    std::array<long, kMultitaskPorts + 1> value{};
    if (storage.files.IsFile(file)) {
        std::string text;
        try {
            text = storage.files.ReadFile(file);
        } catch (const std::exception&) {
            text.clear();  // an unreadable file is rewritten from scratch
        }
        std::size_t start = 0;
        for (int line = 1; line <= kMultitaskPorts && start < text.size(); ++line) {
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            std::string l = text.substr(start, end - start);
            if (!l.empty() && l.back() == '\r') l.pop_back();
            start = end + 1;
            const auto comma = l.find(',');
            if (comma == std::string::npos) continue;
            const auto v = ParseNumericText(l.substr(comma + 1));
            if (v && *v >= -32768 && *v <= 32767) {
                value[static_cast<std::size_t>(line)] = static_cast<long>(*v);
            }
        }
    }
    if (port >= 1 && port <= kMultitaskPorts) value[static_cast<std::size_t>(port)] = 0;
    std::string out;
    for (int line = 1; line <= kMultitaskPorts; ++line) {
        out += std::to_string(line) + "," + std::to_string(value[static_cast<std::size_t>(line)]) +
               "\r\n";
    }
    storage.files.WriteFile(file, out);
}

}  // namespace lumivo
