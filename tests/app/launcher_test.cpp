// The launcher Frm_Init on its own: captions, version label, hover colouring, and the four
// choices driven with the mouse.
#include <gtest/gtest.h>

#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "app/support/qt_dialogs.h"
#include "app/windows/frm_init.h"
#include "app_test_support.h"

// Fontconfig keeps a cache it never frees; under LeakSanitizer that would fail every run of the
// window tests. The hook is read by the sanitizer runtime and ignored otherwise.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace lumivo::app {
namespace {

using namespace testing;

struct LauncherRig {
    LauncherRig() {
        launcher.SetUsable(true);
        launcher.show();
    }
    QApplication& app = TestApplication();  // before any widget
    lumivo::testing::ScriptedDialogs dialogs;
    Frm_Init launcher{dialogs};
};

QColor FrameColour(Frm_Init& l, int i) {
    return l.Frame_option(i)->palette().color(QPalette::Window);
}

TEST(Launcher, CaptionsVersionAndInitialNews) {
    LauncherRig r;
    const char* captions[] = {"Setup a New Project", "Run Latest Project",
                              "Analyze recorded experiments", "EXIT"};
    for (int i = 1; i <= 4; ++i)
        EXPECT_EQ(r.launcher.Label_option(i)->text().toStdString(), captions[i - 1]);
    EXPECT_EQ(r.launcher.Label_version()->text().toStdString(), "<< V3.3-API Rev04/21 >>");
    EXPECT_EQ(r.launcher.LblNews()->text().toStdString(), "Equipment Status = unknown");
}

TEST(Launcher, HoverPaintsOneFrameLightYellowAndTheOthersWhite) {
    LauncherRig r;
    for (int hovered = 1; hovered <= 4; ++hovered) {
        // Over the frame itself and over its caption alike.
        QTest::mouseMove(hovered % 2 == 0 ? static_cast<QWidget*>(r.launcher.Label_option(hovered))
                                          : r.launcher.Frame_option(hovered));
        QApplication::processEvents();
        EXPECT_EQ(r.launcher.highlighted(), hovered);
        for (int i = 1; i <= 4; ++i) {
            EXPECT_EQ(FrameColour(r.launcher, i),
                      i == hovered ? QColor(255, 255, 192) : QColor(Qt::white))
                << "hovered " << hovered << " frame " << i;
        }
    }
}

TEST(Launcher, ChoicesHideTheLauncherAndSignalTheirWindow) {
    struct Case {
        int option;
        bool on_label;
        void (Frm_Init::*signal)();
    };
    const Case cases[] = {{1, true, &Frm_Init::setupNewProject},
                          {2, false, &Frm_Init::runLatestProject},
                          {3, true, &Frm_Init::analyzeRecorded}};
    for (const auto& c : cases) {
        LauncherRig r;
        QSignalSpy spy(&r.launcher, c.signal);
        QWidget* target = c.on_label ? static_cast<QWidget*>(r.launcher.Label_option(c.option))
                                     : r.launcher.Frame_option(c.option);
        QTest::mouseClick(target, Qt::LeftButton);
        EXPECT_EQ(spy.count(), 1) << c.option;
        EXPECT_FALSE(r.launcher.isVisible()) << c.option;
        EXPECT_TRUE(r.dialogs.shown().empty());
    }
}

TEST(Launcher, ExitAsksAndOnlyYesEnds) {
    for (const bool yes : {false, true}) {
        LauncherRig r;
        QSignalSpy spy(&r.launcher, &Frm_Init::exitConfirmed);
        r.dialogs.QueueAnswer(yes ? MsgResult::Yes : MsgResult::No);
        QTest::mouseClick(r.launcher.Label_option(4), Qt::LeftButton);
        ASSERT_EQ(r.dialogs.shown().size(), 1u);
        EXPECT_EQ(r.dialogs.shown()[0].text, "Sure to Quit?");
        EXPECT_EQ(r.dialogs.shown()[0].buttons, MsgButtons::YesNo);
        EXPECT_EQ(spy.count(), yes ? 1 : 0);
        EXPECT_TRUE(r.launcher.isVisible());  // No leaves the launcher open
    }
}

TEST(Launcher, ClosingTheWindowIsTheExitChoice) {
    LauncherRig r;
    QSignalSpy spy(&r.launcher, &Frm_Init::exitConfirmed);
    r.dialogs.QueueAnswer(MsgResult::No);
    r.launcher.close();
    EXPECT_TRUE(r.launcher.isVisible());
    EXPECT_EQ(r.dialogs.Messages(), (std::vector<std::string>{"Sure to Quit?"}));
    EXPECT_EQ(spy.count(), 0);
}

TEST(Launcher, NothingReactsWhileStartUpRuns) {
    LauncherRig r;
    r.launcher.SetUsable(false);
    QSignalSpy spy(&r.launcher, &Frm_Init::runLatestProject);
    QTest::mouseClick(r.launcher.Label_option(2), Qt::LeftButton);
    r.launcher.close();
    EXPECT_EQ(spy.count(), 0);
    EXPECT_TRUE(r.launcher.isVisible());
    EXPECT_TRUE(r.dialogs.shown().empty());
}

TEST(Launcher, ActivationShowsTheConnectedPort) {
    LauncherRig r;
    std::optional<std::string> news;
    r.launcher.SetActivationNews([&] { return news; });
    r.launcher.Form_Activate();
    EXPECT_EQ(r.launcher.LblNews()->text().toStdString(), "Equipment Status = unknown");
    news = "status: Connected in COM6";
    r.launcher.Form_Activate();
    EXPECT_EQ(r.launcher.LblNews()->text().toStdString(), "status: Connected in COM6");
}

// The program's own boxes: an input box wide enough for its whole title, and a question about
// a run that goes away by itself once the run has ended.
TEST(QtDialogsBoxes, TitlesShowWholeAndStaleQuestionsGo) {
    testing::TestApplication();
    QtDialogs qt;
    Dialogs& dialogs = qt;
    const std::string title = "Saving <3> with a new name";
    int width = 0;
    int needed = 0;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        width = box->width();
        needed = box->fontMetrics().horizontalAdvance(ToQ(title));
        box->findChild<QLineEdit*>()->setText("Dose 2");
        box->accept();
    });
    EXPECT_EQ(dialogs.InputBox("Enter the New Project Name", title, ""), "Dose 2");
    EXPECT_GE(width, needed + 120);  // the title and the title bar's buttons

    bool running = true;
    QTimer::singleShot(50, [&] { running = false; });  // the run ends at its lapse
    bool still_open_after = false;
    QTimer::singleShot(1500, [&] {
        still_open_after = QApplication::activeModalWidget() != nullptr;
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->done(QMessageBox::Ok);
    });
    EXPECT_EQ(dialogs.AskWhile([&] { return running; }, "Stop it and exit the program?",
                               MsgButtons::OkCancel, "Stop and exit"),
              MsgResult::Cancel);
    EXPECT_FALSE(still_open_after);
}

}  // namespace
}  // namespace lumivo::app
