// The report windows' behaviour without widgets: loading the configuration into the controls
// (with or without the user-defined flag), the bin-size list, separator, threshold and raw-data
// reactions, the histogram option, the basal list, "Apply", "Back to Default" and mn_userbin.
#include "core/reporting/report/report_settings.h"

#include <gtest/gtest.h>

#include "core/storage/file_system.h"
#include "support/scripted_dialogs.h"

namespace lumivo::reporting {
namespace {

namespace fs = std::filesystem;

struct Rig {
    MemoryFileSystem files;
    lumivo::testing::ScriptedDialogs dialogs;
    StorageContext ctx{"/inst", dialogs, files, [] { return std::string(";"); }};
    ReportSettings settings;
    Rig() { files.CreateFolders("/inst/p00001"); }
    std::string Config() { return files.ReadFile("/inst/repoconf.dat"); }
    void Acquisition(const std::string& name, const std::string& title, bool counts = true) {
        const fs::path f = fs::path("/inst/p00001") / name;
        files.CreateFolders(f);
        files.WriteFile(f / "subproj.dat", "\"" + title + "\"\r\n\"d\"\r\n");
        if (counts) files.WriteFile(f / "counts.bin", std::string(774 * 2, '\0'));
    }
};

constexpr const char* kDefaultsLine = "1,30,0,\";\",1,0,1,0,0,1,18,0";

TEST(ReportSettings, WithoutUserSettingsTheWindowRewritesTheDefaults) {
    Rig r;
    r.files.WriteFile("/inst/repoconf.dat", "\"h\"\r\n1,45,1,\" \",0,1,0,2,1,2,25,1\r\n");
    ReportWindowState w;
    LoadReportWindow(r.ctx, r.settings, false, w);
    EXPECT_NE(r.Config().find("0,30,0,\";\",1,0,1,0,0,1,18,0\r\n"), std::string::npos)
        << r.Config();
    EXPECT_EQ(w.bin_text, "30");
    EXPECT_EQ(w.bin_items.size(), 12u);
    EXPECT_EQ(w.filetype, 0);
    EXPECT_EQ(w.spacer, ";");
    EXPECT_EQ(w.output, 0);
    EXPECT_EQ(w.statistic, (std::array<bool, 5>{false, false, true, false, true}));
    EXPECT_EQ(w.method, 1);
    EXPECT_EQ(w.threshold_text, "1.8");
    EXPECT_FALSE(w.raw_export);

    // With the user's settings on, the stored values are shown; a stored bin of 45 is appended.
    r.files.WriteFile("/inst/repoconf.dat", "\"h\"\r\n1,45,1,\" \",0,1,0,2,1,2,25,1\r\n");
    LoadReportWindow(r.ctx, r.settings, true, w);
    EXPECT_EQ(w.bin_text, "45");
    EXPECT_EQ(w.bin_items.back(), "45");
    EXPECT_EQ(w.bin_items[10], "1440");
    EXPECT_EQ(w.filetype, 1);
    EXPECT_EQ(w.spacer, " ");
    EXPECT_EQ(w.output, 2);
    EXPECT_EQ(w.statistic, (std::array<bool, 5>{false, false, false, true, false}));
    EXPECT_EQ(w.method, 2);
    EXPECT_EQ(w.organism, 1);
    EXPECT_EQ(w.threshold_text, "2.5");
    EXPECT_TRUE(w.raw_export);
}

TEST(ReportSettings, ControlReactions) {
    Rig r;
    ReportWindowState w;
    LoadReportWindow(r.ctx, r.settings, false, w);
    w.spacer = "|";
    ReportFileTypeChosen(r.settings, 1, w);
    EXPECT_EQ(w.spacer, " ");
    ReportFileTypeChosen(r.settings, 0, w);
    EXPECT_EQ(w.spacer, ";");

    OrganismChosen(1, w);
    EXPECT_EQ(w.threshold_text, "2.8");
    OrganismChosen(0, w);
    EXPECT_EQ(w.threshold_text, "1.8");

    const std::pair<const char*, const char*> thresholds[] = {
        {"0.9", "1.8"}, {"7", "1.8"},   {"6.0", "6.0"},   {"1.1", "1.1"},
        {"abc", "1.8"}, {"2,5", "2,5"}, {" 3.2", " 3.2"}, {"6.01", "1.8"}};
    for (const auto& [typed, kept] : thresholds) {
        w.threshold_text = typed;
        ThresholdLeft(w);
        EXPECT_EQ(w.threshold_text, kept) << typed;
    }

    w.replace_data = true;
    RawExportChecked(true, w);
    EXPECT_FALSE(w.replace_data);
    EXPECT_EQ(w.datalapse_text, "533");
    ReplaceDataChecked(true, w);
    EXPECT_FALSE(w.datalapse_enabled);
    ReplaceDataChecked(false, w);
    EXPECT_TRUE(w.datalapse_enabled);
}

TEST(ReportSettings, OpeningForAFolderChoosesTheOutputAndListsBasalAcquisitions) {
    Rig r;
    ReportWindowState w;
    LoadReportWindow(r.ctx, r.settings, false, w);
    EXPECT_FALSE(OpenReportWindowFor(r.ctx, "/inst/p00001/20260314_0930", "60", w));
    EXPECT_EQ(r.dialogs.Messages(),
              std::vector<std::string>{
                  "Activity file not Found: /inst/p00001/20260314_0930/counts.bin does not exist "
                  "(no such folder): give the folder of a recorded acquisition (yyyymmdd_hhmm in "
                  "a project folder), which holds counts.bin."});

    r.Acquisition("20260314_0930", "main run");
    r.Acquisition("20260310_0900", "baseline");
    r.Acquisition("20260312_0800", "second");
    r.Acquisition("20260311_0700", "no counts", false);
    r.files.CreateFolders("/inst/p00001/archive");
    ASSERT_TRUE(OpenReportWindowFor(r.ctx, "/inst/p00001/20260314_0930", "60", w));
    EXPECT_EQ(w.bin_text, "60");
    EXPECT_EQ(w.input_folder, "/inst/p00001/20260314_0930");
    EXPECT_FALSE(w.histogram_visible);
    EXPECT_EQ(w.output, 0);
    EXPECT_EQ(BasalChoices(r.ctx, "/inst/p00001/20260314_0930"),
              (std::vector<std::string>{"-", "20260312_0800 second", "20260310_0900 baseline"}));

    // A body-bends recording offers and chooses the histogram output.
    r.files.WriteFile("/inst/p00001/20260314_0930/histo0000.bin", "");
    ASSERT_TRUE(OpenReportWindowFor(r.ctx, "/inst/p00001/20260314_0930", "30", w));
    EXPECT_TRUE(w.histogram_visible);
    EXPECT_EQ(w.output, 4);
    LoadReportWindow(r.ctx, r.settings, false, w);
    EXPECT_EQ(w.output, 4);

    w.basal_text = "20260310_0900 baseline";
    w.statistic = {true, true, false, true, false};
    const ReportRequest req = RequestFromWindow(w, ",");
    EXPECT_EQ(req.folder, fs::path("/inst/p00001/20260314_0930"));
    EXPECT_EQ(req.bin_size_text, "30");
    EXPECT_EQ(req.options.output, OutputFormat::Histogram);
    EXPECT_FALSE(req.options.std_error);
    EXPECT_TRUE(req.options.std_dev);
    EXPECT_FALSE(req.options.wells);
    EXPECT_EQ(req.options.decimal_symbol, ",");
    EXPECT_EQ(req.basal_text, "20260310_0900 baseline");
}

TEST(ReportSettings, ApplyBackToDefaultAndTheMenuEntry) {
    Rig r;
    ReportSetState w;
    LoadReportSetWindow(r.ctx, r.settings, w);
    // No file yet: the defaults were written with User_defined 1.
    EXPECT_NE(r.Config().find(std::string(kDefaultsLine) + "\r\n"), std::string::npos);
    EXPECT_EQ(w.bin_text, "30");

    bool mn_userbin = false;
    w.bin_text = "720";
    w.filetype = 1;
    w.spacer = "\t";
    w.output = 3;
    w.statistic = {false, false, false, true, true};
    w.raw_export = true;
    ASSERT_TRUE(ApplyUserReport(r.ctx, r.settings, w, mn_userbin));
    EXPECT_TRUE(mn_userbin);
    EXPECT_EQ(r.dialogs.Messages().back(), "User Configuration Applied");
    EXPECT_NE(r.Config().find("1,720,1,\"\t\",0,1,1,3,0,1,18,1\r\n"), std::string::npos)
        << r.Config();

    // A bin size that is not a whole number from 2 to 1440 is refused; nothing changes.
    for (const char* bad : {"45.5", "1", "1441", "x", ""}) {
        w.bin_text = bad;
        mn_userbin = false;
        EXPECT_FALSE(ApplyUserReport(r.ctx, r.settings, w, mn_userbin)) << bad;
        EXPECT_FALSE(mn_userbin);
        EXPECT_EQ(r.dialogs.Messages().back(), kBinSizeRefused);
        EXPECT_EQ(r.settings.config.Bin, 720);
    }

    mn_userbin = true;
    BackToDefaultReport(r.ctx, r.settings, mn_userbin);
    EXPECT_FALSE(mn_userbin);
    EXPECT_EQ(r.dialogs.Messages().back(), "Default Report Configuration Applied");
    EXPECT_NE(r.Config().find("0,30,0,\";\",1,0,1,0,0,1,18,0\r\n"), std::string::npos);
    EXPECT_EQ(r.settings.config.Bin, 30);

    // The menu entry saves the configuration with its own state as the flag.
    UserBinEntryChosen(r.ctx, r.settings, true);
    EXPECT_EQ(r.Config().substr(r.Config().find("\r\n") + 2, 2), "1,");
    UserBinEntryChosen(r.ctx, r.settings, false);
    EXPECT_EQ(r.Config().substr(r.Config().find("\r\n") + 2, 2), "0,");
}

}  // namespace
}  // namespace lumivo::reporting
