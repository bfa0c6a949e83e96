#include "core/storage/well_map.h"

#include <gtest/gtest.h>

#include "storage_test_util.h"

namespace lumivo::testing {
namespace {

const std::vector<std::string> kPlate = {"A1", "B1", "A2", "B2", "H12"};

TEST(WellMap, ReadsWhatSpreadsheetsWrite) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> wells, treatments, extra_columns;
        std::vector<std::optional<double>> concentrations;
        std::vector<WellRole> roles;
    };
    const std::vector<Case> cases = {
        {"plain, columns in any order and case, a blank concentration",
         "Well,Role,Treatment,Concentration,Unit,genotype\nA1,negative,DMSO,,%,N2\n"
         "b1,,Levamisole,0.5,mM,unc-29\n",
         {"A1", "B1"},
         {"DMSO", "Levamisole"},
         {"genotype"},
         {std::nullopt, 0.5},
         {WellRole::Negative, WellRole::Sample}},
        {"byte-order mark, CR LF, quoted comma and line break, blank lines",
         "\xEF\xBB\xBFwell,treatment,concentration,unit,role\r\n\r\nA2,\"Ivermectin, batch\n2\","
         "1e-3,uM,POSITIVE\r\n",
         {"A2"},
         {"Ivermectin, batch\n2"},
         {},
         {1e-3},
         {WellRole::Positive}},
        {"semicolons and a decimal comma from a European spreadsheet",
         "well;treatment;concentration;unit;role\nH12;Aldicarb;\"2,5\";uM;sample\nB2;;;;empty\n",
         {"H12", "B2"},
         {"Aldicarb", ""},
         {},
         {2.5, std::nullopt},
         {WellRole::Sample, WellRole::Empty}},
    };
    for (const Case& c : cases) {
        std::string failure;
        const auto map = ParseWellMap(c.text, kPlate, &failure);
        ASSERT_TRUE(map) << c.name << ": " << failure;
        EXPECT_EQ(map->extra_columns, c.extra_columns) << c.name;
        ASSERT_EQ(map->wells.size(), c.wells.size()) << c.name;
        for (std::size_t k = 0; k < c.wells.size(); ++k) {
            EXPECT_EQ(map->wells[k].well, c.wells[k]) << c.name;
            EXPECT_EQ(map->wells[k].treatment, c.treatments[k]) << c.name;
            EXPECT_EQ(map->wells[k].concentration, c.concentrations[k]) << c.name;
            EXPECT_EQ(map->wells[k].role, c.roles[k]) << c.name;
            EXPECT_EQ(map->wells[k].extra.size(), c.extra_columns.size()) << c.name;
        }
        // What is written reads back the same.
        const auto again = ParseWellMap(FormatWellMap(*map), kPlate, &failure);
        ASSERT_TRUE(again) << c.name << ": " << failure;
        EXPECT_EQ(FormatWellMap(*again), FormatWellMap(*map)) << c.name;
    }
    const auto genotype = ParseWellMap(cases[0].text, kPlate, nullptr);
    EXPECT_EQ(genotype->Find("B1")->extra, std::vector<std::string>{"unc-29"});
    EXPECT_EQ(genotype->Find("H12"), nullptr);
}

TEST(WellMap, RefusesWithTheLineAndWhatToDo) {
    const std::string head = "well,treatment,concentration,unit,role\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {head + "A1,x,1,mM,sample\nZ9,x,1,mM,sample\n",
         "line 3: the well \"Z9\" is not on the plate (A1 to H12)"},
        {head + "A1,x,1 mM,,sample\n", "line 2: the concentration \"1 mM\" of A1 is not a number"},
        {head + "A1,x,-1,,sample\n", "line 2: the concentration \"-1\" of A1 is not a number"},
        {head + "A1,x,1,,sample\nB1,x,2,,sample\na1,x,3,,sample\n",
         "line 4: the well A1 is named twice"},
        {head + "A1,x,1,,blank\n", "line 2: the role \"blank\" of A1 is not one of"},
        {"treatment,concentration\nx,1\n", "line 1: the header has no \"well\" column"},
        {head + "A1,\"open,1,,sample\n", "line 2: a quoted field is not closed"},
        {head + "A1,x,1,,sample,extra\n", "line 2: it has 6 fields but the header names 5"},
        {"", "line 1: the file is empty"},
    };
    for (const auto& [text, expected] : cases) {
        std::string failure;
        EXPECT_FALSE(ParseWellMap(text, kPlate, &failure)) << text;
        EXPECT_EQ(failure.rfind(expected, 0), 0u) << failure;
    }
}

TEST(WellMap, FileIsReplacedWholeOrRemovedAndErrorsNameIt) {
    DiskStorage s;
    WellMap map;
    map.wells.push_back({"A1", "Levamisole, \"L\"", 0.25, "mM", WellRole::Sample, {}});
    WriteWellMap(s.ctx, s.dir.path(), map);
    EXPECT_EQ(ReadBytes(s.dir / "wells.csv"),
              "well,treatment,concentration,unit,role\nA1,\"Levamisole, \"\"L\"\"\",0.25,mM,"
              "sample\n");
    std::string failure;
    const auto back = ReadWellMap(s.ctx, s.dir.path(), kPlate, &failure);
    ASSERT_TRUE(back) << failure;
    EXPECT_EQ(back->wells.front().treatment, "Levamisole, \"L\"");

    EXPECT_FALSE(ReadWellMap(s.ctx, s.dir.path(), {"B1"}, &failure));
    EXPECT_NE(failure.find((s.dir / "wells.csv").string()), std::string::npos) << failure;
    EXPECT_NE(failure.find("line 2"), std::string::npos) << failure;

    WriteWellMap(s.ctx, s.dir.path(), WellMap{});
    EXPECT_FALSE(fs::exists(s.dir / "wells.csv"));
    const auto none = ReadWellMap(s.ctx, s.dir.path(), kPlate, &failure);
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());

    const auto halves = DilutionSeries(10.0, 0.5, 4);
    EXPECT_EQ(halves, (std::vector<double>{10.0, 5.0, 2.5, 1.25}));
}

}  // namespace
}  // namespace lumivo::testing
