#include "core/storage/project_setup.h"

#include <gtest/gtest.h>

#include <tuple>

#include "core/storage/installation.h"
#include "storage_test_util.h"

using namespace lumivo;
using namespace lumivo::testing;

namespace {

const char* const kProjectFiles[] = {"setup.dat", "status.dat", "threshld.dat", "groups.dat",
                                     "chgroup.dat"};
const std::string kRecheck = "Warning!! PLEASE Re-Check setup values before RUN";

// An installation with the shipped data and project 3 copied from a golden folder.
struct ProjectFixture : DiskStorage {
    fs::path folder;
    ProjectState project;
    PlateMap plate;

    explicit ProjectFixture(const std::string& golden = "project") {
        EXPECT_TRUE(EnsureInstallation(files, dir.path()).ok());
        folder = dir / "p00003";
        fs::create_directories(folder);
        for (const char* f : kProjectFiles) fs::copy_file(GoldenDir() / golden / f, folder / f);
        project.ProjectFolder = folder;
    }
    std::string Setup(int line) const {  // 1-based line of the golden setup.dat
        std::string all = ReadBytes(GoldenDir() / "project/setup.dat");
        std::size_t pos = 0;
        for (int i = 1; i < line; ++i) pos = all.find("\r\n", pos) + 2;
        return all.substr(pos, all.find("\r\n", pos) - pos);
    }
    // The golden setup.dat with line `line` replaced, or cut after `keep_lines` lines.
    std::string SetupWith(int line, const std::string& text) const {
        std::string out;
        for (int i = 1; i <= 20; ++i) out += (i == line ? text : Setup(i)) + "\r\n";
        return out;
    }
    std::string SetupCut(int keep_lines) const {
        std::string out;
        for (int i = 1; i <= keep_lines; ++i) out += Setup(i) + "\r\n";
        return out;
    }
};

// "Error [<path>]" of a project file, as the messages name it.
std::string Tag(const fs::path& file) {
    return "Error [" + file.string() + "]";
}

void ExpectGoldenSetupValues(const ProjectState& p) {
    EXPECT_EQ(p.Setup.Name, "Locomotion assay");
    EXPECT_EQ(p.Setup.Plate_format, "w96u");
    EXPECT_EQ(p.Setup.Aq_lapse, 120);
    EXPECT_EQ(p.Setup.RT_Buffer, 600);
    EXPECT_EQ(p.Setup.Cal_value, 75);
    EXPECT_EQ(p.ToolMenu[2], 1);
    EXPECT_EQ(p.ToolParams[3][1], 255);
    EXPECT_EQ(p.ToolParams[6][5], -7);
}

}  // namespace

TEST(ProjectFiles, LoadThenSaveIsByteIdentical) {
    for (const std::string golden : {"project", "escaped"}) {
        ProjectFixture f(golden);
        const auto r = LoadProject(f.ctx, 3, 3, f.project, f.plate);
        EXPECT_TRUE(r.setup.ok && r.status_ok && r.thresholds_ok && r.group_names_ok &&
                    r.groups_ok && r.plate_ok);
        EXPECT_TRUE(f.dialogs.shown().empty()) << f.dialogs.Messages().front();
        const fs::path out = f.dir / "copy";
        fs::create_directories(out);
        SaveProjectFiles(f.ctx, out, 3, f.project);
        for (const char* file : kProjectFiles)
            EXPECT_EQ(ReadBytes(out / file), ReadBytes(GoldenDir() / golden / file))
                << golden << "/" << file;
    }
}

TEST(ProjectFiles, NamesWithCommasAndQuotesSurviveARoundTrip) {
    ProjectFixture f("escaped");
    LoadProject(f.ctx, 3, 3, f.project, f.plate);
    EXPECT_EQ(f.project.Setup.Name, "Dose, \"high\" & low");
    EXPECT_EQ(f.project.Setup.Working_folder, "/home/lab/.local/share/lumivo/p00003/");
    EXPECT_EQ(f.project.Setup.Plate_format, "w96u");  // the fields after the name stay aligned
    EXPECT_EQ(f.project.GroupName[0], "Vehicle, 0.1% DMSO \"lot 7\"");
    EXPECT_EQ(f.project.GroupName[1], "Dose 1 mg");
}

TEST(ProjectFiles, LoadFillsTheProgramWideTables) {
    ProjectFixture f;
    LoadProject(f.ctx, 3, 3, f.project, f.plate);
    ExpectGoldenSetupValues(f.project);
    EXPECT_EQ(f.project.ChannelEnabled[3], 0);   // status 0
    EXPECT_EQ(f.project.ChannelEnabled[4], -1);  // status 1
    EXPECT_DOUBLE_EQ(f.project.ChannelThreshold[0], 2.346);
    EXPECT_DOUBLE_EQ(f.project.ChannelThreshold[5], -1.5);
    EXPECT_EQ(f.project.ChannelGroup[14], -1);
    EXPECT_EQ(f.project.ChannelGroup[383], 383);
    EXPECT_EQ(f.plate.MaxBeamIndex, 0);  // w96u
}

TEST(ProjectFiles, GarbledSetupIsRecoveredFromTheBackup) {
    ProjectFixture f;
    fs::copy_file(f.folder / "setup.dat", f.folder / "setup.bak");
    const std::string garbled = f.SetupWith(4, "1,30,abc,500,1,30");
    WriteBytes(f.folder / "setup.dat", garbled);
    const auto r = LoadProjectSetup(f.ctx, 3, 3, f.project);
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.restored);
    EXPECT_EQ(
        f.dialogs.Messages(),
        (std::vector<std::string>{Tag(f.folder / "setup.dat") + " ID#2 => Loading values from: " +
                                      (f.folder / "setup.bak").string() +
                                      "\r\nline 4: \"abc\" is not a 16-bit whole number",
                                  kRecheck}));
    ExpectGoldenSetupValues(f.project);
    EXPECT_EQ(ReadBytes(f.folder / "setup.dat"), ReadBytes(f.folder / "setup.bak"));
}

TEST(ProjectFiles, TruncatedSetupWithoutBackupComesFromTheLatestAcquisition) {
    ProjectFixture f;
    // The latest acquisition is the one of the new year, whatever the month says.
    for (const char* acq : {"20231231_2359", "20240101_0000", "20230615_1200"}) {
        fs::create_directories(f.folder / acq);
        WriteBytes(f.folder / acq / "setup.dat",
                   f.SetupWith(2, std::string("3,\"from ") + acq + "\",\"\",\"w96u\""));
    }
    WriteBytes(f.folder / "setup.dat", f.SetupCut(3));
    const auto r = LoadProjectSetup(f.ctx, 3, 3, f.project);
    EXPECT_TRUE(r.restored);
    EXPECT_EQ(f.dialogs.Messages(),
              (std::vector<std::string>{
                  Tag(f.folder / "setup.dat") + " ID#4 => Loading values from: " +
                      (f.folder / "20240101_0000" / "setup.dat").string() +
                      "\r\nthe file has 3 lines, fewer than the 6 that hold the project's values",
                  kRecheck}));
    EXPECT_EQ(f.project.Setup.Name, "from 20240101_0000");
}

TEST(ProjectFiles, DamagedBackupEndsInTheDefaultsInsteadOfLoopingForever) {
    ProjectFixture f;
    WriteBytes(f.folder / "setup.dat", f.SetupWith(6, "x"));
    WriteBytes(f.folder / "setup.bak", f.SetupWith(6, "x"));
    f.project.Setup.Aq_lapse = 777;  // line 4 is read before the error and stays
    const auto r = LoadProjectSetup(f.ctx, 3, 3, f.project);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.stage, 3);
    const std::string tag = Tag(f.folder / "setup.dat");
    const std::string reason = "\r\nline 6 has 1 fields instead of 6";
    EXPECT_EQ(
        f.dialogs.Messages(),
        (std::vector<std::string>{
            tag + " ID#3 => Loading values from: " + (f.folder / "setup.bak").string() + reason,
            kRecheck, tag + " ID#3 => Loading default values..." + reason, kRecheck}));
    EXPECT_EQ(f.project.Setup.Name, "Locomotion assay");  // read before the error
    EXPECT_EQ(f.project.Setup.Aq_lapse, 120);
    EXPECT_EQ(f.project.Setup.Cal_value, 80);  // line 6 and everything after: defaults
    EXPECT_EQ(f.project.ToolMenu, DefaultToolMenu());
    EXPECT_EQ(f.project.ToolParams[3], DefaultToolParamsRow(3));
}

TEST(ProjectFiles, ErrorsLoadTheDefaultsOfEveryGroupNotRead) {
    struct Case {
        const char* what;
        int line;  // line replaced by garbage (0: file cut to `cut` lines)
        int cut;
        int stage;
        bool line2_default, tools_default, row3_default;
        std::string reason;  // the message's second line
    };
    const Case cases[] = {
        {"line 2", 2, 0, 1, true, true, true, "line 2: unterminated quoted text \"x\""},
        {"tool menu", 8, 0, 4, false, true, true, "line 8: unterminated quoted text \"x\""},
        {"row 2", 12, 0, 6, false, false, true, "line 12: unterminated quoted text \"x\""},
        {"row 3", 14, 0, 7, false, false, true, "line 14: unterminated quoted text \"x\""},
        {"five lines", 0, 5, 4, false, true, true,
         "the file has 5 lines, fewer than the 6 that hold the project's values"},
        {"missing file", 0, -1, 1, true, true, true, "Cannot open "},
    };
    for (const auto& c : cases) {
        ProjectFixture f;
        f.project.Setup.Name = "in memory";
        f.project.ToolMenu = {0, 9, 9, 9, 9, 9, 9};
        f.project.ToolParams[3] = {9, 9, 9, 9, 9, 9};
        if (c.cut < 0)
            fs::remove(f.folder / "setup.dat");
        else
            WriteBytes(f.folder / "setup.dat",
                       c.line ? f.SetupWith(c.line, "1,\"x") : f.SetupCut(c.cut));
        // Project 0 never tries a recovery.
        f.project.ProjectFolder = f.folder;
        const auto r = LoadProjectSetup(f.ctx, 0, 0, f.project);
        EXPECT_EQ(r.stage, c.stage) << c.what;
        // The message names the real folder, whatever the project number.
        const std::string reason = c.cut < 0 ? "Cannot open " + (f.folder / "setup.dat").string() +
                                                   ": No such file or directory"
                                             : c.reason;
        EXPECT_EQ(f.dialogs.Messages(),
                  (std::vector<std::string>{Tag(f.folder / "setup.dat") + " ID#" +
                                                std::to_string(c.stage) +
                                                " => Loading default values...\r\n" + reason,
                                            kRecheck}))
            << c.what;
        if (c.line2_default)
            EXPECT_EQ(f.project.Setup.Name, "Default") << c.what;
        else if (c.cut == 5)
            EXPECT_EQ(f.project.Setup.Name, "in memory") << c.what;  // lines 1-6 not read
        else
            EXPECT_EQ(f.project.Setup.Name, "Locomotion assay") << c.what;
        EXPECT_EQ(f.project.ToolMenu == DefaultToolMenu(), c.tools_default) << c.what;
        EXPECT_EQ(f.project.ToolParams[3] == DefaultToolParamsRow(3), c.row3_default) << c.what;
    }
}

TEST(ProjectFiles, SetupOfSixToNineteenLinesKeepsTheToolsSilently) {
    ProjectFixture f;
    WriteBytes(f.folder / "setup.dat", f.SetupCut(12));
    f.project.ToolMenu = {0, 0, 1, 1, 0, 1, 0};
    const auto r = LoadProjectSetup(f.ctx, 3, 3, f.project);
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(f.dialogs.shown().empty());
    EXPECT_EQ(f.project.Setup.Cal_value, 75);
    EXPECT_EQ(f.project.ToolMenu, (ToolMenuTable{0, 0, 1, 1, 0, 1, 0}));
}

TEST(ProjectFiles, ValuesThatWouldBreakTheAnalysisFallBackToTheirDefaults) {
    ProjectFixture f;
    WriteBytes(f.folder / "setup.dat", f.SetupWith(4, "9,0,99,200,3,-1"));
    const auto r = LoadProjectSetup(f.ctx, 3, 3, f.project);
    EXPECT_TRUE(r.ok);
    const auto& s = f.project.Setup;
    EXPECT_EQ(s.Aq_mode, 1);
    EXPECT_EQ(s.Aq_lapse, 30);
    EXPECT_EQ(s.RT_Buffer, kDefaultRtBuffer);
    EXPECT_EQ(s.DSP_Method, 1);
    EXPECT_EQ(s.DSP_Interval, 30);
    EXPECT_EQ(s.Cal_value, 75);  // the rest of the file is kept
    ASSERT_EQ(f.dialogs.Messages().size(), 2u);
    const std::string msg = f.dialogs.Messages()[0];
    EXPECT_EQ(msg.rfind(Tag(f.folder / "setup.dat") + " Aq_mode=9", 0), 0u) << msg;
    EXPECT_NE(msg.find("RT_Buffer=200 outside 500..10000 => Loading default value 500"),
              std::string::npos)
        << msg;
    EXPECT_EQ(f.dialogs.Messages()[1], kRecheck);

    // A lapse of 1 minute, which older versions accepted, is below what a recording may use.
    {
        ProjectFixture h;
        WriteBytes(h.folder / "setup.dat", h.SetupWith(4, "1,1,99,500,1,30"));
        EXPECT_TRUE(LoadProjectSetup(h.ctx, 3, 3, h.project, SetupUse::Recording).ok);
        EXPECT_EQ(h.project.Setup.Aq_lapse, 30);
        ASSERT_FALSE(h.dialogs.Messages().empty());
        EXPECT_NE(h.dialogs.Messages()[0].find(
                      "Aq_lapse=1 outside 2..32000 => Loading default value 30"),
                  std::string::npos)
            << h.dialogs.Messages()[0];
        ProjectFixture k;
        WriteBytes(k.folder / "setup.dat", k.SetupWith(4, "1,1,99,500,1,30"));
        EXPECT_TRUE(LoadProjectSetup(k.ctx, 3, 3, k.project, SetupUse::Reading).ok);
        EXPECT_EQ(k.project.Setup.Aq_lapse, 1);
        EXPECT_TRUE(k.dialogs.shown().empty());
    }

    // Reading (reports, browsing) takes the 200..499 rows of older versions silently;
    // below 200 is still corrected.
    for (const auto& [rt, want, message] :
         {std::tuple{"200", 200, ""}, std::tuple{"499", 499, ""},
          std::tuple{"199", 500,
                     "RT_Buffer=199 outside 200..10000 => Loading default value 500"}}) {
        ProjectFixture h;
        WriteBytes(h.folder / "setup.dat", h.SetupWith(4, std::string("1,30,99,") + rt + ",1,30"));
        EXPECT_TRUE(LoadProjectSetup(h.ctx, 3, 3, h.project, SetupUse::Reading).ok);
        EXPECT_EQ(h.project.Setup.RT_Buffer, want) << rt;
        if (*message == '\0') {
            EXPECT_TRUE(h.dialogs.shown().empty()) << h.dialogs.Messages().front();
        } else {
            ASSERT_FALSE(h.dialogs.Messages().empty());
            EXPECT_NE(h.dialogs.Messages()[0].find(message), std::string::npos)
                << h.dialogs.Messages()[0];
        }
    }

    // The limits themselves are accepted.
    ProjectFixture g;
    WriteBytes(g.folder / "setup.dat", g.SetupWith(4, "5,32000,99,10000,2,0"));
    LoadProjectSetup(g.ctx, 3, 3, g.project);
    EXPECT_TRUE(g.dialogs.shown().empty());
    EXPECT_EQ(g.project.Setup.RT_Buffer, kMaxRtBuffer);
}

TEST(ProjectFiles, ProjectNumberMismatchWarnsAndGoesOn) {
    ProjectFixture f;
    WriteBytes(f.folder / "setup.dat", f.SetupWith(2, "8,\"Moved\",\"\",\"w96u\""));
    const auto r = LoadProjectSetup(f.ctx, 3, 3, f.project);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.news, "Warning: Project ID# <> Folder Name [p003]");
    EXPECT_EQ(f.dialogs.Messages(), std::vector<std::string>{r.news});
    EXPECT_EQ(f.project.Setup.Name, "Moved");
}

TEST(ProjectFiles, PerChannelFilesAreReadByPosition) {
    ProjectFixture f;
    std::string status = "\"<Channel>, <Enabled>\"\r\n";
    for (int i = 0; i < 400; ++i)
        status += std::to_string(i) + "," + (i == 384 ? "5" : "0") + "\r\n";
    WriteBytes(f.folder / "status.dat", status);
    std::string thr = "\"<Channel>, <Threshold>\"\r\n";
    for (int i = 383; i >= 0; --i) thr += std::to_string(i) + "," + std::to_string(i) + ".5\r\n";
    WriteBytes(f.folder / "threshld.dat", thr);
    WriteBytes(f.folder / "chgroup.dat", "\"<Channel>, <Group: -1=Free>\"\r\n0,7\r\n1,-1\r\n");
    f.project.ChannelGroup[2] = 42;
    EXPECT_TRUE(LoadChannelStatus(f.ctx, 3, f.project));
    EXPECT_TRUE(LoadThresholds(f.ctx, 3, f.project));
    EXPECT_TRUE(LoadChannelGroups(f.ctx, 3, f.project));
    EXPECT_TRUE(f.dialogs.shown().empty());
    EXPECT_EQ(f.project.ChannelStatus[384], 5);  // 385 records, the rest ignored
    EXPECT_EQ(f.project.ChannelEnabled[0], 0);
    EXPECT_DOUBLE_EQ(f.project.ChannelThreshold[0], 383.5);  // first line is channel 0
    EXPECT_EQ(f.project.ChannelGroup[0], 7);
    EXPECT_EQ(f.project.ChannelGroup[1], -1);
    EXPECT_EQ(f.project.ChannelGroup[2], 42);  // a short file leaves the rest
}

TEST(ProjectFiles, ExtraFieldsOnALineAreIgnored) {
    ProjectFixture f;
    std::string setup;
    for (int i = 1; i <= 20; ++i) setup += f.Setup(i) + (i % 2 == 0 ? ",7,\"later\"" : "") + "\r\n";
    WriteBytes(f.folder / "setup.dat", setup);
    const std::pair<const char*, const char*> per_channel[] = {
        {"status.dat", "\"<Channel>, <Enabled>\"\r\n0,0,1\r\n1,1,0,0\r\n"},
        {"threshld.dat", "\"<Channel>, <Threshold>\"\r\n0,2.5,9\r\n"},
        {"groups.dat", "\"<Group_Number>, <Group_Name>\"\r\n0,\"Dose\",\"note\"\r\n"},
        {"chgroup.dat", "\"<Channel>, <Group: -1=Free>\"\r\n0,3,4\r\n1,-1,\r\n"},
    };
    for (const auto& [file, text] : per_channel) WriteBytes(f.folder / file, text);
    const auto r = LoadProject(f.ctx, 3, 3, f.project, f.plate);
    EXPECT_TRUE(r.setup.ok && !r.setup.restored && r.status_ok && r.thresholds_ok &&
                r.group_names_ok && r.groups_ok);
    EXPECT_TRUE(f.dialogs.shown().empty()) << f.dialogs.Messages().front();
    ExpectGoldenSetupValues(f.project);
    EXPECT_EQ(f.project.ChannelEnabled[0], 0);
    EXPECT_EQ(f.project.ChannelEnabled[1], -1);
    EXPECT_DOUBLE_EQ(f.project.ChannelThreshold[0], 2.5);
    EXPECT_EQ(f.project.GroupName[0], "Dose");
    EXPECT_EQ(f.project.ChannelGroup[0], 3);
    EXPECT_EQ(f.project.ChannelGroup[1], -1);
}

TEST(ProjectFiles, UnreadablePerChannelFilesLoadTheirDefaults) {
    struct Case {
        const char* file;
        std::string content;  // "" = missing
        std::string loading, reason;
    };
    const std::string values = " => Loading default values...\r\n";
    const std::string groups = " => Loading default groups...\r\n";
    const Case cases[] = {
        {"status.dat", "", values, "Cannot open "},
        {"status.dat", "\"h\"\r\n0,1\r\n1,yes\r\n", values,
         "line 3: \"yes\" is not a 16-bit whole number"},
        {"threshld.dat", "\"h\"\r\n0,2.5\r\n1,nan\r\n", values, "line 3: \"nan\" is not a number"},
        {"groups.dat", "\"h\"\r\n0,\"unterminated\r\n", groups, "line 2: unterminated quoted text"},
        {"chgroup.dat", "\"h\"\r\n0,3\r\n1,x\r\n", groups,
         "line 3: \"x\" is not a 16-bit whole number"},
        {"chgroup.dat", "\"h\"\r\n0,3\r\n1\r\n", groups, "line 3 has 1 fields instead of 2"},
    };
    for (const auto& c : cases) {
        ProjectFixture f;
        if (c.content.empty())
            fs::remove(f.folder / c.file);
        else
            WriteBytes(f.folder / c.file, c.content);
        f.project.ChannelEnabled.fill(0);
        f.project.ChannelThreshold.fill(9.0);
        f.project.ChannelGroup.fill(5);
        f.project.GroupName.fill("x");
        LoadProject(f.ctx, 3, 3, f.project, f.plate);
        // The file's real path, what was wrong and what to do.
        ASSERT_EQ(f.dialogs.Messages().size(), 1u) << c.file;
        const std::string msg = f.dialogs.Messages()[0];
        const std::string head = Tag(f.folder / c.file) + c.loading + c.reason;
        EXPECT_EQ(msg.substr(0, head.size()), head) << msg;
        EXPECT_NE(msg.find("save it to rewrite the file"), std::string::npos) << msg;
        const std::string file = c.file;
        if (file == "status.dat") {
            EXPECT_EQ(f.project.ChannelEnabled[100], -1);
        }
        if (file == "threshld.dat") {
            EXPECT_DOUBLE_EQ(f.project.ChannelThreshold[0], 3.0);
        }
        if (file == "groups.dat") {
            EXPECT_EQ(f.project.GroupName[11], "Group11");
            EXPECT_EQ(f.project.GroupName[12], "Free");
        }
        if (file == "chgroup.dat") {
            EXPECT_EQ(f.project.ChannelGroup[0], 0);       // column 0
            EXPECT_EQ(f.project.ChannelGroup[16 + 5], 1);  // column 1
            EXPECT_EQ(f.project.ChannelGroup[2 * 16], 1);  // column 2
            EXPECT_EQ(f.project.ChannelGroup[23 * 16 + 15], 12);
        }
    }
}

TEST(ProjectFiles, GroupsOutsideTheTablesFreeOnlyTheirChannels) {
    struct Case {
        std::string values;  // groups of channels 0, 1, 2, ...
        std::vector<std::int16_t> want;
        std::string message;  // after the tag; "" = none
    };
    const Case cases[] = {
        {"3,-1,383", {3, -1, 383}, ""},
        {"3,999,7",
         {3, -1, 7},
         " 1 channel has a group outside -1..383 (first: 999 on line 3) => Loaded as free (-1)"},
        {"400,5,-2,999,-32768",
         {-1, 5, -1, -1, -1},
         " 4 channels have a group outside -1..383 (first: 400 on line 2) => Loaded as free (-1)"},
    };
    for (const auto& c : cases) {
        ProjectFixture f;
        std::string text = "\"<Channel>, <Group: -1=Free>\"\r\n";
        std::size_t channel = 0;
        for (std::size_t pos = 0; pos <= c.values.size(); ++channel) {
            const std::size_t comma = std::min(c.values.find(',', pos), c.values.size());
            text += std::to_string(channel) + "," + c.values.substr(pos, comma - pos) + "\r\n";
            pos = comma + 1;
        }
        WriteBytes(f.folder / "chgroup.dat", text);
        const auto r = LoadProject(f.ctx, 3, 3, f.project, f.plate);
        EXPECT_TRUE(r.groups_ok) << c.values;
        for (std::size_t ch = 0; ch < c.want.size(); ++ch)
            EXPECT_EQ(f.project.ChannelGroup[ch], c.want[ch]) << c.values << " channel " << ch;
        // The channels after the short file keep the groups in memory (beam column 12: 6).
        EXPECT_EQ(f.project.ChannelGroup[200], 6);
        if (c.message.empty()) {
            EXPECT_TRUE(f.dialogs.shown().empty()) << f.dialogs.Messages().front();
        } else {
            ASSERT_EQ(f.dialogs.Messages().size(), 1u) << c.values;
            const std::string head =
                "Warning [" + (f.folder / "chgroup.dat").string() + "]" + c.message + "\r\n";
            EXPECT_EQ(f.dialogs.Messages()[0].substr(0, head.size()), head)
                << f.dialogs.Messages()[0];
        }
        EXPECT_EQ(ReadBytes(f.folder / "chgroup.dat"), text);  // nothing written
    }
}

TEST(ProjectFiles, SaveRoundsThresholdsAndWritesTheBackupFirst) {
    ProjectFixture f;
    LoadProject(f.ctx, 3, 3, f.project, f.plate);
    const std::string before = ReadBytes(f.folder / "setup.dat");
    f.project.ChannelThreshold[1] = 2.34567;
    f.project.Setup.Name = "Renamed";
    SaveProjectSetup(f.ctx, 3, f.project);
    EXPECT_EQ(ReadBytes(f.folder / "setup.bak"), before);
    EXPECT_NE(ReadBytes(f.folder / "threshld.dat").find("\r\n1,2.346\r\n"), std::string::npos);
    EXPECT_NE(ReadBytes(f.folder / "setup.dat").find("3,\"Renamed\","), std::string::npos);
    EXPECT_TRUE(StrayFiles(f.folder).empty());
}

TEST(ProjectFiles, FullDiskDuringSaveLeavesEveryProjectFileAsItWas) {
    ProjectFixture f;
    LoadProject(f.ctx, 3, 3, f.project, f.plate);
    std::map<std::string, std::string> before;
    for (const char* file : kProjectFiles) before[file] = ReadBytes(f.folder / file);
    f.project.Setup.Name = "Changed";
    f.project.ChannelGroup.fill(-1);
    FaultyFileSystem faulty;
    StorageContext ctx{f.dir.path(), f.dialogs, faulty};
    faulty.write_budget = 6000;  // enough for the backup and a file or two, not for all
    EXPECT_THROW(SaveProjectSetup(ctx, 3, f.project), StorageError);
    for (const char* file : kProjectFiles)
        EXPECT_EQ(ReadBytes(f.folder / file), before[file]) << file;
    EXPECT_TRUE(StrayFiles(f.folder).empty());
}

TEST(ProjectFiles, SaveRefusesLineBreaksBeforeWritingAnything) {
    ProjectFixture f;
    LoadProject(f.ctx, 3, 3, f.project, f.plate);
    const std::string before = ReadBytes(f.folder / "groups.dat");
    f.project.GroupName[7] = "two\r\nlines";
    try {
        SaveProjectSetup(f.ctx, 3, f.project);
        FAIL() << "saved a name with a line break";
    } catch (const StorageError& e) {
        EXPECT_NE(std::string(e.what()).find("group 7"), std::string::npos) << e.what();
    }
    EXPECT_EQ(ReadBytes(f.folder / "groups.dat"), before);
    EXPECT_FALSE(fs::exists(f.folder / "setup.bak"));
}

TEST(ProjectFiles, SaveIntoAFolderThatCannotHoldFilesThrows) {
    ProjectFixture f;
    WriteBytes(f.dir / "plain", "x");
    EXPECT_THROW(SaveProjectFiles(f.ctx, f.dir / "plain", 3, f.project), StorageError);
}

TEST(ProjectTitle, DisplayLinesAndRecovery) {
    ProjectFixture f;
    EXPECT_EQ(GetProjectTitle(f.ctx, f.folder), "<Project> p00003: Locomotion assay");

    WriteBytes(f.folder / "setup.bak", ReadBytes(f.folder / "setup.dat"));
    WriteBytes(f.folder / "setup.dat", f.SetupCut(2));
    EXPECT_EQ(GetProjectTitle(f.ctx, f.folder), "<Project> p00003: Locomotion assay");
    EXPECT_EQ(f.dialogs.Messages(),
              std::vector<std::string>{"Error reading Setup.dat -> recovered from Setup.bak"});

    fs::remove(f.folder / "setup.bak");
    fs::create_directories(f.folder / "20250102_0800");
    WriteBytes(f.folder / "20250102_0800" / "setup.dat", f.SetupCut(20));
    WriteBytes(f.folder / "setup.dat", "");
    EXPECT_EQ(GetProjectTitle(f.ctx, f.folder), "<Project> p00003: Locomotion assay");
    EXPECT_EQ(f.dialogs.Messages().back(),
              "Error reading Setup.dat -> recovered from " + (f.folder / "20250102_0800").string());

    const fs::path empty = f.dir / "p00009";
    fs::create_directories(empty);
    EXPECT_EQ(GetProjectTitle(f.ctx, empty), "<Project> p: SETUP NOT FOUND!!");
    WriteBytes(f.folder / "setup.dat", f.SetupWith(2, "x\"y"));
    EXPECT_EQ(GetProjectTitle(f.ctx, f.folder), "ERROR on SETUP.DAT FILE!!!");
}

TEST(ProjectTitle, RenameChangesOnlyTheNameField) {
    ProjectFixture f;
    const std::string before = ReadBytes(f.folder / "setup.dat");
    EXPECT_EQ(RenameProjectInFile(f.ctx, f.folder, "Dose, \"B\""), "Dose, \"B\"");
    EXPECT_EQ(ReadBytes(f.folder / "setup.bak"), before);
    EXPECT_EQ(
        ReadBytes(f.folder / "setup.dat"),
        f.SetupWith(2, "3,\"Dose, \"\"B\"\"\",\"/home/lab/.local/share/lumivo/p00003/\",\"w96u\""));
    LoadProjectSetup(f.ctx, 3, 3, f.project);
    EXPECT_EQ(f.project.Setup.Name, "Dose, \"B\"");
    EXPECT_EQ(f.project.Setup.Plate_format, "w96u");

    EXPECT_EQ(RenameProjectInFile(f.ctx, f.dir / "p00099", "X"), "X");  // no setup.dat: nothing
    EXPECT_EQ(RenameProjectInFile(f.ctx, f.folder, "a\nb"), "");
    EXPECT_EQ(f.dialogs.Messages().size(), 1u);  // the refusal
}

TEST(ProjectTitle, RenameOfAFileThatIsNoSetupWritesNothingAndSaysWhy) {
    const std::pair<std::string, std::string> cases[] = {
        {std::string("\x89\x01\xfe,\x7f\"\x00\x13", 9), "line 2"},  // random bytes, one line
        {"\"h\"\r\n\xfe\xff,\x01\x02,\x03,\x04\r\n", "the project number"},
        {"\"h\"\r\n3,\"Name\r\n", "unterminated"},
    };
    for (const auto& [content, reason] : cases) {
        ProjectFixture f;
        fs::remove(f.folder / "setup.bak");
        WriteBytes(f.folder / "setup.dat", content);
        EXPECT_EQ(RenameProjectInFile(f.ctx, f.folder, "New"), "");
        EXPECT_EQ(ReadBytes(f.folder / "setup.dat"), content);
        EXPECT_FALSE(fs::exists(f.folder / "setup.bak"));
        ASSERT_EQ(f.dialogs.Messages().size(), 1u);
        const std::string msg = f.dialogs.Messages()[0];
        EXPECT_EQ(msg.rfind(Tag(f.folder / "setup.dat") + " => The project was not renamed\r\n", 0),
                  0u)
            << msg;
        EXPECT_NE(msg.find(reason), std::string::npos) << msg;
    }
}

TEST(ProjectFolders, LatestAcquisitionComparesTheWholeDateAndTime) {
    struct Case {
        std::vector<std::string> folders;
        std::string latest;
    };
    const Case cases[] = {
        {{}, ""},
        {{"20231231_2359", "20240101_0000"}, "20240101_0000"},
        {{"20240305_0930", "20240305_1015", "20240304_2359"}, "20240305_1015"},
        {{"19991231_2359", "20000101_0001"}, "20000101_0001"},
        {{"2024010_12000", "abcdefgh_ijkl", "20240101-1200", "20240101_1200x"}, ""},
        {{"20240101_1200", "p00001", "20991231_23a9"}, "20240101_1200"},
    };
    for (const auto& c : cases) {
        DiskStorage s;
        for (const auto& d : c.folders) fs::create_directories(s.dir / d);
        WriteBytes(s.dir / "20990101_0000", "a file, not a folder");
        EXPECT_EQ(FindLatestAcquisition(s.ctx, s.dir.path()), c.latest);
    }
}

TEST(ProjectFolders, StartUpFallsBackToTheDefaultProject) {
    DiskStorage s;
    ProjectState p;
    GlobalConfig c{7, 7, 1, 0};
    SelectProjectFolder(s.ctx, c, p);
    EXPECT_EQ(c.Actual_Project_Number, 0);
    EXPECT_EQ(p.ProjectFolder, s.dir.path());
    fs::create_directories(s.dir / "p00007");
    c.Actual_Project_Number = 7;
    SelectProjectFolder(s.ctx, c, p);
    EXPECT_EQ(c.Actual_Project_Number, 7);
    EXPECT_EQ(p.ProjectFolder, s.dir / "p00007");
    EXPECT_EQ(FiveDigits(3), "00003");
    EXPECT_EQ(FiveDigits(32000), "32000");
    EXPECT_EQ(ProjectFolderFor("/i", 0), fs::path("/i"));
}
