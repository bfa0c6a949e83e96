// The plate-map editor of the project setup window, without the window: the wells chosen on the
// plate picture, what "Apply to chosen wells" writes into them, the dilution-series helper that
// fills the chosen rows or columns, the import and export of a map as CSV, and the texts the
// editor's table shows. The map itself is ProjectState::Wells (well_map.h); it is written to
// the project folder when the project is saved.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/setup/plate_groups.h"
#include "core/storage/plate_format.h"
#include "core/storage/storage_context.h"
#include "core/storage/well_map.h"

namespace lumivo {

// ---- Choosing wells ----

inline constexpr const char* kChooseWellsFirst =
    "Choose the wells on the plate first: drag over them with the left button.";

// The wells of the rectangle between two cells of the picture (any corner order), as well
// indices (down the columns), limited to the wells of the plate (0..MaxWellIndex).
std::vector<int> WellsOfRectangle(const PlateMap& plate, WellCell a, WellCell b);

enum class ChoiceChange { Replace, Add, Remove };
// Changes the chosen wells (kept sorted, each once) by `wells`.
void ChangeChosenWells(std::vector<int>& chosen, const std::vector<int>& wells,
                       ChoiceChange change);
// "A1, A2, B1" in reading order (row by row); "" for none. Long choices are cut after `limit`
// names and end with "... (n wells)".
std::string ChosenWellsText(const PlateMap& plate, const std::vector<int>& chosen,
                            std::size_t limit = 12);
// The well indices of map entries (their names on this plate); names not on it are skipped.
std::vector<int> WellsOfEntries(const PlateMap& plate, const std::vector<std::string>& names);

// ---- Editing ----

// What "Apply to chosen wells" writes into each chosen well.
struct WellEdit {
    std::string treatment;
    std::optional<double> concentration;  // none: the blank field
    std::string unit;
    WellRole role = WellRole::Sample;
};

// The concentration box: blank is no concentration; otherwise a number of 0 or more, with "."
// or "," as the decimal mark. False with a message saying what to type otherwise.
bool ParseConcentrationBox(std::string_view text, std::optional<double>* value,
                           std::string* message);
// A concentration as the editor shows it: the shortest text that reads back the same.
std::string ConcentrationText(double value);
// The role list of the editor: "sample", "negative", "positive", "empty" (index = WellRole).
const std::vector<std::string>& WellRoleChoices();

// Writes `edit` into every chosen well of `plate`: a well already in the map keeps its place
// and its lab columns; a new one is added at the end (in reading order) with blank lab columns.
// Returns the number of wells written (wells outside the plate are left out).
int ApplyWellEdit(WellMap& map, const PlateMap& plate, const std::vector<int>& chosen,
                  const WellEdit& edit);
// Takes the chosen wells out of the map. Returns how many entries were removed.
int RemoveWellEntries(WellMap& map, const PlateMap& plate, const std::vector<int>& chosen);

// Leaves out the entries that name no well of `plate` (after a change of plate format).
// Returns the names left out, in map order.
std::vector<std::string> KeepWellsOfPlate(WellMap& map, const PlateMap& plate);

// ---- Dilution series ----

enum class SeriesDirection { LeftToRight, RightToLeft, TopToBottom, BottomToTop };
// "left to right", "right to left", "top to bottom", "bottom to top" (index = direction).
const std::vector<std::string>& SeriesDirectionChoices();

// Fills the chosen wells with a dilution series: along each chosen row (left to right or right
// to left) or down each chosen column, the first well chosen gets `first` and each next one
// `factor` times the one before (DilutionSeries). Only the concentration changes, and the unit
// when `fresh.unit` is given; a well not yet in the map is added with the treatment, unit and
// role of `fresh`. Returns "" when filled, otherwise the refusal (nothing chosen, a first
// concentration below 0, a factor that is not above 0) and the map is unchanged.
std::string FillDilutionSeries(WellMap& map, const PlateMap& plate, const std::vector<int>& chosen,
                               double first, double factor, SeriesDirection direction,
                               const WellEdit& fresh);

// ---- Import and export ----

// Reads a CSV file chosen by the user as a plate map for `plate`. nullopt with the parser's
// message (naming the file and the line) when it cannot be read or parsed.
std::optional<WellMap> ImportWellMap(StorageContext& ctx, const std::filesystem::path& file,
                                     const PlateMap& plate, std::string* failure);
// Writes the map to a CSV file chosen by the user (throws StorageError).
void ExportWellMap(StorageContext& ctx, const std::filesystem::path& file, const WellMap& map);

// ---- The table ----

// The editor's table: the header (well, treatment, concentration, unit, role, then the lab's
// columns) and one row per entry, in map order.
std::vector<std::string> WellTableHeader(const WellMap& map);
std::vector<std::vector<std::string>> WellTableRows(const WellMap& map);

// The treatments of a map, one line each in the order they first appear: "drug X: 1, 10, 50 uM
// (72 wells)"; a treatment without concentrations "vehicle (24 wells)"; the wells without a
// treatment are "(no treatment)".
std::vector<std::string> WellMapTreatmentLines(const WellMap& map);

// One line about a map for summaries: "12 wells: 3 treatments (A, B, C), 4 concentrations,
// 2 negative, 1 positive, 1 empty"; "no wells" for an empty map.
std::string WellMapOverview(const WellMap& map);

}  // namespace lumivo
