// The main window's device test and the factory windows driven as a user would, against the
// in-process simulated instrument on a virtual clock: the self-test runs to its verdicts on
// Timer_test and shows its grid over Picact; the factory windows open only online and stopped;
// Frm_Factory calibrates the temperature sensor; Frm_Bench calibrates every channel and reads
// the settings back into calvalue.dat.
#include <gtest/gtest.h>

#include <QMenu>
#include <QTest>

#include "app/main_window/device_test.h"
#include "app/main_window/factory_menu.h"
#include "app_test_support.h"
#include "core/storage/calibration_file.h"

namespace lumivo::app {
namespace {

using namespace testing;

// The program loaded, its window shown and connected to the instrument on COM1.
struct Connected : ConnectedRig {
    using ConnectedRig::ConnectedRig;
    DeviceTest& test() { return *r.window->findChild<DeviceTest*>("device_test"); }
    FactoryMenu& factory() { return *r.window->findChild<FactoryMenu*>("factory_menu"); }
};

// ---- The device test ----

struct SelfTestCase {
    const char* name;
    std::function<void(sim::SimConfig&)> fault;
    int verdicts_passed;                    // of the 42 (all on, all off, 24 columns, 16 rows)
    std::vector<std::string> report_lines;  // lines the report must hold
};

void PrintTo(const SelfTestCase& c, std::ostream* os) {
    *os << c.name;
}

class DeviceTestRun : public ::testing::TestWithParam<SelfTestCase> {};

TEST_P(DeviceTestRun, RunsOnTimerTestToItsVerdicts) {
    sim::SimConfig config = EmptyPlate();
    if (GetParam().fault) GetParam().fault(config);
    Connected c(config);
    CalibrationValues cal;  // the settings the beams get back at the end: PinHole 3, Gain 4
    cal.PinHole.fill(3);
    cal.Gain.fill(4);
    SaveCalibration(c.r.ctx->storage, cal);
    c.r.dialogs.QueueAnswer(MsgResult::Ok);   // "DEVICE TEST: ..."
    c.r.dialogs.QueueAnswer(MsgResult::Yes);  // "OK to proceed?"
    Control<QAction>(&c.w(), "mn_selftest")->trigger();
    QTimer* timer = Control<QTimer>(&c.test(), "Timer_test");
    ASSERT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 100);
    EXPECT_EQ(Text(Control<QAction>(&c.w(), "mn_selftest")), "Stop device test");
    EXPECT_FALSE(Control<QPushButton>(&c.w(), "CmdPlay")->isEnabled());
    EXPECT_FALSE(Control<QWidget>(&c.w(), "frm_mn1")->isEnabled());

    // One step per tick; what the main window shows at the column steps.
    int ticks = 0;
    bool grid_shown = false;
    bool hint_shown = false;
    std::string caption_at_columns;
    while (timer->isActive() && ticks < 200) {
        c.test().Timer_test_Timer();
        ++ticks;
        if (ticks == 45) {
            grid_shown = Control<QWidget>(&c.w(), "self_test_grid")->isVisible();
            hint_shown = Control<QLabel>(&c.w(), "lbl_autostart")->isVisible();
            caption_at_columns = Text(Control<QLabel>(&c.w(), "lbl_temperature"));
        }
    }
    EXPECT_EQ(ticks, 111);
    EXPECT_TRUE(grid_shown);
    EXPECT_TRUE(hint_shown);
    EXPECT_EQ(caption_at_columns, "Col[6]: PASS!");
    EXPECT_EQ(c.test().state().end, SelfTestEnd::Completed);
    EXPECT_EQ(SelfTestPassed(c.test().state()), GetParam().verdicts_passed == 42);

    // The display is given back and the report handed to the desktop's viewer.
    EXPECT_FALSE(Control<QWidget>(&c.w(), "self_test_grid")->isVisible());
    EXPECT_EQ(Control<QLabel>(&c.w(), "lbl_temperature")->text(), QString::fromUtf8("T = __ °C"));
    EXPECT_EQ(Text(Control<QAction>(&c.w(), "mn_selftest")), "Device test");
    EXPECT_TRUE(Control<QPushButton>(&c.w(), "CmdPlay")->isEnabled());
    EXPECT_TRUE(Control<QWidget>(&c.w(), "frm_mn1")->isEnabled());
    EXPECT_EQ(c.r.opened_documents, std::vector<std::string>{"/inst/testdev123.txt"});
    const std::string report = c.r.files.ReadFile("/inst/testdev123.txt");
    EXPECT_EQ(report.rfind("Serial:SN123 2026-03-14_09:30 (instrument LMVO00123)\r\n", 0), 0u)
        << report.substr(0, 40);
    for (const auto& line : GetParam().report_lines)
        EXPECT_NE(report.find("\r\n" + line + "\r\n"), std::string::npos) << line;
    const std::string status = Text(Control<QLabel>(&c.w(), "lbl_status"));
    EXPECT_NE(status.find("completed: " + std::to_string(GetParam().verdicts_passed) +
                          " of 42 verdicts PASS"),
              std::string::npos)
        << status;
    EXPECT_NE(status.find("written back to the instrument"), std::string::npos) << status;
    // The status line says where the report is, as the desktop may have no viewer for it.
    EXPECT_NE(status.find("Report: /inst/testdev123.txt"), std::string::npos) << status;
    for (int ch : {0, 200, 383}) EXPECT_EQ(c.r.instrument.ChannelSetting(ch), 4 * 32 + 3) << ch;
    EXPECT_TRUE(c.r.dialogs.Showed("Turning ON A1-D1"));
}

INSTANTIATE_TEST_SUITE_P(
    Plates, DeviceTestRun,
    ::testing::Values(
        SelfTestCase{
            "Healthy",
            {},
            42,
            {"Test_all_100%: OK PASS!", "Number of Channels > 80% = 384", "Test_all_0%: OK PASS!",
             "Col[1]: PASS!", "Col[24]: PASS!", "Row[16]: PASS!"}},
        SelfTestCase{"DeadChannel200",
                     [](sim::SimConfig& s) { s.channels[200].kind = sim::ChannelKind::kDead; },
                     39,
                     {"Test_all_100%:  NEEDS REVISION!", "Number of Channels > 80% = 383",
                      "Channels < 80%: CH200[0%], ",
                      "Col[13]: NONPASS 15CH > 80% (NONOK:CH200[0%], ); 368CH < 20% (NONOK:)",
                      "Row[9]: NONPASS 23CH > 80% (NONOK:CH200[0%], ); 360CH < 20% (NONOK:)",
                      "Col[12]: PASS!"}},
        SelfTestCase{"BlockedColumn4",
                     [](sim::SimConfig& s) { s.faults.blocked_columns = {3}; },
                     24,
                     {"Number of Channels > 80% = 368",
                      "Col[4]: NONPASS 0CH > 80% (NONOK:CH48[0%], CH49[0%], CH50[0%], CH51[0%], "
                      "CH52[0%], CH53[0%], CH54[0%], CH55[0%], CH56[0%], CH57[0%], CH58[0%], "
                      "CH59[0%], CH60[0%], CH61[0%], CH62[0%], CH63[0%], ); 368CH < 20% (NONOK:)",
                      "Test_all_0%: OK PASS!", "Col[5]: PASS!"}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(DeviceTest, RefusedWhileAnAcquisitionRunsAndDeclinedAtTheQuestion) {
    Connected c;
    AcquisitionState& run = Acquisition(c.w()).engine().StateForTests();
    run.AcquisitionRunning = RunState::Paused;
    Control<QAction>(&c.w(), "mn_selftest")->trigger();
    run.AcquisitionRunning = RunState::Stopped;
    // A blank samples on the acquisition's timer: the test waits for it too.
    Control<QAction>(&c.w(), "mncal_on")->trigger();
    QTest::mouseClick(Control<QPushButton>(&c.w(), "Cmd_readblank"), Qt::LeftButton);
    ASSERT_TRUE(Acquisition(c.w()).engine().BlankActive());
    Control<QAction>(&c.w(), "mn_selftest")->trigger();
    QTest::mouseClick(Control<QPushButton>(&c.w(), "CmdStop"), Qt::LeftButton);
    EXPECT_EQ(c.r.dialogs.Messages(),
              (std::vector<std::string>{"Stop acquisition before Testing",
                                        "Stop acquisition before Testing"}));
    EXPECT_FALSE(c.test().Running());

    // Cancel to the first question: nothing starts, nothing is written.
    c.r.dialogs.QueueAnswer(MsgResult::Cancel);
    Control<QAction>(&c.w(), "mn_selftest")->trigger();
    EXPECT_FALSE(Control<QTimer>(&c.test(), "Timer_test")->isActive());
    EXPECT_FALSE(c.r.files.IsFile("/inst/testdev123.txt"));

    // No to "OK to proceed?" stops the test at step 3 and gives the commands back.
    c.r.dialogs.QueueAnswer(MsgResult::Ok);
    c.r.dialogs.QueueAnswer(MsgResult::No);
    Control<QAction>(&c.w(), "mn_selftest")->trigger();
    for (int i = 0; i < 10 && c.test().Running(); ++i) c.test().Timer_test_Timer();
    EXPECT_EQ(c.test().state().end, SelfTestEnd::Declined);
    EXPECT_EQ(c.test().state().DeviceTestStep, 4);
    EXPECT_TRUE(Control<QPushButton>(&c.w(), "CmdPlay")->isEnabled());
    EXPECT_EQ(Text(Control<QAction>(&c.w(), "mn_selftest")), "Device test");
}

TEST(DeviceTest, ItsMenuEntryStopsItAndTheBeamsGetTheirSettingsBack) {
    Connected c;
    CalibrationValues cal;
    cal.PinHole.fill(5);
    cal.Gain.fill(1);
    SaveCalibration(c.r.ctx->storage, cal);
    c.r.dialogs.QueueAnswer(MsgResult::Ok);
    c.r.dialogs.QueueAnswer(MsgResult::Yes);
    Control<QAction>(&c.w(), "mn_selftest")->trigger();
    for (int i = 0; i < 30; ++i) c.test().Timer_test_Timer();
    Control<QAction>(&c.w(), "mn_selftest")->trigger();
    EXPECT_EQ(c.test().state().end, SelfTestEnd::Stopped);
    EXPECT_FALSE(Control<QTimer>(&c.test(), "Timer_test")->isActive());
    EXPECT_FALSE(Control<QWidget>(&c.w(), "self_test_grid")->isVisible());
    EXPECT_NE(Text(Control<QLabel>(&c.w(), "lbl_status")).find("stopped before its end"),
              std::string::npos);
    // The report it overwrote says it is partial, and the status line where it is.
    EXPECT_NE(c.r.files.ReadFile("/inst/testdev123.txt")
                  .find("PARTIAL REPORT: the device test stopped before its end at step 30 of "
                        "110"),
              std::string::npos);
    EXPECT_NE(
        Text(Control<QLabel>(&c.w(), "lbl_status")).find("Report: /inst/testdev123.txt (partial)"),
        std::string::npos);
    for (int ch : {0, 200, 383}) EXPECT_EQ(c.r.instrument.ChannelSetting(ch), 1 * 32 + 5) << ch;
    EXPECT_EQ(Text(Control<QAction>(&c.w(), "mn_selftest")), "Device test");
    EXPECT_TRUE(Control<QWidget>(&c.w(), "frm_mn1")->isEnabled());
}

TEST(DeviceTest, ShortBlockStopsWithComErrorAndGivesTheCommandsBack) {
    Connected c;
    c.r.dialogs.QueueAnswer(MsgResult::Ok);
    c.r.dialogs.QueueAnswer(MsgResult::Yes);
    Control<QAction>(&c.w(), "mn_selftest")->trigger();
    for (int i = 0; i < 10; ++i) c.test().Timer_test_Timer();
    c.r.instrument.Faults().short_blocks = sim::kAlways;
    c.test().Timer_test_Timer();
    EXPECT_EQ(c.test().state().end, SelfTestEnd::ComError);
    EXPECT_FALSE(Control<QTimer>(&c.test(), "Timer_test")->isActive());
    EXPECT_EQ(Text(Control<QLabel>(&c.w(), "lbl_temperature")), "COM Error");
    EXPECT_NE(Text(Control<QLabel>(&c.w(), "lbl_status")).find("COM Error"), std::string::npos);
    EXPECT_TRUE(Control<QPushButton>(&c.w(), "CmdPlay")->isEnabled());
    EXPECT_EQ(Text(Control<QAction>(&c.w(), "mn_selftest")), "Device test");
}

// ---- The factory windows ----

TEST(FactoryWindows, OpenOnlyOnlineAndStopped) {
    const char* refusal = "Only possible to access in: ONLINE mode and STOP experiment";
    {
        AppRig offline(0);
        offline.window->Form_Load("");
        for (const char* entry : {"mn_factory_sensor", "mn_factory_bench"})
            Control<QAction>(offline.window.get(), entry)->trigger();
        EXPECT_EQ(offline.dialogs.Messages(), (std::vector<std::string>{refusal, refusal}));
    }
    Connected c;
    AcquisitionState& run = Acquisition(c.w()).engine().StateForTests();
    for (RunState state : {RunState::Running, RunState::Paused}) {
        run.AcquisitionRunning = state;
        Control<QAction>(&c.w(), "mn_factory_bench")->trigger();
        EXPECT_EQ(c.r.dialogs.Messages().back(), refusal);
        EXPECT_EQ(c.factory().bench_window(), nullptr);
    }
    run.AcquisitionRunning = RunState::Stopped;
    EXPECT_TRUE(Control<QAction>(&c.w(), "mn_factory")->isEnabled());
}

TEST(FactoryWindows, TemperatureSensorWindowCalibratesTheSensor) {
    Connected c;
    c.r.instrument.SetTemperatureC(25.0);
    Control<QAction>(&c.w(), "mn_factory_sensor")->trigger();
    Frm_Factory* f = c.factory().sensor_window();
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(f->isVisible());
    EXPECT_FALSE(c.w().isVisible());
    EXPECT_EQ(Text(Control<QLabel>(f, "lblserial")), "SERIAL : LMVO00123");
    EXPECT_EQ(Text(Control<QLineEdit>(f, "txt_mensaje")),
              "OK Last Factory Calibration 01/24 [mm/yy]");
    EXPECT_EQ(Text(Control<QLineEdit>(f, "txt_set_temp")), "25.0");
    QTimer* timer = Control<QTimer>(f, "Timer_temp");
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 1000);
    f->Timer_temp_Timer();
    const int raw = c.r.instrument.RawTemperature();
    EXPECT_EQ(Text(Control<QLineEdit>(f, "txt_current_temp")), FormatOneDecimal(raw * 0.219));

    // Out of 4.0..50.0: refused, nothing written.
    QLineEdit* set = Control<QLineEdit>(f, "txt_set_temp");
    for (const char* text : {"3.9", "50.1", "warm"}) {
        set->setText(text);
        QTest::mouseClick(Control<QPushButton>(f, "Cmd_temp"), Qt::LeftButton);
        EXPECT_EQ(c.r.dialogs.Messages().back(), kInvalidReferenceMessage) << text;
    }
    EXPECT_EQ(c.r.instrument.SensorRegister(1), 1);

    set->setText("26.5");
    QTest::mouseClick(Control<QPushButton>(f, "Cmd_temp"), Qt::LeftButton);
    EXPECT_EQ(f->last_result().outcome, SensorCalibrationOutcome::Calibrated);
    const auto expected =
        SensorCalibrationRegisters(26.5 - raw * 0.219, 0.219, 3, 26);  // the clock: March 2026
    for (int reg = 0; reg < 7; ++reg)
        EXPECT_EQ(c.r.instrument.SensorRegister(reg), expected[static_cast<std::size_t>(reg)])
            << reg;
    EXPECT_EQ(Text(Control<QLineEdit>(f, "txt_mensaje")),
              "OK Last Factory Calibration 03/26 [mm/yy]");
    // The offset as the instrument stores it (tenths), and the reading follows it at once,
    // before the next tick of the timer.
    EXPECT_DOUBLE_EQ(c.r.ctx->link.sensor.offset, expected[4] / 10.0);
    EXPECT_EQ(Text(Control<QLineEdit>(f, "txt_current_temp")),
              FormatOneDecimal(raw * 0.219 + expected[4] / 10.0));
    EXPECT_EQ(Text(Control<QLineEdit>(f, "txt_current_temp")), "26.5");

    // A temperature query without answer: refused, nothing written, the status kept.
    c.r.instrument.Faults().silent = true;
    set->setText("20.0");
    QTest::mouseClick(Control<QPushButton>(f, "Cmd_temp"), Qt::LeftButton);
    EXPECT_EQ(f->last_result().outcome, SensorCalibrationOutcome::NoTemperature);
    EXPECT_EQ(c.r.dialogs.Messages().back(), kNoTemperatureReadingMessage);
    EXPECT_EQ(c.r.instrument.SensorRegister(4), expected[4]);
    EXPECT_EQ(Text(Control<QLineEdit>(f, "txt_mensaje")),
              "OK Last Factory Calibration 03/26 [mm/yy]");
    c.r.instrument.Faults().silent = false;

    QTest::mouseClick(Control<QPushButton>(f, "cmdclose"), Qt::LeftButton);
    EXPECT_FALSE(f->isVisible());
    EXPECT_FALSE(timer->isActive());
    EXPECT_TRUE(c.w().isVisible());
}

TEST(FactoryWindows, BenchCalibratesEveryChannelAndSavesTheRegisters) {
    Connected c;
    Control<QAction>(&c.w(), "mn_factory_bench")->trigger();
    Frm_Bench* b = c.factory().bench_window();
    ASSERT_NE(b, nullptr);
    EXPECT_FALSE(c.w().isVisible());
    EXPECT_EQ(Text(Control<QLineEdit>(b, "Txtajuste")), "85");
    QTimer* timerreal = Control<QTimer>(b, "Timerreal");
    ASSERT_TRUE(timerreal->isActive());
    for (int i = 0; i < 12; ++i) b->Timerreal_Timer();
    EXPECT_EQ(b->station().readings.count, 12);
    EXPECT_GT(b->station().readings.trace[5], 0);

    // The chosen channel: its setting from the scroll bars, its state from lblstatus.
    b->SelectChannel(40);
    EXPECT_EQ(Text(Control<QLabel>(b, "lblcanal")), "CH 40 [I3]");
    Control<QScrollBar>(b, "scrollpower")->setValue(5);
    EXPECT_EQ(c.r.instrument.ChannelSetting(40) & 31, 5);
    EXPECT_EQ(Text(Control<QLineEdit>(b, "txtpower")), "5");
    c.r.dialogs.QueueAnswer(MsgResult::Yes);
    QTest::mouseDClick(Control<QLabel>(b, "lblstatus"), Qt::LeftButton);
    EXPECT_EQ(Text(Control<QLabel>(b, "lblstatus")), "DISABLED");
    EXPECT_EQ(c.r.state().project.ChannelEnabled[40], 0);

    // The automatic calibration lands every channel in the window 1638..1843.
    QTest::mouseClick(Control<QPushButton>(b, "Cmdcalibrar"), Qt::LeftButton);
    const StationCalibrationResult& r = b->last_calibration();
    EXPECT_EQ(r.outcome, RunOutcome::Completed);
    EXPECT_EQ(r.window.low, 1638);
    EXPECT_EQ(r.window.high, 1843);
    EXPECT_TRUE(r.ChannelsOutsideWindow().empty());
    EXPECT_FALSE(timerreal->isActive());
    EXPECT_FALSE(c.r.files.IsFile("/inst/calvalue.dat"));
    EXPECT_EQ(Text(Control<QPushButton>(b, "Cmdcalibrar")), "<CALIBRATE>& Auto-Gain");

    // "Save Calibration" reads the registers back into calvalue.dat.
    QTest::mouseClick(Control<QPushButton>(b, "cmd_savecal"), Qt::LeftButton);
    EXPECT_EQ(c.r.dialogs.Messages().back(), "Calibration Saving OK");
    CalibrationValues registers;
    for (std::size_t ch = 0; ch < 384; ++ch) {
        const std::uint8_t s = c.r.instrument.ChannelSetting(static_cast<int>(ch));
        registers.PinHole[ch] = static_cast<std::int16_t>(std::min(s & 31, 7));
        registers.Gain[ch] = static_cast<std::int16_t>(s >> 5);
    }
    EXPECT_EQ(c.r.files.ReadFile("/inst/calvalue.dat"), FormatCalibrationFile(registers));

    // One setting for every channel; then the exit releases the port in multitsk.dat.
    Control<QLineEdit>(b, "txt_power")->setText("4");
    Control<QLineEdit>(b, "txt_ganancia")->setText("9");  // no such gain: 0
    QTest::mouseClick(Control<QPushButton>(b, "cmd_setcalibra"), Qt::LeftButton);
    EXPECT_EQ(Text(Control<QLineEdit>(b, "txt_ganancia")), "0");
    for (int ch : {0, 200, 383}) EXPECT_EQ(c.r.instrument.ChannelSetting(ch), 4) << ch;
    c.r.dialogs.QueueAnswer(MsgResult::No);  // "Update values to project ... before Exit?"
    QTest::mouseClick(Control<QPushButton>(b, "Command2"), Qt::LeftButton);
    EXPECT_EQ(c.r.files.ReadFile("/inst/multitsk.dat").substr(0, 8), "1,0\r\n2,0");
    EXPECT_EQ(c.r.exits, std::vector<int>{0});
}

TEST(FactoryWindows, BenchStopsOnASecondPressAndKeepsOnlyWhatWasDone) {
    Connected c;
    Control<QAction>(&c.w(), "mn_factory_bench")->trigger();
    Frm_Bench* b = c.factory().bench_window();
    ASSERT_NE(b, nullptr);

    // "STOP" between two channels: the calibration ends there and says what it wrote.
    QPushButton* calibrate = Control<QPushButton>(b, "Cmdcalibrar");
    bool stop_shown = false;
    c.r.dialogs.on_events = [&] {
        stop_shown = Text(calibrate) == "STOP" && !Control<QPushButton>(b, "cmdTEST")->isEnabled();
        b->Cmdcalibrar_Click();
    };
    QTest::mouseClick(calibrate, Qt::LeftButton);
    EXPECT_TRUE(stop_shown);
    EXPECT_EQ(b->last_calibration().outcome, RunOutcome::Interrupted);
    EXPECT_NE(Text(Control<QLabel>(b, "lbl_result")).find("Calibration NOT completed"),
              std::string::npos);
    EXPECT_TRUE(Control<QLabel>(b, "lblcalibrando")->isHidden());
    EXPECT_TRUE(Control<QPushButton>(b, "cmdTEST")->isEnabled());
    EXPECT_FALSE(c.r.files.IsFile("/inst/calvalue.dat"));

    // The gain curve stopped during its first combination keeps that one in each file.
    c.r.dialogs.QueueAnswer(MsgResult::Yes);
    c.r.dialogs.on_events = [&] { b->cmdTEST_Click(); };
    QTest::mouseClick(Control<QPushButton>(b, "cmdTEST"), Qt::LeftButton);
    EXPECT_EQ(b->last_curve().outcome, RunOutcome::Interrupted);
    EXPECT_EQ(b->last_curve().combinations, 1);
    EXPECT_EQ(Text(Control<QLineEdit>(b, "txt_test")), "Gain=0;Pinhole=0");
    const std::string mean = c.r.files.ReadFile("/inst/test_mean.txt");
    EXPECT_EQ(mean.rfind("[p0,g0] ", 0), 0u);
    EXPECT_EQ(std::count(mean.begin(), mean.end(), ' '), 384);
    EXPECT_EQ(std::count(mean.begin(), mean.end(), '\n'), 1);
    const std::string raw = c.r.files.ReadFile("/inst/test_bk.txt");
    EXPECT_EQ(std::count(raw.begin(), raw.end(), '\n'), 22);  // "p=0,g=0" and 21 samples
    EXPECT_EQ(Text(Control<QPushButton>(b, "cmdTEST")), "Gain curve test");

    // Closing the window gives the main window back.
    QTest::mouseClick(Control<QPushButton>(b, "cmdclose"), Qt::LeftButton);
    EXPECT_FALSE(b->isVisible());
    EXPECT_TRUE(c.w().isVisible());
    EXPECT_FALSE(Control<QTimer>(b, "Timerreal")->isActive());
}

}  // namespace
}  // namespace lumivo::app
