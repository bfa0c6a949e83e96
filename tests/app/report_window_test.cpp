// The report windows driven through the main window on the offscreen platform: "Report
// Output..." opens frm_report for the project's latest acquisition, "Generate..." writes the
// report and shows its chart, the controls react, `mn_userbin` opens Frm_reportset, and the end
// of a run either generates the report at once or opens the window. The raw-data panel runs with
// its progress and STOP, the "Advanced" exports write their files, and the "Rhythm and sleep" tab
// draws each view.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QChart>
#include <QImage>
#include <QLineSeries>
#include <QTest>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <tuple>
#include <variant>

#include "app/panels/rhythm_tab.h"
#include "app/panels/screen_tabs.h"
#include "app/windows/frm_report.h"
#include "app/windows/frm_reportset.h"
#include "app_test_support.h"
#include "core/acquisition/data_files.h"
#include "core/reporting/report/report_inputs.h"
#include "core/storage/field_record.h"
#include "core/storage/project_setup.h"

namespace lumivo::app::testing {
namespace {

// counts.bin through the acquisition's writer: records at minutes 0..minutes; channel c counts
// count(minute, c), by default 1 + c / 16 (its beam column), temperature 23.0 degrees.
void WriteReportTestCounts(const std::filesystem::path& file, int minutes,
                           const std::function<int(int, std::size_t)>& count = {}) {
    PosixFileOps ops;
    for (int m = 0; m <= minutes; ++m) {
        CountsRecord r;
        r.elapsed_minutes = m;
        for (std::size_t c = 0; c < kBeamChannelCount; ++c)
            r.values[c] =
                static_cast<std::int16_t>(count ? count(m, c) : static_cast<int>(1 + c / 16));
        r.values[kBeamChannelCount] = 230;
        ASSERT_TRUE(AppendCountsRecord(ops, file, r, AppendOptions{}).ok);
    }
}

// Raw pages behind every record of a `minutes`-minute counts.bin: a steady level of 2000 with,
// on channel c, c % 7 dips of a tenth of a second.
void WriteRawPages(const std::filesystem::path& folder, int minutes, std::size_t rt_buffer = 500) {
    PosixFileOps ops;
    const std::size_t rows = rt_buffer + 1;
    for (int m = 0; m <= minutes; ++m) {
        std::vector<std::int16_t> w(rows * kChannelTableSize, 0);
        for (std::size_t c = 0; c < kBeamChannelCount; ++c)
            for (std::size_t r = 0; r < rt_buffer; ++r) {
                const bool dip = r % 60 < 5 && r / 60 < c % 7;
                w[r * kChannelTableSize + c] = static_cast<std::int16_t>(dip ? 1200 : 2000);
            }
        const auto page = folder / RawPageFileName(m / static_cast<int>(kWindowsPerRawPage));
        ASSERT_TRUE(AppendRawPageRecord(ops, page, ConstSampleWindow{w, rows}, rt_buffer, {}).ok);
    }
}

namespace fs = std::filesystem;

// "Generate..." with `bin` minutes in the bin box; fails with the window's reason when no
// report was written.
::testing::AssertionResult GenerateWithBin(frm_report* w, const char* bin) {
    Control<QComboBox>(w, "Cmb_binsize")->setCurrentText(bin);
    QTest::mouseClick(w->Cmd_generate, Qt::LeftButton);
    if (w->last_outcome().written) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << w->last_outcome().failure;
}

// The chart's time axis: its one horizontal axis when that is a value axis, else null.
const QValueAxis* TimeAxis(frm_report* w) {
    const auto axes = w->chart_view->chart()->axes(Qt::Horizontal);
    return axes.size() == 1 ? qobject_cast<const QValueAxis*>(axes.front()) : nullptr;
}

// A program around Frm_Main on a real temporary installation folder (counts.bin is read from
// the disk), the Default project current, no instrument.
struct ReportWindowRig {
    fs::path root;
    fs::path install;
    lumivo::testing::FakeClock clock;
    EventScriptedDialogs dialogs;
    LocalFileSystem files;
    std::unique_ptr<AppContext> ctx;
    std::unique_ptr<Frm_Main> window;
    std::vector<std::string> opened;

    ReportWindowRig() {
        TestApplication();
        static int counter = 0;
        root = fs::temp_directory_path() / ("lumivo_report_window_" + std::to_string(::getpid()) +
                                            "_" + std::to_string(counter++));
        fs::remove_all(root);
        install = root / "inst";
        EnsureInstallation(files, install);
        ctx = std::make_unique<AppContext>(clock, dialogs, files, install,
                                           [](int, const std::string&) {
                                               return TransportOpenResult{nullptr, ENOENT};
                                           });
        ctx->storage.list_separator_source = [] { return std::string(","); };
        ctx->state.project.ProjectFolder = install;
        window = std::make_unique<Frm_Main>(*ctx);
        ctx->open_document = [this](const QUrl& url) {
            opened.push_back(url.toLocalFile().toStdString());
            return true;
        };
        Control<QComboBox>(window.get(), "combo_minutes")->addItem("30");
        Control<QComboBox>(window.get(), "combo_minutes")->setCurrentText("30");
    }
    ~ReportWindowRig() {
        window.reset();
        ctx.reset();
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    // An acquisition of the Default project: its files, the register and `minutes` minutes of
    // counts.
    fs::path Acquisition(const std::string& name, const std::string& title, int minutes,
                         const std::function<int(int, std::size_t)>& count = {}) {
        const fs::path folder = install / name;
        fs::create_directories(folder);
        for (const char* f :
             {"setup.dat", "status.dat", "threshld.dat", "groups.dat", "chgroup.dat"})
            fs::copy_file(install / f, folder / f);
        RecordWriter reg;
        reg.Text(title).EndLine().Text("window test").EndLine();
        files.WriteFile(folder / "subproj.dat", reg.Take());
        WriteReportTestCounts(folder / "counts.bin", minutes, count);
        return folder;
    }
    QAction* ReportEntry() { return window->findChild<QAction*>("Cmdreport"); }
    frm_report* Report() { return window->findChild<frm_report*>(); }
    Frm_reportset* ReportSet() { return window->findChild<Frm_reportset*>(); }
};

TEST(ReportWindow, ReportEntryOpensTheLatestAcquisitionAndGenerates) {
    ReportWindowRig r;
    ASSERT_NE(r.ReportEntry(), nullptr);
    EXPECT_TRUE(Control<QAction>(r.window.get(), "mn_userbin")->isEnabled());
    r.ReportEntry()->trigger();
    ASSERT_EQ(r.dialogs.Messages().size(), 1u);
    EXPECT_EQ(r.dialogs.Messages()[0].rfind("Activity file not Found: the project folder ", 0), 0u)
        << r.dialogs.Messages()[0];
    EXPECT_NE(r.dialogs.Messages()[0].find(" holds no recorded acquisition yet: record one first."),
              std::string::npos)
        << r.dialogs.Messages()[0];
    EXPECT_EQ(r.Report(), nullptr);

    r.Acquisition("20260310_0900", "baseline", 30);
    const fs::path folder = r.Acquisition("20260314_0930", "latest run", 90);
    r.ReportEntry()->trigger();
    frm_report* w = r.Report();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->windowTitle().toStdString(), "Report Output - 20260314_0930 \"latest run\"");
    EXPECT_EQ(w->Txt_inputfile->text().toStdString(), folder.string());
    EXPECT_EQ(Control<QComboBox>(w, "Cmb_binsize")->currentText().toStdString(), "30");
    ASSERT_EQ(w->cmbbasal->count(), 2);
    EXPECT_EQ(w->cmbbasal->itemText(1).toStdString(), "20260310_0900 baseline");
    EXPECT_EQ(w->cmbbasal->currentText().toStdString(), "-");
    EXPECT_TRUE(Control<QRadioButton>(w, "Option_output_0")->isChecked());
    EXPECT_TRUE(Control<QRadioButton>(w, "Option_output_4")->isHidden());
    // The statistics boxes are offered where they add a table: not with the arrays.
    auto enabled = [&] {
        std::vector<bool> on;
        for (int i = 0; i < 5; ++i)
            on.push_back(Control<QCheckBox>(w, QString("Chk_statistic_%1").arg(i))->isEnabled());
        return on;
    };
    EXPECT_EQ(enabled(), std::vector<bool>(5, true));
    Control<QRadioButton>(w, "Option_output_2")->click();
    EXPECT_EQ(enabled(), (std::vector<bool>{true, true, false, false, false}));
    Control<QRadioButton>(w, "Option_output_1")->click();
    EXPECT_EQ(enabled(), std::vector<bool>(5, true));
    Control<QRadioButton>(w, "Option_output_0")->click();

    QTest::mouseClick(Control<QRadioButton>(w, "Option_report_1"), Qt::LeftButton);
    EXPECT_EQ(Control<QLineEdit>(w, "txt_customspacer")->text().toStdString(), " ");
    QTest::mouseClick(Control<QRadioButton>(w, "Option_report_0"), Qt::LeftButton);
    EXPECT_EQ(Control<QLineEdit>(w, "txt_customspacer")->text().toStdString(), ",");

    // The bin box is a number box: what is typed stays as typed ("1" is not completed to "15").
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    Control<QComboBox>(w, "Cmb_binsize")->setFocus();
    Control<QComboBox>(w, "Cmb_binsize")->lineEdit()->clear();
    QTest::keyClicks(Control<QComboBox>(w, "Cmb_binsize")->lineEdit(), "1");
    EXPECT_EQ(Control<QComboBox>(w, "Cmb_binsize")->currentText().toStdString(), "1");

    ASSERT_TRUE(GenerateWithBin(w, "120"));
    // A bin longer than the recording is corrected and shown.
    EXPECT_EQ(Control<QComboBox>(w, "Cmb_binsize")->currentText().toStdString(), "90");
    EXPECT_TRUE(fs::exists(folder / "report.csv"));
    EXPECT_TRUE(fs::exists(folder / "report.svg"));
    EXPECT_EQ(r.opened, std::vector<std::string>{(folder / "latest_run.csv").string()});
    // Groups 0..11 have wells in the shipped 96-well layout: a band and a line each.
    EXPECT_EQ(w->chart_view->chart()->series().size(), 24);
    EXPECT_EQ(w->chart_view->chart()->title().toStdString(), "latest run");
    // The status line says where the files are and why the bin size changed.
    EXPECT_EQ(w->status(), "Report written: " + (folder / "report.csv").string() +
                               ", its copy latest_run.csv and the chart report.svg (opened). "
                               "The recording (90 min) is shorter than the bin of 120 min: bin "
                               "size corrected to 90 min.");

    // Closing the window hands its bin size back to the main window.
    w->close();
    EXPECT_EQ(Control<QComboBox>(r.window.get(), "combo_minutes")->currentText().toStdString(),
              "90");

    // Opened for another acquisition, nothing of the first one stays on show.
    const fs::path baseline = r.install / "20260310_0900";
    ASSERT_EQ(OpenReportWindow(*r.window, baseline), w);
    EXPECT_EQ(w->windowTitle().toStdString(), "Report Output - 20260310_0900 \"baseline\"");
    EXPECT_EQ(w->chart_view->chart()->title().toStdString(),
              "No report of 20260310_0900 \"baseline\" yet: press Generate...");
    EXPECT_TRUE(w->chart_view->chart()->series().isEmpty());
    EXPECT_EQ(w->status(), "");
    EXPECT_FALSE(w->last_outcome().written);
}

TEST(ReportWindow, RawDataControlsReact) {
    ReportWindowRig r;
    const fs::path folder = r.Acquisition("20260314_0930", "run", 60);
    frm_report* w = OpenReportWindow(*r.window, folder);
    ASSERT_NE(w, nullptr);
    const std::pair<const char*, const char*> thresholds[] = {
        {"0.9", "1.8"}, {"7", "1.8"}, {"6.0", "6.0"}};
    for (const auto& [typed, kept] : thresholds) {
        w->frmtxt_threshold->setText(typed);
        w->frmtxt_threshold_LostFocus();
        EXPECT_EQ(w->frmtxt_threshold->text().toStdString(), kept);
    }
    w->Cmb_organism->setCurrentIndex(1);
    w->Cmb_organism_Click();
    EXPECT_EQ(w->frmtxt_threshold->text().toStdString(), "2.8");
    w->Chk_replacedata->setChecked(true);
    QTest::mouseClick(w->Chk_rawexport, Qt::LeftButton);
    EXPECT_FALSE(w->Chk_replacedata->isChecked());
    EXPECT_EQ(w->frmtxt_datalapse->text().toStdString(), "533");
    // No raw pages in the folder.
    w->mnrecalculate->trigger();
    EXPECT_EQ(r.dialogs.Messages().back().rfind("Real Time Data Not Found: ", 0), 0u)
        << r.dialogs.Messages().back();
    EXPECT_NE(r.dialogs.Messages().back().find("0.bin does not exist"), std::string::npos);
    EXPECT_TRUE(w->Frame_run->isHidden());
    QTest::mouseClick(w->Cmd_cancel, Qt::LeftButton);
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(w->cmbbasal->count(), 0);
}

// RUN in the raw-data panel: "Block m/N" at every block while the rest of the window is locked,
// then either the report of the new counts (counts.bin replaced, the recorded one kept as
// counts.bak), or, after STOP, counts.bin untouched and no report.
TEST(ReportWindow, RawDataRunShowsItsProgressAndStopLeavesTheCountsAlone) {
    struct Case {
        const char* what;
        int stop_at;  // STOP clicked while this block is shown; 0: never
        const char* last_status;
    };
    const Case cases[] = {
        {"run to the end", 0, "Block 20/20"},
        {"stop at block 7", 7, "Stopped at block 7/20"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ReportWindowRig r;
        const fs::path folder = r.Acquisition("20260314_0930", "raw run", 19);
        WriteRawPages(folder, 19);
        const std::string recorded = r.files.ReadFile(folder / "counts.bin");
        frm_report* w = OpenReportWindow(*r.window, folder);
        ASSERT_NE(w, nullptr);
        w->mnrecalculate->trigger();
        ASSERT_FALSE(w->Frame_run->isHidden());
        EXPECT_FALSE(w->cmd_stopframe->isEnabled());
        w->Chk_replacedata->setChecked(true);
        w->Chk_replacedata_Click();
        Control<QComboBox>(w, "Cmb_binsize")->setCurrentText(c.stop_at > 0 ? "5" : "1");

        // Every pass of window events during the run sees the label; STOP is clicked as a user
        // would, when its block is shown.
        std::vector<std::string> seen;
        std::function<void()> watch = [&] {
            const std::string status = Text(w->frmlbl_status);
            if (seen.empty() || seen.back() != status) seen.push_back(status);
            EXPECT_FALSE(w->cmd_runframe->isEnabled());
            EXPECT_FALSE(w->Frame_main->isEnabled());
            if (c.stop_at > 0 && status == "Block " + std::to_string(c.stop_at) + "/20")
                QTest::mouseClick(w->cmd_stopframe, Qt::LeftButton);
            r.dialogs.on_events = watch;
        };
        r.dialogs.on_events = watch;
        QTest::mouseClick(w->cmd_runframe, Qt::LeftButton);
        r.dialogs.on_events = nullptr;

        const int blocks = c.stop_at > 0 ? c.stop_at : 20;
        ASSERT_GE(seen.size(), static_cast<std::size_t>(blocks));
        for (int b = 1; b <= blocks; ++b)
            EXPECT_EQ(seen[static_cast<std::size_t>(b - 1)], "Block " + std::to_string(b) + "/20");
        EXPECT_EQ(Text(w->frmlbl_status), c.last_status);
        EXPECT_TRUE(w->cmd_runframe->isEnabled());
        EXPECT_FALSE(w->cmd_stopframe->isEnabled());
        EXPECT_TRUE(w->Frame_main->isEnabled());
        const std::string now = r.files.ReadFile(folder / "counts.bin");
        if (c.stop_at > 0) {
            EXPECT_EQ(now, recorded);
            EXPECT_FALSE(fs::exists(folder / "counts.bak"));
            EXPECT_FALSE(fs::exists(folder / "report.csv"));
            EXPECT_NE(r.dialogs.Messages().back().find("stopped at block 7 of 20"),
                      std::string::npos)
                << r.dialogs.Messages().back();
            EXPECT_EQ(w->status(), "Raw data processing stopped: nothing was changed or written.");
        } else {
            // A bin of 1 minute became 2, in the box and in the status line with the reason.
            EXPECT_EQ(Control<QComboBox>(w, "Cmb_binsize")->currentText().toStdString(), "2");
            EXPECT_EQ(
                w->status(),
                "Re-analysed 20 of 20 blocks; Report written: " + (folder / "report.csv").string() +
                    ", its copy raw_run.csv and the chart report.svg (opened). counts.bin "
                    "holds the new counts; the recorded ones are in " +
                    (folder / "counts.bak").string() +
                    ". Bin size 2 min instead of 1: the report of a re-analysis has bins "
                    "of at least 2 minutes.");
            ASSERT_EQ(now.size(), recorded.size());
            EXPECT_NE(now, recorded);
            EXPECT_EQ(r.files.ReadFile(folder / "counts.bak"), recorded);
            EXPECT_TRUE(w->last_outcome().written) << w->last_outcome().failure;
            EXPECT_EQ(w->chart_view->chart()->title().toStdString(), "raw run");
        }
    }
}

// The exports of the "Advanced" menu write their files into the acquisition folder and open
// what they promise.
TEST(ReportWindow, ExportsWriteTheirFilesFromTheWindow) {
    struct Case {
        const char* entry;
        std::vector<MsgResult> answers;
        std::vector<const char*> files;
        std::vector<const char*> opened;  // after the folder
    };
    const Case cases[] = {
        {"mncircadian",
         {MsgResult::Yes, MsgResult::No},
         {"time.txt", "ch000000.txt", "ch000383.txt", "report2.txt"},
         {"", "report2.txt"}},
        {"mncircadian",
         {MsgResult::No, MsgResult::Yes},
         {"000_A1.txt", "095_H12.txt", "report2.txt"},
         {"", "report2.txt"}},
        {"mntidyexport", {}, {"activity.csv", "metadata.csv"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        ReportWindowRig r;
        const fs::path folder = r.Acquisition("20260314_0930", "export", 120);
        frm_report* w = OpenReportWindow(*r.window, folder);
        ASSERT_NE(w, nullptr);
        for (MsgResult a : c.answers) r.dialogs.QueueAnswer(a);
        r.opened.clear();
        Control<QAction>(w, c.entry)->trigger();
        for (const char* f : c.files) EXPECT_TRUE(fs::exists(folder / f)) << f;
        std::vector<std::string> opened;
        for (const char* f : c.opened) opened.push_back((folder / f).string());
        if (!opened.empty()) opened.front() = folder.string();
        if (opened.empty()) opened.push_back(folder.string());  // the tables' folder
        EXPECT_EQ(r.opened, opened);
        EXPECT_NE(w->status().find(folder.string()), std::string::npos) << w->status();
        EXPECT_NE(w->status().find("(opened)"), std::string::npos) << w->status();
        if (c.opened.empty()) {
            EXPECT_EQ(
                r.dialogs.Messages().back().rfind("The tables for R and Python were written", 0),
                0u)
                << r.dialogs.Messages().back();
            EXPECT_NE(r.dialogs.Messages().back().find((folder / "activity.csv").string()),
                      std::string::npos);
        }
    }
}

// The curves drawn as `role` in a one-panel scene lie within its frame (the height of its
// vertical axis).
::testing::AssertionResult CurvesWithinFrame(const reporting::ChartScene& scene,
                                             const std::string& role) {
    double top = 0, bottom = 0;
    std::size_t curves = 0;
    for (const reporting::SceneItem& i : scene.items) {
        const auto* path = std::get_if<reporting::ScenePath>(&i.shape);
        if (!path || path->points.size() != 2 || i.role != "axis") continue;
        const auto& [a, b] = std::pair(path->points[0], path->points[1]);
        if (a.x == b.x && std::abs(b.y - a.y) > bottom - top)
            std::tie(top, bottom) = std::pair(std::min(a.y, b.y), std::max(a.y, b.y));
    }
    for (const reporting::SceneItem& i : scene.items) {
        const auto* path = std::get_if<reporting::ScenePath>(&i.shape);
        if (!path || i.role != role) continue;
        ++curves;
        for (const reporting::ScenePoint& p : path->points)
            if (p.y < top - 0.5 || p.y > bottom + 0.5)
                return ::testing::AssertionFailure()
                       << role << " at y " << p.y << " outside the frame " << top << ".." << bottom;
    }
    if (curves == 0) return ::testing::AssertionFailure() << "no " << role << " drawn";
    return ::testing::AssertionSuccess();
}

// Three days of the simulated instrument's day-night rhythm (active 12 h of every 24 h): each
// view of the "Rhythm and sleep" tab is drawn with its table, and its picture is painted.
TEST(ReportWindow, RhythmTabDrawsEachViewOfASimulatedMultiDayRun) {
    sim::SimConfig config;
    config.default_activity = 0.05;
    config.rhythm.period_hours = 24.0;
    config.rhythm.active_hours = 12.0;
    config.rhythm.rest_fraction = 0.05;
    sim::Instrument instrument(config);
    constexpr std::int64_t kMinute = 60'000'000;
    instrument.AdvanceTo(kMinute);
    std::vector<std::uint64_t> before(kBeamChannelCount, 0);
    ReportWindowRig r;
    const fs::path folder =
        r.Acquisition("20260314_0930", "rhythm", 3 * 1440, [&](int m, std::size_t c) {
            if (m == 0) return 0;
            const std::uint64_t n =
                instrument.CrossingsStarted(static_cast<int>(c), (m + 1) * kMinute);
            const auto counted = static_cast<int>(n - before[c]);
            before[c] = n;
            return counted;
        });
    frm_report* w = OpenReportWindow(*r.window, folder);
    ASSERT_NE(w, nullptr);
    RhythmTab* tab = w->rhythm_tab;
    // Whatever rule was chosen before, the tab shows an acquisition with its organism's.
    auto* rule = Control<QComboBox>(tab, "Cmb_sleeprule");
    auto* bout = Control<QDoubleSpinBox>(tab, "Spin_boutmin");
    rule->setCurrentIndex(2);
    bout->setValue(7);
    w->report_tabs->setCurrentWidget(tab);
    struct Case {
        int view;
        const char* shape;  // a role the view draws
        const char* header;
        bool per_bin;        // the table has a line per bin
        const char* inputs;  // the view's own controls, enabled
    };
    const Case cases[] = {
        {0, "bars", "id,kind,group,status,row,t_h,offset_h,counts,light", true,
         "Spin_rowperiod Chk_double"},
        {1, "significance",
         "id,kind,group,status,n_wells,method,peak_rule,period_min_h,period_max_h,alpha,"
         "peak_period_h,power,threshold,significant",
         false, "Cmb_method Spin_periodmin Spin_periodmax Cmb_peak"},
        {2, "se-band", "id,kind,group,n_wells,fold,t_h,mean,se,light", true, ""},
        {3, "mean",
         "id,kind,group,status,n_wells,phase,observed_min,sleep_min,sleep_pct,zero_min,"
         "bouts,mean_bout_min,latency_min,nights,bout_min,definition,rule",
         false, "Cmb_sleeprule Spin_boutmin"},
        {4, "fit",
         "id,kind,group,status,n_wells,period_h,period_source,reference,n_bins,mesor,mesor_lo,"
         "mesor_hi,amplitude,amplitude_lo,amplitude_hi,acrophase_h,acrophase_lo_h,"
         "acrophase_hi_h,acrophase_zt,acrophase_zt_lo,acrophase_zt_hi,f,df1,df2,p,r2,note",
         false, "Spin_cosperiod Chk_cospeak"},
        {5, "bar",
         "id,kind,group,status,n_wells,bin_min,days,is,iv,ra,m10,m10_onset_h,l5,l5_onset_h,note",
         false, ""},
        {6, "onset",
         "id,kind,group,status,n_wells,day,date,day_mean,onset_h,offset_h,onset_t_h,offset_t_h,"
         "smooth_h,period_h,period_lo_h,period_hi_h,onsets",
         false, "Spin_rowperiod Chk_double Spin_smooth"},
    };
    auto enabled_inputs = [&] {
        std::string on;
        for (const char* name : {"Spin_rowperiod", "Chk_double", "Cmb_method", "Spin_periodmin",
                                 "Spin_periodmax", "Cmb_peak", "Spin_cosperiod", "Chk_cospeak",
                                 "Spin_smooth", "Cmb_sleeprule", "Spin_boutmin"})
            if (Control<QWidget>(tab, name)->isEnabled())
                on += (on.empty() ? "" : " ") + std::string(name);
        return on;
    };
    const QAbstractItemModel* table = tab->findChild<QTableView*>("tbl_rhythm")->model();
    // The table's field `name` on line `row`.
    auto field = [&](int row, const std::string& name) {
        const auto& header = tab->table_header();
        const auto at = std::find(header.begin(), header.end(), name);
        if (at == header.end()) return std::string("no column ") + name;
        return table->index(row, static_cast<int>(at - header.begin()))
            .data()
            .toString()
            .toStdString();
    };
    // At the window's own size the chart gets most of the tab, its table the rest.
    QCoreApplication::processEvents();
    const int chart_height = tab->findChild<SceneView*>("scene_view")->height();
    EXPECT_GE(chart_height, 400);
    EXPECT_GE(chart_height, 2 * tab->findChild<QTableView*>("tbl_rhythm")->height());
    // The project's worms: their 2 min rule.
    EXPECT_EQ(rule->currentText().toStdString(), "C elegans(>L4)");
    EXPECT_EQ(bout->value(), 2.0);
    tab->resize(900, 700);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        tab->view_box()->setCurrentIndex(c.view);
        tab->Cmb_view_Click();
        EXPECT_EQ(enabled_inputs(), c.inputs);
        ASSERT_TRUE(tab->Cmd_show_Click()) << tab->info();
        std::string header;
        for (const auto& f : tab->table_header()) header += (header.empty() ? "" : ",") + f;
        EXPECT_EQ(header, c.header);
        EXPECT_GT(tab->table_rows(), c.per_bin ? 144u : 1u);
        const auto& items = tab->scene().items;
        EXPECT_TRUE(std::any_of(items.begin(), items.end(),
                                [&](const reporting::SceneItem& i) { return i.role == c.shape; }));
        // Painted: the picture holds ink, not only the white page.
        const QImage image = tab->findChild<SceneView*>("scene_view")->grab().toImage();
        int ink = 0;
        for (int y = 0; y < image.height(); y += 3)
            for (int x = 0; x < image.width(); x += 3)
                ink += image.pixel(x, y) != qRgb(255, 255, 255);
        EXPECT_GT(ink, 100);
    }
    EXPECT_NE(tab->info().find("Light:"), std::string::npos) << tab->info();

    // The sleep rule: the worms' as first shown, the zebrafish larvae's when chosen (its length
    // with it), a length of one's own.
    struct RuleCase {
        int organism;  // chosen, -1 for as shown
        double bout;   // typed, 0 for as the organism gives
        double shown_bout;
        const char* definition;
        const char* words;
    };
    const RuleCase rules[] = {
        {-1, 0, 2, "C elegans(>L4)", "no counts for at least 2 min"},
        {1, 0, 1, "Zebrafish(Larvae)", "no counts for at least 1 min"},
        {-1, 3, 3, "Customized", "no counts for at least 3 min"},
    };
    tab->view_box()->setCurrentIndex(3);
    tab->Cmb_view_Click();
    for (const RuleCase& c : rules) {
        SCOPED_TRACE(c.definition);
        if (c.organism >= 0) rule->setCurrentIndex(c.organism);
        if (c.bout > 0) bout->setValue(c.bout);
        EXPECT_EQ(bout->value(), c.shown_bout);
        ASSERT_TRUE(tab->Cmd_show_Click()) << tab->info();
        for (int row = 0; row < static_cast<int>(tab->table_rows()); ++row) {
            ASSERT_EQ(field(row, "definition"), c.definition) << row;
            ASSERT_EQ(field(row, "rule"), c.words) << row;
        }
        EXPECT_NE(tab->info().find(std::string("Sleep: ") + c.definition + ", " + c.words + "."),
                  std::string::npos)
            << tab->info();
    }

    // The cosinor at a period given, and at each series' periodogram peak: the simulated 24 h.
    tab->view_box()->setCurrentIndex(4);
    Control<QDoubleSpinBox>(tab, "Spin_cosperiod")->setValue(23.5);
    tab->Cmb_view_Click();
    ASSERT_TRUE(tab->Cmd_show_Click()) << tab->info();
    EXPECT_EQ(field(0, "period_source"), "given");
    EXPECT_EQ(field(0, "period_h"), "23.5");
    Control<QCheckBox>(tab, "Chk_cospeak")->setChecked(true);
    EXPECT_EQ(enabled_inputs(), "Cmb_method Spin_periodmin Spin_periodmax Cmb_peak Chk_cospeak");
    ASSERT_TRUE(tab->Cmd_show_Click()) << tab->info();
    ASSERT_GT(tab->table_rows(), 1u);
    for (int row = 0; row < static_cast<int>(tab->table_rows()); ++row) {
        if (field(row, "status") == "no beams") continue;
        SCOPED_TRACE(field(row, "id"));
        EXPECT_EQ(field(row, "period_source"), "periodogram peak");
        EXPECT_NEAR(std::stod(field(row, "period_h")), 24.0, 0.5);
        EXPECT_LT(std::stod(field(row, "p")), 0.05);
    }
    Control<QCheckBox>(tab, "Chk_cospeak")->setChecked(false);

    // A well of its own: its periodogram finds the 24 h rhythm above the line; saved like the
    // command line's plot.
    tab->view_box()->setCurrentIndex(1);
    tab->Cmb_view_Click();
    const int a1 = tab->series_box()->findData("w:A1");
    ASSERT_GT(a1, 0);
    tab->series_box()->setCurrentIndex(a1);
    ASSERT_TRUE(tab->Cmd_show_Click()) << tab->info();
    ASSERT_EQ(tab->table_rows(), 1u);
    auto cell = [&](int column) { return table->index(0, column).data().toString().toStdString(); };
    EXPECT_EQ(cell(0), "A1");
    EXPECT_EQ(cell(6), "max-power");
    EXPECT_NEAR(std::stod(cell(10)), 24.0, 0.5);
    EXPECT_EQ(cell(13), "TRUE");
    // The other rule, chosen in the window, is the one the table names.
    QComboBox* peak = tab->findChild<QComboBox*>("Cmb_peak");
    ASSERT_NE(peak, nullptr);
    EXPECT_TRUE(peak->isEnabled());
    peak->setCurrentIndex(peak->findText("above-line"));
    ASSERT_TRUE(tab->Cmd_show_Click()) << tab->info();
    EXPECT_EQ(cell(6), "above-line");
    EXPECT_NEAR(std::stod(cell(10)), 24.0, 0.5);  // a clear rhythm stands highest there too
    peak->setCurrentIndex(peak->findText("max-power"));
    // The autocorrelation of the well peaks a day after, above its line.
    QComboBox* method = Control<QComboBox>(tab, "Cmb_method");
    method->setCurrentIndex(method->findText("autocorrelation"));
    ASSERT_TRUE(tab->Cmd_show_Click()) << tab->info();
    EXPECT_EQ(cell(5), "autocorrelation");
    EXPECT_NEAR(std::stod(cell(10)), 24.0, 0.5);
    EXPECT_EQ(cell(13), "TRUE");
    // Negative at the shortest periods, it is drawn within the frame; so is the well's fitted
    // cosine, whose trough lies below zero.
    EXPECT_TRUE(CurvesWithinFrame(tab->scene(), "power"));
    tab->view_box()->setCurrentIndex(4);
    ASSERT_TRUE(tab->Cmd_show_Click()) << tab->info();
    EXPECT_TRUE(CurvesWithinFrame(tab->scene(), "fit"));
    tab->view_box()->setCurrentIndex(1);
    method->setCurrentIndex(method->findText("chi-square"));
    ASSERT_TRUE(tab->Cmd_show_Click()) << tab->info();
    r.opened.clear();
    tab->Cmd_save_Click();
    EXPECT_TRUE(fs::exists(folder / "periodogram_A1.svg"));
    EXPECT_TRUE(fs::exists(folder / "periodogram_A1.csv"));
    EXPECT_EQ(r.opened, std::vector<std::string>{(folder / "periodogram_A1.svg").string()});
    EXPECT_EQ(tab->info(), "Written: " + (folder / "periodogram_A1.svg").string() +
                               " and periodogram_A1.csv (opened)");

    // The window opened for another acquisition while the tab is shown: the tab draws that
    // one, with its own wells and its organism's sleep rule (zebrafish larvae here), at once.
    const fs::path other = r.Acquisition("20260315_0930", "other", 2 * 1440,
                                         [](int m, std::size_t) { return m % 1440 < 720 ? 3 : 0; });
    {
        ProjectState setup;
        PlateMap plate;
        setup.ProjectFolder = other;
        LoadProject(r.ctx->storage, 0, 0, setup, plate, SetupUse::Reading);
        setup.ToolParams[1][0] = 1;
        SaveProjectSetup(r.ctx->storage, 0, setup);
    }
    ASSERT_EQ(OpenReportWindow(*r.window, other), w);
    EXPECT_EQ(tab->series_box()->currentIndex(), 0);
    EXPECT_EQ(rule->currentText().toStdString(), "Zebrafish(Larvae)");
    EXPECT_EQ(bout->value(), 1.0);
    EXPECT_EQ(tab->Request().folder, other);
    EXPECT_EQ(tab->table_rows() > 0, true) << tab->info();
    EXPECT_NE(tab->info().find("Light:"), std::string::npos) << tab->info();

    // Saved before it was shown: the first acquisition again, the tab out of sight. The sleep
    // table is counted by that acquisition's own rule (worms), not the zebrafish still chosen.
    w->report_tabs->setCurrentIndex(0);
    ASSERT_EQ(OpenReportWindow(*r.window, folder), w);
    tab->view_box()->setCurrentIndex(static_cast<int>(reporting::RhythmView::Sleep));
    tab->Cmb_view_Click();
    EXPECT_EQ(rule->currentText().toStdString(), "Zebrafish(Larvae)");
    tab->Cmd_save_Click();
    const std::string saved = r.files.ReadFile(folder / "sleep.csv");
    EXPECT_NE(saved.find(",C elegans(>L4),no counts for at least 2 min\r\n"), std::string::npos)
        << saved.substr(0, 400);
    EXPECT_EQ(saved.find("Zebrafish"), std::string::npos);
}

// A dose plate of the Default project's 96 wells: column 1 the vehicle, column 12 the positive
// control, columns 2..9 Levamisole from 0.03 to 100 uM; every beam counts the curve's value
// (EC50 1 uM) from the first hour on, its top before.
std::string DosePlateMap() {
    std::string text = "well,treatment,concentration,unit,role,strain\n";
    const char* concentrations[] = {"0.03", "0.1", "0.3", "1", "3", "10", "30", "100"};
    for (char row = 'A'; row <= 'H'; ++row) {
        const std::string r(1, row);
        text += r + "1,DMSO,,,negative,N2\n" + r + "12,Ivermectin,10,uM,positive,N2\n";
        for (int c = 2; c <= 9; ++c)
            text += r + std::to_string(c) + ",Levamisole," + concentrations[c - 2] + ",uM,sample," +
                    (row < 'E' ? "N2" : "unc-29") + "\n";
    }
    return text;
}

TEST(ReportWindow, CompareAndDoseTabsShowTheTestsAndTheCurveOfADosePlate) {
    ReportWindowRig r;
    const auto inputs = reporting::LoadReportInputs(r.ctx->storage, r.install);
    ASSERT_TRUE(inputs);
    const double concentrations[] = {0, 0.03, 0.1, 0.3, 1, 3, 10, 30, 100, 0, 0, 10};
    const auto count = [&](int minute, std::size_t channel) {
        const int well = inputs->channel_well[channel];
        if (well < 0 || minute == 0) return 0;
        const int column = well / 8;  // wells run down the columns
        if (column == 9 || column == 10) return 0;
        const double top = 40.0;
        if (minute <= 60 || column == 0) return static_cast<int>(top);
        if (column == 11) return 2;
        const double v = 2.0 + (top - 2.0) / (1.0 + std::pow(concentrations[column] / 1.0, 1.5));
        return static_cast<int>(std::lround(v + static_cast<double>(channel % 3) - 1.0));
    };
    const fs::path folder = r.Acquisition("20260314_0930", "dose plate", 240, count);
    r.files.WriteFile(folder / "wells.csv", DosePlateMap());
    frm_report* w = OpenReportWindow(*r.window, folder);
    ASSERT_NE(w, nullptr);

    CompareTab* compare = w->compare_tab;
    w->report_tabs->setCurrentWidget(compare);
    compare->resize(900, 700);
    compare->from_box()->setValue(1.0);
    compare->to_box()->setValue(4.0);
    ASSERT_TRUE(compare->Cmd_show_Click()) << compare->info();
    ASSERT_GE(compare->table_header().size(), 30u);
    EXPECT_EQ(compare->table_header()[0], "group");
    EXPECT_EQ(compare->table_header().back(), "strain");  // the map's own column
    EXPECT_EQ(compare->table_rows(), 9u + 1u);            // 8 concentrations and Ivermectin; the Z'
    // Columns 10 and 11 have counts of 0 (no map entry): left out and said so.
    EXPECT_NE(compare->info().find("16 wells left out (not in wells.csv)"), std::string::npos)
        << compare->info();
    const auto& items = compare->scene().items;
    EXPECT_TRUE(std::any_of(items.begin(), items.end(),
                            [](const reporting::SceneItem& i) { return i.role == "wells"; }));
    EXPECT_TRUE(std::any_of(items.begin(), items.end(), [](const reporting::SceneItem& i) {
        const auto* t = std::get_if<reporting::SceneText>(&i.shape);
        return i.role == "significance" && t && t->text == "***";
    }));
    // The control box lists the groups it can be tested against.
    EXPECT_GE(compare->control_box()->findText("Levamisole 1 uM"), 0);
    compare->Cmd_save_Click();
    EXPECT_TRUE(fs::exists(folder / "stats.svg"));
    EXPECT_TRUE(fs::exists(folder / "stats.csv"));

    DoseTab* dose = w->dose_tab;
    w->report_tabs->setCurrentWidget(dose);
    dose->from_box()->setValue(1.0);
    dose->to_box()->setValue(4.0);
    dose->normalise_box()->setCurrentIndex(1);
    ASSERT_TRUE(dose->Cmd_show_Click()) << dose->info();
    ASSERT_EQ(dose->table_rows(), 1u);
    const QAbstractItemModel* table = dose->findChild<QTableView*>("tbl_screen")->model();
    const auto cell = [&](const std::string& column) {
        const auto& h = dose->table_header();
        const auto at = std::find(h.begin(), h.end(), column) - h.begin();
        return table->index(0, static_cast<int>(at)).data().toString().toStdString();
    };
    EXPECT_EQ(cell("treatment"), "Levamisole");
    EXPECT_EQ(cell("converged"), "TRUE");
    EXPECT_NEAR(std::stod(cell("ec50")), 1.0, 0.1);
    EXPECT_NEAR(std::stod(cell("top")), 100.0, 3.0);  // percent of the vehicle
    EXPECT_NE(dose->info().find("20260314_0930: Z' "), std::string::npos) << dose->info();
    const QImage image = dose->findChild<SceneView*>("scene_view")->grab().toImage();
    int ink = 0;
    for (int y = 0; y < image.height(); y += 3)
        for (int x = 0; x < image.width(); x += 3) ink += image.pixel(x, y) != qRgb(255, 255, 255);
    EXPECT_GT(ink, 100);

    // A replicate plate pooled with this one doubles each group; over time, a fit per bin.
    const fs::path replicate = r.Acquisition("20260315_0930", "dose plate 2", 240, count);
    r.files.WriteFile(replicate / "wells.csv", DosePlateMap());
    dose->AddPlates({replicate});
    dose->over_time_box()->setChecked(true);
    ASSERT_TRUE(dose->Cmd_show_Click()) << dose->info();
    EXPECT_EQ(dose->table_rows(), 6u);  // six 30-minute bins from 1 h to 4 h
    EXPECT_EQ(cell("n"), "128");        // 8 concentrations x 8 wells x 2 plates
    dose->Cmd_save_Click();
    EXPECT_TRUE(fs::exists(folder / "dose.csv"));
    EXPECT_FALSE(fs::exists(replicate / "dose.csv"));  // written into the first plate only
}

TEST(ReportWindow, UserDefinedSettingsMakeTheReportAfterARun) {
    ReportWindowRig r;
    const fs::path folder = r.Acquisition("20260314_0930", "auto run", 90);
    EXPECT_FALSE(Control<QAction>(r.window.get(), "mn_userbin")->isChecked());
    Control<QAction>(r.window.get(), "mn_userbin")->trigger();
    // Choosing the entry leaves its mark alone and shows the user-defined window.
    EXPECT_FALSE(Control<QAction>(r.window.get(), "mn_userbin")->isChecked());
    Frm_reportset* set = r.ReportSet();
    ASSERT_NE(set, nullptr);
    EXPECT_TRUE(set->isVisible());
    EXPECT_EQ(set->windowTitle().toStdString(), "User Defined Report");
    Control<QComboBox>(set, "Cmb_binsize")->setCurrentText("60");
    Control<QRadioButton>(set, "Option_output_3")->click();
    EXPECT_FALSE(Control<QCheckBox>(set, "Chk_statistic_3")->isEnabled());
    EXPECT_TRUE(Control<QCheckBox>(set, "Chk_statistic_0")->isEnabled());
    Control<QRadioButton>(set, "Option_output_1")->click();
    EXPECT_TRUE(Control<QCheckBox>(set, "Chk_statistic_3")->isEnabled());
    QTest::mouseClick(set->Cmd_generate, Qt::LeftButton);
    EXPECT_TRUE(Control<QAction>(r.window.get(), "mn_userbin")->isChecked());
    EXPECT_FALSE(set->isVisible());
    EXPECT_EQ(r.dialogs.Messages().back(), "User Configuration Applied");
    const std::string config = r.files.ReadFile(r.install / "repoconf.dat");
    EXPECT_NE(config.find("\r\n1,60,0,\",\",1,0,1,1,"), std::string::npos) << config;

    // The end of a run: the report generates itself in the stored layout, at the main
    // window's bin size.
    const reporting::ReportOutcome out = ReportAfterRun(*r.window, folder);
    ASSERT_TRUE(out.written) << out.failure;
    EXPECT_EQ(out.bin_size, 30);
    EXPECT_EQ(r.dialogs.Messages().back(), "Report File AutoGenerated");
    EXPECT_NE(r.files.ReadFile(folder / "report.csv").find("Time,Group,Value"), std::string::npos);
    EXPECT_EQ(r.Report(), nullptr);

    // A report that cannot be made claims no success: its own message, and the status line
    // keeps it for whoever comes back to the screen.
    const fs::path short_run = r.Acquisition("20260314_1030", "too short", 0);
    const reporting::ReportOutcome failed = ReportAfterRun(*r.window, short_run);
    EXPECT_FALSE(failed.written);
    EXPECT_EQ(r.dialogs.Messages().back(), failed.failure);
    EXPECT_EQ(r.dialogs.Messages().back().rfind("Not enough activity data", 0), 0u);
    EXPECT_EQ(Control<QLabel>(r.window.get(), "lbl_status")->text().toStdString(),
              "The automatic report was not written: " + failed.failure);

    // Back to the defaults: the end of a run opens the report window instead.
    Control<QAction>(r.window.get(), "mn_userbin")->trigger();
    QTest::mouseClick(r.ReportSet()->Cmd_cancel, Qt::LeftButton);
    EXPECT_FALSE(Control<QAction>(r.window.get(), "mn_userbin")->isChecked());
    EXPECT_EQ(r.dialogs.Messages().back(), "Default Report Configuration Applied");
    fs::remove(folder / "report.csv");
    const reporting::ReportOutcome opened = ReportAfterRun(*r.window, folder);
    EXPECT_FALSE(opened.written);
    EXPECT_EQ(r.dialogs.Messages().back(), "Acquisition finished");
    ASSERT_NE(r.Report(), nullptr);
    EXPECT_TRUE(r.Report()->isVisible());
    EXPECT_FALSE(fs::exists(folder / "report.csv"));
}

TEST(ReportWindow, TheChartOfAShortReportKeepsItsHalfMinuteLabels) {
    ReportWindowRig r;
    const fs::path folder = r.Acquisition("20260314_0930", "short", 1);
    frm_report* w = OpenReportWindow(*r.window, folder);
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(GenerateWithBin(w, "1"));
    const QValueAxis* x = TimeAxis(w);
    ASSERT_NE(x, nullptr) << "the chart has not one value axis across";
    // Each tick's label as the axis writes it: no two alike ("0 1 1 2 2" before).
    QStringList labels;
    for (int i = 0; i < x->tickCount(); ++i) {
        const double v = x->min() + (x->max() - x->min()) * i / (x->tickCount() - 1);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        labels << QString::asprintf(x->labelFormat().toLatin1().constData(), v);
#pragma GCC diagnostic pop
    }
    EXPECT_EQ(labels.removeDuplicates(), 0) << labels.join(" ").toStdString();
    EXPECT_TRUE(labels.contains("0.5")) << labels.join(" ").toStdString();
}

TEST(ReportWindow, AOneBinReportIsDrawnWholeAndItsBinSizeExplained) {
    ReportWindowRig r;
    // Without an application for the report, the window still says where it is.
    r.ctx->open_document = [](const QUrl&) { return false; };
    const fs::path folder = r.Acquisition("20260314_0930", "four minutes", 4);
    frm_report* w = OpenReportWindow(*r.window, folder);
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(GenerateWithBin(w, "30"));
    EXPECT_EQ(Control<QComboBox>(w, "Cmb_binsize")->currentText().toStdString(), "4");
    EXPECT_EQ(w->status(), "Report written: " + (folder / "report.csv").string() +
                               ", its copy four_minutes.csv and the chart report.svg (no "
                               "application could open it). The recording (4 min) is shorter "
                               "than the bin of 30 min: bin size corrected to 4 min.");
    // The one point of each group lies inside the time axis, not on its right edge.
    const QValueAxis* x = TimeAxis(w);
    ASSERT_NE(x, nullptr) << "the chart has not one value axis across";
    int means = 0;
    for (QAbstractSeries* series : w->chart_view->chart()->series()) {
        const auto* line = qobject_cast<const QLineSeries*>(series);
        if (line == nullptr || line->name().isEmpty()) continue;
        ++means;
        ASSERT_EQ(line->count(), 1);
        EXPECT_GT(x->max() - line->at(0).x(), (x->max() - x->min()) * 0.1);
        EXPECT_TRUE(line->pointsVisible());
    }
    EXPECT_GT(means, 0);
}

TEST(ReportWindow, ChildWindowsOpenOverTheMainWindowAndComeBackWhereTheyWere) {
    ForgetWindowPlaces();
    ReportWindowRig r;
    r.window->setGeometry(300, 200, 1000, 700);
    r.window->show();
    const fs::path folder = r.Acquisition("20260314_0930", "placed", 30);
    frm_report* w = OpenReportWindow(*r.window, folder);
    ASSERT_NE(w, nullptr);
    // Over its parent, not in the corner of the screen.
    const QPoint offset = w->frameGeometry().center() - r.window->frameGeometry().center();
    EXPECT_LE(offset.manhattanLength(), 4) << offset.x() << "," << offset.y();
    // Moved and resized, then closed: the next time (the next run of the program) it comes
    // back there.
    w->setGeometry(120, 90, 640, 480);
    const QRect placed = w->geometry();
    w->close();
    r.window.reset();
    ReportWindowRig again;
    frm_report* w2 = OpenReportWindow(*again.window, again.Acquisition("20260314_0930", "x", 30));
    ASSERT_NE(w2, nullptr);
    EXPECT_EQ(w2->geometry(), placed);
    ForgetWindowPlaces();
}

}  // namespace
}  // namespace lumivo::app::testing
