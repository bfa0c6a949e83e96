// The device self-test against the in-process simulated instrument on a virtual clock: the
// verdict rules at their edges, a healthy plate's report byte for byte, a dead channel and a
// blocked column, a short block, the questions, and the calibrated settings written back.
#include "core/control/self_test.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "control_rig.h"
#include "support/sim_plates.h"

namespace lumivo {
namespace {

using testing::EmptyPlate;
using testing::SimRig;

class RecordingTestView final : public SelfTestView {
  public:
    void ShowCaption(const std::string& text) override { captions.push_back(text); }
    void ShowDoorHint(bool shown, const std::string& text) override {
        hint_shown = shown;
        if (shown) hint = text;
    }
    void DrawReadings(std::span<const std::uint16_t> readings) override {
        drawn_channels = readings.size();
        ++draws;
    }
    void DrawProgress(double percent) override { progress.push_back(percent); }
    void RestorePlot() override { ++restores; }
    void SetTestTimer(bool enabled) override { timer = enabled; }
    void ReportLine(const std::string& line, bool verdict) override {
        if (verdict) verdict_lines.push_back(line);
    }
    void OpenReport(const std::filesystem::path& file) override { opened = file; }
    void ShowStatusLine(const std::string& text) override { status = text; }

    std::vector<std::string> captions;
    bool hint_shown = false;
    std::string hint;
    std::size_t drawn_channels = 0;
    int draws = 0;
    std::vector<double> progress;
    int restores = 0;
    bool timer = false;
    std::vector<std::string> verdict_lines;
    std::filesystem::path opened;
    std::string status;
};

struct TestBench {
    explicit TestBench(sim::SimConfig config = EmptyPlate()) : rig(std::move(config)) {}

    SelfTestContext Context() { return {rig.link, rig.storage, view, offline, stopped}; }

    // calvalue.dat with PinHole 3, Gain 4 on every channel (and 0, 0 on channel 5: not in use).
    CalibrationValues WriteCalibration() {
        CalibrationValues cal;
        for (std::size_t c = 0; c < 384; ++c) {
            cal.PinHole[c] = 3;
            cal.Gain[c] = 4;
        }
        cal.PinHole[5] = 0;
        cal.Gain[5] = 0;
        SaveCalibration(rig.storage, cal);
        return cal;
    }

    // Starts the test (OK to the first question) and ticks while the timer runs.
    void Run(MsgResult proceed = MsgResult::Yes, int fault_at_step = -1,
             const std::function<void()>& fault = {}) {
        rig.dialogs.QueueAnswer(MsgResult::Ok);
        rig.dialogs.QueueAnswer(proceed);
        SelfTestContext ctx = Context();
        ASSERT_TRUE(StartSelfTest(ctx, state));
        for (int ticks = 0; state.Timer_test && ticks < 200; ++ticks) {
            if (state.DeviceTestStep == fault_at_step && fault) fault();
            SelfTestTick(ctx, state);
        }
        EXPECT_FALSE(state.Timer_test);
    }

    std::string Report() { return rig.files.ReadFile(state.report_path); }

    SimRig rig;
    RecordingTestView view;
    SelfTestState state;
    bool offline = false;
    bool stopped = true;
};

std::string Lines(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines) out += l + "\r\n";
    return out;
}

TEST(SelfTestVerdicts, JudgeTheThresholdsAtTheirEdges) {
    std::array<std::uint16_t, 385> r{};
    r.fill(2000);
    EXPECT_TRUE(JudgeAllOnTest(r).passed);
    r[17] = 0;
    r[250] = 1638;  // 1638.4 is the pass level: 1638 fails, 1639 passes
    r[251] = 1639;
    SelfTestVerdict on = JudgeAllOnTest(r);
    EXPECT_FALSE(on.passed);
    EXPECT_EQ(on.caption, "[Test100%= CHECK!]");
    EXPECT_EQ(on.lines, (std::vector<std::string>{"", "Test_all_100%:  NEEDS REVISION!",
                                                  "Number of Channels > 80% = 382",
                                                  "Channels < 80%: CH17[0%], CH250[79%], "}));
    EXPECT_EQ(on.failed_channels, (std::vector<int>{17, 250}));

    r.fill(1024);  // the dark pass level itself passes
    SelfTestVerdict off = JudgeAllOffTest(r);
    EXPECT_TRUE(off.passed);
    EXPECT_EQ(off.caption, "[Test0%=PASS!]");
    EXPECT_EQ(off.lines, (std::vector<std::string>{"", "Test_all_0%: OK PASS!",
                                                   "Number of Channels < 20% = 384"}));
    r[300] = 1025;
    off = JudgeAllOffTest(r);
    EXPECT_EQ(off.caption, "[Test0%= CHECK!]");
    EXPECT_EQ(off.lines, (std::vector<std::string>{"", "Test_all_0%:  NEEDS REVISION!",
                                                   "Number of Channels < 20% = 383",
                                                   "Channels > 20%: CH300[50%], "}));

    // Column 1 lit, one of its channels at 1500; channel 200 is row 8 and column 12.
    r.fill(0);
    for (int k = 0; k < 16; ++k) r[static_cast<std::size_t>(k)] = 2000;
    r[3] = 1500;
    SelfTestVerdict col = EvaluateColumnTest(0, r);
    EXPECT_EQ(col.caption, "Col[1]: CHECK!");
    EXPECT_EQ(col.lines,
              std::vector<std::string>{
                  "Col[1]: NONPASS 15CH > 80% (NONOK:CH3[73%], ); 368CH < 20% (NONOK:)"});
    r.fill(0);
    for (int k = 0; k < 16; ++k) r[static_cast<std::size_t>(12 * 16 + k)] = 2000;
    EXPECT_EQ(EvaluateColumnTest(12, r).lines, std::vector<std::string>{"Col[13]: PASS!"});
    SelfTestVerdict row = EvaluateRowTest(8, r);
    EXPECT_EQ(row.caption, "Row[9]: CHECK!");
    EXPECT_EQ(row.lines.front().rfind("Row[9]: NONPASS 1CH > 80% (NONOK:CH8[0%], CH24[0%], ", 0),
              0u);
    EXPECT_NE(row.lines.front().find("); 345CH < 20% (NONOK:CH192[97%], CH193[97%], "),
              std::string::npos);
    EXPECT_EQ(std::count(row.failed_channels.begin(), row.failed_channels.end(), 200), 0);
}

TEST(SelfTest, HealthyPlatePassesEveryVerdictAndWritesTheReportLineByLine) {
    TestBench b;
    const CalibrationValues cal = b.WriteCalibration();
    b.Run();

    EXPECT_EQ(b.state.end, SelfTestEnd::Completed);
    EXPECT_TRUE(SelfTestPassed(b.state));
    EXPECT_EQ(b.state.verdicts.size(), 42u);
    EXPECT_EQ(b.state.DeviceTestStep, 111);
    EXPECT_EQ(b.state.report_path, std::filesystem::path("/inst/testdev123.txt"));
    std::vector<std::string> cols;
    for (int c = 1; c <= 24; ++c) cols.push_back("Col[" + std::to_string(c) + "]: PASS!");
    std::vector<std::string> rows;
    for (int r = 1; r <= 16; ++r) rows.push_back("Row[" + std::to_string(r) + "]: PASS!");
    const std::string verdicts =
        Lines({"Serial:SN123 2026-03-14_09:30 (instrument LMVO00123)", "",
               "Test_all_100%: OK PASS!", "Number of Channels > 80% = 384", "",
               "Test_all_0%: OK PASS!", "Number of Channels < 20% = 384", "", "Test_24_Columns:"}) +
        Lines(cols) + Lines({"", "Test_16_Rows:"}) + Lines(rows) +
        Lines({"", "Gain/Power[2] Values:"});
    const std::string report = b.Report();
    ASSERT_EQ(report.substr(0, verdicts.size()), verdicts);
    // Then one line per channel with its reading at the middle setting (PinHole 2, Gain 2).
    std::size_t pos = verdicts.size();
    for (int ch = 0; ch < 384; ++ch) {
        const std::string head = "CH[" + std::to_string(ch) + "] ";
        ASSERT_EQ(report.compare(pos, head.size(), head), 0) << ch;
        const std::size_t end = report.find("%\r\n", pos);
        ASSERT_NE(end, std::string::npos);
        const int percent = std::stoi(report.substr(pos + head.size(), end - pos - head.size()));
        const int steady = static_cast<int>(b.rig.instrument.BeamLevelAt(ch, 2, 2) * 100 / 2048);
        EXPECT_NEAR(percent, steady, 1) << ch;
        pos = end + 3;
    }
    EXPECT_EQ(pos, report.size());

    // What the main window was shown along the way.
    EXPECT_EQ(b.view.hint, kDoorHint);
    EXPECT_FALSE(b.view.hint_shown);
    EXPECT_EQ(b.view.drawn_channels, 384u);
    EXPECT_EQ(b.view.draws, 111);
    EXPECT_DOUBLE_EQ(b.view.progress.back(), 110 * 0.83);
    EXPECT_EQ(b.view.opened, b.state.report_path);
    EXPECT_EQ(b.view.restores, 1);
    EXPECT_EQ(b.view.captions.front(), "LMVO00123");
    EXPECT_EQ(b.view.captions.back(), kNoTemperatureCaption);
    for (const char* c :
         {"[ON ALL]", "[Test100%=PASS!]", "[OFF ALL]", "[Test0%=PASS!]", "[1 COLUMN]",
          "Col[24]: PASS!", "[1 ROW]", "Row[16]: PASS!", "[GAIN/POWER=2]"}) {
        EXPECT_NE(std::find(b.view.captions.begin(), b.view.captions.end(), c),
                  b.view.captions.end())
            << c;
    }
    EXPECT_TRUE(b.rig.dialogs.Showed(kTurningOnMessage));
    EXPECT_TRUE(b.rig.dialogs.Showed(kTurningOffMessage));
    EXPECT_TRUE(b.rig.dialogs.AllAnswersUsed());

    // The beams hold their calibrated settings again, and the status line says so.
    EXPECT_EQ(b.rig.Registers().PinHole, cal.PinHole);
    EXPECT_EQ(b.rig.Registers().Gain, cal.Gain);
    EXPECT_EQ(b.view.status,
              "Device test completed: 42 of 42 verdicts PASS; the calibrated settings of "
              "calvalue.dat were written back to the instrument. Report: " +
                  b.state.report_path.string());
    EXPECT_EQ(b.Report().find("PARTIAL"), std::string::npos);
}

TEST(SelfTest, DeadChannelAndBlockedColumnGiveTheirNonPassLines) {
    sim::SimConfig config = EmptyPlate();
    config.channels[17].kind = sim::ChannelKind::kDead;  // row 1, column 1
    config.faults.blocked_columns = {5};                 // channels 80..95
    TestBench b(config);
    b.WriteCalibration();
    b.Run();
    EXPECT_EQ(b.state.end, SelfTestEnd::Completed);
    EXPECT_FALSE(SelfTestPassed(b.state));

    std::string blocked;
    for (int ch = 80; ch < 96; ++ch) blocked += "CH" + std::to_string(ch) + "[0%], ";
    std::vector<std::string> expected = {
        "",
        "Test_all_100%:  NEEDS REVISION!",
        "Number of Channels > 80% = 367",
        "Channels < 80%: CH17[0%], " + blocked,
        "",
        "Test_all_0%: OK PASS!",
        "Number of Channels < 20% = 384",
        "",
        "Test_24_Columns:",
        "Col[1]: PASS!",
        "Col[2]: NONPASS 15CH > 80% (NONOK:CH17[0%], ); 368CH < "
        "20% (NONOK:)",
        "Col[3]: PASS!",
        "Col[4]: PASS!",
        "Col[5]: PASS!",
        "Col[6]: NONPASS 0CH > 80% (NONOK:" + blocked + "); 368CH < 20% (NONOK:)"};
    for (int c = 7; c <= 24; ++c) expected.push_back("Col[" + std::to_string(c) + "]: PASS!");
    expected.insert(expected.end(), {"", "Test_16_Rows:"});
    for (int r = 0; r < 16; ++r) {
        std::string lit = r == 1 ? "22CH > 80% (NONOK:CH17[0%], CH81[0%], "
                                 : "23CH > 80% (NONOK:CH" + std::to_string(80 + r) + "[0%], ";
        expected.push_back("Row[" + std::to_string(r + 1) + "]: NONPASS " + lit +
                           "); 360CH < 20% (NONOK:)");
    }
    expected.insert(expected.end(), {"", "Gain/Power[2] Values:"});
    EXPECT_EQ(b.view.verdict_lines, expected);
    std::vector<int> failed = {17};
    for (int ch = 80; ch < 96; ++ch) failed.push_back(ch);
    EXPECT_EQ(SelfTestFailedChannels(b.state), failed);
    EXPECT_EQ(b.Report().substr(0, 54), "Serial:SN123 2026-03-14_09:30 (instrument LMVO00123)\r\n");
    EXPECT_NE(b.view.status.find("Device test completed: 23 of 42 verdicts PASS"),
              std::string::npos);
}

TEST(SelfTest, EndingEarlyStillWritesTheCalibratedSettingsBack) {
    struct Case {
        const char* name;
        MsgResult proceed;
        int fault_at_step;
        std::function<void(sim::Instrument&)> fault;
        bool with_calvalue;
        SelfTestEnd end;
        std::string caption;
        std::string status;
    };
    const std::string written_back =
        "the calibrated settings of calvalue.dat were written back to the instrument";
    const Case cases[] = {
        {"a short block", MsgResult::Yes, 25,
         [](sim::Instrument& i) { i.Faults().short_blocks = 1; }, true, SelfTestEnd::ComError,
         "COM Error", "Device test stopped (COM Error: a block reply was short); " + written_back},
        {"No to OK to proceed", MsgResult::No, -1, nullptr, true, SelfTestEnd::Declined,
         "LMVO00123", "Device test stopped (No to \"OK to proceed?\"); " + written_back},
        {"no calvalue.dat", MsgResult::No, -1, nullptr, false, SelfTestEnd::Declined, "LMVO00123",
         "Device test stopped (No to \"OK to proceed?\"); there is no calvalue.dat, so the beams "
         "keep the test's settings: run a calibration (Fast CALIB) before recording"},
        // A calvalue.dat that does not set every channel is no calibration: writing it back
        // would leave the beams at PinHole 0 / Gain 0 and say they were calibrated.
        {"a calvalue.dat of its header only", MsgResult::No, -1, nullptr, false,
         SelfTestEnd::Declined, "LMVO00123",
         "Device test stopped (No to \"OK to proceed?\"); calvalue.dat gives a valid setting to "
         "0 of the 384 channels only, so it is no calibration and the beams keep the test's "
         "settings: run a calibration (Fast CALIB) before recording"},
        {"a calvalue.dat with a setting out of range", MsgResult::No, -1, nullptr, false,
         SelfTestEnd::Declined, "LMVO00123",
         "Device test stopped (No to \"OK to proceed?\"); calvalue.dat gives a valid setting to "
         "383 of the 384 channels only, so it is no calibration and the beams keep the test's "
         "settings: run a calibration (Fast CALIB) before recording"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestBench b;
        CalibrationValues cal;
        if (c.with_calvalue) cal = b.WriteCalibration();
        const std::filesystem::path calvalue = "/inst/calvalue.dat";
        if (std::string(c.name) == "a calvalue.dat of its header only") {
            b.rig.files.WriteFile(calvalue, "\"<Num_Channel>, <PinHole>, <Gain> \"\r\n");
        } else if (std::string(c.name) == "a calvalue.dat with a setting out of range") {
            b.WriteCalibration();
            std::string text = b.rig.CalFile();
            const std::size_t at = text.find("\r\n7,3,4\r\n");
            ASSERT_NE(at, std::string::npos);
            text.replace(at, 9, "\r\n7,40,4\r\n");
            b.rig.files.WriteFile(calvalue, text);
        }
        const auto before = b.rig.Registers();
        b.Run(c.proceed, c.fault_at_step, [&] { c.fault(b.rig.instrument); });
        EXPECT_EQ(b.state.end, c.end);
        EXPECT_EQ(b.view.captions.back(), c.caption);
        EXPECT_EQ(b.view.status,
                  c.status + ". Report: " + b.state.report_path.string() + " (partial)");
        EXPECT_FALSE(b.view.timer);
        if (c.with_calvalue) {
            EXPECT_EQ(b.rig.Registers().PinHole, cal.PinHole);
            EXPECT_EQ(b.rig.Registers().Gain, cal.Gain);
        } else {
            EXPECT_NE(b.rig.Registers().Gain, before.Gain);  // channels 0..3 were switched off
        }
    }
    // The report of the short block holds the verdict reached before it.
    TestBench b;
    b.WriteCalibration();
    b.Run(MsgResult::Yes, 25, [&] { b.rig.instrument.Faults().short_blocks = 1; });
    // ... and says, at its end, that it is not the whole test (the earlier one it overwrote
    // may have been).
    EXPECT_EQ(b.Report(),
              "Serial:SN123 2026-03-14_09:30 (instrument LMVO00123)\r\n\r\nTest_all_100%: OK "
              "PASS!\r\nNumber of Channels > 80% = 384\r\n\r\nPARTIAL REPORT: the device test "
              "stopped (COM Error: a block reply was short) at step 25 of 110; the tests after "
              "that step were not carried out.\r\n");
    EXPECT_EQ(b.state.DeviceTestStep, 25);
}

TEST(SelfTest, AFailedChannelWriteEndsTheTestAndNamesTheChannel) {
    sim::SimConfig config = EmptyPlate();
    config.faults.bad_echo_channels = {40};  // row 8: switched on at step 12
    TestBench b(config);
    b.WriteCalibration();
    b.Run();
    EXPECT_EQ(b.state.end, SelfTestEnd::WriteFailed);
    EXPECT_TRUE(b.rig.dialogs.Showed(ChannelWriteErrorMessage(40)));
    EXPECT_EQ(b.state.DeviceTestStep, 122);
    EXPECT_EQ(b.view.restores, 1);
    EXPECT_EQ(b.view.status,
              "Device test stopped (a channel setting could not be written); channel 40 could "
              "not be written, so the calibrated settings were NOT all written back (channels "
              "0..39 were): run a calibration (Fast CALIB) before recording. Report: " +
                  b.state.report_path.string() + " (partial)");
    EXPECT_NE(b.Report().find("PARTIAL REPORT: the device test stopped (a channel setting could "
                              "not be written) at step 110 of 110"),
              std::string::npos);
}

TEST(SelfTest, RefusalsAndCancelChangeNothing) {
    {
        TestBench b;
        b.stopped = false;
        SelfTestContext ctx = b.Context();
        EXPECT_FALSE(StartSelfTest(ctx, b.state));
        EXPECT_EQ(b.rig.dialogs.Messages(), std::vector<std::string>{kStopBeforeTestingMessage});
    }
    TestBench b;
    b.rig.dialogs.QueueAnswer(MsgResult::Cancel);
    SelfTestContext ctx = b.Context();
    EXPECT_FALSE(StartSelfTest(ctx, b.state));
    EXPECT_EQ(b.rig.dialogs.Messages(), std::vector<std::string>{kSelfTestQuestion});
    EXPECT_FALSE(b.view.timer);
    EXPECT_EQ(b.view.restores, 1);
    EXPECT_EQ(b.rig.instrument.Stats().frames, 0u);
    EXPECT_FALSE(b.rig.files.IsFile("/inst/testdev123.txt"));
}

TEST(SelfTest, StoppingARunningTestRestoresTheBeams) {
    TestBench b;
    const CalibrationValues cal = b.WriteCalibration();
    b.rig.dialogs.QueueAnswer(MsgResult::Ok);
    b.rig.dialogs.QueueAnswer(MsgResult::Yes);
    SelfTestContext ctx = b.Context();
    ASSERT_TRUE(StartSelfTest(ctx, b.state));
    for (int i = 0; i < 10; ++i) SelfTestTick(ctx, b.state);
    StopSelfTest(ctx, b.state);
    EXPECT_EQ(b.state.end, SelfTestEnd::Stopped);
    EXPECT_FALSE(b.state.Timer_test);
    EXPECT_EQ(b.rig.Registers().Gain, cal.Gain);
    EXPECT_NE(b.view.status.find("stopped before its end; the calibrated settings"),
              std::string::npos);
}

}  // namespace
}  // namespace lumivo
