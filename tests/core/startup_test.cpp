// The program's command line, the main window's loading sequence on a shipped installation
// folder held in memory, the project header, and the closing steps.
#include "core/startup/startup.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "core/platform/install_dir.h"
#include "core/storage/installation.h"
#include "support/fake_clock.h"
#include "support/scripted_dialogs.h"

namespace lumivo {
namespace {

using testing::FakeClock;
using testing::ScriptedDialogs;

const std::filesystem::path kInstall = "/inst";

TEST(AutorunCommandLine, OnlyThreeSpellingsOfTheWholeTrimmedLine) {
    struct Case {
        const char* line;
        bool autorun;
    };
    const Case cases[] = {
        {"/RUN", true},    {"/run", true},  {"/Run", true},      {" /RUN ", true},
        {"   /run", true}, {"/rUn", false}, {"/RUn", false},     {"/RUN x", false},
        {"RUN", false},    {"", false},     {"/RUN/RUN", false}, {"\t/RUN", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsAutorunCommandLine(c.line), c.autorun) << c.line;
}

TEST(AppCommandLine, OptionsAreTakenOutBeforeTheAutorunTest) {
    struct Case {
        std::vector<std::string> args;
        std::string install;
        bool simulate;
        bool autorun;
        bool help = false;
        bool version = false;
        std::string usage_error = "";
    };
    const std::vector<Case> cases = {
        {{"--install", "/d", "--simulate", " /RUN "}, "/d", true, true},
        {{"/Run", "--install=/e"}, "/e", false, true},
        {{"--simulate", "/rUn"}, "", true, false},
        {{"/RUN", "extra"}, "", false, false},
        {{"--simulate"}, "", true, false},
        {{"--help"}, "", false, false, true},
        {{"-h", "/RUN"}, "", false, true, true},
        {{"--version"}, "", false, false, false, true},
        {{"--simulat", "/RUN"}, "", false, false, false, false, "unknown option \"--simulat\""},
        {{"/RUN", "--colour=red"},
         "",
         false,
         false,
         false,
         false,
         "unknown option \"--colour=red\""},
    };
    for (const auto& c : cases) {
        const AppCommandLine cl = ParseAppCommandLine(c.args);
        EXPECT_EQ(cl.simulate, c.simulate);
        EXPECT_EQ(cl.autorun, c.autorun) << cl.remaining;
        EXPECT_EQ(cl.help, c.help);
        EXPECT_EQ(cl.version, c.version);
        EXPECT_EQ(cl.usage_error, c.usage_error);
        if (!c.install.empty())
            EXPECT_EQ(cl.install_dir, c.install);
        else
            EXPECT_EQ(cl.install_dir, DefaultInstallDir());
    }
}

struct RecordingStartupView final : StartupView {
    std::vector<std::string> calls;  // the order of what was shown
    std::vector<std::string> news;
    std::array<bool, 3> panels{};
    std::vector<std::string> organisms;
    std::optional<std::string> organism_text;
    std::vector<std::string> bins;
    std::string bin_selected;
    bool user_bin = false;
    ProjectHeader header;
    bool usable = false;

    void ResetDeviceControls() override { calls.push_back("reset"); }
    void ShowLauncherLoading() override { calls.push_back("launcher"); }
    void SetLauncherNews(const std::string& t) override { news.push_back(t); }
    void ShowToolPanels(bool c, bool l, bool t) override {
        calls.push_back("panels");
        panels = {c, l, t};
    }
    void SetOrganismList(const std::vector<std::string>& items,
                         const std::optional<std::string>& text) override {
        organisms = items;
        organism_text = text;
    }
    void LoadToolSettings(ProjectState&) override { calls.push_back("tools"); }
    void SetReportBins(const std::vector<std::string>& items, const std::string& selected,
                       bool user_defined) override {
        bins = items;
        bin_selected = selected;
        user_bin = user_defined;
    }
    void PrepareLiveDisplays(const AppState&) override { calls.push_back("live"); }
    void ShowProjectHeader(const ProjectHeader& h) override { header = h; }
    void MakeLauncherUsable() override {
        calls.push_back("usable");
        usable = true;
    }
};

// A file system whose reads of one file fail in a way no storage procedure expects.
struct FaultyFileSystem final : MemoryFileSystem {
    std::string fail_name;
    std::string ReadFile(const std::filesystem::path& p) override {
        if (p.filename() == fail_name) throw std::logic_error("unexpected");
        return MemoryFileSystem::ReadFile(p);
    }
};

struct Rig {
    // The shipped installation folder, with or without its config.dat.
    explicit Rig(bool with_config = true) {
        files.CreateFolders(kInstall);
        for (const auto& f : ShippedDataFiles()) {
            if (!with_config && std::string_view(f.name) == kConfigFileName) continue;
            files.WriteFile(kInstall / f.name,
                            std::string(reinterpret_cast<const char*>(f.data), f.size));
        }
        storage.list_separator_source = [] { return std::string(","); };
    }
    void WriteConfig(const std::string& line2) {
        files.WriteFile(kInstall / "config.dat",
                        std::string("\"") + kConfigHeader + "\"\r\n" + line2 + "\r\n");
    }
    // Rewrites a project's setup.dat after changing its state.
    void SaveProject(const std::filesystem::path& folder, int number,
                     const std::function<void(ProjectState&)>& change) {
        ProjectState p;
        p.ProjectFolder = folder;
        PlateMap plate;
        LoadProject(storage, number, number, p, plate);
        change(p);
        SaveProjectSetup(storage, number, p);
    }
    StartupResult Run(std::string_view command_line = "") {
        StartupContext ctx{storage, clock, app, view};
        return RunStartup(ctx, command_line);
    }

    FakeClock clock;
    ScriptedDialogs dialogs;
    FaultyFileSystem files;
    StorageContext storage{kInstall, dialogs, files};
    AppState app;
    RecordingStartupView view;
};

TEST(RunStartup, ShippedInstallationLoadsTheDefaultProjectWithPacedTexts) {
    Rig r;
    const StartupResult res = r.Run();
    EXPECT_TRUE(res.completed);
    EXPECT_FALSE(res.autorun);
    EXPECT_TRUE(r.dialogs.shown().empty());
    EXPECT_EQ(r.app.InitStage, 9);
    EXPECT_EQ(r.app.config.Actual_Project_Number, 0);
    EXPECT_EQ(r.app.project.ProjectFolder, kInstall);
    EXPECT_EQ(r.view.calls,
              (std::vector<std::string>{"reset", "launcher", "panels", "tools", "live", "usable"}));
    EXPECT_EQ(r.view.news, (std::vector<std::string>{"STARTING........... Reading Configuration...",
                                                     "STARTING........... Configuration OK...",
                                                     "status = not connected yet"}));
    // Five paced steps of 500 ms, each letting window events run.
    EXPECT_GE(r.clock.MonotonicMillis(), 5 * kStartupPaceMs);
    EXPECT_LT(r.clock.MonotonicMillis(), 5 * kStartupPaceMs + 100);
    EXPECT_GE(r.dialogs.events_processed(), 5 * (kStartupPaceMs / kStartupPaceSliceMs));
    EXPECT_EQ(r.view.panels, (std::array<bool, 3>{true, false, false}));
    EXPECT_EQ(r.view.organisms, OrganismChoices());
    EXPECT_EQ(r.view.organism_text, std::optional<std::string>("C elegans(>L4)"));
    EXPECT_EQ(r.view.bin_selected, "30");
    EXPECT_FALSE(r.view.user_bin);
    EXPECT_EQ(r.view.bins.size(), 10u);
    EXPECT_EQ(r.view.header.projecto, "0_Default");
    EXPECT_EQ(r.view.header.wellformat, "w96f");
    EXPECT_FALSE(r.view.header.bodybends_enabled);
    EXPECT_TRUE(r.files.IsFile(kInstall / "repoconf.dat"));  // written with the defaults
}

TEST(RunStartup, ProjectWhoseFolderIsMissingStartsProjectZero) {
    Rig r;
    r.SaveProject(kInstall, 0, [](ProjectState& p) { p.Setup.Name = "Bench"; });
    r.WriteConfig("7,7,4,0");
    EXPECT_TRUE(r.Run().completed);
    EXPECT_EQ(r.app.config.Actual_Project_Number, 0);
    EXPECT_EQ(r.app.config.Last_Project, 7);
    EXPECT_EQ(r.app.config.ComPortNumber, 4);
    EXPECT_EQ(r.app.project.ProjectFolder, kInstall);
    EXPECT_EQ(r.app.project.Setup.Name, "Bench");  // the installation folder's setup.dat
    EXPECT_EQ(r.view.header.projecto, "0_Bench");
    EXPECT_TRUE(r.dialogs.shown().empty());
}

TEST(RunStartup, ExistingProjectFolderIsLoaded) {
    Rig r;
    const auto folder = kInstall / "p00003";
    r.files.CreateFolders(folder);
    r.SaveProject(folder, 3, [](ProjectState& p) {
        p.Setup.Name = "Larvae";
        p.Setup.Plate_format = "w96u";
        p.Setup.Aq_lapse = 240;
        p.ToolMenu[2] = 1;
        p.ToolMenu[3] = 1;
        p.ToolParams[1][0] = 1;
    });
    r.WriteConfig("3,5,2,0");
    EXPECT_TRUE(r.Run().completed);
    EXPECT_EQ(r.app.project.ProjectFolder, folder);
    EXPECT_EQ(r.view.header.projecto, "3_Larvae");
    EXPECT_EQ(r.view.header.acqlapse, "240");
    EXPECT_TRUE(r.view.header.bodybends_enabled);
    EXPECT_EQ(r.view.panels, (std::array<bool, 3>{true, true, true}));
    EXPECT_EQ(r.view.organism_text, std::optional<std::string>("Zebrafish(larvae)"));
    EXPECT_EQ(r.app.plate.PlateRows, 8);
}

TEST(OpenProjectToRecord, LoadsTheStoredProjectAndRefusesAMissingOrDamagedOne) {
    struct Case {
        const char* what;
        int number;
        const char* setup;  // setup.dat of p00003 as written ("" keeps the saved one)
        bool exists;
        bool failed;
    };
    const Case cases[] = {
        {"the stored project", 3, "", true, false},
        {"the installation's own project 0", 0, "", true, false},
        {"no such project", 4, "", false, false},
        {"a damaged setup.dat", 3, "\"damaged\"\r\n", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig r;
        const auto folder = kInstall / "p00003";
        r.files.CreateFolders(folder);
        r.SaveProject(folder, 3, [](ProjectState& p) { p.Setup.Name = "Larvae"; });
        if (*c.setup != '\0') r.files.WriteFile(folder / "setup.dat", c.setup);
        r.WriteConfig("0,5,2,0");
        const std::string before = r.files.ReadFile(folder / "setup.dat");
        const std::vector<std::string> files_before = r.files.ListFiles(folder);

        const ProjectOpening opened = OpenProjectToRecord(r.storage, r.app, c.number);
        EXPECT_EQ(opened.exists, c.exists);
        EXPECT_EQ(opened.failure.has_value(), c.failed);
        EXPECT_EQ(opened.ok(), c.exists && !c.failed);
        EXPECT_EQ(opened.folder, ProjectFolderFor(kInstall, c.number));
        EXPECT_EQ(r.app.config.ComPortNumber, 2);  // config.dat was read
        if (opened.ok()) {
            EXPECT_EQ(r.app.config.Actual_Project_Number, c.number);
            EXPECT_EQ(r.app.project.ProjectFolder, opened.folder);
            if (c.number == 3) {
                EXPECT_EQ(r.app.project.Setup.Name, "Larvae");
            }
        }
        // Nothing is recovered or written, whatever was found.
        EXPECT_EQ(r.files.ReadFile(folder / "setup.dat"), before);
        EXPECT_EQ(r.files.ListFiles(folder), files_before);
    }
}

TEST(RunStartup, MissingConfigGivesBothNoticesThenProjectOneFallsBackToZero) {
    Rig r(/*with_config=*/false);
    EXPECT_TRUE(r.Run().completed);
    EXPECT_EQ(r.dialogs.Messages(),
              (std::vector<std::string>{kConfigNotFoundMessage, kConfigLoadErrorMessage}));
    EXPECT_EQ(r.app.config.ComPortNumber, 4);
    EXPECT_EQ(r.app.config.Actual_Project_Number, 0);       // p00001 does not exist
    EXPECT_FALSE(r.files.IsFile(kInstall / "config.dat"));  // not rewritten
}

TEST(RunStartup, ConfigRestoredByTheInstallationGivesBothNotices) {
    // config.dat deleted from a working installation: the installation writes the shipped one
    // back, and the start-up says so instead of going on silently with the shipped port and
    // project.
    Rig r(/*with_config=*/false);
    const InstallationResult installed = EnsureInstallation(r.files, kInstall);
    ASSERT_TRUE(installed.ok());
    ASSERT_TRUE(installed.ConfigRestored());
    r.app.config_restored = installed.ConfigRestored();
    EXPECT_TRUE(r.Run().completed);
    EXPECT_EQ(r.dialogs.Messages(),
              (std::vector<std::string>{kConfigNotFoundMessage, kConfigLoadErrorMessage}));
    EXPECT_EQ(r.app.config.ComPortNumber, 1);  // the shipped "0,0,1,0"
    // A brand-new installation folder is no reason for the notices.
    EXPECT_FALSE(EnsureInstallation(r.files, "/fresh").ConfigRestored());
}

TEST(RunStartup, UserDefinedReportBinIsShownAndMarked) {
    Rig r;
    ReportSettings s;
    s.config.Bin = 45;
    ASSERT_TRUE(SaveReportConfig(r.storage, s, 1));
    r.Run();
    EXPECT_TRUE(r.view.user_bin);
    EXPECT_EQ(r.view.bin_selected, "45");
}

TEST(RunStartup, AutorunIsReportedOnlyForTheExactSwitch) {
    for (const auto& [line, autorun] : std::vector<std::pair<std::string, bool>>{
             {" /RUN ", true}, {"/rUn", false}, {"", false}}) {
        Rig r;
        const StartupResult res = r.Run(line);
        EXPECT_TRUE(res.completed);
        EXPECT_EQ(res.autorun, autorun) << line;
        EXPECT_EQ(r.app.AutorunRequested, autorun);
    }
}

TEST(RunStartup, UnexpectedErrorStopsWithTheStageAndLeavesTheLauncherUsable) {
    Rig r;
    r.files.fail_name = "setup.dat";
    const StartupResult res = r.Run("/RUN");
    EXPECT_FALSE(res.completed);
    EXPECT_FALSE(res.autorun);
    EXPECT_EQ(r.dialogs.Messages(),
              (std::vector<std::string>{"Error loading INIT parameters #ERROR:3"}));
    EXPECT_EQ(r.view.calls, (std::vector<std::string>{"reset", "launcher", "usable"}));
}

TEST(OrganismText, KnownValuesAndTheRest) {
    EXPECT_EQ(OrganismText(0), "C elegans(>L4)");
    EXPECT_EQ(OrganismText(1), "Zebrafish(larvae)");
    EXPECT_EQ(OrganismText(2), "Customized");
    EXPECT_EQ(OrganismText(7), "size <100um");
    EXPECT_EQ(OrganismText(8), "size 0.1-1mm");
    EXPECT_EQ(OrganismText(9), "size >1mm");
    for (int other : {-1, 3, 6, 10}) EXPECT_FALSE(OrganismText(other).has_value());
}

struct ClosingRig : Rig {
    int port_closes = 0;
    int file_closes = 0;
    ClosingSteps steps{[this] { ++port_closes; }, [this] { ++file_closes; }};
    bool Close() { return RunMainWindowClosing(storage, clock, app, steps); }
};

TEST(MainWindowClosing, OfflineAsksNothingAndClosesNoPort) {
    ClosingRig r;
    r.app.connection.OfflineMode = true;
    EXPECT_TRUE(r.Close());
    EXPECT_TRUE(r.dialogs.shown().empty());
    EXPECT_EQ(r.port_closes, 0);
    EXPECT_EQ(r.file_closes, 1);
}

TEST(MainWindowClosing, YesSavesTheProjectNoLeavesItAndBothCloseThePort) {
    for (const bool yes : {true, false}) {
        ClosingRig r;
        r.Run();
        r.app.project.Setup.Name = "Renamed";
        r.dialogs.QueueAnswer(yes ? MsgResult::Yes : MsgResult::No);
        const auto t0 = r.clock.MonotonicMillis();
        EXPECT_TRUE(r.Close());
        ASSERT_EQ(r.dialogs.shown().size(), 1u);
        EXPECT_EQ(r.dialogs.shown()[0].text, "Update values to project 0_Renamed before Exit?");
        EXPECT_EQ(r.dialogs.shown()[0].buttons, MsgButtons::YesNo);
        const bool saved =
            r.files.ReadFile(kInstall / "setup.dat").find("\"Renamed\"") != std::string::npos;
        EXPECT_EQ(saved, yes);
        EXPECT_EQ(r.files.IsFile(kInstall / "setup.bak"), yes);
        EXPECT_EQ(r.clock.MonotonicMillis() - t0, yes ? 600 : 0);
        EXPECT_EQ(r.port_closes, 1);
        EXPECT_EQ(r.file_closes, 1);
    }
}

TEST(MainWindowClosing, FailedSaveKeepsTheWindowOpen) {
    ClosingRig r;
    r.app.config.Actual_Project_Number = 3;
    r.app.project.ProjectFolder = kInstall / "p00003";  // folder vanished: writes fail
    r.dialogs.QueueAnswer(MsgResult::Yes);
    EXPECT_FALSE(r.Close());
    ASSERT_EQ(r.dialogs.Messages().size(), 2u);
    EXPECT_EQ(r.dialogs.Messages()[1].rfind("Error saving project 3_Default", 0), 0u);
    EXPECT_EQ(r.port_closes, 0);
    EXPECT_EQ(r.file_closes, 0);
}

}  // namespace
}  // namespace lumivo
