// Project operations of the setup window on a real installation folder: creating (golden group
// files after the automatic arrangement), saving, loading, renaming, the parameter checks and
// the change of plate format, each with its questions and refusals in their exact texts.
#include "core/setup/project_ops.h"

#include <gtest/gtest.h>

#include "core/setup/plate_groups.h"
#include "core/storage/installation.h"
#include "storage_test_util.h"

using namespace lumivo;
using namespace lumivo::testing;

namespace {

// An installation folder with the shipped data and the Default project loaded, as the program
// has it when the setup window opens.
struct SetupFixture : DiskStorage {
    GlobalConfig config;
    ProjectState project;
    PlateMap plate;
    SetupSession session{ctx, config, project, plate};

    SetupFixture() {
        EXPECT_TRUE(EnsureInstallation(files, dir.path()).ok());
        EXPECT_TRUE(LoadConfig(ctx, config));
        config.Actual_Project_Number = 0;
        project.ProjectFolder = dir.path();
        LoadProject(ctx, 0, 0, project, plate);
        EXPECT_TRUE(dialogs.shown().empty());
    }
    // Creates project `n` on disk from the current state.
    void MakeProject(int n, const std::string& name) {
        const fs::path folder = dir / ("p" + FiveDigits(n));
        fs::create_directories(folder);
        ProjectState copy = project;
        copy.Setup.Name = name;
        copy.ProjectFolder = folder;
        SaveProjectSetup(ctx, n, copy);
    }
    std::string ConfigLine2() {
        const LineText lines(ReadBytes(dir / "config.dat"));
        return lines.size() > 1 ? lines[1] : "";
    }
    std::string SetupName(int n) { return GetProjectTitle(ctx, ProjectFolderFor(dir.path(), n)); }
};

}  // namespace

TEST(SetupProject, ArrangedProjectIsSavedAsTheGoldenGroupFilesAndLoadsBackIdentically) {
    SetupFixture f;
    ASSERT_EQ(f.project.Setup.Plate_format, "w96f");
    f.config.Last_Project = 4;
    f.dialogs.QueueAnswer(MsgResult::Ok);
    f.dialogs.QueueInput("Arranged plate, \"4 blocks\"");
    ASSERT_EQ(NewProject(f.session), 5);
    EXPECT_EQ(f.dialogs.shown()[0].text, "Do you like to Create a New Project?");
    EXPECT_EQ(f.dialogs.shown()[1].text, "Enter the New Project Name");
    EXPECT_EQ(f.dialogs.shown()[1].title, "Saving <5> with a new name");

    const auto captions = BlockSizeCaptions(f.plate);
    ASSERT_NE(std::find(captions.begin(), captions.end(), "04x06 [RowsxColumn]"), captions.end());
    const auto size = ParseBlockSize("04x06 [RowsxColumn]");
    ASSERT_TRUE(size);
    EXPECT_EQ(ArrangeInBlocks(f.project, f.plate, *size), 4);
    ASSERT_TRUE(SaveCurrentProject(f.session));

    const fs::path folder = f.dir / "p00005";
    for (const char* file : {"chgroup.dat", "groups.dat"})
        EXPECT_EQ(ReadBytes(folder / file), ReadBytes(GoldenDir() / "setup_w96f_arranged" / file))
            << file;
    EXPECT_EQ(f.ConfigLine2(), "5,5,1,0");

    // A second program state loads the listed project back.
    GlobalConfig config2;
    ProjectState project2;
    PlateMap plate2;
    SetupSession other{f.ctx, config2, project2, plate2};
    const auto list = ListProjects(f.ctx);
    ASSERT_EQ(list, (std::vector<std::string>{"p00005_Arranged plate, \"4 blocks\""}));
    ASSERT_EQ(LoadListedProject(other, list[0]), 5);
    EXPECT_EQ(config2.Actual_Project_Number, 5);
    EXPECT_EQ(project2.ProjectFolder, folder);
    EXPECT_EQ(project2.Setup.Name, "Arranged plate, \"4 blocks\"");
    EXPECT_EQ(project2.Setup.Working_folder, folder.string() + "/");
    EXPECT_EQ(project2.ChannelGroup, f.project.ChannelGroup);
    EXPECT_EQ(project2.GroupName, f.project.GroupName);
    EXPECT_EQ(project2.ChannelEnabled, f.project.ChannelEnabled);
    EXPECT_EQ(RebuildGroupList(project2),
              (std::vector<std::string>{"000_Group0", "001_Group1", "002_Group2", "003_Group3"}));
    EXPECT_EQ(f.dialogs.Messages().size(), 1u);  // only the question: no load errors
}

TEST(SetupProject, NewProjectStopsWhereTheUserStops) {
    {  // Cancel on the question.
        SetupFixture f;
        f.dialogs.QueueAnswer(MsgResult::Cancel);
        EXPECT_FALSE(NewProject(f.session));
        EXPECT_EQ(f.config.Last_Project, 0);
    }
    {  // Cancel on the name: nothing is created.
        SetupFixture f;
        f.dialogs.QueueAnswer(MsgResult::Ok);
        f.dialogs.QueueInput(std::nullopt);
        EXPECT_FALSE(NewProject(f.session));
        EXPECT_EQ(f.config.Last_Project, 0);
        EXPECT_FALSE(fs::exists(f.dir / "p00001"));
    }
    for (const char* blank : {"", "   "}) {  // An empty name is refused: no "1_" project.
        SetupFixture f;
        f.dialogs.QueueAnswer(MsgResult::Ok);
        f.dialogs.QueueInput(blank);
        EXPECT_FALSE(NewProject(f.session));
        EXPECT_EQ(f.dialogs.Messages().back(),
                  "The project name is empty: no project was created.");
        EXPECT_EQ(f.config.Actual_Project_Number, 0);
        EXPECT_FALSE(fs::exists(f.dir / "p00001"));
    }
    {  // A name that cannot be stored is refused before anything changes.
        SetupFixture f;
        f.dialogs.QueueAnswer(MsgResult::Ok);
        f.dialogs.QueueInput("first\nsecond");
        EXPECT_FALSE(NewProject(f.session));
        EXPECT_EQ(f.dialogs.Messages().back(),
                  "The project name \"first?second\" contains a line break and cannot be saved. "
                  "Please use a single line.");
        EXPECT_EQ(f.config.Last_Project, 0);
        EXPECT_EQ(f.config.Actual_Project_Number, 0);
        EXPECT_FALSE(fs::exists(f.dir / "p00001"));
    }
}

TEST(SetupProject, NumberingStartsAgainAfter32000AndAsksBeforeOverwriting) {
    for (const MsgResult answer : {MsgResult::Yes, MsgResult::No}) {
        SetupFixture f;
        f.MakeProject(1, "Old one");
        f.config.Last_Project = 32000;
        f.dialogs.QueueAnswer(MsgResult::Ok);
        f.dialogs.QueueInput("Fresh");
        f.dialogs.QueueAnswer(answer);
        const auto n = NewProject(f.session);
        EXPECT_EQ(f.dialogs.Messages().at(1),
                  "The project number to generate (p00001already exists. do you like to "
                  "overwrite?");
        EXPECT_EQ(f.config.Last_Project, 1);  // raised in memory either way
        if (answer == MsgResult::Yes) {
            EXPECT_EQ(n, 1);
            EXPECT_EQ(f.SetupName(1), "<Project> p00001: Fresh");
            EXPECT_EQ(f.ConfigLine2(), "1,1,1,0");
        } else {
            EXPECT_FALSE(n);
            EXPECT_EQ(f.config.Actual_Project_Number, 0);
            EXPECT_EQ(f.SetupName(1), "<Project> p00001: Old one");
        }
    }
}

TEST(SetupProject, SaveUpdatesOrSavesUnderANewNameOrDoesNothing) {
    struct Case {
        MsgResult answer;
        bool saved;
        int project_after;
    };
    for (const Case c : {Case{MsgResult::Yes, true, 3}, Case{MsgResult::No, true, 4},
                         Case{MsgResult::Cancel, false, 3}}) {
        SetupFixture f;
        f.MakeProject(3, "Assay");
        f.config.Last_Project = 3;
        ASSERT_TRUE(LoadProjectNumber(f.session, 3));
        f.project.Setup.Aq_lapse = 77;
        f.dialogs.QueueAnswer(c.answer);
        if (c.answer == MsgResult::No) f.dialogs.QueueInput("Assay copy");
        EXPECT_EQ(SaveProjectInteractive(f.session), c.saved);
        EXPECT_EQ(f.dialogs.shown().at(0).text, "Do you like to Update <3_Assay> values?");
        EXPECT_EQ(f.config.Actual_Project_Number, c.project_after);
        EXPECT_EQ(fs::exists(f.dir / "p00003/setup.bak"), c.answer == MsgResult::Yes);
        if (c.answer == MsgResult::No) {
            EXPECT_EQ(f.dialogs.shown().at(1).text, "Enter the New Project Name");
            EXPECT_EQ(f.dialogs.shown().at(1).title, "Saving <3_Assay> with a new name");
            EXPECT_EQ(ListProjects(f.ctx),
                      (std::vector<std::string>{"p00003_Assay", "p00004_Assay copy"}));
        }
        // The lapse reached the disk only where something was saved.
        ProjectState reread;
        reread.ProjectFolder = f.project.ProjectFolder;
        LoadProjectSetup(f.ctx, c.project_after, c.project_after, reread);
        EXPECT_EQ(reread.Setup.Aq_lapse, c.saved ? 77 : 30);
    }
}

TEST(SetupProject, CreateFailureKeepsTheCurrentProjectAndSaysSo) {
    {  // The folder cannot be made: a file has its name.
        SetupFixture f;
        WriteBytes(f.dir / "p00001", "not a folder");
        f.dialogs.QueueAnswer(MsgResult::Ok);
        f.dialogs.QueueInput("Nowhere");
        EXPECT_FALSE(NewProject(f.session));
        EXPECT_EQ(f.dialogs.Messages().back(),
                  "The project folder " + (f.dir / "p00001").string() + " cannot be created.");
        EXPECT_EQ(f.config.Actual_Project_Number, 0);
    }
    {  // The files cannot be written: the state goes back to the project it was.
        SetupFixture f;
        fs::create_directories(f.dir / "p00001/status.dat");  // a folder where a file goes
        f.dialogs.QueueAnswer(MsgResult::Ok);
        f.dialogs.QueueInput("Cannot be written");
        f.dialogs.QueueAnswer(MsgResult::Yes);  // overwrite the existing folder
        EXPECT_FALSE(NewProject(f.session));
        EXPECT_TRUE(f.dialogs.AllAnswersUsed());
        EXPECT_EQ(
            f.dialogs.Messages().back().rfind("Error saving project 1_Cannot be written: ", 0), 0u)
            << f.dialogs.Messages().back();
        EXPECT_EQ(f.config.Actual_Project_Number, 0);
        EXPECT_EQ(f.config.Last_Project, 1);
        EXPECT_EQ(f.project.ProjectFolder, f.dir.path());
        EXPECT_EQ(f.project.Setup.Name, "Default");
        EXPECT_EQ(f.ConfigLine2(), "0,0,1,0");  // config.dat untouched
    }
}

TEST(SetupProject, LoadAsksToSaveFirstAndLoadsListedEntries) {
    {
        SetupFixture f;
        f.project.Setup.Aq_lapse = 55;
        f.dialogs.QueueAnswer(MsgResult::Yes);
        EXPECT_TRUE(PrepareLoad(f.session));
        EXPECT_EQ(f.dialogs.shown()[0].text, "Do you like to save current values before new load?");
        EXPECT_TRUE(fs::exists(f.dir / "setup.bak"));  // the Default project was saved
        f.dialogs.QueueAnswer(MsgResult::No);
        EXPECT_TRUE(PrepareLoad(f.session));
        f.dialogs.QueueAnswer(MsgResult::Cancel);
        EXPECT_FALSE(PrepareLoad(f.session));
    }
    {  // A folder p00000 is the Default project in the installation folder.
        SetupFixture f;
        f.MakeProject(7, "Seven");
        f.MakeProject(0, "Copy of default");
        ASSERT_EQ(LoadListedProject(f.session, "p00007_Seven"), 7);
        EXPECT_EQ(f.project.Setup.Name, "Seven");
        EXPECT_EQ(f.config.Last_Project, 7);
        EXPECT_EQ(f.ConfigLine2(), "7,7,1,0");
        ASSERT_EQ(LoadListedProject(f.session, "p00000_Copy of default"), 0);
        EXPECT_EQ(f.project.ProjectFolder, f.dir.path());
        EXPECT_EQ(f.project.Setup.Name, "Default");
        EXPECT_FALSE(LoadListedProject(f.session, "pabcde_x"));
        EXPECT_FALSE(LoadListedProject(f.session, "p00009_Gone"));
        EXPECT_EQ(f.dialogs.Messages().back(),
                  "The project folder " + (f.dir / "p00009").string() + " does not exist.");
        EXPECT_EQ(f.config.Actual_Project_Number, 0);
    }
}

TEST(SetupProject, ProjectListHoldsNumberedFoldersWithASetup) {
    SetupFixture f;
    f.MakeProject(10, "Ten, with \"quotes\"");
    f.MakeProject(3, "Three");
    fs::create_directories(f.dir / "p00004");  // no setup.dat
    fs::create_directories(f.dir / "pabcde");  // not numbered
    fs::create_directories(f.dir / "p0001");   // four digits
    fs::create_directories(f.dir / "p00005.old");
    WriteBytes(f.dir / "p00005.old/setup.dat", ReadBytes(f.dir / "p00003/setup.dat"));
    EXPECT_EQ(ListProjects(f.ctx),
              (std::vector<std::string>{"p00003_Three", "p00010_Ten, with \"quotes\""}));
}

TEST(SetupProject, RenameChangesTheNameInMemoryUntilTheNextSave) {
    SetupFixture f;
    EXPECT_FALSE(RenameCurrentProject(f.session));  // no input box: it would fail unscripted
    EXPECT_EQ(f.dialogs.Messages(),
              (std::vector<std::string>{
                  "Not possible to rename the Default project. Save it with another Name"}));

    f.MakeProject(6, "Before");
    ASSERT_TRUE(LoadProjectNumber(f.session, 6));
    f.dialogs.QueueInput(std::string("A, B \"and\" C"));
    EXPECT_TRUE(RenameCurrentProject(f.session));
    EXPECT_EQ(f.dialogs.shown().back().text, "Rename Project: Entre New Name");
    EXPECT_EQ(ProjectCaption(f.session), "6_A, B \"and\" C");
    EXPECT_EQ(ListProjects(f.ctx), (std::vector<std::string>{"p00006_Before"}));
    ASSERT_TRUE(SaveCurrentProject(f.session));
    EXPECT_EQ(ListProjects(f.ctx), (std::vector<std::string>{"p00006_A, B \"and\" C"}));

    for (const std::optional<std::string>& answer :
         {std::optional<std::string>(""), std::optional<std::string>(),
          std::optional<std::string>("x\ry")}) {
        f.dialogs.QueueInput(answer);
        EXPECT_FALSE(RenameCurrentProject(f.session));
        EXPECT_EQ(f.project.Setup.Name, "A, B \"and\" C");
    }
    EXPECT_EQ(f.dialogs.Messages().back(),
              "The project name \"x?y\" contains a line break and cannot be saved. Please use a "
              "single line.");
}

TEST(SetupProject, ScriptedRenameRewritesTheSetupFile) {
    SetupFixture f;
    f.MakeProject(2, "Old");
    const std::string before = ReadBytes(f.dir / "p00002/setup.dat");
    EXPECT_TRUE(RenameProjectFiles(f.ctx, 2, "New, \"quoted\" name"));
    EXPECT_EQ(ListProjects(f.ctx), (std::vector<std::string>{"p00002_New, \"quoted\" name"}));
    EXPECT_EQ(ReadBytes(f.dir / "p00002/setup.bak"), before);
    ProjectState reread;
    reread.ProjectFolder = f.dir / "p00002";
    EXPECT_TRUE(LoadProjectSetup(f.ctx, 2, 2, reread).ok);
    EXPECT_EQ(reread.Setup.Name, "New, \"quoted\" name");
    EXPECT_EQ(reread.Setup.Plate_format, "w96f");  // the fields after the name are intact

    struct Refusal {
        int number;
        std::string name;
        std::string message;
    };
    const Refusal refusals[] = {
        {0, "Anything", "Not possible to rename the Default project. Save it with another Name"},
        {2, "", "The project name is empty."},
        {2, "a\nb",
         "The project name \"a?b\" contains a line break and cannot be saved. Please use a single "
         "line."},
        {9, "Nine",
         "No project p00009: " + (f.dir / "p00009/setup.dat").string() + " does not exist."},
    };
    for (const auto& r : refusals) {
        EXPECT_FALSE(RenameProjectFiles(f.ctx, r.number, r.name)) << r.name;
        EXPECT_EQ(f.dialogs.Messages().back(), r.message);
    }
    EXPECT_EQ(ListProjects(f.ctx), (std::vector<std::string>{"p00002_New, \"quoted\" name"}));
}

TEST(SetupProject, ClosingWithUnsavedChangesAsksAndKeepsOrDiscardsThem) {
    // Groups changed in the window: Cancel keeps the window, No puts the project back as the
    // window found it (the zero levels, which are the main window's, stay), Yes saves.
    struct Case {
        MsgResult answer;
        bool closes;
        bool group_kept;
        bool saved;
    };
    for (const Case c :
         {Case{MsgResult::Cancel, false, true, false}, Case{MsgResult::No, true, false, false},
          Case{MsgResult::Yes, true, true, true}}) {
        SetupFixture f;
        f.MakeProject(1, "One");
        ASSERT_TRUE(LoadProjectNumber(f.session, 1));
        const SetupSnapshot snapshot = TakeSetupSnapshot(f.session);
        EXPECT_TRUE(CloseSetupWindow(f.session, snapshot));  // nothing changed: no question
        EXPECT_TRUE(f.dialogs.AllAnswersUsed());

        f.project.ChannelGroup[5] = 3;
        f.project.GroupName[3] = "Discard me";
        f.project.ChannelThreshold[7] = 12.5;  // a zero level from the main window
        f.dialogs.QueueAnswer(c.answer);
        EXPECT_EQ(CloseSetupWindow(f.session, snapshot), c.closes);
        EXPECT_EQ(f.dialogs.Messages().back(),
                  "The project 1_One has changes that are not saved.\r\nSave them before closing?");
        EXPECT_EQ(f.project.ChannelGroup[5] == 3, c.group_kept);
        EXPECT_EQ(f.project.ChannelThreshold[7], 12.5);
        ProjectState on_disk;
        on_disk.ProjectFolder = ProjectFolderFor(f.dir.path(), 1);
        PlateMap plate;
        LoadProject(f.ctx, 1, 1, on_disk, plate);
        EXPECT_EQ(on_disk.ChannelGroup[5] == 3, c.saved);
    }
}

TEST(SetupProject, ThePlateMapIsLoadedAndSavedWithTheProjectAndAnUnreadableOneIsKept) {
    SetupFixture f;
    f.MakeProject(1, "One");
    const fs::path folder = ProjectFolderFor(f.dir.path(), 1);
    const fs::path file = folder / "wells.csv";
    WriteBytes(file,
               "well,treatment,concentration,unit,role,genotype\nA1,drug,1,uM,sample,wt\n"
               "B1,,,,negative,wt\n");
    ASSERT_TRUE(LoadProjectNumber(f.session, 1));
    EXPECT_TRUE(f.dialogs.Messages().empty());
    ASSERT_EQ(f.project.Wells.wells.size(), 2u);
    EXPECT_EQ(f.project.Wells.extra_columns, std::vector<std::string>{"genotype"});
    EXPECT_EQ(f.project.Wells.wells[1].role, WellRole::Negative);
    // The recorder's loader reads it too.
    ProjectState stored;
    stored.ProjectFolder = folder;
    PlateMap plate;
    ASSERT_FALSE(LoadProjectAsStored(f.ctx, 1, stored, plate, SetupUse::Recording));
    EXPECT_EQ(stored.Wells.wells.size(), 2u);

    // An edit of the map is a change of the project, saved with it.
    const SetupSnapshot snapshot = TakeSetupSnapshot(f.session);
    f.project.Wells.wells[0].concentration = 2.5;
    EXPECT_TRUE(SetupChanged(f.session, snapshot));
    ASSERT_TRUE(SaveCurrentProject(f.session));
    EXPECT_EQ(ReadBytes(file),
              "well,treatment,concentration,unit,role,genotype\nA1,drug,2.5,uM,sample,wt\n"
              "B1,,,,negative,wt\n");
    // An empty map leaves no file behind.
    f.project.Wells.wells.clear();
    ASSERT_TRUE(SaveCurrentProject(f.session));
    EXPECT_FALSE(fs::exists(file));

    // A file that cannot be read is told (by its line), loads no map and survives a save.
    const std::string bad = "well,role\nA1,sample\nZ99,sample\n";
    WriteBytes(file, bad);
    ASSERT_TRUE(LoadProjectNumber(f.session, 1));
    ASSERT_EQ(f.dialogs.Messages().size(), 1u);
    const std::string message = f.dialogs.Messages()[0];
    EXPECT_NE(message.find(file.string()), std::string::npos) << message;
    EXPECT_NE(message.find("line 3: the well \"Z99\" is not on the plate"), std::string::npos)
        << message;
    EXPECT_TRUE(f.project.Wells.empty());
    EXPECT_FALSE(f.project.WellsFailure.empty());
    ASSERT_TRUE(SaveCurrentProject(f.session));
    EXPECT_EQ(ReadBytes(file), bad);
    // A recording (or its resume, unattended) goes on without it, asking nobody.
    ProjectState recording;
    recording.ProjectFolder = folder;
    ASSERT_FALSE(LoadProjectAsStored(f.ctx, 1, recording, plate, SetupUse::Recording));
    EXPECT_EQ(f.dialogs.Messages().size(), 1u);
    EXPECT_EQ(recording.WellsFailure, f.project.WellsFailure);
    // Saved under a new name over another project: that project's map does not stay behind.
    f.MakeProject(2, "Two");
    const fs::path other = ProjectFolderFor(f.dir.path(), 2) / "wells.csv";
    WriteBytes(other, "well\nA1\n");
    f.config.Last_Project = 1;
    f.dialogs.QueueAnswer(MsgResult::Yes);  // overwrite p00002
    ASSERT_EQ(CreateProjectAs(f.session, "Copy"), 2);
    EXPECT_FALSE(fs::exists(other));
    EXPECT_EQ(ReadBytes(file), bad);
}

TEST(SetupFields, NumberBoxesKeepTheirRanges) {
    // Text that is not a number is refused with a message and the value stays (defaults:
    // lapse 30, RT_Buffer 500, sample rate 99, display interval 30).
    struct Case {
        FieldEdit (*edit)(ProjectSetup&, std::string_view);
        const char* text;
        int value;
        std::optional<std::string> shown;
        bool refused = false;
    };
    auto lapse = +[](ProjectSetup& s, std::string_view t) { return EditAqLapse(s, t); };
    auto buffer = +[](ProjectSetup& s, std::string_view t) { return EditRtBuffer(s, t); };
    auto rate = +[](ProjectSetup& s, std::string_view t) { return EditSampleRate(s, t); };
    auto dsp = +[](ProjectSetup& s, std::string_view t) { return EditDspInterval(s, t); };
    const Case cases[] = {
        {lapse, "0", 2, "2"},
        {lapse, "40000", 32000, "32000"},
        {lapse, "32000", 32000, "32000"},
        {lapse, "-3", 2, "2"},
        {lapse, "0.3", 2, "2"},
        // The guide's range starts at 2 minutes: 1 (or 1.4, rounded) is raised to it.
        {lapse, "1", 2, "2"},
        {lapse, "1.4", 2, "2"},
        {lapse, "2", 2, {}},
        {lapse, "abc", 30, "30", true},
        {lapse, "", 30, "30", true},
        {lapse, "120", 120, {}},
        {lapse, " 45.5 ", 46, {}},
        {lapse, "44.5", 44, {}},
        {lapse, "1e9", 32000, "32000"},
        {buffer, "150", 500, "500"},
        {buffer, "10000", 10000, {}},
        {buffer, "499", 500, "500"},
        {buffer, "10001", 500, "500"},
        {buffer, "600", 600, {}},
        {buffer, "x", 500, "500", true},
        {buffer, "12x", 500, "500", true},
        {buffer, "200", 500, "500"},
        {rate, "99.5", 100, {}},
        {rate, "40000", 32767, "32767"},
        {rate, "-7", -7, {}},
        {rate, "fast", 99, "99", true},
        {dsp, "30", 30, {}},
        {dsp, "-1", 0, "0"},
        {dsp, "", 30, "30", true},
    };
    for (const auto& c : cases) {
        ProjectSetup s;
        const FieldEdit e = c.edit(s, c.text);
        const int value = c.edit == lapse    ? s.Aq_lapse
                          : c.edit == buffer ? s.RT_Buffer
                          : c.edit == rate   ? s.Sample_Rate
                                             : s.DSP_Interval;
        EXPECT_EQ(value, c.value) << "\"" << c.text << "\"";
        EXPECT_EQ(e.shown, c.shown) << "\"" << c.text << "\"";
        EXPECT_EQ(!e.message.empty(), c.refused) << "\"" << c.text << "\"";
    }
    ProjectSetup s;
    EXPECT_EQ(EditAqLapse(s, "abc").message,
              "Invalid value: \"abc\" is not a number. The acquisition lapse (minutes) stays 30.");
}

TEST(SetupFields, ListsAndSwitchesSetTheirValues) {
    ProjectState p;
    ChooseAqMode(p.Setup, 3);
    ChooseAqMode(p.Setup, -1);  // a cleared list leaves the value
    ChooseAqMode(p.Setup, 6);
    EXPECT_EQ(p.Setup.Aq_mode, 3);
    ChooseDspMethod(p.Setup, 0);
    EXPECT_EQ(p.Setup.DSP_Method, 0);
    ChooseSaveCounts(p.Setup, "NO");
    ChooseSaveReal(p.Setup, "YES");
    EXPECT_EQ(p.Setup.Save_counts, 0);
    EXPECT_EQ(p.Setup.Save_real, 1);
    SetToolMenu(p, 2, true);
    SetToolMenu(p, 1, false);
    SetToolMenu(p, 7, true);  // no such tool
    EXPECT_EQ(p.ToolMenu, (ToolMenuTable{0, 0, 1, 0, 0, 0, 0}));
    EXPECT_EQ(AqModeChoices().at(5), "5_Fast(96.127)");
    EXPECT_EQ(DspMethodChoices().at(1), "1_Threshold Avrg (Default.Agar&Liquid)");
}

TEST(SetupPlate, FormatListIsTheInstallationsPlateFiles) {
    SetupFixture f;
    WriteBytes(f.dir / "W12X.DAT", "");
    WriteBytes(f.dir / "notes.dat", "");
    WriteBytes(f.dir / "w.txt", "");
    EXPECT_EQ(ListPlateFormats(f.ctx), (std::vector<std::string>{"w12x", "w24", "w384", "w48", "w6",
                                                                 "w96f", "w96flat", "w96u"}));
}

TEST(SetupPlate, ChangingTheFormatAsksClearsTheGroupsAndDescribesTheFormat) {
    struct Case {
        std::string name;
        std::optional<MsgResult> answer;  // none: no question
        PlateChange result;
        std::vector<std::string> messages_after_question;
    };
    const Case cases[] = {
        {"w12", {}, PlateChange::Refused, {}},
        {"../config", {}, PlateChange::Refused, {}},
        {"w384", MsgResult::No, PlateChange::Kept, {}},
        {"w384",
         MsgResult::Yes,
         PlateChange::Changed,
         {"384 Well microplate [1microbeams/well]\r\nUSE 'W384' plate Adapter"}},
        {"w96flat",
         MsgResult::Yes,
         PlateChange::Changed,
         {"96 Wells flat bottom [4microbeams/well]\r\nUSE 'W384' or 'W96x4' plate "
          "Adapter\r\nNOTE: DISCONTINUED. Contact provider"}},
        // A plate without some wells of the plate map: they leave the map, and the user is told.
        {"w48",
         MsgResult::Yes,
         PlateChange::Changed,
         {PlateFormatDescription("w48"),
          "1 well of the plate map (wells.csv) is not on the new plate and was taken out of the "
          "map: H12."}},
    };
    for (const auto& c : cases) {
        SetupFixture f;
        f.project.Wells.wells = {{"A1", "drug", 1.0, "uM", WellRole::Sample, {}},
                                 {"H12", "drug", 2.0, "uM", WellRole::Sample, {}}};
        const auto groups_before = f.project.ChannelGroup;
        if (c.answer) f.dialogs.QueueAnswer(*c.answer);
        EXPECT_EQ(ChangePlateFormat(f.session, c.name), c.result) << c.name;
        const auto messages = f.dialogs.Messages();
        ASSERT_FALSE(messages.empty());
        if (!c.answer) {
            // The message says why and which formats there are.
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_EQ(
                messages[0].rfind("Selection Error\r\nNo plate format \"" + c.name + "\": ", 0), 0u)
                << messages[0];
            EXPECT_NE(messages[0].find("Plate formats of this installation: w24, w384, w48, w6, "
                                       "w96f, w96flat, w96u."),
                      std::string::npos)
                << messages[0];
        } else {
            EXPECT_EQ(messages[0], "Load New Plate configuration?");
            EXPECT_EQ(std::vector<std::string>(messages.begin() + 1, messages.end()),
                      c.messages_after_question);
        }
        const bool changed = c.result == PlateChange::Changed;
        EXPECT_EQ(f.project.Setup.Plate_format, changed ? c.name : "w96f");
        EXPECT_EQ(f.plate.PlateRows, !changed           ? 8
                                     : c.name == "w384" ? 16
                                     : c.name == "w48"  ? 6
                                                        : 8);
        if (changed)
            EXPECT_TRUE(RebuildGroupList(f.project).empty());
        else
            EXPECT_EQ(f.project.ChannelGroup, groups_before);
        std::vector<std::string> wells;
        for (const auto& e : f.project.Wells.wells) wells.push_back(e.well);
        EXPECT_EQ(wells, (c.name == "w48" && changed ? std::vector<std::string>{"A1"}
                                                     : std::vector<std::string>{"A1", "H12"}))
            << c.name;
    }
}

TEST(SetupPlate, AnUnreadableFormatFileChangesNothing) {
    SetupFixture f;
    WriteBytes(f.dir / "w24.dat", "\"title\"\r\n\"t2\"\r\n4,x,0,6,1,0\r\n");
    const auto groups_before = f.project.ChannelGroup;
    f.dialogs.QueueAnswer(MsgResult::Yes);
    EXPECT_EQ(ChangePlateFormat(f.session, "w24"), PlateChange::Failed);
    EXPECT_EQ(f.project.Setup.Plate_format, "w96f");
    EXPECT_EQ(f.plate.PlateRows, 8);
    EXPECT_EQ(f.project.ChannelGroup, groups_before);
    ASSERT_EQ(f.dialogs.Messages().size(), 2u);
    EXPECT_EQ(
        f.dialogs.Messages()[1].rfind(
            "Error [" + (f.dir / "w24.dat").string() + "] => line 3: \"x\" is not a number", 0),
        0u)
        << f.dialogs.Messages()[1];
}
