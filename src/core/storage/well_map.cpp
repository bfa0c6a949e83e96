#include "core/storage/well_map.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <set>
#include <system_error>
#include <utility>

#include "core/storage/file_system.h"

namespace lumivo {
namespace fs = std::filesystem;

namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& ch : out) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return out;
}

std::string Trim(std::string_view text) {
    const auto space = [](char ch) { return ch == ' ' || ch == '\t'; };
    while (!text.empty() && space(text.front())) text.remove_prefix(1);
    while (!text.empty() && space(text.back())) text.remove_suffix(1);
    return std::string(text);
}

// One record of the file: its fields (quotes removed) and whether each was quoted.
struct CsvRecord {
    std::vector<std::string> fields;
    std::vector<bool> quoted;
    int line = 0;  // the line the record starts on, from 1
};

// Splits the text into records as RFC 4180 reads them (a quoted field may hold the delimiter, a
// doubled quote and line breaks). False with the line of an unclosed quote.
bool SplitCsv(std::string_view text, char delimiter, std::vector<CsvRecord>& records,
              int* bad_line) {
    int line = 1;
    std::size_t i = 0;
    while (i < text.size()) {
        CsvRecord record;
        record.line = line;
        bool end_of_record = false;
        while (!end_of_record) {
            std::string field;
            bool quoted = false;
            if (i < text.size() && text[i] == '"') {
                quoted = true;
                const int start_line = line;
                ++i;
                for (;;) {
                    if (i >= text.size()) {
                        *bad_line = start_line;
                        return false;
                    }
                    const char ch = text[i++];
                    if (ch == '"') {
                        if (i < text.size() && text[i] == '"') {
                            field += '"';
                            ++i;
                        } else {
                            break;
                        }
                    } else {
                        if (ch == '\n') ++line;
                        field += ch;
                    }
                }
            }
            // Up to the delimiter or the line end (after a quoted field only spaces belong here).
            while (i < text.size() && text[i] != delimiter && text[i] != '\n' && text[i] != '\r')
                field += text[i++];
            record.fields.push_back(quoted ? field : Trim(field));
            record.quoted.push_back(quoted);
            if (i < text.size() && text[i] == delimiter) {
                ++i;
                continue;
            }
            if (i < text.size() && text[i] == '\r') ++i;
            if (i < text.size() && text[i] == '\n') ++i;
            ++line;
            end_of_record = true;
        }
        const bool blank = std::all_of(record.fields.begin(), record.fields.end(),
                                       [](const std::string& f) { return f.empty(); });
        if (!blank) records.push_back(std::move(record));
    }
    return true;
}

// A concentration: a plain non-negative decimal number ("0.5", "1e-3"); a decimal comma is
// accepted when the file's delimiter is not a comma.
std::optional<double> ParseConcentration(std::string text, bool comma_decimal) {
    if (comma_decimal) std::replace(text.begin(), text.end(), ',', '.');
    double value = 0.0;
    const char* first = text.data();
    const char* last = first + text.size();
    if (first != last && *first == '+') ++first;
    const auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last || !std::isfinite(value) || value < 0.0)
        return std::nullopt;
    return value;
}

std::string QuoteField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char ch : text) {
        out += ch;
        if (ch == '"') out += '"';
    }
    return out + "\"";
}

std::string ShortestNumber(double value) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, end) : std::string();
}

bool LooksLikeWellName(std::string_view name) {
    std::size_t letters = 0;
    while (letters < name.size() && std::isupper(static_cast<unsigned char>(name[letters])))
        ++letters;
    if (letters == 0 || letters == name.size()) return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(letters), name.end(),
                       [](char ch) { return std::isdigit(static_cast<unsigned char>(ch)); });
}

}  // namespace

std::string_view WellRoleName(WellRole role) {
    switch (role) {
        case WellRole::Sample:
            return "sample";
        case WellRole::Negative:
            return "negative";
        case WellRole::Positive:
            return "positive";
        case WellRole::Empty:
            return "empty";
    }
    return "sample";
}

std::optional<WellRole> ParseWellRole(std::string_view text) {
    const std::string word = Lower(Trim(text));
    if (word.empty() || word == "sample") return WellRole::Sample;
    if (word == "negative") return WellRole::Negative;
    if (word == "positive") return WellRole::Positive;
    if (word == "empty") return WellRole::Empty;
    return std::nullopt;
}

const WellEntry* WellMap::Find(std::string_view well) const {
    for (const WellEntry& entry : wells)
        if (entry.well == well) return &entry;
    return nullptr;
}

WellEntry* WellMap::Find(std::string_view well) {
    return const_cast<WellEntry*>(std::as_const(*this).Find(well));
}

std::optional<WellMap> ParseWellMap(std::string_view text,
                                    const std::vector<std::string>& valid_wells,
                                    std::string* failure) {
    const auto fail = [&](int line, const std::string& what) -> std::optional<WellMap> {
        if (failure) *failure = "line " + std::to_string(line) + ": " + what;
        return std::nullopt;
    };
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    // Spreadsheets of locales with a decimal comma save with ";" (or a tab) between fields.
    const std::string_view header_line = text.substr(0, text.find('\n'));
    char delimiter = ',';
    if (header_line.find(',') == std::string_view::npos) {
        if (header_line.find(';') != std::string_view::npos)
            delimiter = ';';
        else if (header_line.find('\t') != std::string_view::npos)
            delimiter = '\t';
    }
    std::vector<CsvRecord> records;
    int bad_line = 0;
    if (!SplitCsv(text, delimiter, records, &bad_line))
        return fail(bad_line, "a quoted field is not closed; close the quote or remove it.");
    if (records.empty())
        return fail(1, "the file is empty; it needs a header line starting with \"well\".");

    enum Column { kWell, kTreatment, kConcentration, kUnit, kRole, kNamedColumns };
    static constexpr const char* kNames[kNamedColumns] = {"well", "treatment", "concentration",
                                                          "unit", "role"};
    int where[kNamedColumns] = {-1, -1, -1, -1, -1};
    WellMap map;
    std::vector<std::size_t> extra_at;
    const CsvRecord& header = records.front();
    for (std::size_t f = 0; f < header.fields.size(); ++f) {
        const std::string name = Lower(header.fields[f]);
        const auto known = std::find(std::begin(kNames), std::end(kNames), name);
        if (known != std::end(kNames)) {
            const auto k = static_cast<std::size_t>(known - std::begin(kNames));
            if (where[k] >= 0)
                return fail(header.line,
                            "the column \"" + name + "\" is there twice; keep one of them.");
            where[k] = static_cast<int>(f);
        } else if (header.fields[f].empty()) {
            return fail(header.line,
                        "column " + std::to_string(f + 1) + " has no name; name it or remove it.");
        } else {
            if (std::find(map.extra_columns.begin(), map.extra_columns.end(), header.fields[f]) !=
                map.extra_columns.end())
                return fail(header.line, "the column \"" + header.fields[f] +
                                             "\" is there twice; rename one of them.");
            map.extra_columns.push_back(header.fields[f]);
            extra_at.push_back(f);
        }
    }
    if (where[kWell] < 0)
        return fail(header.line,
                    "the header has no \"well\" column; the first line must name the columns "
                    "well,treatment,concentration,unit,role.");

    std::set<std::string> seen;
    std::string valid_range;
    if (!valid_wells.empty())
        valid_range = " (" + valid_wells.front() + " to " + valid_wells.back() + ")";
    for (std::size_t r = 1; r < records.size(); ++r) {
        const CsvRecord& rec = records[r];
        if (rec.fields.size() > header.fields.size())
            return fail(rec.line,
                        "it has " + std::to_string(rec.fields.size()) +
                            " fields but the header names " + std::to_string(header.fields.size()) +
                            "; quote fields that hold \"" + std::string(1, delimiter) + "\".");
        const auto field = [&](int column) -> std::string {
            if (column < 0 || static_cast<std::size_t>(column) >= rec.fields.size()) return {};
            return rec.fields[static_cast<std::size_t>(column)];
        };
        WellEntry entry;
        entry.well = field(where[kWell]);
        for (char& ch : entry.well)
            ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        if (entry.well.empty()) return fail(rec.line, "the well is blank; name it (\"A1\").");
        const bool known = valid_wells.empty() ? LooksLikeWellName(entry.well)
                                               : std::find(valid_wells.begin(), valid_wells.end(),
                                                           entry.well) != valid_wells.end();
        if (!known)
            return fail(rec.line, "the well \"" + entry.well + "\" is not on the plate" +
                                      valid_range +
                                      "; correct it, or choose the plate format the map was "
                                      "made for.");
        if (!seen.insert(entry.well).second)
            return fail(rec.line,
                        "the well " + entry.well + " is named twice; keep one line for each well.");
        entry.treatment = field(where[kTreatment]);
        const std::string concentration = field(where[kConcentration]);
        if (!concentration.empty()) {
            entry.concentration = ParseConcentration(concentration, delimiter != ',');
            if (!entry.concentration)
                return fail(rec.line, "the concentration \"" + concentration + "\" of " +
                                          entry.well +
                                          " is not a number; write it as a plain number "
                                          "(\"0.5\", \"1e-3\") without its unit, or leave it "
                                          "blank.");
        }
        entry.unit = field(where[kUnit]);
        const std::string role = field(where[kRole]);
        const auto parsed_role = ParseWellRole(role);
        if (!parsed_role)
            return fail(rec.line, "the role \"" + role + "\" of " + entry.well +
                                      " is not one of sample, negative, positive, empty.");
        entry.role = *parsed_role;
        for (std::size_t at : extra_at)
            entry.extra.push_back(at < rec.fields.size() ? rec.fields[at] : std::string());
        map.wells.push_back(std::move(entry));
    }
    return map;
}

std::string FormatWellMap(const WellMap& map) {
    std::string out = "well,treatment,concentration,unit,role";
    for (const std::string& column : map.extra_columns) out += "," + QuoteField(column);
    out += "\n";
    for (const WellEntry& entry : map.wells) {
        out += QuoteField(entry.well) + "," + QuoteField(entry.treatment) + ",";
        if (entry.concentration) out += ShortestNumber(*entry.concentration);
        out += "," + QuoteField(entry.unit) + "," + std::string(WellRoleName(entry.role));
        for (std::size_t k = 0; k < map.extra_columns.size(); ++k)
            out += "," + QuoteField(k < entry.extra.size() ? entry.extra[k] : std::string());
        out += "\n";
    }
    return out;
}

std::vector<std::string> PlateWellNames(const PlateMap& plate) {
    std::vector<std::string> names;
    for (int w = 0; w <= plate.MaxWellIndex; ++w) names.push_back(WellName(plate, w));
    return names;
}

fs::path WellMapPath(const fs::path& folder) {
    return folder / kWellMapFileName;
}

std::optional<WellMap> ReadWellMap(StorageContext& ctx, const fs::path& folder,
                                   const std::vector<std::string>& valid_wells,
                                   std::string* failure) {
    const fs::path file = WellMapPath(folder);
    if (!ctx.files.Exists(file)) return WellMap{};
    std::string text;
    try {
        text = ctx.files.ReadFile(file);
    } catch (const StorageError& e) {
        if (failure) *failure = FileErrorTag(file) + " " + e.what();
        return std::nullopt;
    }
    std::string why;
    auto map = ParseWellMap(text, valid_wells, &why);
    if (!map && failure) *failure = FileErrorTag(file) + " " + why;
    return map;
}

void WriteWellMap(StorageContext& ctx, const fs::path& folder, const WellMap& map) {
    const fs::path file = WellMapPath(folder);
    if (map.empty()) {
        if (ctx.files.IsFile(file) && !ctx.files.RemoveFile(file))
            throw StorageError(FileErrorTag(file) + " could not be removed");
        return;
    }
    ctx.files.WriteFile(file, FormatWellMap(map));
}

std::vector<double> DilutionSeries(double first, double factor, std::size_t count) {
    std::vector<double> series;
    double value = first;
    for (std::size_t k = 0; k < count; ++k, value *= factor) series.push_back(value);
    return series;
}

}  // namespace lumivo
