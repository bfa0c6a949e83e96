// Regrouping a recorded acquisition: the new groups go into the acquisition's own files (which
// its report reads), the recorded ones are kept once and can be had back, the project's groups
// can be taken over when the plate fits, and leaving the editor asks before discarding.
#include <gtest/gtest.h>

#include "core/offline/acquisition_groups.h"
#include "core/reporting/report/report_inputs.h"
#include "core/setup/plate_groups.h"
#include "offline_fixture.h"

namespace lumivo::offline::testing {
namespace {

struct Regrouped : OfflineInstall {
    Regrouped() {
        Project(1, "Dose");
        folder = Acquisition(1, "20260314_1000", "Run", {1, 2, 3});
        recorded_names = ReadFile(folder / "groups.dat");
        recorded_groups = ReadFile(folder / "chgroup.dat");
    }
    std::vector<std::string> ReportGroups() {
        const auto in = reporting::LoadReportInputs(storage, folder);
        EXPECT_TRUE(in);
        return {in->group_names[0], std::to_string(in->channel_group[0]),
                std::to_string(in->channel_group[16])};
    }
    fs::path folder;
    std::string recorded_names, recorded_groups;
};

TEST(GroupEditor, SavedGroupsAreWhatTheReportUsesAndTheRecordedOnesComeBack) {
    Regrouped r;
    auto editor = OpenGroupEditor(r.storage, r.folder);
    ASSERT_TRUE(editor);
    EXPECT_EQ(PlateLayoutCaption(editor->plate), "[8x12]");
    // Default groups by beam column: channel 16 lies in column 1, group 1.
    EXPECT_EQ(r.ReportGroups(), (std::vector<std::string>{"Group0", "0", "1"}));

    EXPECT_TRUE(MoveChannel(editor->project, editor->plate, 16, 5));
    editor->project.GroupName[0] = "Control";
    EXPECT_TRUE(GroupsEdited(*editor));
    ASSERT_TRUE(SaveAcquisitionGroups(r.storage, *editor));
    EXPECT_FALSE(GroupsEdited(*editor));
    EXPECT_EQ(r.ReportGroups(), (std::vector<std::string>{"Control", "0", "5"}));
    EXPECT_EQ(ReadFile(r.folder / kRecordedGroupNamesFile), r.recorded_names);
    EXPECT_EQ(ReadFile(r.folder / kRecordedChannelGroupsFile), r.recorded_groups);

    // A second save keeps the recorded files as they were recorded.
    editor->project.GroupName[0] = "Control 2";
    ASSERT_TRUE(SaveAcquisitionGroups(r.storage, *editor));
    EXPECT_EQ(ReadFile(r.folder / kRecordedGroupNamesFile), r.recorded_names);

    // "Groups as recorded" in the editor, or the restore, brings them back.
    ASSERT_TRUE(ApplyGroupSet(r.storage, *editor, 0));
    EXPECT_EQ(editor->project.GroupName[0], "Group0");
    EXPECT_EQ(editor->project.ChannelGroup[16], 1);
    ASSERT_TRUE(RestoreRecordedGroups(r.storage, *editor));
    EXPECT_EQ(ReadFile(r.folder / "groups.dat"), r.recorded_names);
    EXPECT_EQ(ReadFile(r.folder / "chgroup.dat"), r.recorded_groups);
    EXPECT_FALSE(GroupsEdited(*editor));
    EXPECT_TRUE(r.dialogs.shown().empty());
}

TEST(GroupEditor, TheProjectsGroupsAreTakenOnlyWhenThePlateFits) {
    Regrouped r;
    ProjectState changed;
    changed.Setup.Name = "Dose";
    changed.Setup.Plate_format = "w96f";
    changed.ChannelGroup.fill(kFreeGroup);
    changed.ChannelGroup[16] = 7;
    changed.GroupName[7] = "Late";
    r.WriteProject(r.install() / "p00001", 1, changed);
    auto editor = OpenGroupEditor(r.storage, r.folder);
    ASSERT_TRUE(editor);
    EXPECT_EQ(GroupSetChoices(r.storage, *editor),
              (std::vector<std::string>{kRecordedGroupSet, "Current groups of p00001_Dose"}));
    ASSERT_TRUE(ApplyGroupSet(r.storage, *editor, 1));
    EXPECT_EQ(editor->project.ChannelGroup[16], 7);
    EXPECT_EQ(editor->project.GroupName[7], "Late");
    EXPECT_TRUE(GroupsEdited(*editor));

    changed.Setup.Plate_format = "w384";
    r.WriteProject(r.install() / "p00001", 1, changed);
    auto other = OpenGroupEditor(r.storage, r.folder);
    ASSERT_TRUE(other);
    EXPECT_FALSE(ApplyGroupSet(r.storage, *other, 1));
    EXPECT_NE(r.dialogs.Messages().back().find("plate format w384"), std::string::npos);
    EXPECT_FALSE(GroupsEdited(*other));
}

TEST(GroupEditor, LeavingAsksBeforeDiscardingChanges) {
    struct Case {
        std::optional<MsgResult> answer;  // none: no question expected
        bool edit, closes, saved;
    };
    for (const Case& c :
         {Case{std::nullopt, false, true, false}, Case{MsgResult::Yes, true, true, true},
          Case{MsgResult::No, true, true, false}, Case{MsgResult::Cancel, true, false, false}}) {
        Regrouped r;
        auto editor = OpenGroupEditor(r.storage, r.folder);
        ASSERT_TRUE(editor);
        if (c.edit) ClearGroups(editor->project);
        if (c.answer) r.dialogs.QueueAnswer(*c.answer);
        EXPECT_EQ(CloseGroupEditor(r.storage, *editor), c.closes);
        EXPECT_EQ(HasRecordedGroups(r.storage, r.folder), c.saved);
        EXPECT_EQ(ReadFile(r.folder / "groups.dat") != r.recorded_names, c.saved);
        EXPECT_TRUE(r.dialogs.AllAnswersUsed());
        if (c.answer) {
            EXPECT_EQ(r.dialogs.Messages().back(), kSaveGroupsQuestion);
        }
    }
}

}  // namespace
}  // namespace lumivo::offline::testing
