// The plate map of what is in each well: a table kept in the project folder as "wells.csv" and
// copied into each acquisition at its start, one row per well with its treatment (compound,
// strain or condition), concentration, unit and role, and any further columns the lab adds
// (genotype, replicate, age...). Labs prepare these in spreadsheets, so the file is plain CSV:
// UTF-8 (a leading byte-order mark is accepted), a header line, fields quoted as in RFC 4180,
// "." or "," accepted as the decimal mark of a concentration only when the field is quoted.
//
// Header: well,treatment,concentration,unit,role[,more...]; the five named columns may come in
// any order and any letter case, the further columns keep their order and names. A well not
// named in the file has no entry (an empty well of the map is one whose role is "empty").
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/storage/plate_format.h"
#include "core/storage/storage_context.h"

namespace lumivo {

inline constexpr const char* kWellMapFileName = "wells.csv";

enum class WellRole { Sample, Negative, Positive, Empty };
// "sample", "negative", "positive", "empty".
std::string_view WellRoleName(WellRole role);
// Any letter case; "" is a sample; "neg"/"pos"/"control" are not guessed at.
std::optional<WellRole> ParseWellRole(std::string_view text);

struct WellEntry {
    std::string well;  // "A1", as the plate names it
    std::string treatment;
    std::optional<double> concentration;  // none for a blank field
    std::string unit;
    WellRole role = WellRole::Sample;
    std::vector<std::string> extra;  // one per WellMap::extra_columns
};

struct WellMap {
    std::vector<std::string> extra_columns;  // the lab's own columns, in file order
    std::vector<WellEntry> wells;            // in file order, each well at most once

    // The entry of a well ("A1"), or nullptr.
    const WellEntry* Find(std::string_view well) const;
    WellEntry* Find(std::string_view well);
    bool empty() const { return wells.empty(); }
};

// Parses the text of a wells.csv. `valid_wells` are the well names of the plate in use ("A1"
// ...); an empty list accepts any name of a letter and a number. Returns nullopt and a message
// naming the line and what to do when a line is malformed: a well that is not on the plate, a
// concentration that is not a non-negative number, an unknown role, a well named twice, a
// missing "well" column.
std::optional<WellMap> ParseWellMap(std::string_view text,
                                    const std::vector<std::string>& valid_wells,
                                    std::string* failure);
// The file's text: header then one line per well, LF line ends, fields quoted when needed,
// concentrations in the shortest form that reads back the same.
std::string FormatWellMap(const WellMap& map);

// The well names of a plate ("A1", ... for wells 0..MaxWellIndex).
std::vector<std::string> PlateWellNames(const PlateMap& plate);

// folder/wells.csv
std::filesystem::path WellMapPath(const std::filesystem::path& folder);
// Reads folder/wells.csv: an empty map when the folder has none; nullopt with the reason
// (naming the file and the line) when it is there but cannot be read or parsed.
std::optional<WellMap> ReadWellMap(StorageContext& ctx, const std::filesystem::path& folder,
                                   const std::vector<std::string>& valid_wells,
                                   std::string* failure);
// Replaces folder/wells.csv whole (throws StorageError); an empty map removes the file.
void WriteWellMap(StorageContext& ctx, const std::filesystem::path& folder, const WellMap& map);

// A series of concentrations from `first`, each `factor` times the one before (a dilution of
// 1:2 is factor 0.5), `count` long.
std::vector<double> DilutionSeries(double first, double factor, std::size_t count);

}  // namespace lumivo
