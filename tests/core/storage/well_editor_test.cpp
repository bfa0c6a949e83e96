// The plate-map editor of the project setup: wells chosen on the picture, an edit applied to
// them, the dilution series along rows and columns, the concentration box, import and export,
// and the lines the table and the summaries show, on the built-in plates.
#include "core/setup/well_editor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>

#include "storage_test_util.h"

using namespace lumivo;
using namespace lumivo::testing;

namespace {

PlateMap Plate(const char* format) {
    PlateMap plate;
    BuildDefaultPlateMap(format, plate);
    return plate;
}

// A plate of rows x columns wells (what the editor needs of a plate: its names).
PlateMap Grid(int rows, int columns) {
    PlateMap plate;
    plate.PlateRows = static_cast<std::int16_t>(rows);
    plate.PlateColumns = static_cast<std::int16_t>(columns);
    plate.MaxWellIndex = static_cast<std::int16_t>(rows * columns - 1);
    return plate;
}

// Well indices of names on the plate.
std::vector<int> Wells(const PlateMap& plate, const std::vector<std::string>& names) {
    return WellsOfEntries(plate, names);
}

std::map<std::string, double> Concentrations(const WellMap& map) {
    std::map<std::string, double> out;
    for (const auto& e : map.wells)
        if (e.concentration) out[e.well] = *e.concentration;
    return out;
}

}  // namespace

TEST(WellEditor, ChoosingWellsOnThePicture) {
    const PlateMap w96 = Plate("w96f");
    // A rectangle in any corner order, limited to the plate.
    EXPECT_EQ(WellsOfRectangle(w96, {2, 1}, {0, 0}),
              Wells(w96, {"A1", "B1", "A2", "B2", "A3", "B3"}));
    EXPECT_EQ(WellsOfRectangle(w96, {11, 7}, {40, 40}), Wells(w96, {"H12"}));
    std::vector<int> chosen;
    ChangeChosenWells(chosen, WellsOfRectangle(w96, {0, 0}, {3, 0}), ChoiceChange::Replace);
    ChangeChosenWells(chosen, WellsOfRectangle(w96, {0, 1}, {0, 1}), ChoiceChange::Add);
    ChangeChosenWells(chosen, WellsOfRectangle(w96, {1, 0}, {2, 0}), ChoiceChange::Remove);
    EXPECT_EQ(ChosenWellsText(w96, chosen), "A1, A4, B1");
    ChangeChosenWells(chosen, WellsOfRectangle(w96, {0, 0}, {11, 7}), ChoiceChange::Replace);
    EXPECT_EQ(chosen.size(), 96u);
    EXPECT_EQ(ChosenWellsText(w96, chosen, 3), "A1, A2, A3, ... (96 wells)");
    // Names of another plate are not wells of this one.
    EXPECT_TRUE(Wells(Grid(4, 6), {"H12", "E1", "A7"}).empty());
}

TEST(WellEditor, ApplyWritesTheChosenWellsAndKeepsTheLabsColumns) {
    const PlateMap w96 = Plate("w96f");
    WellMap map;
    map.extra_columns = {"genotype"};
    map.wells = {{"B2", "old", 9.0, "mM", WellRole::Sample, {"mutant"}}};
    const WellEdit edit{"drug A", 2.5, "uM", WellRole::Positive};
    // B1..B3 chosen as a column-wise rectangle: new wells come in reading order after B2.
    EXPECT_EQ(ApplyWellEdit(map, w96, WellsOfRectangle(w96, {2, 1}, {0, 1}), edit), 3);
    EXPECT_EQ(FormatWellMap(map),
              "well,treatment,concentration,unit,role,genotype\n"
              "B2,drug A,2.5,uM,positive,mutant\n"
              "B1,drug A,2.5,uM,positive,\n"
              "B3,drug A,2.5,uM,positive,\n");
    // A blank concentration is none, not 0.
    ApplyWellEdit(map, w96, Wells(w96, {"B1"}),
                  WellEdit{"vehicle", std::nullopt, "", WellRole::Negative});
    EXPECT_FALSE(map.Find("B1")->concentration.has_value());
    EXPECT_EQ(RemoveWellEntries(map, w96, Wells(w96, {"B1", "B3", "C3"})), 2);
    ASSERT_EQ(map.wells.size(), 1u);
    EXPECT_EQ(map.wells[0].well, "B2");
    // Wells past the plate's last are never written.
    EXPECT_EQ(ApplyWellEdit(map, w96, {96, 200, -1}, edit), 0);
    EXPECT_EQ(map.wells.size(), 1u);
}

TEST(WellEditor, DilutionSeriesFillsEachChosenRowOrColumnInItsDirection) {
    const PlateMap w96 = Plate("w96f");
    struct Case {
        const char* what;
        std::vector<std::string> chosen;
        SeriesDirection direction;
        double first, factor;
        std::map<std::string, double> expected;
    };
    const Case cases[] = {
        {"a row, left to right, 1:2",
         {"A1", "A2", "A3", "A4"},
         SeriesDirection::LeftToRight,
         100,
         0.5,
         {{"A1", 100}, {"A2", 50}, {"A3", 25}, {"A4", 12.5}}},
        {"a row, right to left",
         {"A1", "A2", "A3"},
         SeriesDirection::RightToLeft,
         9,
         1.0 / 3.0,
         {{"A3", 9}, {"A2", 3}, {"A1", 1}}},
        {"two rows: each its own series (replicates)",
         {"A1", "A2", "B1", "B2"},
         SeriesDirection::LeftToRight,
         10,
         0.1,
         {{"A1", 10}, {"A2", 1}, {"B1", 10}, {"B2", 1}}},
        {"a column, top to bottom, tenfold: no floating-point noise",
         {"A5", "B5", "C5", "D5"},
         SeriesDirection::TopToBottom,
         1,
         0.1,
         {{"A5", 1}, {"B5", 0.1}, {"C5", 0.01}, {"D5", 0.001}}},
        {"a column, bottom to top, rising",
         {"G12", "H12"},
         SeriesDirection::BottomToTop,
         1,
         2,
         {{"H12", 1}, {"G12", 2}}},
    };
    for (const Case& c : cases) {
        WellMap map;
        map.wells = {{"A2", "kept", 7.0, "", WellRole::Sample, {}}};
        const WellEdit fresh{"compound", std::nullopt, "nM", WellRole::Sample};
        EXPECT_EQ(FillDilutionSeries(map, w96, Wells(w96, c.chosen), c.first, c.factor, c.direction,
                                     fresh),
                  "")
            << c.what;
        std::map<std::string, double> expected = c.expected;
        if (!expected.count("A2")) expected["A2"] = 7.0;
        EXPECT_EQ(Concentrations(map), expected) << c.what;
        // Exactly the numbers a person would type (0.01, not 0.010000000000000002), and the
        // typed unit on every well of the series.
        for (const auto& e : map.wells)
            if (c.expected.count(e.well)) {
                EXPECT_EQ(e.unit, "nM") << c.what;
            }
        // A well already in the map keeps its treatment; a new one gets the typed one.
        EXPECT_EQ(map.Find("A2")->treatment, "kept");
        for (const auto& e : map.wells)
            if (e.well != "A2") {
                EXPECT_EQ(e.treatment, "compound") << c.what;
            }
    }
    // Refusals change nothing.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        std::vector<std::string> chosen;
        double first, factor;
    } refused[] = {{{}, 1, 0.5}, {{"A1"}, -1, 0.5}, {{"A1"}, 1, 0}, {{"A1"}, 1, nan}};
    for (const auto& r : refused) {
        WellMap map;
        EXPECT_NE(FillDilutionSeries(map, w96, Wells(w96, r.chosen), r.first, r.factor,
                                     SeriesDirection::LeftToRight, {}),
                  "");
        EXPECT_TRUE(map.empty());
    }
}

TEST(WellEditor, ConcentrationBoxTakesNumbersOrNothing) {
    const struct {
        const char* text;
        bool ok;
        std::optional<double> value;
    } cases[] = {
        {"", true, std::nullopt}, {"  ", true, std::nullopt}, {"2.5", true, 2.5},
        {" 2,5 ", true, 2.5},     {"0", true, 0.0},           {"1e-3", true, 0.001},
        {"-1", false, {}},        {"5 uM", false, {}},        {"inf", false, {}},
        {"abc", false, {}},
    };
    for (const auto& c : cases) {
        std::optional<double> value = 99.0;
        std::string message;
        EXPECT_EQ(ParseConcentrationBox(c.text, &value, &message), c.ok) << c.text;
        if (c.ok)
            EXPECT_EQ(value, c.value) << c.text;
        else
            EXPECT_NE(message.find(std::string("\"") + c.text + "\""), std::string::npos)
                << message;
    }
}

TEST(WellEditor, ImportNamesTheFileAndLineAndExportReadsBack) {
    DiskStorage s;
    const PlateMap w96 = Plate("w96f");
    const fs::path bad = s.dir / "bad.csv";
    WriteBytes(bad,
               "well,treatment,concentration,unit,role\nA1,x,1,uM,sample\nA2,x,lots,uM,sample\n");
    std::string failure;
    EXPECT_FALSE(ImportWellMap(s.ctx, bad, w96, &failure));
    EXPECT_EQ(failure.find(FileErrorTag(bad) + " line 3: the concentration \"lots\""), 0u)
        << failure;
    EXPECT_FALSE(ImportWellMap(s.ctx, s.dir / "missing.csv", w96, &failure));
    EXPECT_NE(failure.find("missing.csv"), std::string::npos) << failure;

    WellMap map;
    map.extra_columns = {"replicate"};
    map.wells = {{"A1", "drug, \"B\"", 0.125, "\xC2\xB5M", WellRole::Sample, {"1"}},
                 {"H12", "", std::nullopt, "", WellRole::Empty, {""}}};
    const fs::path out = s.dir / "export.csv";
    ExportWellMap(s.ctx, out, map);
    const auto back = ImportWellMap(s.ctx, out, w96, &failure);
    ASSERT_TRUE(back) << failure;
    EXPECT_EQ(FormatWellMap(*back), FormatWellMap(map));
    // On a smaller plate the same file is refused by the well it lacks.
    EXPECT_FALSE(ImportWellMap(s.ctx, out, Grid(4, 6), &failure));
    EXPECT_NE(failure.find("line 3: the well \"H12\" is not on the plate"), std::string::npos)
        << failure;
}

TEST(WellEditor, TableAndOverviewLines) {
    WellMap map;
    map.extra_columns = {"genotype"};
    map.wells = {{"A1", "drug", 10.0, "uM", WellRole::Sample, {"wt"}},
                 {"A2", "drug", 1.0, "uM", WellRole::Sample, {}},
                 {"A3", "vehicle", 0.0, "uM", WellRole::Negative, {"wt"}},
                 {"A4", "", std::nullopt, "", WellRole::Empty, {"wt"}}};
    EXPECT_EQ(WellTableHeader(map), (std::vector<std::string>{"well", "treatment", "concentration",
                                                              "unit", "role", "genotype"}));
    const auto rows = WellTableRows(map);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[1], (std::vector<std::string>{"A2", "drug", "1", "uM", "sample", ""}));
    EXPECT_EQ(rows[3], (std::vector<std::string>{"A4", "", "", "", "empty", "wt"}));
    EXPECT_EQ(WellMapOverview(map),
              "4 wells: 2 treatments (drug, vehicle), 3 concentrations, 1 negative, 1 empty");
    EXPECT_EQ(WellMapOverview(WellMap{}), "no wells");
    map.wells.push_back({"A5", "drug", 2.0, "mM", WellRole::Sample, {}});
    EXPECT_EQ(WellMapTreatmentLines(map),
              (std::vector<std::string>{"drug: 1 uM, 2 mM, 10 uM (3 wells)",
                                        "vehicle: 0 uM (1 well)", "(no treatment) (1 well)"}));
}
