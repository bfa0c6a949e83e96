// The factory station against the in-process simulated instrument on a virtual clock: the
// channel-by-channel calibration into its window, the read-back into calvalue.dat, stops at a
// failed write or a missing block, the gain curve files, and the window's small procedures.
#include "core/control/factory_station.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <sstream>

#include "control_rig.h"
#include "core/control/channel_calibration.h"
#include "support/sim_plates.h"

namespace lumivo {
namespace {

using testing::SimRig;

// An empty slot with beams of varied strength (transmissions 0.7 to 1.3), a dead channel 17,
// a saturated channel 250 and a weak channel 10 that needs PinHole 4, Gain 7.
sim::SimConfig StationPlate() {
    sim::SimConfig c = testing::EmptyPlate();
    c.transmission_spread = 0.0;
    for (int ch = 0; ch < 384; ++ch) {
        c.channels[static_cast<std::size_t>(ch)].transmission = 0.7 + 0.1 * (ch % 7);
    }
    c.channels[10].transmission = 0.515;
    c.channels[17].kind = sim::ChannelKind::kDead;
    c.channels[250].kind = sim::ChannelKind::kSaturated;
    return c;
}

class RecordingBenchView final : public BenchView {
  public:
    void ShowReadings(const BenchReadings&) override { ++redraws; }
    void ShowCalibrating(bool shown, const std::string& text) override {
        calibrating = shown;
        if (shown) texts.push_back(text);
    }
    void DrawProgress(int channel) override { progress = channel; }
    void ShowReply(int reply) override { replies.push_back(reply); }
    void ShowCurveStep(const std::string& text) override { curve_steps.push_back(text); }
    void SetOnline(bool on) override { online = on; }

    int redraws = 0;
    bool calibrating = false;
    std::vector<std::string> texts;
    int progress = -1;
    std::vector<int> replies;
    std::vector<std::string> curve_steps;
    bool online = true;
};

struct Station {
    explicit Station(sim::SimConfig config = StationPlate()) : rig(std::move(config)) {}
    BenchContext Context() { return {rig.link, rig.storage, view, false, zero, keep_going}; }

    SimRig rig;
    RecordingBenchView view;
    FactoryStationState state;
    std::vector<double> zero;
    std::function<bool()> keep_going;
};

TEST(FactoryStation, TargetWindowAroundThePercentage) {
    struct Case {
        double target;
        int low;
        int high;
    };
    for (const Case c : {Case{80, 1536, 1741}, Case{50, 922, 1126}, Case{85, 1638, 1843}}) {
        const StationWindow w = StationTargetWindow(c.target);
        EXPECT_EQ(w.low, c.low) << c.target;
        EXPECT_EQ(w.high, c.high) << c.target;
    }
}

// The time left follows the pace of the channels done; none done gives no pace, all done
// nothing left to tell.
TEST(FactoryStation, ProgressTextGivesChannelsDoneAndTheTimeLeft) {
    struct Case {
        int done;
        double elapsed;
        const char* text;
    };
    for (const Case c : {Case{0, 5.0, "0 of 384 channels calibrated"},
                         Case{48, 60.0, "48 of 384 channels calibrated, about 7 min 00 s left"},
                         Case{192, 200.0, "192 of 384 channels calibrated, about 3 min 20 s left"},
                         Case{383, 383.0, "383 of 384 channels calibrated, about 1 s left"},
                         Case{384, 400.0, "384 of 384 channels calibrated"},
                         Case{10, 0.0, "10 of 384 channels calibrated"}}) {
        EXPECT_EQ(StationProgressText(c.done, c.elapsed), c.text) << c.done;
    }
}

TEST(FactoryStation, CalibrationLandsEveryLiveChannelAndTheReadBackEqualsTheRegisters) {
    Station s;
    BenchContext ctx = s.Context();
    s.state.online = true;
    const StationCalibrationResult r = CalibrateStationChannels(ctx, s.state, 80, kMaxGainMode);
    ASSERT_EQ(r.outcome, RunOutcome::Completed);
    EXPECT_EQ(r.ChannelsOutsideWindow(), (std::vector<int>{17, 250}));
    EXPECT_EQ(r.WrittenText(), "channels 0..383 calibrated");
    EXPECT_FALSE(s.view.online);  // the online view stops while calibrating
    EXPECT_FALSE(s.view.calibrating);
    EXPECT_EQ(s.view.texts.front(), "starting");
    EXPECT_EQ(s.view.texts.back(), "Calibrating CH383");
    const CalibrationValues regs = s.rig.Registers();
    for (int ch = 0; ch < 384; ++ch) {
        if (ch == 17 || ch == 250) continue;
        const auto i = static_cast<std::size_t>(ch);
        const double level = s.rig.instrument.BeamLevelAt(ch, regs.PinHole[i], regs.Gain[i]);
        EXPECT_GE(level, 1536 - 12) << ch;
        EXPECT_LE(level, 1741 + 12) << ch;
        EXPECT_EQ(regs.PinHole[i], s.state.PinHole[i]) << ch;
        EXPECT_EQ(regs.Gain[i], s.state.Gain[i]) << ch;
    }
    // The weak channel reached the window at PinHole 4, Gain 7 and kept it; the dead one ends
    // at the top, the saturated one at PinHole 2, Gain 0.
    EXPECT_EQ(s.rig.instrument.ChannelSetting(10), 7 * 32 + 4);
    EXPECT_EQ(s.rig.instrument.ChannelSetting(17), 7 * 32 + 7);
    EXPECT_EQ(s.rig.instrument.ChannelSetting(250), 0 * 32 + 2);
    EXPECT_FALSE(s.rig.CalFileExists());  // only the registers hold the result so far

    CalibrationValues cal;
    const DeviceCalibrationSave saved = SaveDeviceCalibration(ctx, cal);
    EXPECT_TRUE(saved.saved);
    EXPECT_EQ(cal.PinHole, regs.PinHole);
    EXPECT_EQ(cal.Gain, regs.Gain);
    EXPECT_EQ(s.rig.CalFile(), FormatCalibrationFile(regs));
    EXPECT_EQ(s.rig.dialogs.Messages(), std::vector<std::string>{kCalibrationSavingOk});
    EXPECT_EQ(s.view.texts.back(), "Saving CH383");
}

TEST(FactoryStation, AStoppedCalibrationSaysWhichChannelsWereWritten) {
    struct Case {
        const char* name;
        std::function<void(Station&)> arrange;
        RunOutcome outcome;
        std::string written;
        std::string message;
    };
    const Case cases[] = {
        {"a write fails while starting",
         [](Station& s) { s.rig.instrument.Faults().bad_echo_channels = {100}; },
         RunOutcome::WriteFailed,
         "channels 0..99 at the starting setting PinHole 3, Gain 7, channels 100..383 not "
         "written",
         ChannelWriteErrorMessage(100)},
        {"a write fails while stepping",
         [](Station& s) {
             s.keep_going = [&s] {
                 if (s.view.progress == 51) s.rig.instrument.Faults().bad_echo_channels = {52};
                 return true;
             };
         },
         RunOutcome::WriteFailed,
         "channels 0..51 calibrated, channel 52 stopped part-way through its search, channels "
         "53..383 at the starting setting PinHole 3, Gain 7",
         ChannelWriteErrorMessage(52)},
        {"a block does not come back",
         [](Station& s) { s.rig.instrument.Faults().short_blocks = sim::kAlways; },
         RunOutcome::ReadFailed, "channels 0..383 at the starting setting PinHole 3, Gain 7",
         "Ops...Data Sending ERROR reg(0)... Try again"},
        {"cancelled between channels",
         [](Station& s) { s.keep_going = [&s] { return s.view.progress < 9; }; },
         RunOutcome::Interrupted,
         "channels 0..9 calibrated, channels 10..383 at the starting setting PinHole 3, Gain 7",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Station s;
        SaveCalibration(s.rig.storage, CalibrationValues{});
        const std::string old_file = s.rig.CalFile();
        c.arrange(s);
        BenchContext ctx = s.Context();
        const StationCalibrationResult r = CalibrateStationChannels(ctx, s.state, 80, kMaxGainMode);
        EXPECT_EQ(r.outcome, c.outcome);
        EXPECT_EQ(r.WrittenText(), c.written);
        EXPECT_EQ(s.rig.dialogs.Messages(), c.message.empty()
                                                ? std::vector<std::string>{}
                                                : std::vector<std::string>{c.message});
        EXPECT_EQ(s.state.abort, c.outcome == RunOutcome::ReadFailed);
        EXPECT_EQ(s.rig.CalFile(), old_file);
        EXPECT_FALSE(s.view.calibrating);
    }
    // "Max.Power" has no calibration of its own: nothing is written.
    Station s;
    BenchContext ctx = s.Context();
    EXPECT_EQ(CalibrateStationChannels(ctx, s.state, 80, kMaxPowerMode).outcome,
              RunOutcome::Refused);
    EXPECT_EQ(s.rig.instrument.Stats().frames, 0u);
}

TEST(FactoryStation, ReadBackLimitsThePinHoleAndNeedsEveryChannel) {
    Station s;
    BenchContext ctx = s.Context();
    s.rig.instrument.SetChannelSetting(0, 0xE5);  // Gain 7, PinHole 5
    s.rig.instrument.SetChannelSetting(1, 0x3F);  // Gain 1, PinHole 31: limited to 7
    CalibrationValues cal;
    ASSERT_TRUE(SaveDeviceCalibration(ctx, cal).saved);
    EXPECT_EQ(cal.Gain[0], 7);
    EXPECT_EQ(cal.PinHole[0], 5);
    EXPECT_EQ(cal.Gain[1], 1);
    EXPECT_EQ(cal.PinHole[1], 7);

    // An instrument that stops answering leaves calvalue.dat and the tables as they were.
    const std::string file = s.rig.CalFile();
    const CalibrationValues before = cal;
    s.rig.instrument.Faults().silent = true;
    const DeviceCalibrationSave failed = SaveDeviceCalibration(ctx, cal);
    EXPECT_FALSE(failed.saved);
    EXPECT_EQ(failed.unanswered, std::vector<int>{0});
    EXPECT_EQ(s.rig.CalFile(), file);
    EXPECT_EQ(cal.PinHole, before.PinHole);
    EXPECT_EQ(s.rig.dialogs.Messages().back(),
              "Calibration NOT saved: the register of channel 0 did not answer, so calvalue.dat "
              "and the program's settings are unchanged. Check COM and Try again.");
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::vector<long> Numbers(const std::string& line) {
    std::istringstream in(line);
    std::vector<long> out;
    long v = 0;
    while (in >> v) out.push_back(v);
    return out;
}

TEST(FactoryStation, GainCurveFilesHaveOneBlockPerCombination) {
    Station s;
    BenchContext ctx = s.Context();
    s.rig.files.WriteFile("/inst/test_mean.txt", "an older test");
    const GainCurveResult r = RunGainCurveTest(ctx, s.state);
    ASSERT_EQ(r.outcome, RunOutcome::Completed);
    EXPECT_EQ(r.combinations, 64);

    const auto raw = SplitLines(s.rig.files.ReadFile("/inst/test_bk.txt"));
    const auto mean = SplitLines(s.rig.files.ReadFile("/inst/test_mean.txt"));
    const auto dev = SplitLines(s.rig.files.ReadFile("/inst/test_desv.txt"));
    ASSERT_EQ(raw.size(), 64u * 22u);
    ASSERT_EQ(mean.size(), 64u);
    ASSERT_EQ(dev.size(), 64u);
    for (int p = 0; p < 8; ++p) {
        for (int g = 0; g < 8; ++g) {
            const auto k = static_cast<std::size_t>(p * 8 + g);
            const std::string tag = "p" + std::to_string(p) + ",g" + std::to_string(g);
            ASSERT_EQ(raw[22 * k], "p=" + std::to_string(p) + ",g=" + std::to_string(g));
            for (std::size_t sample = 0; sample < 21; ++sample) {
                const std::string& line = raw[22 * k + 1 + sample];
                const std::string head = "[" + std::to_string(sample) + "] ";
                ASSERT_EQ(line.substr(0, head.size()), head);
                ASSERT_EQ(Numbers(line.substr(head.size())).size(), 384u);
            }
            ASSERT_EQ(mean[k].substr(0, tag.size() + 3), "[" + tag + "] ");
            const auto means = Numbers(mean[k].substr(tag.size() + 2));
            const auto devs = Numbers(dev[k].substr(tag.size() + 2));
            ASSERT_EQ(means.size(), 384u);
            ASSERT_EQ(devs.size(), 384u);
            for (int ch : {0, 100, 383}) {
                const double level = s.rig.instrument.BeamLevelAt(ch, p, g);
                EXPECT_NEAR(static_cast<double>(means[static_cast<std::size_t>(ch)]), level, 4.0)
                    << tag << " channel " << ch;
                EXPECT_LE(devs[static_cast<std::size_t>(ch)], 6) << tag;
            }
        }
    }
    EXPECT_EQ(s.view.curve_steps.front(), "Gain=0;Pinhole=0");
    EXPECT_EQ(s.view.curve_steps.back(), "Gain=7;Pinhole=7");
    EXPECT_EQ(s.rig.instrument.ChannelSetting(5), 7 * 32 + 7);
}

TEST(FactoryStation, CurveCombinationTextRoundsMeansAndDeviations) {
    std::vector<std::array<std::uint16_t, 385>> samples(21);
    for (std::size_t k = 0; k < 21; ++k) {
        samples[k].fill(1000);
        samples[k][0] = static_cast<std::uint16_t>(k);  // 0..20: mean 10, deviation 6.06
        samples[k][1] = k % 2 == 0 ? 3 : 2;             // eleven 3s, ten 2s: mean 2.52
    }
    const CurveCombinationText t = FormatCurveCombination(2, 5, samples);
    const auto raw = SplitLines(t.raw);
    ASSERT_EQ(raw.size(), 22u);
    EXPECT_EQ(raw[0], "p=2,g=5");
    EXPECT_EQ(raw[21].substr(0, 17), "[20] 20 3 1000 10");
    EXPECT_EQ(t.mean.substr(0, 23), "[p2,g5] 10 3 1000 1000 ");
    EXPECT_EQ(t.deviation.substr(0, 16), "[p2,g5] 6 0 0 0 ");
    EXPECT_EQ(t.mean.substr(t.mean.size() - 7), " 1000\r\n");
}

TEST(FactoryStation, SettingEveryChannelAndTheWindowsSmallProcedures) {
    struct TextCase {
        const char* text;
        int pin_hole;
        int gain;
    };
    for (const TextCase c :
         {TextCase{"3", 3, 3}, TextCase{"8", 8, 0}, TextCase{"9", 0, 0}, TextCase{"-1", 0, 0},
          TextCase{"2.7", 2, 2}, TextCase{"abc", 0, 0}, TextCase{" 7 ", 7, 7}}) {
        EXPECT_EQ(StationPinHoleFromText(c.text), c.pin_hole) << c.text;
        EXPECT_EQ(StationGainFromText(c.text), c.gain) << c.text;
    }

    Station s;
    BenchContext ctx = s.Context();
    EXPECT_EQ(WriteStationSettingToAll(ctx, 5, 1), RunOutcome::Completed);
    for (int ch : {0, 127, 128, 383}) EXPECT_EQ(s.rig.instrument.ChannelSetting(ch), 0x25);
    s.rig.instrument.Faults().bad_echo_channels = {7};
    int failed = -1;
    EXPECT_EQ(WriteStationSettingToAll(ctx, 2, 2, &failed), RunOutcome::WriteFailed);
    EXPECT_EQ(failed, 7);
    EXPECT_EQ(s.rig.dialogs.Messages().back(), kCommunicationErrorMessage);
    s.rig.instrument.Faults().bad_echo_channels.clear();

    // "Set All" only while the window reads online; every reply is shown.
    EXPECT_FALSE(SetAllChannelsNineTimes(ctx, s.state, 1, 1));
    s.state.online = true;
    EXPECT_TRUE(SetAllChannelsNineTimes(ctx, s.state, 1, 1));
    EXPECT_EQ(s.view.replies.size(), 384u * 9u);
    EXPECT_EQ(s.view.replies.back(), 383 - 128);
    EXPECT_EQ(s.rig.instrument.ChannelSetting(300), 0x21);
    EXPECT_TRUE(WriteSelectedChannel(ctx, 300, 4, 6));
    EXPECT_EQ(s.rig.instrument.ChannelSetting(300), 6 * 32 + 4);

    struct ToggleCase {
        const char* label;
        MsgResult answer;
        std::int16_t flag;
        const char* after;
        const char* question;
    };
    for (const ToggleCase c : {ToggleCase{"ENABLED", MsgResult::Yes, 0, "DISABLED",
                                          "Do you like to Disable Channel 12?"},
                               ToggleCase{"ENABLED", MsgResult::Cancel, -1, "ENABLED",
                                          "Do you like to Disable Channel 12?"},
                               ToggleCase{"DISABLED", MsgResult::Yes, -1, "ENABLED",
                                          "Do you like to Enable Channel 12?"},
                               ToggleCase{"DISABLED", MsgResult::No, 0, "DISABLED",
                                          "Do you like to Enable Channel 12?"}}) {
        testing::ScriptedDialogs dialogs;
        dialogs.QueueAnswer(c.answer);
        std::int16_t flag = std::string(c.label) == "ENABLED" ? -1 : 0;
        EXPECT_EQ(ToggleChannelEnabled(dialogs, 12, c.label, flag), c.after);
        EXPECT_EQ(flag, c.flag);
        EXPECT_EQ(dialogs.Messages(), std::vector<std::string>{c.question});
    }
}

TEST(FactoryStation, OnlineReadingsKeepTheirHistoryAndThresholdTrace) {
    Station s;
    s.zero.assign(385, 10.0);
    BenchContext ctx = s.Context();
    for (int k = 0; k < 10; ++k) ASSERT_TRUE(TakeOnlineReading(ctx, s.state));
    EXPECT_EQ(s.state.readings.trace[0], 0);  // not before the 11th reading
    ASSERT_TRUE(TakeOnlineReading(ctx, s.state));
    const BenchReadings& rd = s.state.readings;
    EXPECT_EQ(rd.row, 11);
    EXPECT_EQ(rd.count, 11);
    EXPECT_TRUE(rd.fresh);
    EXPECT_EQ(s.view.redraws, 11);
    for (std::size_t ch : {0u, 200u, 383u}) {
        int largest = 0;
        for (std::size_t r = 0; r < 11; ++r) largest = std::max<int>(largest, rd.history[r][ch]);
        EXPECT_EQ(rd.trace[ch], std::lround(largest * 0.9)) << ch;
        EXPECT_EQ(rd.history[10][ch], rd.current[ch]);
    }
    // The history wraps after 600 rows.
    s.state.readings.row = 599;
    ASSERT_TRUE(TakeOnlineReading(ctx, s.state));
    EXPECT_EQ(s.state.readings.row, 0);
    // A short block is reported and leaves its channels as they were.
    s.rig.instrument.Faults().short_blocks = 1;
    EXPECT_FALSE(TakeOnlineReading(ctx, s.state));
    EXPECT_FALSE(s.state.readings.block_whole[0]);
    EXPECT_TRUE(s.state.readings.block_whole[1]);
}

TEST(FactoryStation, ExitReleasesThePortInMultitask) {
    struct Case {
        const char* name;
        std::optional<std::string> before;
        int port;
        std::string after;
    };
    std::string all_zero;
    for (int p = 1; p <= 15; ++p) all_zero += std::to_string(p) + ",0\r\n";
    std::string busy;
    for (int p = 1; p <= 15; ++p) busy += std::to_string(p) + "," + std::to_string(p + 1) + "\r\n";
    std::string released = busy;
    released.replace(released.find("3,4"), 3, "3,0");
    const Case cases[] = {
        {"the port in use", busy, 3, released},
        {"no file yet", std::nullopt, 3, all_zero},
        {"a garbled file", std::string("x\r\n2,abc\r\n"), 5, all_zero},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimRig rig;
        if (c.before) rig.files.WriteFile("/inst/multitsk.dat", *c.before);
        ReleaseMultitaskPort(rig.storage, c.port);
        EXPECT_EQ(rig.files.ReadFile("/inst/multitsk.dat"), c.after);
    }
}

}  // namespace
}  // namespace lumivo
