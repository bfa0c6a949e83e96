// The main window's acquisition controls wired to the engine: Start, the sampling timer,
// the alarm line, Pause and Stop, driven on the offscreen platform with the simulated
// instrument in virtual time.
#include "app/main_window/acquisition_window.h"

#include <gtest/gtest.h>

#include "app/main_window/control_panels.h"
#include "app/panels/auto_action_frame.h"
#include "app/support/qt_dialogs.h"
#include "app_test_support.h"
#include "core/storage/project_setup.h"

namespace lumivo::app {
namespace {

using namespace testing;

TEST(AcquisitionWindow, StartTicksAlarmPauseAndStop) {
    RecordingRig rig;
    Frm_Main& w = *rig.r.window;
    ASSERT_TRUE(rig.r.state().connection.InstrumentConnected);
    ASSERT_NE(w.findChild<AcquisitionWindow*>("acquisition"), nullptr);

    rig.r.dialogs.QueueInput("window run");
    Control<QPushButton>(&w, "CmdPlay")->click();
    EXPECT_EQ(Control<QLineEdit>(&w, "txt_subproject")->text().toStdString(), "window run");
    EXPECT_FALSE(Control<QPushButton>(&w, "CmdPlay")->isEnabled());
    EXPECT_TRUE(Control<QPushButton>(&w, "CmdPause")->isEnabled());
    EXPECT_TRUE(Control<QPushButton>(&w, "CmdStop")->isEnabled());
    EXPECT_FALSE(Control<QPushButton>(&w, "Cmdsetup")->isEnabled());
    EXPECT_FALSE(Control<QPushButton>(&w, "Cmdoffline")->isEnabled());
    EXPECT_FALSE(Control<QComboBox>(&w, "Cmb_organism")->isEnabled());
    // The port is the run's: Connect, Disconnect and the port menu wait for its end.
    EXPECT_FALSE(Control<QPushButton>(&w, "cmd_connect")->isEnabled());
    EXPECT_FALSE(Control<QPushButton>(&w, "Cmd_disconnect")->isEnabled());
    EXPECT_FALSE(Control<QMenu>(&w, "mncom")->isEnabled());
    // The log panel tells the run's start as events.log does.
    EXPECT_TRUE(Control<QPlainTextEdit>(&w, "txt_events")
                    ->toPlainText()
                    .contains("Recording \"window run\" started: project 1_Default, instrument "
                              "LMVO00123 on COM1"));
    ASSERT_TRUE(Control<QTimer>(&rig.acq(), "Timeradq")->isActive());
    EXPECT_TRUE(Control<QTimer>(&rig.acq(), "Timeradq")->isSingleShot());
    EXPECT_EQ(Control<QTimer>(&rig.acq(), "Timeradq")->interval(), kTimeradqIntervalMs);
    EXPECT_TRUE(
        rig.r.files.IsFile(rig.r.state().project.ProjectFolder / "20260314_0930" / "subproj.dat"));

    // A tick reads a sample (about 70 ms of line time, more than the interval): the timer is
    // re-armed at once.
    rig.acq().Timeradq_Timer();
    EXPECT_EQ(rig.acq().engine().Sampling().SampleRow, 1);
    EXPECT_TRUE(Control<QTimer>(&rig.acq(), "Timeradq")->isActive());
    EXPECT_EQ(Control<QTimer>(&rig.acq(), "Timeradq")->interval(), 0);
    EXPECT_EQ(Control<QLineEdit>(&w, "Txt_time")->text().toStdString(), "00:00:00 [0d]");
    // The expected end: the start (09:30 and the seconds of the connect) and the project's 30
    // minutes, to the minute.
    const QString end = LocaleDateTime({2026, 3, 14, 10, 0, 0, 0});
    EXPECT_EQ(Control<QLabel>(&w, "lbl_endtime")->text(), "Ends about " + end);
    EXPECT_FALSE(Control<QLabel>(rig.r.window.get(), "lbl_alarm")->isVisibleTo(&w));

    // The instrument goes silent: the alarm line shows, and goes when it answers again.
    rig.r.instrument.Unplug();
    for (int i = 0; i < 3 && Control<QLabel>(rig.r.window.get(), "lbl_alarm")->text().isEmpty();
         ++i) {
        rig.acq().Timeradq_Timer();
    }
    EXPECT_TRUE(Control<QLabel>(rig.r.window.get(), "lbl_alarm")->isVisibleTo(&w));
    EXPECT_TRUE(Control<QLabel>(rig.r.window.get(), "lbl_alarm")
                    ->text()
                    .startsWith("NO VALID DATA from the instrument"));
    rig.r.instrument.Replug();
    rig.acq().Timeradq_Timer();
    EXPECT_FALSE(Control<QLabel>(rig.r.window.get(), "lbl_alarm")->isVisibleTo(&w));

    // Pause with the counter frozen stops the timer; the second press resumes.
    rig.r.dialogs.QueueAnswer(MsgResult::Yes);
    Control<QPushButton>(&w, "CmdPause")->click();
    EXPECT_FALSE(Control<QTimer>(&rig.acq(), "Timeradq")->isActive());
    EXPECT_EQ(Control<QLabel>(&w, "lbl_autotext")->text().toStdString(), kPausedCaption);
    EXPECT_EQ(Control<QLabel>(&w, "lbl_autochannel")->text().toStdString(), kTimeCounterOff);
    EXPECT_TRUE(Control<AutoActionFrame>(&w, "frm_autotext")->isVisibleTo(&w));
    EXPECT_EQ(Control<QPushButton>(&w, "CmdPause")->text().toStdString(), "Resume");
    // The end moves on while the counter is held: ten minutes on the shelf, ten minutes later.
    QTimer* end_timer = Control<QTimer>(&rig.acq(), "Timer_endtime");
    EXPECT_TRUE(end_timer->isActive());
    EXPECT_EQ(Control<QLabel>(&w, "lbl_endtime")->text(), "Ends about " + end);
    rig.r.clock.AdvanceMs(10 * 60'000);
    rig.acq().Timer_endtime_Timer();
    EXPECT_EQ(Control<QLabel>(&w, "lbl_endtime")->text(),
              "Ends about " + LocaleDateTime({2026, 3, 14, 10, 10, 0, 0}));
    Control<QPushButton>(&w, "CmdPause")->click();
    EXPECT_FALSE(end_timer->isActive());
    EXPECT_EQ(Control<QLabel>(&w, "lbl_endtime")->text(),
              "Ends about " + LocaleDateTime({2026, 3, 14, 10, 10, 0, 0}));
    EXPECT_TRUE(Control<QTimer>(&rig.acq(), "Timeradq")->isActive());
    EXPECT_FALSE(Control<AutoActionFrame>(&w, "frm_autotext")->isVisibleTo(&w));
    EXPECT_EQ(Control<QPushButton>(&w, "CmdPause")->text().toStdString(), "Pause");
    EXPECT_TRUE(
        Control<QLabel>(&w, "lbl_autochannel")->text().isEmpty());  // "Time Counter = OFF" went

    // Stop asks first; No keeps the run.
    rig.r.dialogs.QueueAnswer(MsgResult::No);
    Control<QPushButton>(&w, "CmdStop")->click();
    EXPECT_TRUE(Control<QTimer>(&rig.acq(), "Timeradq")->isActive());
    EXPECT_TRUE(Acquisition(w).Acquiring());
    rig.r.dialogs.QueueAnswer(MsgResult::Yes);
    Control<QPushButton>(&w, "CmdStop")->click();
    EXPECT_FALSE(Control<QTimer>(&rig.acq(), "Timeradq")->isActive());
    EXPECT_TRUE(Control<QPushButton>(&w, "CmdPlay")->isEnabled());
    EXPECT_FALSE(Control<QPushButton>(&w, "CmdPause")->isEnabled());
    EXPECT_FALSE(Control<QPushButton>(&w, "CmdStop")->isEnabled());
    EXPECT_TRUE(Control<QPushButton>(&w, "Cmdsetup")->isEnabled());
    EXPECT_EQ(Control<QLabel>(&w, "lbl_temperature")->text(),
              QString::fromUtf8(kNoTemperatureLabel));
    EXPECT_FALSE(Acquisition(w).Acquiring());
    EXPECT_TRUE(Control<QPushButton>(&w, "cmd_connect")->isEnabled());
    EXPECT_TRUE(Control<QPushButton>(&w, "Cmd_disconnect")->isEnabled());
    EXPECT_TRUE(Control<QMenu>(&w, "mncom")->isEnabled());
    EXPECT_TRUE(Control<QLabel>(&w, "lbl_endtime")->text().isEmpty());
}

TEST(AcquisitionWindow, ANewRunShowsNothingOfTheLastOne) {
    RecordingRig rig;
    Frm_Main& w = *rig.r.window;
    rig.r.state().project.Setup.Aq_lapse = 2;
    rig.r.dialogs.QueueInput("first");
    Control<QPushButton>(&w, "CmdPlay")->click();
    for (int i = 0; i < 3000 && Acquisition(w).Acquiring(); ++i) rig.acq().Timeradq_Timer();
    ASSERT_FALSE(Acquisition(w).Acquiring());
    ASSERT_NE(Text(Control<QLabel>(&w, "lbl_status")).find("Acquisition finished"),
              std::string::npos);
    ASSERT_NE(Text(Control<QLineEdit>(&w, "Txt_time")), "00:00:00 [0d]");
    ASSERT_GT(Control<ProgressBox>(&w, "picturetime")->bar(), 0.0);

    rig.r.clock.AdvanceMs(120'000);  // another minute, another folder
    rig.r.dialogs.QueueInput("second");
    Control<QPushButton>(&w, "CmdPlay")->click();
    ASSERT_TRUE(Acquisition(w).Acquiring());
    EXPECT_EQ(Text(Control<QLabel>(&w, "lbl_status")), "");
    EXPECT_EQ(Text(Control<QLineEdit>(&w, "Txt_time")), "00:00:00 [0d]");
    EXPECT_EQ(Control<ProgressBox>(&w, "picturetime")->bar(), 0.0);
}

// The questions of Stop and of closing go away by themselves when the run behind them ends at
// its lapse while they are open: closing then goes on as without a run.
TEST(AcquisitionWindow, QuestionsAboutARunGoWhenItEndsMeanwhile) {
    RecordingRig rig;
    Frm_Main& w = *rig.r.window;
    rig.r.state().project.Setup.Aq_lapse = 2;
    auto finish = [&] {
        for (int i = 0; i < 3000 && Acquisition(w).Acquiring(); ++i) rig.acq().Timeradq_Timer();
    };
    rig.r.dialogs.QueueInput("stop asked");
    Control<QPushButton>(&w, "CmdPlay")->click();
    rig.r.dialogs.on_events = finish;  // the lapse is reached while "Stop ...?" is open
    Control<QPushButton>(&w, "CmdStop")->click();
    ASSERT_EQ(rig.r.dialogs.withdrawn.size(), 1u);
    EXPECT_EQ(rig.r.dialogs.withdrawn[0].rfind("Stop the recording \"stop asked\"?", 0), 0u);
    EXPECT_FALSE(Acquisition(w).Acquiring());
    EXPECT_NE(Text(Control<QLabel>(&w, "lbl_status")).find("Acquisition finished"),
              std::string::npos);

    rig.r.clock.AdvanceMs(120'000);
    rig.r.dialogs.QueueInput("closing asked");
    Control<QPushButton>(&w, "CmdPlay")->click();
    ASSERT_TRUE(Acquisition(w).Acquiring());
    w.show();
    rig.r.dialogs.on_events = finish;  // ... and while "Stop it and exit the program?" is open
    rig.r.dialogs.QueueAnswer(MsgResult::No);  // "Update values to project ... before Exit?"
    EXPECT_TRUE(w.close());
    ASSERT_EQ(rig.r.dialogs.withdrawn.size(), 2u);
    EXPECT_EQ(rig.r.dialogs.withdrawn[1].rfind("A recording is running (\"closing asked\"", 0), 0u);
    EXPECT_EQ(rig.r.dialogs.Messages().back().rfind("Update values to project", 0), 0u);
    EXPECT_EQ(rig.r.exits, (std::vector<int>{0}));
    EXPECT_TRUE(rig.r.dialogs.AllAnswersUsed());
}

TEST(AcquisitionWindow, AfterDisconnectStartRefusesAndCreatesNothing) {
    RecordingRig rig;
    Frm_Main& w = *rig.r.window;
    Control<QPushButton>(&w, "Cmd_disconnect")->click();
    ASSERT_FALSE(rig.r.PortOpen(1));
    rig.r.dialogs.QueueInput("closed port");
    Control<QPushButton>(&w, "CmdPlay")->click();
    EXPECT_EQ(rig.r.dialogs.Messages().back(), kOfflineAcquisitionRefusal);
    EXPECT_FALSE(Acquisition(w).Acquiring());
    EXPECT_FALSE(Control<QTimer>(&rig.acq(), "Timeradq")->isActive());
    EXPECT_TRUE(rig.r.files.ListSubfolders(rig.r.state().project.ProjectFolder).empty());
}

TEST(AcquisitionWindow, QuickReportIsAMainWindowCommand) {
    RecordingRig rig;
    Frm_Main& w = *rig.r.window;
    const auto file = rig.r.state().project.ProjectFolder / "report.txt";
    const LocalDateTime now = rig.r.clock.Now();
    Control<QAction>(&w, "mnquickreport")->trigger();
    ASSERT_TRUE(rig.r.files.IsFile(file));
    // Dated as the user's locale writes dates.
    const std::string text = rig.r.files.ReadFile(file);
    EXPECT_EQ(text.substr(0, text.find("\r\n")), FromQ(LocaleDateTime(now)));
    EXPECT_EQ(rig.r.opened_documents.back(), file.string());
    // Not while a run is going: its totals are still growing.
    rig.r.files.RemoveFile(file);
    rig.r.dialogs.QueueInput("running");
    Control<QPushButton>(&w, "CmdPlay")->click();
    Control<QAction>(&w, "mnquickreport")->trigger();
    EXPECT_EQ(rig.r.dialogs.Messages().back(), kQuickReportWhileRunning);
    EXPECT_FALSE(rig.r.files.IsFile(file));
}

TEST(AcquisitionWindow, ClosingDuringARunAsksFirstAndStopsItOnlyThen) {
    RecordingRig rig;
    rig.r.ctx->tools.climate.outputs.light_on = true;
    ApplyOutputs(rig.r.ctx->link, rig.r.ctx->tools.climate);
    ASSERT_EQ(rig.r.instrument.OutputMask(), kOutputLight);
    rig.r.dialogs.QueueInput("closed");
    Control<QPushButton>(rig.r.window.get(), "CmdPlay")->click();
    rig.acq().Timeradq_Timer();
    ASSERT_TRUE(Acquisition(*rig.r.window).Acquiring());
    rig.r.window->show();
    // Cancel: the run goes on untouched.
    const std::string question =
        "A recording is running (\"closed\", 0 windows recorded).\r\nStop it and exit the "
        "program?";
    rig.r.dialogs.QueueAnswer(MsgResult::Cancel);
    EXPECT_FALSE(rig.r.window->close());
    EXPECT_EQ(rig.r.dialogs.Messages().back(), question);
    EXPECT_TRUE(rig.acq().engine().Running());
    EXPECT_TRUE(Control<QTimer>(&rig.acq(), "Timeradq")->isActive());
    EXPECT_EQ(rig.r.instrument.OutputMask(), kOutputLight);
    EXPECT_TRUE(rig.r.exits.empty());
    // "Stop and exit".
    rig.r.dialogs.QueueAnswer(MsgResult::Ok);
    rig.r.dialogs.QueueAnswer(MsgResult::No);  // "Update values to project ... before Exit?"
    EXPECT_TRUE(rig.r.window->close());
    EXPECT_FALSE(rig.acq().engine().Running());
    EXPECT_FALSE(Control<QTimer>(&rig.acq(), "Timeradq")->isActive());
    // The outputs were switched off while the port was still open.
    EXPECT_EQ(rig.r.instrument.OutputMask(), 0);
    EXPECT_EQ(rig.r.exits, (std::vector<int>{0}));
}

}  // namespace
}  // namespace lumivo::app
