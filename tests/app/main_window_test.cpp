// Frm_Main driven as a user would: the load with its launcher, "Run Latest Project" and the
// connect button against the simulated instrument, the port menu, activation, help, autorun
// and closing. Dialogs are scripted and time is virtual.
#include <gtest/gtest.h>

#include <QTest>

#include "app/frm_about.h"
#include "app_test_support.h"
#include "core/acquisition/acquisition_engine.h"

namespace lumivo::app {
namespace {

using namespace testing;

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
    EXPECT_EQ(Control<LightPanel>(r.window.get(), "Frame_light")->cmd_luz->text().toStdString(),
              "OFF");
    EXPECT_EQ(
        Control<TemperaturePanel>(r.window.get(), "Frame_temp")->cmd_frio->text().toStdString(),
        "COOL");
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

TEST(MainWindowConnect, ButtonWithoutInstrumentGoesOfflineBackToTheLauncher) {
    AppRig r(0);
    r.window->Form_Load("");
    r.window->show();
    r.launcher().hide();
    r.dialogs.QueueInput("");
    QTest::mouseClick(Control<QPushButton>(r.window.get(), "cmd_connect"), Qt::LeftButton);
    EXPECT_EQ(r.dialogs.shown().size(), 2u);
    EXPECT_TRUE(
        r.dialogs.Showed("COM(15) PORT ERROR. Type New Port number or <Enter> to go Offline"));
    EXPECT_EQ(r.dialogs.Messages(), (std::vector<std::string>{"PORT NOT FOUND"}));
    EXPECT_TRUE(r.state().connection.OfflineMode);
    EXPECT_FALSE(r.window->isVisible());
    EXPECT_TRUE(r.launcher().isVisible());
    EXPECT_TRUE(r.launcher().usable());
    EXPECT_EQ(Text(Control<QLabel>(r.window.get(), "lbl_connection")), "OFFLINE MODE");
    EXPECT_TRUE(Control<QPushButton>(r.window.get(), "cmd_connect")->isEnabled());
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
    EXPECT_TRUE(help->GuideText().startsWith("Lumivo user guide")) << help->GuideText().left(80).toStdString();
    EXPECT_GE(help->LoadedImageCount(), 3);
    const QStringList sections = help->SectionTitles();
    for (const char* s : {"Installing", "Connecting the instrument", "Recording an acquisition",
                          "Reports", "Where the files are"})
        EXPECT_TRUE(sections.contains(s)) << s << " in " << sections.join(" | ").toStdString();
    help->ShowSection(static_cast<int>(sections.size()) - 1);
    EXPECT_TRUE(help->FindText("dialout"));
    EXPECT_FALSE(help->FindText("no such words in the guide 42"));

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
    EXPECT_EQ(r.dialogs.Messages(), (std::vector<std::string>{"PORT NOT FOUND"}));
    EXPECT_TRUE(r.launcher().isVisible());
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
