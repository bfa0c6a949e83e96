// The calibration, light and temperature controls of Frm_Main driven as a user would, against
// the simulated instrument on a virtual clock: Fast CALIB and Fast ZERO run stand-alone (and
// stop on a second press), Read Blank, the menus, the light and temperature buttons and the
// text boxes.
#include "app/main_window/control_panels.h"

#include <gtest/gtest.h>

#include <QMenu>
#include <QPlainTextEdit>
#include <QTest>

#include "app/main_window/acquisition_window.h"
#include "app_test_support.h"
#include "core/acquisition/acquisition_engine.h"
#include "core/storage/calibration_file.h"

namespace lumivo::app {
namespace {

using namespace testing;

// The program loaded, its window shown and connected to the instrument on COM1.
struct Connected : ConnectedRig {
    ControlPanels& panels() { return Panels(*r.window); }
    void Edit(QLineEdit* box, const char* text) {
        box->setText(text);
        emit box->editingFinished();
    }
};

TEST(ControlPanels, LoadLeavesAutomaticCalibrationOnAndThePanelsUsable) {
    Connected c;
    EXPECT_TRUE(Control<QCheckBox>(&c.w(), "mnCalibra")->isChecked());
    EXPECT_FALSE(Control<QCheckBox>(&c.w(), "mnCalibra")->isEnabled());
    EXPECT_TRUE(Control<QPushButton>(&c.w(), "cmd_calibra")->isHidden());
    EXPECT_TRUE(Control<QPushButton>(&c.w(), "Cmd_readblank")->isHidden());
    // The menu's ticks follow the controls when it opens.
    for (QObject* o : Control<QAction>(&c.w(), "mncal_off")->associatedObjects()) {
        if (auto* menu = qobject_cast<QMenu*>(o)) emit menu->aboutToShow();
    }
    EXPECT_TRUE(Control<QAction>(&c.w(), "mncal_off")->isChecked());
    EXPECT_FALSE(Control<QAction>(&c.w(), "mncal_on")->isChecked());
    EXPECT_TRUE(Control<QAction>(&c.w(), "mncal_on")->isEnabled());
    EXPECT_TRUE(Control<QPushButton>(&c.w(), "cmd_luz")->isEnabled());

    Control<QAction>(&c.w(), "mncal_on")->trigger();
    EXPECT_TRUE(Control<QAction>(&c.w(), "mncal_on")->isChecked());
    EXPECT_FALSE(Control<QPushButton>(&c.w(), "Cmd_readblank")->isHidden());
    EXPECT_TRUE(Control<QCheckBox>(&c.w(), "mnCalibra")->isEnabled());
    Control<QCheckBox>(&c.w(), "mnCalibra")->click();
    EXPECT_FALSE(c.r.ctx->tools.calibration.AutoCalibrateOnStart);
    EXPECT_FALSE(Control<QPushButton>(&c.w(), "cmd_calibra")->isHidden());
    EXPECT_EQ(c.r.state().project.ToolParams[1][1], 0);
}

// Fast CALIB and Fast ZERO are also entries of the Calibration menu, there whether or not the
// panel shows their buttons, saying when they can be used; a second choice stops them.
TEST(ControlPanels, FastCalibAndZeroAreCalibrationMenuEntries) {
    Connected c;
    ASSERT_TRUE(Control<QPushButton>(&c.w(), "cmd_calibra")->isHidden());
    QAction* calib = Control<QAction>(&c.w(), "mn_fastcalib");
    QAction* zero = Control<QAction>(&c.w(), "mn_fastzero");
    ASSERT_NE(calib, nullptr);
    ASSERT_NE(zero, nullptr);
    EXPECT_TRUE(calib->isEnabled());
    EXPECT_EQ(calib->text().toStdString(), kFastCalibEntry);
    EXPECT_NE(calib->toolTip().indexOf("Auto Calibration is unticked"), -1);
    EXPECT_NE(zero->toolTip().indexOf("Auto Zero is unticked"), -1);

    // Chosen again while it runs, the entry (now "Stop ...") stops it.
    std::string caption_while_running;
    c.r.dialogs.on_events = [&] {
        caption_while_running = calib->text().toStdString();
        calib->trigger();
    };
    calib->trigger();
    EXPECT_EQ(caption_while_running, "Stop Fast CALIB");
    EXPECT_EQ(c.panels().last_calibration().outcome, RunOutcome::Interrupted);
    EXPECT_EQ(calib->text().toStdString(), kFastCalibEntry);
    calib->trigger();
    EXPECT_EQ(c.panels().last_calibration().outcome, RunOutcome::Completed);
    zero->trigger();
    EXPECT_EQ(Text(Control<QLabel>(&c.w(), "lbl_autochannel")).rfind("AutoZero completed over ", 0),
              0u);

    // Offline they wait for the instrument, and say so.
    Control<QPushButton>(&c.w(), "Cmd_disconnect")->click();
    for (QObject* o : calib->associatedObjects())
        if (auto* menu = qobject_cast<QMenu*>(o)) emit menu->aboutToShow();
    EXPECT_FALSE(calib->isEnabled());
    EXPECT_NE(calib->toolTip().indexOf("press Connect first"), -1);
}

TEST(ControlPanels, FastCalibRunsStandAloneAndSavesTheCalibration) {
    Connected c;
    Control<QAction>(&c.w(), "mncal_on")->trigger();
    Control<QCheckBox>(&c.w(), "mnCalibra")->click();
    QTest::mouseClick(Control<QPushButton>(&c.w(), "cmd_calibra"), Qt::LeftButton);

    EXPECT_EQ(c.panels().last_calibration().outcome, RunOutcome::Completed);
    EXPECT_EQ(Text(Control<QLabel>(&c.w(), "lbl_autochannel")),
              "Calibration OK: 192 channels in the window, 0 dead, 0 saturated");
    EXPECT_FALSE(Control<AutoActionFrame>(&c.w(), "frm_autotext")->isVisible());
    EXPECT_EQ(Text(Control<QPushButton>(&c.w(), "cmd_calibra")), "Fast CALIB");
    EXPECT_TRUE(Control<QPushButton>(&c.w(), "CmdPlay")->isEnabled());
    ASSERT_TRUE(c.r.files.IsFile("/inst/calvalue.dat"));
    CalibrationValues registers;
    for (std::size_t ch = 0; ch < 384; ++ch) {
        const std::uint8_t s = c.r.instrument.ChannelSetting(static_cast<int>(ch));
        registers.PinHole[ch] = static_cast<std::int16_t>(s & 31);
        registers.Gain[ch] = static_cast<std::int16_t>(s >> 5);
    }
    EXPECT_EQ(c.r.files.ReadFile("/inst/calvalue.dat"), FormatCalibrationFile(registers));
    EXPECT_TRUE(c.r.dialogs.Messages().empty());
}

TEST(ControlPanels, SecondPressStopsAStandAloneRunWithoutSaving) {
    Connected c;
    Control<QAction>(&c.w(), "mncal_on")->trigger();
    Control<QCheckBox>(&c.w(), "mnCalibra")->click();
    QPushButton* button = Control<QPushButton>(&c.w(), "cmd_calibra");
    bool was_stop = false;
    bool play_disabled = false;
    c.r.dialogs.on_events = [&] {
        was_stop = Text(button) == "STOP";
        play_disabled = !Control<QPushButton>(&c.w(), "CmdPlay")->isEnabled();
        c.panels().cmd_calibra_Click();  // the user presses it again
    };
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(was_stop);
    EXPECT_TRUE(play_disabled);
    EXPECT_EQ(c.panels().last_calibration().outcome, RunOutcome::Interrupted);
    EXPECT_FALSE(c.r.files.IsFile("/inst/calvalue.dat"));
    EXPECT_EQ(Text(Control<QLabel>(&c.w(), "lbl_autochannel")), kCalibrationInterruptedStatus);
    EXPECT_EQ(Text(button), "Fast CALIB");
    EXPECT_TRUE(Control<QPushButton>(&c.w(), "CmdPlay")->isEnabled());
}

TEST(ControlPanels, FastZeroSetsTheZeroLevels) {
    Connected c;
    Control<QAction>(&c.w(), "mncal_on")->trigger();
    Control<QCheckBox>(&c.w(), "mnZero")->click();
    ASSERT_FALSE(Control<QPushButton>(&c.w(), "Cmd_autozero")->isHidden());
    auto& zero = c.r.state().project.ChannelThreshold;
    zero.fill(50.0);
    QTest::mouseClick(Control<QPushButton>(&c.w(), "Cmd_autozero"), Qt::LeftButton);
    // The progress counter ("AutoZero... <99>") gives way to the result.
    EXPECT_EQ(Text(Control<QLabel>(&c.w(), "lbl_autochannel")).rfind("AutoZero completed over ", 0),
              0u);
    // The log names what the channels outside the window are (uncalibrated beams: below it).
    const std::string log =
        Control<QPlainTextEdit>(&c.w(), "txt_events")->toPlainText().toStdString();
    EXPECT_NE(log.find("192 channels in use, 0 with their level in the window 1638..1843, 192 "
                       "readable outside it (192 below, 0 above)"),
              std::string::npos)
        << log;
    for (std::size_t ch = 0; ch < 384; ++ch) {
        EXPECT_GE(zero[ch], 1.0);
        EXPECT_LT(zero[ch], 20.0);  // quiet beams: a few counts of noise
    }
}

TEST(ControlPanels, OfflineRefusesCalibrationAndBlank) {
    AppRig r(0);
    r.window->Form_Load("");
    Control<QAction>(r.window.get(), "mncal_on")->trigger();
    Control<QCheckBox>(r.window.get(), "mnCalibra")->click();
    Control<QPushButton>(r.window.get(), "cmd_calibra")->click();
    Control<QPushButton>(r.window.get(), "Cmd_readblank")->click();
    EXPECT_EQ(r.dialogs.Messages(),
              (std::vector<std::string>{"Operation not possible in OFFLINE mode",
                                        "Operation not possible in OFFLINE mode"}));
    EXPECT_FALSE(Acquisition(*r.window).engine().BlankActive());
}

TEST(ControlPanels, ReadBlankSamplesOnTimeradqAndStopEndsIt) {
    Connected c;
    Control<QAction>(&c.w(), "mncal_on")->trigger();
    AcquisitionWindow& acq = Acquisition(c.w());
    c.r.state().project.Setup.Cal_value = 4;  // the blank lasts Cal_value ticks
    QTest::mouseClick(Control<QPushButton>(&c.w(), "Cmd_readblank"), Qt::LeftButton);
    ASSERT_TRUE(acq.engine().BlankActive());
    EXPECT_TRUE(Control<QTimer>(&acq, "Timeradq")->isActive());
    EXPECT_EQ(Text(Control<QLabel>(&c.w(), "lblcalibrando")), "Setting Blank.... (4 samples)");
    // Stop is there to end it; Setup, Offline, Start and the connection wait.
    EXPECT_TRUE(Control<QPushButton>(&c.w(), "CmdStop")->isEnabled());
    EXPECT_FALSE(Control<QPushButton>(&c.w(), "Cmdsetup")->isEnabled());
    EXPECT_FALSE(Control<QPushButton>(&c.w(), "Cmdoffline")->isEnabled());
    EXPECT_FALSE(Control<QPushButton>(&c.w(), "CmdPlay")->isEnabled());
    EXPECT_FALSE(Control<QPushButton>(&c.w(), "Cmd_disconnect")->isEnabled());
    EXPECT_TRUE(c.r.files.IsFile("/inst/20260314_0930/setup.dat"));
    auto& zero = c.r.state().project.ChannelThreshold;
    zero.fill(-5.0);
    int ticks = 0;
    while (acq.engine().BlankActive() && ticks < 20) {
        acq.Timeradq_Timer();
        ++ticks;
    }
    EXPECT_EQ(ticks, 5);
    EXPECT_FALSE(Control<QTimer>(&acq, "Timeradq")->isActive());
    EXPECT_TRUE(Control<QLabel>(&c.w(), "lblcalibrando")->isHidden());
    EXPECT_EQ(Text(Control<QLabel>(&c.w(), "lbl_autochannel")), "Setting (383) OK...");
    for (std::size_t ch = 0; ch < 384; ++ch) EXPECT_GE(zero[ch], 1.0);
    // The blank's end gives Setup and Offline back.
    EXPECT_TRUE(Control<QPushButton>(&c.w(), "Cmdsetup")->isEnabled());
    EXPECT_TRUE(Control<QPushButton>(&c.w(), "Cmdoffline")->isEnabled());
    EXPECT_FALSE(Control<QPushButton>(&c.w(), "CmdStop")->isEnabled());

    // Stop ends a blank at once, without a question, and the controls come back.
    c.r.state().project.Setup.Cal_value = 50;
    QTest::mouseClick(Control<QPushButton>(&c.w(), "Cmd_readblank"), Qt::LeftButton);
    acq.Timeradq_Timer();
    QTest::mouseClick(Control<QPushButton>(&c.w(), "CmdStop"), Qt::LeftButton);
    EXPECT_FALSE(acq.engine().BlankActive());
    EXPECT_FALSE(Control<QTimer>(&acq, "Timeradq")->isActive());
    EXPECT_TRUE(Control<QPushButton>(&c.w(), "Cmdsetup")->isEnabled());
    EXPECT_TRUE(c.r.dialogs.Messages().empty());

    // Refused while an acquisition runs.
    c.r.state().config.Actual_Project_Number = 1;
    c.r.state().project.ProjectFolder = ProjectFolderFor(testing::kInstall, 1);
    c.r.files.CreateFolders(c.r.state().project.ProjectFolder);
    c.r.ctx->tools.calibration.AutoCalibrateOnStart = false;
    c.r.ctx->tools.calibration.AutoZeroOnStart = false;
    c.r.dialogs.QueueInput("running");
    QTest::mouseClick(Control<QPushButton>(&c.w(), "CmdPlay"), Qt::LeftButton);
    ASSERT_TRUE(Acquisition(c.w()).Acquiring());
    QTest::mouseClick(Control<QPushButton>(&c.w(), "Cmd_readblank"), Qt::LeftButton);
    EXPECT_FALSE(acq.engine().BlankActive());
    EXPECT_EQ(c.r.dialogs.Messages().back(), kBlankDuringRunRefusal);
}

TEST(ControlPanels, LightAndTemperatureButtons) {
    Connected c;
    LightPanel* light = Control<LightPanel>(&c.w(), "Frame_light");
    TemperaturePanel* temp = Control<TemperaturePanel>(&c.w(), "Frame_temp");
    QTest::mouseClick(Control<QPushButton>(light, "cmd_luz"), Qt::LeftButton);
    EXPECT_TRUE(c.r.instrument.LightOn());
    EXPECT_EQ(Text(Control<QPushButton>(light, "cmd_luz")), "ON");
    EXPECT_EQ(Control<Lamp>(light, "shape_light")->colour(), QColor(0, 255, 0));
    QTest::mouseClick(Control<QPushButton>(temp, "cmd_frio"), Qt::LeftButton);
    QTest::mouseClick(Control<QPushButton>(temp, "cmd_ontemp"), Qt::LeftButton);
    EXPECT_EQ(c.r.instrument.OutputMask(), 7);
    EXPECT_EQ(Text(Control<QPushButton>(temp, "cmd_frio")), "HEAT");
    EXPECT_EQ(Control<Lamp>(temp, "shape_temp")->colour(), QColor(255, 0, 0));

    // While an acquisition runs the frame waits for the sampling loop; the lamp does not.
    AcquisitionState& run = Acquisition(c.w()).engine().StateForTests();
    run.AcquisitionRunning = RunState::Running;
    QTest::mouseClick(Control<QPushButton>(light, "cmd_luz"), Qt::LeftButton);
    EXPECT_TRUE(c.r.instrument.LightOn());
    EXPECT_EQ(Control<Lamp>(light, "shape_light")->colour(), QColor(255, 0, 0));
    EXPECT_TRUE(c.r.ctx->tools.climate.update_pending);
    PendingUpdateStep(c.r.ctx->link, c.r.ctx->tools.climate);
    EXPECT_FALSE(c.r.instrument.LightOn());
    run.AcquisitionRunning = RunState::Stopped;
}

TEST(ControlPanels, TextBoxesAreCheckedWhenTheyLoseTheFocus) {
    Connected c;
    LightPanel* light = Control<LightPanel>(&c.w(), "Frame_light");
    c.Edit(Control<QLineEdit>(light, "txt_pulsetimes"), "3");
    EXPECT_FALSE(Control<QLineEdit>(light, "txt_lon")->isEnabled());
    c.Edit(Control<QLineEdit>(light, "txt_pulsetimes"), "100");
    EXPECT_EQ(Control<QLineEdit>(light, "txt_pulsetimes")->text().toStdString(), "0");
    EXPECT_TRUE(Control<QLineEdit>(light, "txt_lon")->isEnabled());
    c.Edit(Control<QLineEdit>(&c.w(), "txttemp"), "50.1");
    EXPECT_EQ(Control<QLineEdit>(&c.w(), "txttemp")->text().toStdString(), "20");
    c.Edit(Control<QLineEdit>(light, "txt_lon"), "7");
    EXPECT_EQ(Control<QLineEdit>(light, "txt_lon")->text().toStdString(), "07");
    c.Edit(Control<QLineEdit>(&c.w(), "txt_snr_umbral"), "1.0");
    EXPECT_EQ(Control<QLineEdit>(&c.w(), "txt_snr_umbral")->text().toStdString(), "1.8");
    EXPECT_EQ(c.r.dialogs.Messages(),
              (std::vector<std::string>{"Invalid value: 0-99", "Invalid value: 5.0 to 50.0",
                                        "Invalid value: 1.1 to 5.0"}));
    EXPECT_EQ(c.r.state().project.ToolParams[2][1], 7);
    EXPECT_EQ(c.r.state().project.ToolParams[2][5], 0);
}

TEST(ControlPanels, BoxesAreNotRewrittenWhileTheUserTypes) {
    // During a pulse program the outputs are shown every few tens of milliseconds: a box being
    // typed in keeps what was typed, and a box whose value did not change is left alone.
    Connected c;
    LightPanel* light = Control<LightPanel>(&c.w(), "Frame_light");
    TemperaturePanel* temp = Control<TemperaturePanel>(&c.w(), "Frame_temp");
    Control<CalibrationPanel>(&c.w(), "frm_mn1")->hide();  // room for the pulse frame
    Control<QFrame>(light, "frm_pulse")->show();
    Control<QLineEdit>(temp, "txttemp")->setText("2");  // typed, not yet left
    c.w().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&c.w()));
    Control<QLineEdit>(light, "txt_pulseon")->setFocus();
    Control<QLineEdit>(light, "txt_pulseon")->clear();
    QTest::keyClicks(Control<QLineEdit>(light, "txt_pulseon"), "1.");
    ASSERT_TRUE(Control<QLineEdit>(light, "txt_pulseon")->hasFocus());
    for (int i = 0; i < 3; ++i) {
        light->Show(c.r.ctx->tools.climate);
        temp->Show(c.r.ctx->tools.climate);
    }
    EXPECT_EQ(Control<QLineEdit>(temp, "txttemp")->text().toStdString(), "2");
    EXPECT_EQ(Control<QLineEdit>(light, "txt_pulseon")->text().toStdString(), "1.");
    // A value that really changed reaches a box without the focus.
    c.r.ctx->tools.climate.temperature_tenths = 255;
    temp->Show(c.r.ctx->tools.climate);
    EXPECT_EQ(Control<QLineEdit>(temp, "txttemp")->text().toStdString(), "25.5");
}

TEST(ControlPanels, PanelMenusShowTheHardwareNotice) {
    Connected c;
    const bool was_hidden = Control<LightPanel>(&c.w(), "Frame_light")->isHidden();
    Control<QAction>(&c.w(), "lght_ctl")->trigger();
    EXPECT_EQ(Control<LightPanel>(&c.w(), "Frame_light")->isHidden(), !was_hidden);
    if (was_hidden) {
        EXPECT_EQ(c.r.dialogs.Messages(),
                  (std::vector<std::string>{"Only available in some hardware versions"}));
    }
    Control<QAction>(&c.w(), "lght_ctl")->trigger();
    EXPECT_EQ(Control<LightPanel>(&c.w(), "Frame_light")->isHidden(), was_hidden);
}

}  // namespace
}  // namespace lumivo::app
