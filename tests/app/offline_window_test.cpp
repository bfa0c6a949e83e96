// The offline browser Frm_offline on the offscreen platform, over acquisition folders built in a
// temporary installation: opened from the launcher and the main window, a project expanded, an
// acquisition chosen and reported; the list commands (sort, filter, rename, archive, plate
// layout, file manager, watched folders), the join, the group activity view with its exports,
// the group editor, and the re-analysis with its progress and STOP.
#include <gtest/gtest.h>

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <numeric>

#include "app/panels/status_strip.h"
#include "app/support/desktop_open.h"
#include "app/support/qt_dialogs.h"
#include "app/windows/frm_offline.h"
#include "app/windows/frm_report.h"
#include "app_test_support.h"
#include "core/acquisition/data_files.h"
#include "core/offline/join_acquisitions.h"
#include "core/offline/offline_fixture.h"

namespace lumivo::app::testing {
namespace {

namespace fs = std::filesystem;
using offline::testing::ReadFile;

constexpr const char* kProjectEntry = "+ 2026.0314\tp00001_Dose";
constexpr const char* kRunEntry = "  > 2026.0314\t ACQ10:00 \"Run\"";
constexpr const char* kSecondEntry = "  > 2026.0315\t ACQ09:00 \"Second\"";

// A program around Frm_Main on a temporary installation with project 1 "Dose" and two of its
// acquisitions: "Run" (10:00, minutes 1..6) and "Second" (next day 09:00, minutes 1..4).
struct OfflineRig {
    offline::testing::OfflineInstall inst;
    lumivo::testing::FakeClock clock{LocalDateTime{2026, 3, 16, 8, 0, 0, 0}};
    EventScriptedDialogs dialogs;
    LocalFileSystem files;
    std::unique_ptr<AppContext> ctx;
    std::unique_ptr<Frm_Main> window;
    std::vector<std::string> opened;
    fs::path run, second;

    OfflineRig() {
        TestApplication();
        ForgetWindowPlaces();
        inst.Project(1, "Dose");
        run = inst.Acquisition(1, "20260314_1000", "Run", {1, 2, 3, 4, 5, 6});
        second = inst.Acquisition(1, "20260315_0900", "Second", {1, 2, 3, 4});
        ctx = std::make_unique<AppContext>(clock, dialogs, files, inst.install(),
                                           [](int, const std::string&) {
                                               return TransportOpenResult{nullptr, ENOENT};
                                           });
        ctx->storage.list_separator_source = [] { return std::string(","); };
        ctx->open_document = [this](const QUrl& url) {
            opened.push_back(url.toLocalFile().toStdString());
            return true;
        };
        window = std::make_unique<Frm_Main>(*ctx);
        Control<QComboBox>(window.get(), "combo_minutes")->addItem("30");
        Control<QComboBox>(window.get(), "combo_minutes")->setCurrentText("30");
    }
    ~OfflineRig() {
        window.reset();
        ctx.reset();
    }

    Frm_offline& Open() {
        window->Cmdoffline_Click();
        auto* w = window->findChild<Frm_offline*>();
        EXPECT_NE(w, nullptr);
        return *w;
    }
    Frm_offline& w() { return *window->findChild<Frm_offline*>(); }
    QListWidget* List() { return Control<QListWidget>(&w(), "Listpj"); }
    std::vector<std::string> Entries() {
        std::vector<std::string> out;
        for (int i = 0; i < List()->count(); ++i) out.push_back(FromQ(List()->item(i)->text()));
        return out;
    }
    int Row(const std::string& entry) {
        const auto e = Entries();
        const auto at = std::find(e.begin(), e.end(), entry);
        EXPECT_NE(at, e.end()) << "no entry " << entry;
        return static_cast<int>(at - e.begin());
    }
    void Select(const std::string& entry) { List()->setCurrentRow(Row(entry)); }
    void DoubleClick(const std::string& entry) {
        Select(entry);
        emit List()->itemDoubleClicked(List()->currentItem());
    }
    void Trigger(const char* action) { Control<QAction>(&w(), action)->trigger(); }
    void Click(const char* button) {
        QTest::mouseClick(Control<QPushButton>(&w(), button), Qt::LeftButton);
    }
    // The project opened and `entry` chosen.
    void Choose(const std::string& entry) {
        DoubleClick(kProjectEntry);
        DoubleClick(entry);
    }
    std::string Summary() {
        return FromQ(Control<QPlainTextEdit>(&w(), "txt_summary")->toPlainText());
    }
};

// The strip draws its periods over the windows in their colour: a pause that held the time
// counter (no stretch of the elapsed axis) is a grey mark where it was.
TEST(StatusStrip, APauseThatHeldTheCounterShowsAsAMark) {
    testing::TestApplication();
    std::vector<std::int32_t> minutes;
    for (int m = 1; m <= 60; ++m) minutes.push_back(m);
    const std::string log =
        "2026-03-14 10:00:00  Sampling started\r\n"
        "2026-03-14 10:30:00  Paused, time counter stopped, at 00:30:00 [0d]\r\n"
        "2026-03-14 10:30:18  Resumed after a pause of 00:00:18 [0d] (not counted in the "
        "lapse)\r\n";
    StatusStrip strip;
    strip.resize(600, 46);
    const auto count_paused = [&] {
        const QImage image = strip.grab().toImage();
        const QRect bar = strip.BarRect();
        int n = 0;
        for (int x = bar.left() + 1; x < bar.right(); ++x)
            n += image.pixelColor(x, bar.center().y()) == StripColour(offline::StripKind::Paused);
        return n;
    };
    strip.SetStatus(offline::AnalyseRecording(minutes, ""));
    EXPECT_EQ(count_paused(), 0);
    strip.SetStatus(offline::AnalyseRecording(minutes, log));
    EXPECT_GE(count_paused(), kPeriodMarkWidth);
    EXPECT_LE(count_paused(), 2 * kPeriodMarkWidth);
    // In the middle of the bar, where the pause began.
    const QRect mark =
        PeriodRect(strip.status()->periods.at(0), strip.status()->run_minutes, strip.BarRect());
    EXPECT_NEAR(mark.center().x(), strip.BarRect().center().x(), 8);
    EXPECT_NE(strip.toolTip().indexOf("paused 18 s with the time counter held"), -1);
}

TEST(OfflineWindow, OpensExpandsChoosesAnAcquisitionAndReachesItsReport) {
    OfflineRig r;
    r.window->Form_Load("");
    QTest::mouseClick(r.window->launcher()->Label_option(3), Qt::LeftButton);
    Frm_offline& w = r.w();
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(r.window->launcher()->isVisible());
    EXPECT_EQ(r.Entries(), (std::vector<std::string>{kProjectEntry}));
    EXPECT_EQ(Text(Control<QLineEdit>(&w, "frmtxt_threshold")), "0.0");
    EXPECT_EQ(Control<QComboBox>(&w, "cmb_modeanalisis")->count(), 2);
    EXPECT_EQ(FromQ(Control<QComboBox>(&w, "cmb_modeanalisis")->currentText()), "Mode:0");

    // The project opens (newest acquisition first) and closes again.
    r.DoubleClick(kProjectEntry);
    EXPECT_EQ(r.Entries(), (std::vector<std::string>{kProjectEntry, kSecondEntry, kRunEntry}));
    EXPECT_TRUE(Control<QPushButton>(&w, "Cmd_leegroups")->isEnabled());
    EXPECT_FALSE(Control<QPushButton>(&w, "Cmd_report")->isEnabled());
    r.DoubleClick(kProjectEntry);
    EXPECT_EQ(r.Entries(), (std::vector<std::string>{kProjectEntry}));
    // Enter does what a double click does.
    r.Select(kProjectEntry);
    QTest::keyClick(r.List(), Qt::Key_Return);
    EXPECT_EQ(r.Entries().size(), 3u);
    QTest::keyClick(r.List(), Qt::Key_Return);
    EXPECT_EQ(r.Entries(), (std::vector<std::string>{kProjectEntry}));

    // Choosing an acquisition: the summary (with what is in its wells when it has a plate
    // map), the status strip, the report button.
    r.DoubleClick(kProjectEntry);
    r.DoubleClick(kSecondEntry);
    EXPECT_EQ(r.Summary().find("PLATE MAP"), std::string::npos);
    offline::testing::WriteText(r.run / "wells.csv",
                                "well,treatment,concentration,unit,role\nA1,drug X,5,uM,sample\n"
                                "A2,drug X,0.5,uM,sample\nB1,vehicle,,,negative\n");
    r.DoubleClick(kRunEntry);
    const std::string summary = r.Summary();
    EXPECT_EQ(summary.substr(0, summary.find('\n')), "***** PROJECT ******");
    EXPECT_NE(summary.find("Microplate format: [w96f]"), std::string::npos);
    EXPECT_NE(summary.find("Windows recorded: 6"), std::string::npos);
    EXPECT_NE(summary.find("***** PLATE MAP ******\nwells.csv: 3 wells: 2 treatments (drug X, "
                           "vehicle), 2 concentrations, 1 negative\ndrug X: 0.5, 5 uM (2 "
                           "wells)\nvehicle (1 well)\n***** RECORDING"),
              std::string::npos)
        << summary;
    const auto* strip = Control<StatusStrip>(&w, "Pic_status");
    ASSERT_TRUE(strip->status().has_value());
    EXPECT_EQ(strip->status()->windows_recorded, 6u);
    EXPECT_EQ(FromQ(Control<QLineEdit>(&w, "Txtpage")->text()), "1/0");
    auto* report_button = Control<QPushButton>(&w, "Cmd_report");
    EXPECT_TRUE(report_button->isEnabled());
    EXPECT_EQ(Text(report_button), std::string(kRunEntry) + " => REPORT");
    // No raw data saved: no signal pages, and nothing to re-analyse.
    EXPECT_FALSE(Control<QPushButton>(&w, "Cmd_analyze")->isEnabled());
    EXPECT_FALSE(Control<QPushButton>(&w, "cmdchannels")->isEnabled());

    r.Click("Cmd_report");
    auto* report = r.window->findChild<frm_report*>();
    ASSERT_NE(report, nullptr);
    EXPECT_TRUE(report->isVisible());
    EXPECT_EQ(FromQ(report->Txt_inputfile->text()), r.run.string());
    std::vector<std::string> basal;
    for (int i = 0; i < report->cmbbasal->count(); ++i)
        basal.push_back(FromQ(report->cmbbasal->itemText(i)));
    EXPECT_EQ(basal, (std::vector<std::string>{"-", "20260315_0900 Second"}));
    report->Cmd_generate_Click();
    EXPECT_TRUE(report->last_outcome().written);
    report->hide();

    // Closing the browser brings back the launcher it was opened from; from the main window's
    // "Offline" it brings back the main window.
    w.close();
    EXPECT_TRUE(r.window->launcher()->isVisible());
    r.window->launcher()->hide();
    r.window->show();
    QTest::mouseClick(Control<QPushButton>(r.window.get(), "Cmdoffline"), Qt::LeftButton);
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(r.window->isVisible());
    w.close();
    EXPECT_TRUE(r.window->isVisible());
    EXPECT_TRUE(r.dialogs.Messages().empty()) << r.dialogs.Messages().front();
}

TEST(OfflineWindow, ListCommands) {
    OfflineRig r;
    Frm_offline& w = r.Open();
    r.DoubleClick(kProjectEntry);

    // The sort: twice back to the first order and mark.
    auto* mark = Control<QLabel>(&w, "lbl_orden");
    EXPECT_EQ(Text(mark), "^");
    r.Click("lbl_date");
    EXPECT_EQ(Text(mark), "v");
    EXPECT_EQ(r.Entries(), (std::vector<std::string>{kProjectEntry, kRunEntry, kSecondEntry}));
    r.Click("lbl_date");
    EXPECT_EQ(Text(mark), "^");
    EXPECT_EQ(r.Entries(), (std::vector<std::string>{kProjectEntry, kSecondEntry, kRunEntry}));

    // The filter, and "Show all" back to the tree with the entry still chosen.
    Control<QLineEdit>(&w, "txt_search")->setText("second");
    r.Click("cmd_lupa");
    EXPECT_EQ(r.Entries(), (std::vector<std::string>{kProjectEntry, kSecondEntry}));
    r.Select(kSecondEntry);
    r.Click("lblback");
    EXPECT_EQ(r.Entries().size(), 3u);
    EXPECT_EQ(r.List()->currentRow(), r.Row(kSecondEntry));
    EXPECT_TRUE(Text(Control<QLineEdit>(&w, "txt_search")).empty());

    // Rename: the register changes, the entry follows.
    r.Select(kRunEntry);
    r.dialogs.QueueInput("Run A");
    r.Trigger("lst_rename");
    EXPECT_EQ(r.dialogs.shown().back().text, "Enter Name of acquisition");
    const std::string renamed = "  > 2026.0314\t ACQ10:00 \"Run A\"";
    EXPECT_EQ(r.List()->currentRow(), r.Row(renamed));
    EXPECT_NE(ReadFile(r.run / "subproj.dat").find("\"Run A\""), std::string::npos);

    // Plate layout: refused for a project, shown for an acquisition.
    r.Select(kProjectEntry);
    r.Trigger("lst_plateconfig");
    EXPECT_EQ(r.dialogs.Messages().back(), "Only possible for SubProjects");
    r.Select(renamed);
    r.Trigger("lst_plateconfig");
    EXPECT_EQ(w.view(), OfflineView::PlateLayout);
    EXPECT_NE(Text(Control<QLabel>(&w, "lbl_plateconfig")).find("w96f [8x12]"), std::string::npos);

    // Find in Folder: the folder handed to the desktop.
    r.Trigger("lst_explorefind");
    EXPECT_EQ(r.opened, (std::vector<std::string>{r.run.string()}));

    // Watched folders: an existing folder is stored in foldview.dat, anything else is not.
    r.dialogs.QueueInput((r.inst.root() / "nowhere").string());
    r.Trigger("txtfolder_1");
    EXPECT_FALSE(fs::exists(r.inst.install() / "foldview.dat"));
    r.dialogs.QueueInput(r.inst.root().string());
    r.Trigger("txtfolder_1");
    EXPECT_EQ(FromQ(Control<QAction>(&w, "txtfolder_1")->text()), r.inst.root().string());
    EXPECT_EQ(ReadFile(r.inst.install() / "foldview.dat"),
              "\r\n" + r.inst.root().string() + "\r\n\r\n\r\n\r\n");

    // Archive: both questions, and the chosen acquisition leaves the list and the window.
    r.DoubleClick(renamed);
    ASSERT_EQ(Text(Control<QPushButton>(&w, "Cmd_report")), renamed + " => REPORT");
    struct Step {
        MsgResult first;
        std::optional<MsgResult> second;
    };
    for (const Step& s :
         {Step{MsgResult::No, std::nullopt}, Step{MsgResult::Yes, MsgResult::Cancel}}) {
        r.Select(renamed);
        r.dialogs.QueueAnswer(s.first);
        if (s.second) r.dialogs.QueueAnswer(*s.second);
        r.Trigger("lst_delete");
        EXPECT_TRUE(fs::exists(r.run));
    }
    r.Select(renamed);
    r.dialogs.QueueAnswer(MsgResult::Yes);
    r.dialogs.QueueAnswer(MsgResult::Ok);
    r.Trigger("lst_delete");
    const auto messages = r.dialogs.Messages();
    EXPECT_EQ(std::vector<std::string>(messages.end() - 2, messages.end()),
              (std::vector<std::string>{"Remove folder from the list?",
                                        "Files are going to be archived!"}));
    EXPECT_FALSE(fs::exists(r.run));
    EXPECT_TRUE(fs::exists(r.run.string() + "removed202603160800"));
    // The project's date is now that of its remaining acquisition.
    EXPECT_EQ(r.Entries(), (std::vector<std::string>{"+ 2026.0315\tp00001_Dose", kSecondEntry}));
    EXPECT_FALSE(Control<QPushButton>(&w, "Cmd_report")->isEnabled());
    EXPECT_EQ(r.Summary().find("PROJECT"), std::string::npos);
}

TEST(OfflineWindow, JoinsTheAcquisitionsSelectedInTheDateView) {
    OfflineRig r;
    Frm_offline& w = r.Open();
    r.Choose(kRunEntry);
    // Join is refused in the project tree.
    r.Click("Cmd_join");
    EXPECT_EQ(r.dialogs.Messages().back(), offline::kJoinWrongSelection);

    r.Click("lbl_date");
    EXPECT_EQ(r.Entries(), (std::vector<std::string>{"20260314_1000 Run", "20260315_0900 Second"}));
    EXPECT_EQ(Text(Control<QLabel>(&w, "lbl_view")), "Acquisitions of p00001 by date");
    r.List()->selectAll();
    r.dialogs.QueueAnswer(MsgResult::Ok);
    r.Click("Cmd_join");
    const fs::path joined = r.inst.install() / "p00001" / "20260316_0800";
    ASSERT_TRUE(fs::exists(joined / "counts.bin"));
    EXPECT_EQ(fs::file_size(joined / "counts.bin"), 10u * kCountsRecordSize);
    // The date view is ascending after the click that opened it: the join comes last.
    EXPECT_EQ(r.Entries().size(), 3u);
    EXPECT_EQ(r.Entries().back().substr(0, 13), "20260316_0800");
}

TEST(OfflineWindow, GroupActivityAndTheExportsOfTheView) {
    OfflineRig r;
    Frm_offline& w = r.Open();
    // Without a chosen acquisition there is nothing to draw or export.
    r.DoubleClick(kProjectEntry);
    r.Click("Cmd_leegroups");
    EXPECT_EQ(r.dialogs.Messages().size(), 1u);
    r.Trigger("asciiexporta");
    EXPECT_EQ(r.dialogs.Messages().size(), 2u);

    r.DoubleClick(kRunEntry);
    Control<QComboBox>(&w, "cmb_groupbin")->setCurrentText("2");
    r.Click("Cmd_leegroups");
    EXPECT_EQ(w.view(), OfflineView::GroupActivity);
    QChart* chart = Control<QChartView>(&w, "Picgroups")->chart();
    EXPECT_FALSE(chart->series().isEmpty());

    r.Trigger("asciiexporta");
    const fs::path data = r.inst.install() / kAsciiExportFile;
    // The window says where the table went.
    EXPECT_EQ(Text(Control<QLabel>(&w, "lbl_offlinestatus")),
              "Written: " + data.string() + " (opened)");
    const std::string table = ReadFile(data);
    EXPECT_EQ(table.substr(0, table.find("\r\n")),
              "Group activity of " + r.run.string() + " (mean counts per well in 2 min bins)");
    r.Trigger("bmpexporta");
    const std::string bmp = ReadFile(r.inst.install() / kBmpExportFile);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(r.opened, (std::vector<std::string>{data.string(),
                                                  (r.inst.install() / kBmpExportFile).string()}));
    EXPECT_EQ(r.dialogs.Messages().size(), 2u);
}

TEST(OfflineWindow, RegroupsTheChosenAcquisitionAndPutsTheRecordedGroupsBack) {
    OfflineRig r;
    Frm_offline& w = r.Open();
    r.Choose(kRunEntry);
    const std::string recorded = ReadFile(r.run / "chgroup.dat");
    r.Click("cmd_editgroups");
    ASSERT_EQ(w.view(), OfflineView::GroupEditor);
    // The list waits while the groups are edited.
    EXPECT_FALSE(r.List()->isEnabled());
    EXPECT_FALSE(Control<QPushButton>(&w, "Cmd_analyze")->isEnabled());

    auto* groups = Control<QComboBox>(&w, "combogrup2");
    auto* wells = Control<QListWidget>(&w, "lstgrup2");
    auto* free_wells = Control<QListWidget>(&w, "lstchgrup2");
    groups->setEditText("020");  // a group without wells
    EXPECT_EQ(wells->count(), 0);
    const int free_before = free_wells->count();
    // Right-button drag over the whole plate frees every well; left-button puts them in 020.
    auto* plate = Control<PlateView>(&w, "Picwell2");
    // The plate uses the pane it has: in a pane taller than the plate's proportions the legend
    // goes under the plate, which spans most of the width (beside it, under half).
    const QSize laid_out = plate->size();
    plate->resize(480, 580);
    EXPECT_GT(plate->WellCentre({11, 0}).x() - plate->WellCentre({0, 0}).x(), 0.7 * 480);
    plate->resize(laid_out);
    const QPoint first = plate->WellCentre({0, 0}), last = plate->WellCentre({11, 7});
    QTest::mousePress(plate, Qt::RightButton, {}, first);
    QTest::mouseMove(plate, last);
    QTest::mouseRelease(plate, Qt::RightButton, {}, last);
    EXPECT_GT(free_wells->count(), free_before);
    QTest::mousePress(plate, Qt::LeftButton, {}, first);
    QTest::mouseMove(plate, plate->WellCentre({0, 1}));
    QTest::mouseRelease(plate, Qt::LeftButton, {}, plate->WellCentre({0, 1}));
    EXPECT_EQ(wells->count(), 2);  // two wells (of two beams each)
    EXPECT_EQ(wells->item(0)->text().toStdString(), "A1");
    // A double click frees one well, with its beams, again.
    wells->setCurrentRow(0);
    emit wells->itemDoubleClicked(wells->item(0));
    EXPECT_EQ(wells->count(), 1);

    // Leaving with unsaved changes asks; Cancel stays.
    r.dialogs.QueueAnswer(MsgResult::Cancel);
    r.Click("cmdcancelgrups");
    EXPECT_EQ(r.dialogs.Messages().back(), offline::kSaveGroupsQuestion);
    EXPECT_EQ(w.view(), OfflineView::GroupEditor);

    r.Click("cmd_savegroups");
    EXPECT_NE(ReadFile(r.run / "chgroup.dat"), recorded);
    EXPECT_EQ(ReadFile(r.run / offline::kRecordedChannelGroupsFile), recorded);
    r.Click("cmdcancelgrups");
    EXPECT_EQ(w.view(), OfflineView::Summary);
    EXPECT_TRUE(r.List()->isEnabled());
    EXPECT_NE(r.Summary().find(offline::kGroupsDifferLine), std::string::npos);

    // "Groups as recorded" asks, then puts the recorded files back.
    r.Click("cmd_editgroups");
    r.dialogs.QueueAnswer(MsgResult::Yes);
    r.Click("cmd_recordedgroups");
    EXPECT_EQ(ReadFile(r.run / "chgroup.dat"), recorded);
    r.Click("cmdcancelgrups");
    EXPECT_EQ(r.Summary().find(offline::kGroupsDifferLine), std::string::npos);
}

// Windows 0..windows-1 of 500 flat readings on their raw pages, window m reading value + m x
// step.
void WriteFlatRawPages(const fs::path& folder, std::size_t windows, std::int16_t value = 2000,
                       std::int16_t step = 0) {
    PosixFileOps ops;
    constexpr std::size_t kRows = 501;
    for (std::size_t m = 0; m < windows; ++m) {
        const std::vector<std::int16_t> w(
            kRows * kChannelTableSize,
            static_cast<std::int16_t>(value + static_cast<int>(m) * step));
        ASSERT_TRUE(AppendRawPageRecord(ops, folder / RawPageFileName(LocateRawWindow(m).page),
                                        ConstSampleWindow{w, kRows}, 500, {})
                        .ok);
    }
}

TEST(OfflineWindow, ChannelSignalPagesOfTheRecordedRawData) {
    OfflineRig r;
    // Thirteen windows: raw page 0 holds eleven, page 1 two.
    std::vector<std::int32_t> minutes(13);
    std::iota(minutes.begin(), minutes.end(), 1);
    const fs::path long_run = r.inst.Acquisition(1, "20260313_0800", "Long", minutes);
    WriteFlatRawPages(long_run, 13, 1000, 10);
    const std::string long_entry = "  > 2026.0313\t ACQ08:00 \"Long\"";
    Frm_offline& w = r.Open();
    // Without raw data there are no signal pages. (The project's date is that of the first
    // acquisition folder found: the project is the first row.)
    r.List()->setCurrentRow(0);
    emit r.List()->itemDoubleClicked(r.List()->currentItem());
    r.DoubleClick(kRunEntry);
    EXPECT_FALSE(Control<QPushButton>(&w, "cmdchannels")->isEnabled());
    EXPECT_FALSE(Control<QScrollBar>(&w, "scrollpage")->isEnabled());

    r.DoubleClick(long_entry);
    auto* page_box = Control<QLineEdit>(&w, "Txtpage");
    auto* pages = Control<QScrollBar>(&w, "scrollpage");
    auto* plot = Control<SignalPlot>(&w, "Picsignal");
    EXPECT_EQ(Text(page_box), "1/2");
    ASSERT_TRUE(Control<QPushButton>(&w, "cmdchannels")->isEnabled());
    r.Click("cmdchannels");
    EXPECT_EQ(w.view(), OfflineView::ChannelSignal);
    ASSERT_NE(plot->source(), nullptr);
    EXPECT_FALSE(plot->source()->Live());
    EXPECT_EQ(plot->span(), 11 * 500);
    EXPECT_EQ(plot->first_reading(), std::optional<std::int64_t>(0));

    // The page chooser moves the plot to the page's first reading; the channel names its well.
    pages->setValue(2);
    EXPECT_EQ(plot->first_reading(), std::optional<std::int64_t>(11 * 500));
    EXPECT_EQ(Text(page_box), "2/2");
    Control<QSpinBox>(&w, "txt_channel")->setValue(16);
    EXPECT_EQ(plot->channel(), 16u);
    EXPECT_NE(FromQ(plot->settings().caption).find("well A1.1"), std::string::npos);
    r.Click("cmd_zoomin");
    EXPECT_EQ(plot->span(), 5000);
    r.Click("cmd_zoomout");
    r.Click("cmd_zoomout");
    EXPECT_EQ(plot->span(), 11000);

    // "Export to ASCII..." writes the readings in view: windows 11 and 12 of page 2.
    r.Trigger("asciiexporta");
    const std::string table = ReadFile(r.inst.install() / kAsciiExportFile);
    EXPECT_NE(table.find("\r\nReading\tWindow\tValue\r\n5500\t11\t1110\r\n"), std::string::npos);
    EXPECT_NE(table.find("\r\n6499\t12\t1120\r\n"), std::string::npos);
    EXPECT_EQ(table.find("\r\n6500\t"), std::string::npos);
    r.Trigger("bmpexporta");
    EXPECT_EQ(ReadFile(r.inst.install() / kBmpExportFile).substr(0, 2), "BM");
    EXPECT_TRUE(r.dialogs.Messages().empty()) << r.dialogs.Messages().front();
}

TEST(OfflineWindow, AnalysesTheRawDataAgainWithProgressAndStop) {
    OfflineRig r;
    WriteFlatRawPages(r.run, 6);
    Frm_offline& w = r.Open();
    r.Choose(kRunEntry);
    EXPECT_EQ(FromQ(Control<QLineEdit>(&w, "Txtpage")->text()), "1/1");
    const std::string recorded = ReadFile(r.run / "counts.bin");
    auto* status = Control<QLabel>(&w, "lbl_analysis");

    // STOP during the run: nothing is written.
    r.dialogs.on_events = [&] {
        EXPECT_EQ(Text(status), "Block 1/6");
        EXPECT_TRUE(Control<QPushButton>(&w, "cmd_stopanalysis")->isEnabled());
        EXPECT_FALSE(r.List()->isEnabled());
        r.Click("cmd_stopanalysis");
    };
    r.Click("Cmd_analyze");
    EXPECT_NE(r.dialogs.Messages().back().find("stopped at block 1 of 6"), std::string::npos);
    EXPECT_EQ(Text(status), "Stopped: nothing was changed");
    EXPECT_EQ(ReadFile(r.run / "counts.bin"), recorded);
    EXPECT_TRUE(r.opened.empty());
    EXPECT_TRUE(r.List()->isEnabled());

    // Mode:0: the report of the new counts; counts.bin stays as recorded.
    r.Click("Cmd_analyze");
    EXPECT_EQ(Text(status), "Done: 6 of 6 blocks re-analysed");
    ASSERT_EQ(r.opened.size(), 1u);
    EXPECT_EQ(fs::path(r.opened[0]).parent_path(), r.run);
    EXPECT_EQ(ReadFile(r.run / "counts.bin"), recorded);

    // Mode:1 asks, then replaces the counts and keeps the recorded file.
    Control<QComboBox>(&w, "cmb_modeanalisis")->setCurrentIndex(1);
    r.dialogs.QueueAnswer(MsgResult::No);
    r.Click("Cmd_analyze");
    EXPECT_EQ(ReadFile(r.run / "counts.bin"), recorded);
    r.dialogs.QueueAnswer(MsgResult::Yes);
    r.Click("Cmd_analyze");
    EXPECT_EQ(Text(status),
              "Done: 6 of 6 blocks re-analysed, counts.bin replaced (counts.bak kept)");
    EXPECT_NE(ReadFile(r.run / "counts.bin"), recorded);
    EXPECT_EQ(ReadFile(r.run / "counts.bak"), recorded);

    // A threshold outside the range is refused by the re-analysis.
    Control<QComboBox>(&w, "cmb_modeanalisis")->setCurrentIndex(0);
    Control<QLineEdit>(&w, "frmtxt_threshold")->setText("9");
    r.Click("Cmd_analyze");
    EXPECT_EQ(r.dialogs.Messages().back(),
              "The threshold must be a number from 1.1 to 6.0, not \"9\".");
    EXPECT_EQ(Text(status), "Not analysed");
}

TEST(DesktopOpen, HandsThePathToXdgOpenOrGioAsOneArgumentWithoutAShell) {
    struct Case {
        const char* path;
        std::vector<bool> starts;  // what each program tried answers
        std::vector<std::string> tried;
        bool opened;
    };
    const Case cases[] = {
        {"/data/p00001/20260314_1000", {true}, {"xdg-open"}, true},
        // No xdg-open: gio open.
        {"/data/my run; rm -rf ~/$(x) \"q\"", {false, true}, {"xdg-open", "gio"}, true},
        {"/data/run", {false, false}, {"xdg-open", "gio"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::vector<std::string> tried;
        const bool opened =
            OpenOnDesktop(QUrl::fromLocalFile(c.path), [&](const DesktopCommand& d) {
                tried.push_back(FromQ(d.program));
                // The path is the last argument, whole.
                EXPECT_EQ(FromQ(d.arguments.back()), c.path);
                return c.starts[tried.size() - 1];
            });
        EXPECT_EQ(tried, c.tried);
        EXPECT_EQ(opened, c.opened);
    }
    EXPECT_EQ(DesktopOpenCommands("/x")[1].arguments, (QStringList{"open", "/x"}));
}

}  // namespace
}  // namespace lumivo::app::testing
