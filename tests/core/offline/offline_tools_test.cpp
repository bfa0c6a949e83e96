// The tools of the offline window over a chosen acquisition: the group activity view and its
// table, the plate layout table, and the re-analysis request `Cmd_analyze` makes from
// `cmb_modeanalisis` and `frmtxt_threshold`.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/acquisition/recording_mark.h"
#include "core/control/control_settings.h"
#include "core/offline/group_activity.h"
#include "core/offline/offline_reanalysis.h"
#include "core/setup/plate_groups.h"
#include "core/storage/plate_format.h"
#include "offline_fixture.h"

namespace lumivo::offline::testing {
namespace {

// Records at minutes 1..6 in which every channel counted 5.
fs::path FlatAcquisition(OfflineInstall& inst) {
    inst.Project(1, "Dose");
    const fs::path folder = inst.Acquisition(1, "20260314_1000", "Run", {});
    PosixFileOps ops;
    for (std::int32_t m = 1; m <= 6; ++m) {
        CountsRecord r;
        r.elapsed_minutes = m;
        for (std::size_t c = 0; c < kBeamChannelCount; ++c) r.values[c] = 5;
        r.values[kBeamChannelCount] = 250;
        EXPECT_TRUE(AppendCountsRecord(ops, folder / kCountsFileName, r, {}).ok);
    }
    return folder;
}

TEST(GroupActivity, MeansPerWellInEachBinOfTheAcquisitionsOwnGroups) {
    OfflineInstall inst;
    const fs::path folder = FlatAcquisition(inst);
    reporting::ReportEnvironment env{inst.storage, inst.clock};
    struct Case {
        const char* bin;
        std::int32_t used;
        bool corrected;
        std::vector<std::string> rows;  // the table's lines after the column titles
    };
    const Case cases[] = {
        {"2", 2, false, {"2", "4", "6"}},
        {"3", 3, false, {"3", "6"}},
        // Longer than the recording: the report's correction.
        {"60", 6, true, {"6"}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.bin);
        const auto a = LoadGroupActivity(env, folder, k.bin);
        ASSERT_TRUE(a);
        EXPECT_EQ(a->bin_size, k.used);
        EXPECT_EQ(a->bin_size_corrected, k.corrected);
        // The default groups of a 96-well plate: one per column, twelve groups hold wells.
        ASSERT_EQ(a->chart.series.size(), 12u);
        EXPECT_EQ(a->chart.series[1].label, "001_Group1");
        const std::string table = GroupActivityTable(*a);
        std::vector<std::string> lines;
        for (std::size_t at = 0, end; (end = table.find("\r\n", at)) != std::string::npos;
             at = end + 2)
            lines.push_back(table.substr(at, end - at));
        ASSERT_EQ(lines.size(), 2 + k.rows.size());
        EXPECT_EQ(lines[0], "Group activity of " + folder.string() + " (mean counts per well in " +
                                std::to_string(k.used) + " min bins)");
        std::string titles = "Minute";
        for (int g = 0; g < 12; ++g) titles += "\t" + GroupEntry(g, "Group" + std::to_string(g));
        EXPECT_EQ(lines[1], titles);
        const std::string value = std::to_string(5 * k.used);
        for (std::size_t i = 0; i < k.rows.size(); ++i) {
            std::string expected = k.rows[i];
            for (int g = 0; g < 12; ++g) expected += "\t" + value;
            EXPECT_EQ(lines[2 + i], expected);
        }
    }

    // A recording that cannot be reported shows the report's message and gives nothing.
    const fs::path short_one = inst.Acquisition(1, "20260314_1100", "Short", {1});
    EXPECT_FALSE(LoadGroupActivity(env, short_one, "30"));
    EXPECT_EQ(inst.dialogs.Messages().size(), 1u);
}

TEST(GroupActivity, PlateLayoutTableListsEveryChannelInAWell) {
    OfflineInstall inst;
    ProjectState project;
    project.Setup.Plate_format = "w96f";
    PlateMap plate;
    ASSERT_TRUE(LoadPlateFormat(inst.storage, project.Setup.Plate_format, plate));
    project.ChannelGroup.fill(kFreeGroup);
    project.GroupName[2] = "Dose 1";
    project.ChannelGroup[16] = 2;
    project.ChannelEnabled[32] = 0;
    project.ChannelGroup[32] = 2;  // disabled: shown free
    const std::string table = PlateLayoutTable(project, plate);
    EXPECT_EQ(table.substr(0, table.find("\r\n", table.find("\r\n") + 2) + 2),
              "Plate w96f [8x12]\r\nChannel\tWell\tGroup\r\n");
    EXPECT_NE(table.find("\r\n16\tA1.1\t002_Dose 1\r\n"), std::string::npos);
    EXPECT_NE(table.find("\r\n32\tA2.0\t-\r\n"), std::string::npos);
    // The captions of the signal page.
    EXPECT_EQ(ChannelCaption(project, plate, 16), "Channel 16  well A1.1  group 002_Dose 1");
    EXPECT_EQ(ChannelCaption(project, plate, 32), "Channel 32  well A2.0  free");
    EXPECT_EQ(ChannelCaption(project, plate, 17), "Channel 17  (in no well)");
    // Channels in no well are left out.
    long listed = 0;
    for (std::size_t c = 0; c < kBeamChannelCount; ++c) listed += plate.ChannelWell[c] >= 0;
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), listed + 2);
}

// The acquisition's own setup: method 2, the given signal-to-noise field (x 10).
fs::path AcquisitionWith(OfflineInstall& inst, std::int16_t snr_x10) {
    ProjectState p;
    p.Setup.Name = "Dose";
    p.Setup.Plate_format = "w96f";
    p.Setup.DSP_Method = 2;
    p.ToolParams[std::size_t{kToolRowCalibration}][std::size_t{kColSnrX10}] = snr_x10;
    inst.WriteProject(ProjectFolderFor(inst.install(), 1), 1, p);
    return inst.Acquisition(1, "20260314_1000", "Run", {1, 2, 3});
}

TEST(OfflineAnalysis, RequestFromModeAndThreshold) {
    struct Case {
        const char* name;
        std::int16_t snr_x10;
        int mode;
        std::string threshold;
        std::optional<MsgResult> answer;  // to the replace question
        bool made;
        std::string threshold_used;
    };
    const Case cases[] = {
        {"recorded factor", 25, 0, "0.0", std::nullopt, true, "2.5"},
        {"blank is the recorded factor", 25, 0, " ", std::nullopt, true, "2.5"},
        {"no factor recorded", 0, 0, "0", std::nullopt, true, "1.8"},
        {"below what a run starts with", 12, 0, "0,0", std::nullopt, true, "1.8"},
        {"typed factor as typed", 25, 0, "3,2", std::nullopt, true, "3,2"},
        {"replace, yes", 25, 1, "2.0", MsgResult::Yes, true, "2.0"},
        {"replace, no", 25, 1, "2.0", MsgResult::No, false, ""},
        {"no such mode", 25, 2, "2.0", std::nullopt, false, ""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        OfflineInstall inst;
        const fs::path folder = AcquisitionWith(inst, k.snr_x10);
        if (k.answer) inst.dialogs.QueueAnswer(*k.answer);
        ReportConfig config;
        config.filetype = 1;
        const auto r = OfflineAnalysisRequest(inst.storage, config, folder,
                                              OfflineAnalysisChoice{k.mode, k.threshold, "15"});
        EXPECT_EQ(r.has_value(), k.made);
        EXPECT_EQ(inst.dialogs.Messages().size(), k.answer || !k.made ? 1u : 0u);
        if (k.answer) {
            EXPECT_EQ(inst.dialogs.Messages()[0], ReplaceCountsQuestion(folder));
        }
        if (!r) continue;
        EXPECT_EQ(r->folder, folder);
        EXPECT_EQ(r->method, 2);
        EXPECT_EQ(r->threshold_text, k.threshold_used);
        EXPECT_EQ(r->replace_data, k.mode == 1);
        EXPECT_FALSE(r->raw_export);
        EXPECT_EQ(r->bin_size_text, "15");
        EXPECT_TRUE(r->datalapse_text.empty());
        EXPECT_EQ(r->options.file_type, reporting::ReportFileType::Text);
    }
}

TEST(OfflineAnalysis, CountsOfARecordingAcquisitionAreNotReplaced) {
    OfflineInstall inst;
    const fs::path folder = AcquisitionWith(inst, 18);
    RecordingMark mark;
    ASSERT_TRUE(mark.Take(folder));
    EXPECT_FALSE(OfflineAnalysisRequest(inst.storage, ReportConfig{}, folder,
                                        OfflineAnalysisChoice{1, "0.0", "30"}));
    ASSERT_EQ(inst.dialogs.Messages().size(), 1u);
    EXPECT_NE(inst.dialogs.Messages()[0].find("is being recorded"), std::string::npos);
    // Reading it is fine.
    EXPECT_TRUE(OfflineAnalysisRequest(inst.storage, ReportConfig{}, folder,
                                       OfflineAnalysisChoice{0, "0.0", "30"}));
}

}  // namespace
}  // namespace lumivo::offline::testing
