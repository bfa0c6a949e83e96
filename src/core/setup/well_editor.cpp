#include "core/setup/well_editor.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

#include "core/storage/field_record.h"

namespace lumivo {

namespace {

bool OnPlate(const PlateMap& plate, int well) {
    return well >= 0 && well <= plate.MaxWellIndex && plate.PlateRows > 0;
}

int RowOf(const PlateMap& plate, int well) {
    return well % plate.PlateRows;
}

int ColumnOf(const PlateMap& plate, int well) {
    return well / plate.PlateRows;
}

// The wells in reading order: row by row, each row left to right.
std::vector<int> ReadingOrder(const PlateMap& plate, std::vector<int> wells) {
    std::sort(wells.begin(), wells.end(), [&](int a, int b) {
        if (RowOf(plate, a) != RowOf(plate, b)) return RowOf(plate, a) < RowOf(plate, b);
        return ColumnOf(plate, a) < ColumnOf(plate, b);
    });
    return wells;
}

// The entry of a well, added at the end with blank lab columns when it has none.
WellEntry& EntryOf(WellMap& map, const std::string& name, const WellEdit& fresh) {
    if (WellEntry* e = map.Find(name)) return *e;
    WellEntry e;
    e.well = name;
    e.treatment = fresh.treatment;
    e.unit = fresh.unit;
    e.role = fresh.role;
    e.extra.assign(map.extra_columns.size(), std::string());
    map.wells.push_back(std::move(e));
    return map.wells.back();
}

// A series value without the last bits of floating-point noise (0.1 x 0.1 is
// 0.010000000000000002): twelve significant digits are far beyond any pipette.
double Tidy(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.12g", v);
    double out = v;
    std::from_chars(text, text + std::char_traits<char>::length(text), out);
    return out;
}

}  // namespace

// ---- Choosing wells ----

std::vector<int> WellsOfRectangle(const PlateMap& plate, WellCell a, WellCell b) {
    std::vector<int> out;
    if (plate.PlateRows < 1 || plate.PlateColumns < 1) return out;
    const int c0 = std::max(0, std::min(a.column, b.column));
    const int c1 = std::min<int>(std::max(a.column, b.column), plate.PlateColumns - 1);
    const int r0 = std::max(0, std::min(a.row, b.row));
    const int r1 = std::min<int>(std::max(a.row, b.row), plate.PlateRows - 1);
    for (int c = c0; c <= c1; ++c)
        for (int r = r0; r <= r1; ++r) {
            const int well = WellIndex(plate, {c, r});
            if (OnPlate(plate, well)) out.push_back(well);
        }
    return out;
}

void ChangeChosenWells(std::vector<int>& chosen, const std::vector<int>& wells,
                       ChoiceChange change) {
    std::set<int> set(chosen.begin(), chosen.end());
    if (change == ChoiceChange::Replace) set.clear();
    for (int w : wells) {
        if (change == ChoiceChange::Remove)
            set.erase(w);
        else
            set.insert(w);
    }
    chosen.assign(set.begin(), set.end());
}

std::string ChosenWellsText(const PlateMap& plate, const std::vector<int>& chosen,
                            std::size_t limit) {
    const std::vector<int> ordered = ReadingOrder(plate, chosen);
    std::string out;
    for (std::size_t i = 0; i < ordered.size() && i < limit; ++i)
        out += (i > 0 ? ", " : "") + WellName(plate, ordered[i]);
    if (ordered.size() > limit) out += ", ... (" + std::to_string(ordered.size()) + " wells)";
    return out;
}

std::vector<int> WellsOfEntries(const PlateMap& plate, const std::vector<std::string>& names) {
    std::map<std::string, int> index;
    for (int w = 0; w <= plate.MaxWellIndex && plate.PlateRows > 0; ++w)
        index[WellName(plate, w)] = w;
    std::vector<int> out;
    for (const auto& name : names)
        if (const auto it = index.find(name); it != index.end()) out.push_back(it->second);
    return out;
}

// ---- Editing ----

bool ParseConcentrationBox(std::string_view text, std::optional<double>* value,
                           std::string* message) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        *value = std::nullopt;
        return true;
    }
    const auto last = text.find_last_not_of(" \t");
    std::string number(text.substr(first, last - first + 1));
    std::replace(number.begin(), number.end(), ',', '.');
    double v = 0.0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), v);
    if (ec != std::errc() || end != number.data() + number.size() || !std::isfinite(v) || v < 0.0) {
        *message = "The concentration \"" + std::string(text) +
                   "\" is not a number of 0 or more: type a number (such as 2.5) or leave the "
                   "box blank for none.";
        return false;
    }
    *value = v;
    return true;
}

std::string ConcentrationText(double value) {
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, value);
    return std::string(text, r.ptr);
}

const std::vector<std::string>& WellRoleChoices() {
    static const std::vector<std::string> kChoices = {
        std::string(WellRoleName(WellRole::Sample)), std::string(WellRoleName(WellRole::Negative)),
        std::string(WellRoleName(WellRole::Positive)), std::string(WellRoleName(WellRole::Empty))};
    return kChoices;
}

int ApplyWellEdit(WellMap& map, const PlateMap& plate, const std::vector<int>& chosen,
                  const WellEdit& edit) {
    int written = 0;
    for (int well : ReadingOrder(plate, chosen)) {
        if (!OnPlate(plate, well)) continue;
        WellEntry& e = EntryOf(map, WellName(plate, well), edit);
        e.treatment = edit.treatment;
        e.concentration = edit.concentration;
        e.unit = edit.unit;
        e.role = edit.role;
        ++written;
    }
    return written;
}

int RemoveWellEntries(WellMap& map, const PlateMap& plate, const std::vector<int>& chosen) {
    std::set<std::string> names;
    for (int well : chosen)
        if (OnPlate(plate, well)) names.insert(WellName(plate, well));
    const auto before = map.wells.size();
    std::erase_if(map.wells, [&](const WellEntry& e) { return names.count(e.well) > 0; });
    return static_cast<int>(before - map.wells.size());
}

std::vector<std::string> KeepWellsOfPlate(WellMap& map, const PlateMap& plate) {
    std::set<std::string> valid;
    for (const auto& name : PlateWellNames(plate)) valid.insert(name);
    std::vector<std::string> left_out;
    std::erase_if(map.wells, [&](const WellEntry& e) {
        if (valid.count(e.well) > 0) return false;
        left_out.push_back(e.well);
        return true;
    });
    return left_out;
}

// ---- Dilution series ----

const std::vector<std::string>& SeriesDirectionChoices() {
    static const std::vector<std::string> kChoices = {"left to right", "right to left",
                                                      "top to bottom", "bottom to top"};
    return kChoices;
}

std::string FillDilutionSeries(WellMap& map, const PlateMap& plate, const std::vector<int>& chosen,
                               double first, double factor, SeriesDirection direction,
                               const WellEdit& fresh) {
    std::vector<int> wells;
    for (int w : chosen)
        if (OnPlate(plate, w)) wells.push_back(w);
    if (wells.empty()) return kChooseWellsFirst;
    if (!std::isfinite(first) || first < 0.0)
        return "The first concentration must be a number of 0 or more.";
    if (!std::isfinite(factor) || !(factor > 0.0))
        return "The factor must be a number above 0 (a 1:2 dilution is 0.5).";

    const bool along_rows =
        direction == SeriesDirection::LeftToRight || direction == SeriesDirection::RightToLeft;
    const bool backwards =
        direction == SeriesDirection::RightToLeft || direction == SeriesDirection::BottomToTop;
    // One line of the series per chosen row (or column), its wells in the series' order.
    std::map<int, std::vector<int>> lines;
    for (int w : wells) lines[along_rows ? RowOf(plate, w) : ColumnOf(plate, w)].push_back(w);
    for (auto& [key, line] : lines) {
        std::sort(line.begin(), line.end(), [&](int a, int b) {
            const int pa = along_rows ? ColumnOf(plate, a) : RowOf(plate, a);
            const int pb = along_rows ? ColumnOf(plate, b) : RowOf(plate, b);
            return backwards ? pa > pb : pa < pb;
        });
        const std::vector<double> series = DilutionSeries(first, factor, line.size());
        for (std::size_t i = 0; i < line.size() && i < series.size(); ++i) {
            WellEntry& e = EntryOf(map, WellName(plate, line[i]), fresh);
            e.concentration = Tidy(series[i]);
            if (!fresh.unit.empty()) e.unit = fresh.unit;
        }
    }
    return {};
}

// ---- Import and export ----

std::optional<WellMap> ImportWellMap(StorageContext& ctx, const std::filesystem::path& file,
                                     const PlateMap& plate, std::string* failure) {
    std::string text;
    try {
        text = ctx.files.ReadFile(file);
    } catch (const StorageError& e) {
        *failure = FileErrorTag(file) + " " + e.what();
        return std::nullopt;
    }
    std::string why;
    auto map = ParseWellMap(text, PlateWellNames(plate), &why);
    if (!map) *failure = FileErrorTag(file) + " " + why;
    return map;
}

void ExportWellMap(StorageContext& ctx, const std::filesystem::path& file, const WellMap& map) {
    const FileContent content{file, FormatWellMap(map)};
    ctx.files.WriteFiles({&content, 1});
}

// ---- The table ----

std::vector<std::string> WellTableHeader(const WellMap& map) {
    std::vector<std::string> header = {"well", "treatment", "concentration", "unit", "role"};
    header.insert(header.end(), map.extra_columns.begin(), map.extra_columns.end());
    return header;
}

std::vector<std::vector<std::string>> WellTableRows(const WellMap& map) {
    std::vector<std::vector<std::string>> rows;
    for (const WellEntry& e : map.wells) {
        std::vector<std::string> row = {e.well, e.treatment,
                                        e.concentration ? ConcentrationText(*e.concentration) : "",
                                        e.unit, std::string(WellRoleName(e.role))};
        for (std::size_t i = 0; i < map.extra_columns.size(); ++i)
            row.push_back(i < e.extra.size() ? e.extra[i] : std::string());
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<std::string> WellMapTreatmentLines(const WellMap& map) {
    struct Treatment {
        std::string name;
        int wells = 0;
        std::set<std::pair<std::string, double>> doses;  // unit, concentration
    };
    std::vector<Treatment> treatments;
    for (const WellEntry& e : map.wells) {
        const std::string name = e.treatment.empty() ? "(no treatment)" : e.treatment;
        auto it = std::find_if(treatments.begin(), treatments.end(),
                               [&](const Treatment& t) { return t.name == name; });
        if (it == treatments.end())
            it = treatments.insert(treatments.end(), Treatment{name, 0, {}});
        ++it->wells;
        if (e.concentration) it->doses.insert({e.unit, *e.concentration});
    }
    std::vector<std::string> lines;
    for (const Treatment& t : treatments) {
        std::string line = t.name;
        if (!t.doses.empty()) {
            std::set<std::string> units;
            for (const auto& d : t.doses) units.insert(d.first);
            std::vector<std::pair<double, std::string>> by_value;
            for (const auto& d : t.doses) by_value.push_back({d.second, d.first});
            std::sort(by_value.begin(), by_value.end());
            line += ": ";
            for (std::size_t i = 0; i < by_value.size(); ++i) {
                line += (i > 0 ? ", " : "") + ConcentrationText(by_value[i].first);
                // One unit for the whole line when they share it, else each its own.
                if (units.size() > 1 && !by_value[i].second.empty())
                    line += " " + by_value[i].second;
            }
            if (units.size() == 1 && !units.begin()->empty()) line += " " + *units.begin();
        }
        line += " (" + std::to_string(t.wells) + (t.wells == 1 ? " well)" : " wells)");
        lines.push_back(std::move(line));
    }
    return lines;
}

std::string WellMapOverview(const WellMap& map) {
    if (map.wells.empty()) return "no wells";
    std::vector<std::string> treatments;
    std::set<std::string> seen;
    std::set<double> concentrations;
    int negative = 0, positive = 0, empty = 0;
    for (const WellEntry& e : map.wells) {
        if (!e.treatment.empty() && seen.insert(e.treatment).second)
            treatments.push_back(e.treatment);
        if (e.concentration) concentrations.insert(*e.concentration);
        negative += e.role == WellRole::Negative;
        positive += e.role == WellRole::Positive;
        empty += e.role == WellRole::Empty;
    }
    std::string out =
        std::to_string(map.wells.size()) + (map.wells.size() == 1 ? " well" : " wells");
    out += ": " + std::to_string(treatments.size()) +
           (treatments.size() == 1 ? " treatment" : " treatments");
    if (!treatments.empty()) {
        std::string names;
        for (std::size_t i = 0; i < treatments.size() && i < 6; ++i)
            names += (i > 0 ? ", " : "") + treatments[i];
        if (treatments.size() > 6) names += ", ...";
        out += " (" + names + ")";
    }
    out += ", " + std::to_string(concentrations.size()) +
           (concentrations.size() == 1 ? " concentration" : " concentrations");
    if (negative > 0) out += ", " + std::to_string(negative) + " negative";
    if (positive > 0) out += ", " + std::to_string(positive) + " positive";
    if (empty > 0) out += ", " + std::to_string(empty) + " empty";
    return out;
}

}  // namespace lumivo
