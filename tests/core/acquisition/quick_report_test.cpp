// The quick summary of the running totals: its sections, labels and rounding.
#include <gtest/gtest.h>

#include <array>

#include "core/acquisition/acquisition_engine.h"
#include "core/storage/project_setup.h"

namespace lumivo {
namespace {

// A six-well plate of two rows and three columns, two beams per well: channels 0..11 in wells
// (channel 2w and 2w + 1 are beams 0 and 1 of well w), every other channel outside the plate.
PlateMap SixWells() {
    PlateMap plate;
    plate.PlateRows = 2;
    plate.PlateColumns = 3;
    plate.MaxWellIndex = 5;
    plate.MaxBeamIndex = 1;
    for (std::size_t c = 0; c < 12; ++c) {
        plate.ChannelWell[c] = static_cast<std::int16_t>(c / 2);
        plate.ChannelBeam[c] = static_cast<std::int16_t>(c % 2);
    }
    RebuildWellChannel(plate);
    return plate;
}

TEST(QuickReport, GroupWellAndRawSections) {
    ProjectState project;
    project.Setup.Name = "Larvae";
    project.ChannelGroup.fill(kFreeGroup);
    project.GroupName[0] = "Control";
    project.GroupName[7] = "Drug";
    // Wells 0 and 1 (A1, B1) in group 0, wells 2 and 3 (A2, B2) in group 7, well 4 (A3) free
    // with a 999 entry, well 5 (B3): beam 0 in group 7, beam 1 in group 0.
    for (std::size_t c = 0; c < 4; ++c) project.ChannelGroup[c] = 0;
    for (std::size_t c = 4; c < 8; ++c) project.ChannelGroup[c] = 7;
    project.ChannelGroup[8] = 999;
    project.ChannelGroup[10] = 7;
    project.ChannelGroup[11] = 0;
    project.ChannelGroup[300] = 7;  // outside the plate: never counted
    project.ChannelEnabled.fill(-1);
    project.ChannelEnabled[5] = 0;  // disabled: left out of its group's mean

    std::array<std::int16_t, kChannelTableSize> totals{};
    const std::int16_t values[12] = {10, 11, 20, 21, 30, 999, 40, 41, 5, 6, 100, 2};
    for (std::size_t c = 0; c < 12; ++c) totals[c] = values[c];
    totals[300] = 5000;

    const std::string text =
        FormatQuickReport(project, SixWells(), 3, totals, "14/03/2026 09:05:07");
    const std::string expected =
        "14/03/2026 09:05:07\r\n"
        "3_Larvae\r\n"
        "\r\n"
        "Group Activity:\r\n"
        "~~~~~~~~~~~~~\r\n"
        "Group Value\r\n"
        // group 0: 10, 11, 20, 21, 2 -> 64 / 5 = 12.8
        "\"000_Control\" 13\r\n"
        // group 7: 30, 40, 41, 100 (channel 5 disabled) -> 52.75
        "\"007_Drug\" 53\r\n"
        "\r\n"
        "Well Activity:\r\n"
        "~~~~~~~~~~~~~\r\n"
        "Well Group Value\r\n"
        "A1 \"000_Control\" 10\r\n"  // 10.5 -> 10 (half to even)
        "B1 \"000_Control\" 20\r\n"  // 20.5 -> 20
        "A2 \"007_Drug\" 514\r\n"    // (30 + 999) / 2 = 514.5 -> 514
        "B2 \"007_Drug\" 40\r\n"     // 40.5 -> 40
        "A3 999_Free  6\r\n"         // 5.5 -> 6
        "B3 \"007_Drug\" 51\r\n"     // the first beam's group; 51
        "\r\n"
        "Raw Activity:\r\n"
        "~~~~~~~~~~~~~\r\n"
        "Channel Well Group Value\r\n"
        "0 A1.0 \"000_Control\" 10\r\n"
        "1 A1.1 \"000_Control\" 11\r\n"
        "2 B1.0 \"000_Control\" 20\r\n"
        "3 B1.1 \"000_Control\" 21\r\n"
        "4 A2.0 \"007_Drug\" 30\r\n"
        "5 A2.1 \"007_Drug\" 999\r\n"
        "6 B2.0 \"007_Drug\" 40\r\n"
        "7 B2.1 \"007_Drug\" 41\r\n"
        "8 A3.0 999_Free  5\r\n"
        "9 A3.1 999_Free  6\r\n"
        "10 B3.0 \"007_Drug\" 100\r\n"
        "11 B3.1 \"000_Control\" 2\r\n";
    EXPECT_EQ(text, expected);
}

TEST(QuickReport, GroupLabels) {
    ProjectState project;
    project.GroupName[5] = "Five";
    project.GroupName[123] = "Big";
    EXPECT_EQ(QuickReportGroupLabel(project, 5), "\"005_Five\"");
    EXPECT_EQ(QuickReportGroupLabel(project, 123), "\"123_Big\"");
    EXPECT_EQ(QuickReportGroupLabel(project, -1), "999_Free ");
    EXPECT_EQ(QuickReportGroupLabel(project, 999), "999_Free ");
    EXPECT_EQ(QuickReportGroupLabel(project, 5000), "999_Free ");
}

TEST(QuickReport, AGroupWithoutEnabledChannelsInWellsHasNoLine) {
    ProjectState project;
    project.ChannelGroup.fill(kFreeGroup);
    project.GroupName[1] = "Gone";
    project.ChannelGroup[0] = 1;
    project.ChannelEnabled.fill(-1);
    project.ChannelEnabled[0] = 0;
    project.ChannelGroup[200] = 1;  // enabled but in no well
    std::array<std::int16_t, kChannelTableSize> totals{};
    const std::string text = FormatQuickReport(project, SixWells(), 1, totals, "");
    EXPECT_EQ(text.find("\"001_Gone\" 0\r\n\r\nWell"), std::string::npos);
    EXPECT_NE(text.find("Group Value\r\n\r\nWell Activity:"), std::string::npos);
}

}  // namespace
}  // namespace lumivo
