// Group assignment of the project setup: labels, group entries, the group and well lists, moves,
// clearing, block sizes, the automatic arrangement and the mouse rectangle, on the built-in plate
// maps. Every position, label and group number outside the tables must be refused, not followed.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/setup/plate_groups.h"
#include "support/scripted_dialogs.h"

using namespace lumivo;

namespace {

PlateMap Plate(const char* format) {
    PlateMap plate;
    BuildDefaultPlateMap(format, plate);
    return plate;
}

// A project whose channels are all enabled and free.
ProjectState FreeProject() {
    ProjectState p;
    ClearGroups(p);
    return p;
}

// w96f: beam column c, beam row r (even rows only lie in wells).
int Ch(int c, int r) {
    return c * 16 + r;
}
std::size_t At(int i) {
    return static_cast<std::size_t>(i);
}

}  // namespace

TEST(SetupLabels, WellLabelsOfTheBuiltInPlates) {
    const PlateMap w96f = Plate("w96f");
    const PlateMap w384 = Plate("w384");
    const PlateMap w96u = Plate("w96u");
    struct Case {
        const PlateMap* plate;
        int channel;
        const char* label;
    };
    const Case cases[] = {
        {&w96f, 0, "A1.0"},
        {&w96f, 16, "A1.1"},
        {&w96f, 1, ""},
        {&w96f, Ch(22, 14), "H12.0"},
        {&w96f, Ch(23, 14), "H12.1"},
        {&w96f, Ch(2, 2), "B2.0"},
        {&w384, 383, "P24.0"},
        {&w384, 17, "B2.0"},
        {&w96u, 16, ""},
        {&w96u, Ch(4, 6), "D3.0"},
        {&w96f, -1, ""},
        {&w96f, 384, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WellLabel(*c.plate, c.channel), c.label) << "channel " << c.channel;
}

TEST(SetupLabels, EveryLabelLeadsBackToItsChannel) {
    for (const char* format : {"w96f", "w96u", "w384"}) {
        const PlateMap plate = Plate(format);
        int labelled = 0;
        for (int ch = 0; ch < kChannelCount; ++ch) {
            const std::string label = WellLabel(plate, ch);
            if (label.empty()) continue;
            ++labelled;
            EXPECT_EQ(ChannelOfLabel(plate, label), ch) << format << " " << label;
        }
        EXPECT_EQ(labelled, std::string(format) == "w384" ? 384 : format[3] == 'f' ? 192 : 96);
    }
}

TEST(SetupLabels, MalformedOrForeignLabelsNameNoChannel) {
    const PlateMap plate = Plate("w96f");
    for (const char* label :
         {"", "A", "A1", "A1.", "a1.0", "A0.0", "I1.0", "A13.0", "A1.2", "A1.0x", "1.0", "A1,0",
          "AA1.0", "A99999999999.0", "A1.-1", "ZZZZZZZZ1.0"})
        EXPECT_FALSE(ChannelOfLabel(plate, label).has_value()) << "\"" << label << "\"";
}

TEST(SetupGroups, GroupEntriesAndTheirNumbers) {
    EXPECT_EQ(GroupEntry(3, "Group3"), "003_Group3");
    EXPECT_EQ(GroupEntry(383, "Last, \"one\""), "383_Last, \"one\"");
    struct Case {
        const char* entry;
        std::optional<int> group;
    };
    const Case cases[] = {{"003_Group3", 3}, {"383_x", 383}, {"000_Free", 0}, {"384_x", {}},
                          {"999_Free", {}},  {"ab", {}},     {"-01_x", {}},   {"12", {}}};
    for (const auto& c : cases) EXPECT_EQ(GroupOfEntry(c.entry), c.group) << c.entry;
}

TEST(SetupGroups, GroupListShowsGroupsUpToTheLargestInUseAndNamesUsedFreeGroups) {
    ProjectState p = FreeProject();
    p.GroupName[1] = "Unused but listed";
    p.GroupName[2] = "Dose, 5 \"mM\"";
    p.GroupName[5] = "Beyond the largest";
    p.ChannelGroup[0] = 0;  // group 0 keeps the name "Free" until it is listed
    p.ChannelGroup[7] = 2;
    p.ChannelGroup[9] = 2;
    const auto entries = RebuildGroupList(p);
    const std::vector<std::string> expected = {"000_Group0", "001_Unused but listed",
                                               "002_Dose, 5 \"mM\""};
    EXPECT_EQ(entries, expected);
    EXPECT_EQ(p.GroupName[0], "Group0");
    EXPECT_EQ(p.GroupName[1], "Unused but listed");  // not in use: never renamed

    ClearGroups(p);
    EXPECT_TRUE(RebuildGroupList(p).empty());
}

TEST(SetupGroups, OnlyEnabledChannelsInWellsAreListedAndMoved) {
    const PlateMap plate = Plate("w96f");
    ProjectState p = FreeProject();
    p.ChannelEnabled[16] = 0;  // A1.1 disabled
    p.ChannelGroup[16] = 4;    // ... and in a group: it is still not listed
    p.ChannelGroup[1] = 4;     // in no well
    p.ChannelGroup[At(Ch(2, 0))] = 4;
    p.ChannelGroup[0] = 4;
    EXPECT_EQ(LabelsOfGroup(p, plate, 4), (std::vector<std::string>{"A1.0", "A2.0"}));
    const auto free_labels = LabelsOfGroup(p, plate, kFreeGroup);
    EXPECT_EQ(free_labels.size(), 192u - 3u);
    EXPECT_EQ(free_labels.front(), "B1.0");

    // Double clicks: free -> group, group -> free; refusals change nothing.
    EXPECT_TRUE(MoveLabel(p, plate, "B1.0", 4));
    EXPECT_EQ(p.ChannelGroup[2], 4);
    EXPECT_TRUE(MoveLabel(p, plate, "A1.0", kFreeGroup));
    EXPECT_EQ(p.ChannelGroup[0], kFreeGroup);
    const auto before = p.ChannelGroup;
    EXPECT_FALSE(MoveLabel(p, plate, "A1.1", kFreeGroup));  // disabled
    EXPECT_FALSE(MoveChannel(p, plate, 1, 3));              // no well
    EXPECT_FALSE(MoveLabel(p, plate, "C1.0", 384));         // past GroupName
    EXPECT_FALSE(MoveLabel(p, plate, "C1.0", -2));
    EXPECT_FALSE(MoveLabel(p, plate, "Z9.0", 1));
    EXPECT_EQ(p.ChannelGroup, before);
}

TEST(SetupGroups, ClearFreesEveryChannelAndNamesEveryGroupFree) {
    ProjectState p;  // the default groups
    ClearGroups(p);
    for (int i = 0; i < kChannelCount; ++i) {
        EXPECT_EQ(p.ChannelGroup[static_cast<std::size_t>(i)], kFreeGroup);
        EXPECT_EQ(p.GroupName[static_cast<std::size_t>(i)], "Free");
    }
}

TEST(SetupGroups, RenameGroupKeepsTheOldNameOnEmptyOrUnstorableAnswers) {
    struct Case {
        std::optional<std::string> answer;
        std::string name_after;
        std::string message;  // "" when none
    };
    const Case cases[] = {
        {"Treated, 5 mM \"X\"", "Treated, 5 mM \"X\"", ""},
        {"", "Control", ""},
        {std::nullopt, "Control", ""},
        {"two\r\nlines", "Control",
         "The group name \"two??lines\" contains a line break and cannot be saved. Please use a "
         "single line."},
    };
    for (const auto& c : cases) {
        lumivo::testing::ScriptedDialogs dialogs;
        ProjectState p = FreeProject();
        p.GroupName[7] = "Control";
        dialogs.QueueInput(c.answer);
        EXPECT_EQ(RenameGroup(dialogs, p, 7), c.name_after != "Control");
        EXPECT_EQ(p.GroupName[7], c.name_after);
        ASSERT_FALSE(dialogs.shown().empty());
        EXPECT_EQ(dialogs.shown()[0].text, "Enter New Group (007) Name");
        const auto messages = dialogs.Messages();
        EXPECT_EQ(messages.empty() ? "" : messages[0], c.message);
    }
    lumivo::testing::ScriptedDialogs dialogs;
    ProjectState p;
    EXPECT_FALSE(RenameGroup(dialogs, p, 384));  // no question for a group past the table
    EXPECT_TRUE(dialogs.shown().empty());
}

TEST(SetupBlocks, BlockSizesOfThePlates) {
    const auto w96 = BlockSizeCaptions(Plate("w96f"));
    ASSERT_EQ(w96.size(), 24u);
    std::vector<std::string> expected;
    for (int width : {1, 2, 3, 4, 6, 12})
        for (int height : {1, 2, 4, 8}) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%02dx%02d [RowsxColumn]", height, width);
            expected.push_back(buf);
        }
    EXPECT_EQ(w96, expected);
    // 384 wells: widths 1, 2, 3, 4, 6, 8, 12 (24 is beyond 16) by heights 1, 2, 4, 8, 16.
    EXPECT_EQ(BlockSizeCaptions(Plate("w384")).size(), 35u);
    PlateMap empty;
    empty.PlateRows = 0;
    EXPECT_TRUE(BlockSizeCaptions(empty).empty());
}

TEST(SetupBlocks, ParseBlockSizeReadsRowsThenColumns) {
    struct Case {
        const char* caption;
        int rows, columns;  // 0: refused
    };
    const Case cases[] = {{"04x06 [RowsxColumn]", 4, 6},
                          {"16x01", 16, 1},
                          {"00x06", 0, 0},
                          {"4x6", 0, 0},
                          {"04x6 ", 0, 0},
                          {"", 0, 0},
                          {"aaxbb", 0, 0}};
    for (const auto& c : cases) {
        const auto size = ParseBlockSize(c.caption);
        EXPECT_EQ(size.has_value(), c.rows > 0) << c.caption;
        if (size) {
            EXPECT_EQ(size->rows, c.rows);
            EXPECT_EQ(size->columns, c.columns);
        }
    }
}

TEST(SetupBlocks, ArrangementGivesEachBlockOfWellsItsGroup) {
    const PlateMap plate = Plate("w96f");
    struct Case {
        BlockSize size;
        int groups;
        // group of the well at (column, row) for this block size
        int (*group_of)(int column, int row);
    };
    const Case cases[] = {
        {{1, 1}, 96, [](int c, int r) { return c * 8 + r; }},
        {{8, 12}, 1, [](int, int) { return 0; }},
        {{2, 2}, 24, [](int c, int r) { return (c / 2) * 4 + r / 2; }},
        {{8, 1}, 12, [](int c, int) { return c; }},
        {{1, 12}, 8, [](int, int r) { return r; }},
        {{4, 6}, 4, [](int c, int r) { return (c / 6) * 2 + r / 4; }},
    };
    for (const auto& c : cases) {
        ProjectState p;  // starts from the default groups: the arrangement clears them first
        EXPECT_EQ(ArrangeInBlocks(p, plate, c.size), c.groups);
        for (int bc = 0; bc < 24; ++bc)
            for (int br = 0; br < 16; ++br) {
                const int expected = br % 2 ? kFreeGroup : c.group_of(bc / 2, br / 2);
                ASSERT_EQ(p.ChannelGroup[At(Ch(bc, br))], expected)
                    << c.size.rows << "x" << c.size.columns << " channel " << Ch(bc, br);
            }
        for (int g = 0; g <= kMaxGroup; ++g)
            EXPECT_EQ(p.GroupName[static_cast<std::size_t>(g)],
                      g < c.groups ? DefaultGroupName(g) : "Free");
    }
}

TEST(SetupBlocks, DisabledChannelsAreLeftAloneAndDoNotStopTheArrangement) {
    const PlateMap plate = Plate("w96f");
    ProjectState p = FreeProject();
    p.ChannelEnabled[0] = 0;  // A1.0
    EXPECT_EQ(ArrangeInBlocks(p, plate, {1, 1}), 96);
    EXPECT_EQ(p.ChannelGroup[0], kFreeGroup);
    EXPECT_EQ(p.ChannelGroup[16], 0);  // A1.1 still starts group 0
    EXPECT_EQ(p.ChannelGroup[2], 1);   // B1 is group 1

    // A whole well switched off: the blocks skip it as a start.
    p = FreeProject();
    p.ChannelEnabled[0] = p.ChannelEnabled[16] = 0;
    EXPECT_EQ(ArrangeInBlocks(p, plate, {1, 1}), 95);
    EXPECT_EQ(p.ChannelGroup[2], 0);
    EXPECT_EQ(p.ChannelGroup[At(Ch(23, 14))], 94);
}

TEST(SetupBlocks, ADamagedPlateNeverLeadsPastTheGroupTable) {
    // A plate file may claim more wells than 384 groups can name.
    PlateMap plate;
    plate.PlateRows = 40;
    plate.PlateColumns = 50;
    for (int ch = 0; ch < kChannelCount; ++ch) {
        plate.ChannelWell[static_cast<std::size_t>(ch)] = static_cast<std::int16_t>(ch * 5);
        plate.ChannelBeam[static_cast<std::size_t>(ch)] = 0;
    }
    plate.MaxWellIndex = 383 * 5;
    RebuildWellChannel(plate);
    ProjectState p = FreeProject();
    EXPECT_EQ(ArrangeInBlocks(p, plate, {1, 1}), 384);
    for (int ch = 0; ch < kChannelCount; ++ch)
        EXPECT_EQ(p.ChannelGroup[static_cast<std::size_t>(ch)], ch);
    EXPECT_EQ(ArrangeInBlocks(p, plate, {0, 3}), 0);  // no block: everything free
    EXPECT_EQ(LabelsOfGroup(p, plate, kFreeGroup).size(), 384u);
}

TEST(SetupMouse, PointerPositionsLieOnWellsOfThePlate) {
    const PlateMap f = Plate("w96f");  // rows offset -0.5, columns offset 0, pitch 2
    const PlateMap u = Plate("w96u");  // both offsets -0.5
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const PlateMap* plate;
        double x, y;
        WellCell cell;
    };
    const Case cases[] = {
        {&f, 0, 0, {0, 0}},        {&f, 199, 149, {0, 0}},      {&f, 200, 150, {1, 1}},
        {&f, 2399, 1549, {11, 7}}, {&f, -500, -500, {0, 0}},    {&f, 99999, 99999, {11, 7}},
        {&f, 2400, 1600, {11, 7}}, {&f, nan, nan, {0, 0}},      {&u, 149, 149, {0, 0}},
        {&u, 150, 150, {1, 1}},    {&f, -1e300, 1e300, {0, 7}},
    };
    for (const auto& c : cases) {
        const WellCell got = WellAtPoint(*c.plate, c.x, c.y);
        EXPECT_EQ(got, c.cell) << c.x << "," << c.y << " -> " << got.column << "," << got.row;
    }
    PlateMap flat = f;
    flat.ColumnPitch = 0;  // a damaged file: no division by zero
    EXPECT_EQ(WellAtPoint(flat, 500, 500), (WellCell{0, 2}));
    EXPECT_EQ(WellIndex(f, {11, 7}), 95);
}

TEST(SetupMouse, RectanglesAssignAndFreeTheEnabledChannelsOfTheirWells) {
    const PlateMap plate = Plate("w96f");
    ProjectState p = FreeProject();
    p.ChannelEnabled[At(Ch(3, 2))] = 0;  // B2.1 disabled
    // Corners in any order: B2..C3 is four wells, seven enabled channels.
    EXPECT_EQ(AssignRectangle(p, plate, {2, 2}, {1, 1}, 5), 7);
    EXPECT_EQ(LabelsOfGroup(p, plate, 5),
              (std::vector<std::string>{"B2.0", "C2.0", "C2.1", "B3.0", "C3.0", "B3.1", "C3.1"}));
    EXPECT_EQ(p.ChannelGroup[At(Ch(3, 2))], kFreeGroup);
    // The right button frees one of them again.
    EXPECT_EQ(AssignRectangle(p, plate, {1, 1}, {1, 1}, kFreeGroup), 1);
    EXPECT_EQ(LabelsOfGroup(p, plate, 5).size(), 6u);
    // A group past the table changes nothing; a rectangle reaching past the plate stops at it.
    const auto before = p.ChannelGroup;
    EXPECT_EQ(AssignRectangle(p, plate, {0, 0}, {3, 3}, 384), -1);
    EXPECT_EQ(p.ChannelGroup, before);
    EXPECT_EQ(AssignRectangle(p, plate, {-4, -4}, {500, 500}, 2), 191);
    EXPECT_EQ(LabelsOfGroup(p, plate, 2).size(), 191u);
    EXPECT_TRUE(LabelsOfGroup(p, plate, kFreeGroup).empty());
}

TEST(SetupGroups, WellListsShowWellsAndBeamsOnlyOfSplitWells) {
    const PlateMap plate = Plate("w96f");  // two beams a well: A1 is channels 0 and 16
    ProjectState p = FreeProject();
    p.ChannelGroup[0] = 4;  // A1.0 in the group, A1.1 free: a split well
    p.ChannelGroup[At(Ch(2, 0))] = 4;
    p.ChannelGroup[At(Ch(3, 0))] = 4;  // A2 whole
    EXPECT_EQ(WellEntriesOfGroup(p, plate, 4), (std::vector<std::string>{"A1.0", "A2"}));
    const auto free_entries = WellEntriesOfGroup(p, plate, kFreeGroup);
    ASSERT_EQ(free_entries.size(), 96u - 1u);  // A1.1 and the 94 free wells
    EXPECT_EQ(free_entries[0], "A1.1");
    EXPECT_EQ(free_entries[1], "B1");

    // A well moves with all its beams, a beam of a split well alone.
    EXPECT_TRUE(MoveWellEntry(p, plate, "A2", kFreeGroup));
    EXPECT_EQ(p.ChannelGroup[At(Ch(2, 0))], kFreeGroup);
    EXPECT_EQ(p.ChannelGroup[At(Ch(3, 0))], kFreeGroup);
    EXPECT_TRUE(MoveWellEntry(p, plate, "A1.1", 4));
    EXPECT_EQ(WellEntriesOfGroup(p, plate, 4), std::vector<std::string>{"A1"});
    // A disabled beam stays where it is and is not listed.
    p.ChannelEnabled[At(Ch(5, 2))] = 0;  // B3.1
    EXPECT_TRUE(MoveWellEntry(p, plate, "B3", 7));
    EXPECT_EQ(p.ChannelGroup[At(Ch(4, 2))], 7);
    EXPECT_EQ(p.ChannelGroup[At(Ch(5, 2))], kFreeGroup);
    EXPECT_EQ(WellEntriesOfGroup(p, plate, 7), std::vector<std::string>{"B3"});
    const auto before = p.ChannelGroup;
    EXPECT_FALSE(MoveWellEntry(p, plate, "Z9", 1));
    EXPECT_FALSE(MoveWellEntry(p, plate, "C1", 384));
    EXPECT_FALSE(MoveWellEntry(p, plate, "", 1));
    EXPECT_EQ(p.ChannelGroup, before);
}
