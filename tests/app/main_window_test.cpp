// Frm_Main driven as a user would: the load with its launcher, "Run Latest Project" and the
// connect button against the simulated instrument, the port menu, activation, help, autorun
// and closing. Dialogs are scripted and time is virtual.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>
#include <fstream>

#include "app/windows/frm_about.h"
#include "app/windows/frm_notify.h"
#include "app_test_support.h"
#include "core/acquisition/acquisition_engine.h"
#include "core/acquisition/data_files.h"
#include "core/acquisition/event_log.h"
#include "core/storage/acquisition_register.h"
#include "core/storage/config_file.h"
#include "support/child_process.h"

namespace lumivo::app {
namespace {

using namespace testing;
using lumivo::testing::ReadFile;

TEST(MainWindowLoad, ShowsTheUsableLauncherWithTheProjectLoaded) {
    AppRig r(1);
    r.window->Form_Load("");
    EXPECT_TRUE(r.launcher().isVisible());
    EXPECT_TRUE(r.launcher().usable());
    EXPECT_FALSE(r.window->isVisible());
    EXPECT_EQ(Text(r.launcher().LblNews()), "status = not connected yet");
    EXPECT_EQ(Text(Control<QLineEdit>(r.window.get(), "txt_projecto")), "0_Default");
    EXPECT_EQ(Text(Control<QLineEdit>(r.window.get(), "txt_acqlapse")), "30");
    EXPECT_EQ(Text(Control<QLineEdit>(r.window.get(), "txt_wellformat")), "w96f");
    EXPECT_EQ(Control<QComboBox>(r.window.get(), "Cmb_organism")->count(), 3);
    EXPECT_EQ(Control<QComboBox>(r.window.get(), "Cmb_organism")->currentText().toStdString(),
              "C elegans(>L4)");
    EXPECT_EQ(Control<QComboBox>(r.window.get(), "combo_minutes")->currentText().toStdString(),
              "30");
    EXPECT_FALSE(Control<QAction>(r.window.get(), "mn_userbin")->isChecked());
    EXPECT_EQ(Control<QPushButton>(r.window.get(), "cmd_luz")->text().toStdString(), "OFF");
    EXPECT_EQ(Control<QPushButton>(r.window.get(), "cmd_frio")->text().toStdString(), "COOL");
    EXPECT_FALSE(Control<AutoActionFrame>(r.window.get(), "frm_autotext")->isVisible());
    EXPECT_TRUE(Control<QAction>(r.window.get(), "mncom1_1")
                    ->isChecked());  // the shipped configuration: COM1
    EXPECT_TRUE(r.dialogs.shown().empty());
    EXPECT_TRUE(r.opened_ports.empty());  // nothing is opened before the user asks
}

TEST(MainWindowLoad, RunLatestProjectConnectsToTheInstrument) {
    AppRig r(3);
    r.window->Form_Load("");
    QTest::mouseClick(r.launcher().Label_option(2), Qt::LeftButton);
    EXPECT_FALSE(r.launcher().isVisible());
    EXPECT_TRUE(r.window->isVisible());
    EXPECT_TRUE(r.state().connection.InstrumentConnected);
    EXPECT_EQ(r.opened_ports, (std::vector<int>{1, 1, 2, 3, 3}));
    EXPECT_TRUE(r.PortOpen(3));
    EXPECT_EQ(Text(Control<QLabel>(r.window.get(), "lbl_serial")), "SERIAL : LMVO00123");
    EXPECT_EQ(Text(Control<QLabel>(r.window.get(), "lbl_connection")),
              "Connected on COM3    SERIAL : LMVO00123");
    for (int i = 1; i <= 15; ++i)
        EXPECT_EQ(Control<QAction>(r.window.get(), QString("mncom1_%1").arg(i))->isChecked(),
                  i == 3)
            << i;
    EXPECT_FALSE(Control<AutoActionFrame>(r.window.get(), "frm_autotext")->isVisible());
    EXPECT_FALSE(Control<ProgressBox>(r.window.get(), "picturecal")->isVisible());
    EXPECT_TRUE(Control<QLabel>(r.window.get(), "lbl_autochannel")->text().isEmpty());
    EXPECT_EQ(Text(r.launcher().LblNews()), "Status = Connected on COM[ 3 ]");
    EXPECT_TRUE(r.dialogs.shown().empty());
    // Back on the launcher, its news names the port.
    r.launcher().Form_Activate();
    EXPECT_EQ(Text(r.launcher().LblNews()), "status: Connected in COM3");
}

TEST(MainWindowConnect, EnterAtThePortQuestionWorksOfflineInTheMainWindow) {
    AppRig r(0);
    r.window->Form_Load("");
    // "Run Latest Project" with no instrument anywhere.
    r.dialogs.QueueInput("");
    QTest::mouseClick(r.launcher().Label_option(2), Qt::LeftButton);
    EXPECT_EQ(r.dialogs.shown().size(), 1u);
    EXPECT_TRUE(
        r.dialogs.Showed("COM(15) PORT ERROR. Type New Port number or <Enter> to go Offline"));
    EXPECT_TRUE(r.dialogs.Messages().empty());  // no "PORT NOT FOUND" after the question
    EXPECT_TRUE(r.state().connection.OfflineMode);
    EXPECT_TRUE(r.window->isVisible());
    EXPECT_FALSE(r.launcher().isVisible());
    EXPECT_EQ(Text(Control<QLabel>(r.window.get(), "lbl_connection")), "OFFLINE MODE");
    EXPECT_EQ(Text(Control<QLabel>(r.window.get(), "lbl_status")), kOfflineNotice);
    EXPECT_TRUE(Control<QPushButton>(r.window.get(), "cmd_connect")->isEnabled());

    // "Start Acquisition" offline names the way out; Connect works without a restart.
    r.state().config.Actual_Project_Number = 1;
    r.dialogs.QueueInput("offline run");
    QTest::mouseClick(Control<QPushButton>(r.window.get(), "CmdPlay"), Qt::LeftButton);
    EXPECT_EQ(r.dialogs.Messages().back(),
              "Acquisition not allowed in OFFLINE MODE. Connect the equipment and restart the "
              "program or press Connect.");
    r.port = 2;  // the instrument is plugged in
    QTest::mouseClick(Control<QPushButton>(r.window.get(), "cmd_connect"), Qt::LeftButton);
    EXPECT_TRUE(r.state().connection.InstrumentConnected);
    EXPECT_FALSE(r.state().connection.OfflineMode);
    EXPECT_EQ(Text(Control<QLabel>(r.window.get(), "lbl_status")), "");
    EXPECT_TRUE(r.dialogs.AllAnswersUsed());
}

TEST(MainWindowConnect, DisconnectClosesThePort) {
    AppRig r(1);
    r.window->Form_Load("");
    r.window->cmd_connect_Click();
    ASSERT_TRUE(r.PortOpen(1));
    QTest::mouseClick(Control<QPushButton>(r.window.get(), "Cmd_disconnect"), Qt::LeftButton);
    EXPECT_FALSE(r.PortOpen(1));
    EXPECT_FALSE(r.state().connection.InstrumentConnected);
    EXPECT_EQ(Text(Control<QLabel>(r.window.get(), "lbl_connection")), "Not connected");
}

TEST(MainWindowConnect, ClicksDuringTheSearchNeitherRestartItNorCloseTheWindow) {
    AppRig r(1);
    r.window->Form_Load("");
    r.window->show();
    r.launcher().hide();
    bool closed = true;
    r.dialogs.on_events = [&] {
        r.window->cmd_connect_Click();  // a second click while the first search runs
        closed = r.window->close();
    };
    r.window->cmd_connect_Click();
    EXPECT_FALSE(closed);
    EXPECT_TRUE(r.window->isVisible());
    EXPECT_EQ(r.opened_ports, (std::vector<int>{1, 1}));  // one search only
    EXPECT_TRUE(r.state().connection.InstrumentConnected);
    EXPECT_TRUE(r.exits.empty());
    EXPECT_TRUE(r.dialogs.shown().empty());
}

TEST(MainWindowPortMenu, EntryIsCheckedAloneAndSaved) {
    AppRig r(0);
    r.window->Form_Load("");
    Control<QAction>(r.window.get(), "mncom1_7")->trigger();
    for (int i = 1; i <= 15; ++i)
        EXPECT_EQ(Control<QAction>(r.window.get(), QString("mncom1_%1").arg(i))->isChecked(),
                  i == 7)
            << i;
    EXPECT_NE(r.files.ReadFile(kInstall / "config.dat").find("\r\n0,0,7,0\r\n"), std::string::npos);
    // The next connect starts there.
    r.dialogs.QueueInput("");
    r.window->cmd_connect_Click();
    ASSERT_FALSE(r.opened_ports.empty());
    EXPECT_EQ(r.opened_ports.front(), 7);
}

TEST(MainWindowActivation, BodyBendsOnlyForW96u) {
    for (const char* format : {"w96u", "w96f", "w384"}) {
        AppRig r(0);
        r.window->Form_Load("");
        r.state().project.Setup.Plate_format = format;
        r.state().project.Setup.Name = "Fish";
        r.state().project.Setup.Aq_lapse = 90;
        r.window->Form_Activate();
        EXPECT_EQ(Control<QCheckBox>(r.window.get(), "chk_bodybends")->isEnabled(),
                  std::string(format) == "w96u");
        EXPECT_EQ(Text(Control<QLineEdit>(r.window.get(), "txt_wellformat")), format);
        EXPECT_EQ(Text(Control<QLineEdit>(r.window.get(), "txt_projecto")), "0_Fish");
        EXPECT_EQ(Text(Control<QLineEdit>(r.window.get(), "txt_acqlapse")), "90");
    }
}

TEST(MainWindowHelp, ContentsShowsTheBuiltInGuideWithPicturesSectionsAndFind) {
    AppRig r(0);
    Control<QAction>(r.window.get(), "mnhelp")->trigger();
    EXPECT_TRUE(r.opened_documents.empty());
    EXPECT_TRUE(r.dialogs.Messages().empty());
    Frm_help* help = r.window->help_window();
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->isVisible());
    EXPECT_EQ(Control<QAction>(r.window.get(), "mnhelp")->shortcut(),
              QKeySequence(QKeySequence::HelpContents));

    // The guide renders from the program itself: its text, every picture, its sections.
    EXPECT_TRUE(help->GuideText().startsWith("Lumivo user guide"))
        << help->GuideText().left(80).toStdString();
    EXPECT_GE(help->LoadedImageCount(), 3);
    const QStringList sections = help->SectionTitles();
    for (const char* s : {"Installing", "Connecting the instrument", "Recording an acquisition",
                          "Reports", "Where the files are"})
        EXPECT_TRUE(sections.contains(s)) << s << " in " << sections.join(" | ").toStdString();
    help->ShowSection(static_cast<int>(sections.size()) - 1);
    // A search says when it finds nothing, and the view stays at the last match.
    auto* found = Control<QLabel>(help, "lbl_find");
    EXPECT_TRUE(help->FindText("dialout"));
    EXPECT_EQ(Text(found), "");
    const int at = Control<QTextBrowser>(help, "txt_guide")->textCursor().position();
    EXPECT_FALSE(help->FindText("no such words in the guide 42"));
    EXPECT_EQ(Text(found), "\"no such words in the guide 42\" is not in the guide");
    EXPECT_EQ(Control<QTextBrowser>(help, "txt_guide")->textCursor().position(), at);
    EXPECT_TRUE(help->FindText("dialout"));
    EXPECT_EQ(Text(found), "");

    // A second Help opens no second window.
    Control<QAction>(r.window.get(), "mnhelp")->trigger();
    EXPECT_EQ(r.window->help_window(), help);

    // F1 is the help key, wherever the focus is.
    help->close();
    r.window->show();
    r.window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(r.window.get()));
    QTest::keyClick(r.window.get(), Qt::Key_F1);
    EXPECT_TRUE(help->isVisible());
}

TEST(MainWindowAbout, VersionLabel) {
    testing::TestApplication();
    Frm_About about;
    EXPECT_EQ(about.Label_version()->text().toStdString(), "<< V3.3-API Rev04/21 >>");
}

TEST(MainWindowAutorun, ConnectsThenCallsTheAcquisitionStart) {
    AppRig r(1);
    r.window->Form_Load(" /RUN ");
    EXPECT_FALSE(r.launcher().isVisible());
    EXPECT_TRUE(r.state().connection.InstrumentConnected);
    // The start ran: a fresh installation has only the Default project, which it refuses.
    EXPECT_EQ(r.dialogs.Messages(), (std::vector<std::string>{kProjectZeroRefusal}));
    EXPECT_EQ(Control<QLineEdit>(r.window.get(), "txt_subproject")->text().toStdString(),
              kAutorunName);
}

TEST(MainWindowAutorun, WrongSpellingShowsTheLauncher) {
    AppRig r(1);
    r.window->Form_Load("/rUn");
    EXPECT_FALSE(r.window->isVisible());
    EXPECT_TRUE(r.launcher().isVisible());
    EXPECT_TRUE(r.opened_ports.empty());
    EXPECT_TRUE(r.dialogs.shown().empty());
}

TEST(MainWindowAutorun, NoInstrumentStartsNothing) {
    AppRig r(0);
    r.dialogs.QueueInput("");
    r.window->Form_Load("/RUN");
    EXPECT_TRUE(r.dialogs.Messages().empty());
    EXPECT_TRUE(r.state().connection.OfflineMode);
    EXPECT_FALSE(Acquisition(*r.window).Acquiring());
}

// A program on an installation folder on disk whose project 1 holds a recording its
// recorder left behind (a power cut): three windows in counts.bin, events.log without an end.
struct InterruptedRig {
    InterruptedRig() : instrument(EmptyPlate()) {
        TestApplication();
        EnsureInstallation(files, dir.path());
        ctx = std::make_unique<
            AppContext>(clock, dialogs, files, dir.path(), [this](int p, const std::string&) {
            if (p != 1) return TransportOpenResult{nullptr, ENOENT};
            return TransportOpenResult{std::make_unique<sim::SimTransport>(instrument, clock), 0};
        });
        ctx->storage.list_separator_source = [] { return std::string(","); };
        ctx->exit_program = [](int) {};
        ctx->open_document = [](const QUrl&) { return true; };
        SaveConfig(ctx->storage, GlobalConfig{1, 1, 1, 0});
        ProjectState project;
        project.Setup.Name = "Night";
        project.Setup.Aq_lapse = 60;
        project.Setup.Plate_format = "w96f";
        project.Setup.RT_Buffer = 500;
        project.ProjectFolder = ProjectFolderFor(dir.path(), 1);
        std::filesystem::create_directories(project.ProjectFolder);
        SaveProjectSetup(ctx->storage, 1, project);
        // Started ten minutes before the program starts again.
        const LocalDateTime started{2026, 3, 14, 9, 20};
        folder = project.ProjectFolder /
                 CreateAcquisitionFolder(ctx->storage, 1, project, started, "night run", "");
        std::ofstream(folder / kEventLogFileName, std::ios::binary)
            << "2026-03-14 09:20:00  Time zone: UTC+00:00 (UTC)\r\n"
               "2026-03-14 09:20:00  Recording \"night run\" started\r\n"
               "2026-03-14 09:20:00  Sampling started\r\n";
        PosixFileOps ops;
        for (int minute : {0, 1, 1}) {
            CountsRecord r;
            r.elapsed_minutes = minute;
            AppendCountsRecord(ops, folder / kCountsFileName, r, {});
        }
        ctx->tools.calibration.AutoCalibrateOnStart = false;
        ctx->tools.calibration.AutoZeroOnStart = false;
        window = std::make_unique<Frm_Main>(*ctx);
    }
    ~InterruptedRig() {
        window.reset();
        ctx.reset();
    }

    lumivo::testing::TempFolder dir{"lumivo-app-resume"};
    lumivo::testing::FakeClock clock;
    EventScriptedDialogs dialogs;
    LocalFileSystem files;
    sim::Instrument instrument;
    std::unique_ptr<AppContext> ctx;
    std::unique_ptr<Frm_Main> window;
    std::filesystem::path folder;
};

TEST(MainWindowResume, AnInterruptedRecordingIsOfferedAtTheStartAndGoesOnInItsFolder) {
    for (const bool yes : {false, true}) {
        SCOPED_TRACE(yes ? "Yes" : "No");
        InterruptedRig r;
        r.dialogs.QueueAnswer(yes ? MsgResult::Yes : MsgResult::No);
        r.window->Form_Load("");
        ASSERT_FALSE(r.dialogs.shown().empty());
        const std::string question = r.dialogs.shown().front().text;
        EXPECT_EQ(
            question.rfind(
                "Resume the interrupted recording \"night run\" (" + r.folder.string() + ")?", 0),
            0u)
            << question;
        EXPECT_NE(question.find("It goes on at minute 10"), std::string::npos) << question;
        AcquisitionEngine& engine = Acquisition(*r.window).engine();
        if (!yes) {
            EXPECT_FALSE(engine.Running());
            EXPECT_TRUE(r.window->launcher()->isVisible());
            continue;
        }
        ASSERT_TRUE(engine.Running());
        EXPECT_EQ(engine.State().AcquisitionFolder, r.folder);
        EXPECT_EQ(engine.Sampling().windows_recorded, 3);
        EXPECT_EQ(engine.Sampling().ElapsedMinutes, 10);
        const std::string log = ReadFile(r.folder / kEventLogFileName);
        EXPECT_NE(log.find("Recording resumed after an interruption: \"night run\" goes on at "
                           "minute 10 of 60"),
                  std::string::npos)
            << log;
        EXPECT_NE(log.find("Resumed by the desktop program: resumed at the start of the program"),
                  std::string::npos);
    }
}

TEST(MainWindowResume, AutorunResumesInsteadOfStartingANewRecording) {
    InterruptedRig r;
    r.window->Form_Load("/RUN");
    AcquisitionEngine& engine = Acquisition(*r.window).engine();
    ASSERT_TRUE(engine.Running());
    EXPECT_EQ(engine.State().AcquisitionFolder, r.folder);
    // No question: nobody is there to answer it.
    EXPECT_TRUE(r.dialogs.shown().empty()) << r.dialogs.shown().front().text;
    EXPECT_NE(ReadFile(r.folder / kEventLogFileName)
                  .find("Resumed by the desktop program: /RUN: the current project has an "
                        "interrupted recording, so it goes on instead of a new one"),
              std::string::npos);
    std::size_t folders = 0;
    for (const auto& e : std::filesystem::directory_iterator(r.folder.parent_path()))
        folders += e.is_directory();
    EXPECT_EQ(folders, 1u);
}

TEST(MainWindowUnattended, SettingsAreTestedSavedAndTheRestartEntryWritten) {
    lumivo::testing::TempFolder dir("lumivo-app-notify");
    setenv("XDG_CONFIG_HOME", (dir.path() / "config").c_str(), 1);
    AppRig r(1);
    r.window->Form_Load("");
    Frm_notify window(*r.ctx, r.window.get());
    window.Form_Load();
    auto* command = Control<QLineEdit>(&window, "txt_notify_command");
    auto* status = Control<QLabel>(&window, "lbl_notify_status");
    EXPECT_EQ(Text(status), "Kept in /inst/notify.dat");
    const auto got = dir.path() / "test.txt";
    command->setText(
        QString::fromStdString("/bin/sh -c 'echo \"$LUMIVO_EVENT\" > " + got.string() + "'"));
    Q_EMIT command->textEdited(command->text());

    // The e-mail on without a server: said, nothing saved.
    Control<QCheckBox>(&window, "chk_mail")->setChecked(true);
    EXPECT_FALSE(window.cmd_save_notify_Click());
    EXPECT_EQ(Text(status), "The e-mail cannot be sent: e-mail is on but no SMTP server is given.");
    Control<QCheckBox>(&window, "chk_mail")->setChecked(false);

    // The test message goes out with what the window holds, before anything is saved.
    window.cmd_test_notify_Click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.TestFinished(); }, 20000));
    EXPECT_EQ(Text(status).rfind("Notification (test) sent by the command /bin/sh -c", 0), 0u)
        << Text(status);
    EXPECT_EQ(ReadFile(got), "test\n");
    EXPECT_FALSE(r.files.IsFile("/inst/notify.dat"));

    Control<QCheckBox>(&window, "chk_autostart")->setChecked(true);
    Control<QSpinBox>(&window, "txt_lost_minutes")->setValue(7);
    ASSERT_TRUE(window.cmd_save_notify_Click());
    EXPECT_NE(
        Text(status).find(
            "Saved in /inst/notify.dat. The recording is resumed after a "
            "restart (" +
            (dir.path() / "config/autostart/org.lumivo.lumivo-resume.desktop").string() + ")."),
        std::string::npos)
        << Text(status);
    EXPECT_NE(r.files.ReadFile("/inst/notify.dat").find("\"lost_minutes\",7"), std::string::npos);
    // The program's notifier has the new settings at once.
    EXPECT_EQ(r.ctx->notifier->Rules().lost_minutes, 7);
    EXPECT_NE(ReadFile(dir.path() / "config/autostart/org.lumivo.lumivo-resume.desktop")
                  .find(" --install /inst /RUN\n"),
              std::string::npos);

    // Closing with unsaved changes asks first; Cancel keeps the window.
    window.show();
    Control<QSpinBox>(&window, "txt_temp_minutes")->setValue(3);
    r.dialogs.QueueAnswer(MsgResult::Cancel);
    EXPECT_FALSE(window.close());
    EXPECT_TRUE(r.dialogs.Showed("Save the changed notification settings?"));
    r.dialogs.QueueAnswer(MsgResult::No);
    EXPECT_TRUE(window.close());
    unsetenv("XDG_CONFIG_HOME");
}

TEST(MainWindowClose, OfflineEndsWithoutQuestion) {
    AppRig r(0);
    r.window->Form_Load("");
    r.state().connection.OfflineMode = true;
    r.window->show();
    EXPECT_TRUE(r.window->close());
    EXPECT_TRUE(r.dialogs.shown().empty());
    EXPECT_EQ(r.exits, (std::vector<int>{0}));
}

TEST(MainWindowClose, ExitMenuAsksSavesOnYesAndClosesThePort) {
    AppRig r(1);
    r.window->Form_Load("");
    r.window->cmd_connect_Click();
    r.state().project.Setup.Name = "Saved";
    r.dialogs.QueueAnswer(MsgResult::Yes);
    // Ctrl+Q is File > Exit.
    r.window->show();
    r.window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(r.window.get()));
    QTest::keyClick(r.window.get(), Qt::Key_Q, Qt::ControlModifier);
    ASSERT_FALSE(r.dialogs.shown().empty());
    EXPECT_EQ(r.dialogs.shown().back().text, "Update values to project 0_Saved before Exit?");
    EXPECT_NE(r.files.ReadFile(kInstall / "setup.dat").find("\"Saved\""), std::string::npos);
    EXPECT_FALSE(r.PortOpen(1));
    EXPECT_EQ(r.exits, (std::vector<int>{0}));
}

TEST(MainWindowClose, FailedSaveKeepsTheWindow) {
    AppRig r(0);
    r.window->Form_Load("");
    r.window->show();
    r.state().config.Actual_Project_Number = 4;
    r.state().project.ProjectFolder = kInstall / "p00004";  // missing: the save fails
    r.dialogs.QueueAnswer(MsgResult::Yes);
    EXPECT_FALSE(r.window->close());
    EXPECT_TRUE(r.window->isVisible());
    EXPECT_TRUE(r.exits.empty());
}

TEST(MainWindowLauncher, ExitEndsWithoutTheClosingSteps) {
    AppRig r(1);
    r.window->Form_Load("");
    r.window->cmd_connect_Click();
    r.launcher().show();
    r.dialogs.QueueAnswer(MsgResult::Yes);
    QTest::mouseClick(r.launcher().Label_option(4), Qt::LeftButton);
    EXPECT_EQ(r.exits, (std::vector<int>{0}));
    EXPECT_EQ(r.dialogs.Messages(), (std::vector<std::string>{"Sure to Quit?"}));
    // The window closing afterwards (the program ending) asks nothing more.
    EXPECT_TRUE(r.window->close());
    EXPECT_EQ(r.dialogs.Messages().size(), 1u);
}

}  // namespace
}  // namespace lumivo::app
