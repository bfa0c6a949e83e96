#include "core/storage/plate_format.h"

#include <algorithm>
#include <cmath>

#include "core/storage/field_record.h"

namespace lumivo {

void WellChannelTable::Reset(int max_well_index, int max_beam_index) {
    wells_ = std::max(0, max_well_index + 1);
    beams_ = std::max(0, max_beam_index + 1);
    cells_.assign(static_cast<std::size_t>(wells_) * static_cast<std::size_t>(beams_), kNoChannel);
}

std::int16_t WellChannelTable::operator()(int well, int beam) const {
    if (well < 0 || beam < 0 || well >= wells_ || beam >= beams_) return kNoChannel;
    return cells_[static_cast<std::size_t>(well) * static_cast<std::size_t>(beams_) +
                  static_cast<std::size_t>(beam)];
}

void WellChannelTable::Set(int well, int beam, std::int16_t channel) {
    if (well < 0 || beam < 0 || well >= wells_ || beam >= beams_) return;
    cells_[static_cast<std::size_t>(well) * static_cast<std::size_t>(beams_) +
           static_cast<std::size_t>(beam)] = channel;
}

std::string WellName(const PlateMap& plate, int well) {
    if (well < 0 || plate.PlateRows < 1) return {};
    const int column = well / plate.PlateRows;
    int row = well % plate.PlateRows;
    std::string letters;
    do {  // A..Z, then AA, AB, ... for (unusual) plates with more than 26 rows
        letters.insert(letters.begin(), static_cast<char>('A' + row % 26));
        row = row / 26 - 1;
    } while (row >= 0);
    return letters + std::to_string(column + 1);
}

const std::vector<PlateFormatInfo>& KnownPlateFormats() {
    static const std::vector<PlateFormatInfo> kFormats = {
        {"w384", "384 Well microplate [1microbeams/well]", "USE 'W384' plate Adapter", ""},
        {"w96f", "96 Wells flat bottom [2microbeams/well]", "USE 'W96F' plate Adapter", ""},
        {"w96u", "96 Wells U shape bottom [1microbeam/well]", "USE 'W96U' plate Adapter", ""},
        {"w48", "48 Wells flat bottom [1-3microbeams/well]", "USE 'W384' or 'W48' plate Adapter",
         ""},
        {"w24", "24 Wells flat bottom [4microbeams/well]", "USE 'W384' or 'W24' plate Adapter", ""},
        {"w6", "6 Wells flat bottom [30-32microbeams/well]", "USE 'W384' or 'W6' plate Adapter",
         ""},
        {"w96flat", "96 Wells flat bottom [4microbeams/well]",
         "USE 'W384' or 'W96x4' plate Adapter", "NOTE: DISCONTINUED. Contact provider"},
    };
    return kFormats;
}

std::string PlateFormatDescription(std::string_view name) {
    for (const auto& f : KnownPlateFormats()) {
        if (name != f.name) continue;
        std::string text = std::string(f.description) + "\r\n" + f.adapter;
        if (*f.note) text += std::string("\r\n") + f.note;
        return text;
    }
    return {};
}

bool IsValidPlateFormatName(std::string_view name) {
    if (name.empty() || name.size() > 64) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-';
    });
}

void RebuildWellChannel(PlateMap& plate) {
    plate.WellChannel.Reset(plate.MaxWellIndex, plate.MaxBeamIndex);
    for (int i = 0; i < kChannelCount; ++i) {
        const auto ui = static_cast<std::size_t>(i);
        if (plate.ChannelWell[ui] >= 0)
            plate.WellChannel.Set(plate.ChannelWell[ui], plate.ChannelBeam[ui],
                                  static_cast<std::int16_t>(i));
    }
}

namespace {

// Reads the file into a copy of the map; `stage` tells how far it got (0 until the file is read,
// 1 in the title and geometry fields, 2 in the channel records, 3 when done).
PlateMap ParsePlateFile(StorageContext& ctx, const std::string& plate_format, const PlateMap& old,
                        int& stage) {
    stage = 0;
    if (!IsValidPlateFormatName(plate_format))
        throw StorageError("\"" + plate_format + "\" is not a plate format name");
    FieldStream in(ctx.files.ReadFile(PlateFormatFilePath(ctx, plate_format)));
    stage = 1;
    PlateMap p = old;
    const auto on_line = [&](const std::string& what) {
        return StorageError("line " + std::to_string(in.line_number()) + ": " + what);
    };
    const auto number = [&](auto convert, const Field& f) {
        try {
            return convert(f);
        } catch (const StorageError& e) {
            throw on_line(e.what());
        }
    };
    in.Next();
    in.Next();
    p.PlateRows = number(FieldToInt16, in.Next());
    p.RowPitch = number(FieldToDouble, in.Next());
    p.RowOffset = number(FieldToDouble, in.Next());
    p.PlateColumns = number(FieldToInt16, in.Next());
    p.ColumnPitch = number(FieldToDouble, in.Next());
    p.ColumnOffset = number(FieldToDouble, in.Next());
    // A plate cannot have more wells than there are beams to see them.
    if (p.PlateRows < 1 || p.PlateColumns < 1 || p.PlateRows * p.PlateColumns > kChannelCount)
        throw on_line("a plate of " + std::to_string(p.PlateRows) + " x " +
                      std::to_string(p.PlateColumns) + " wells");
    in.Next();
    stage = 2;
    // One record per channel, one per line: channel, well, beam (further fields ignored).
    const int wells = p.PlateRows * p.PlateColumns;
    std::array<int, kChannelTableSize> line_of{};
    std::vector<int> beams_of_well(static_cast<std::size_t>(wells), 0);
    std::vector<int> channel_at;  // [well * kChannelCount + beam] -> channel + 1, 0 = none
    channel_at.assign(static_cast<std::size_t>(wells) * kChannelCount, 0);
    for (int i = 0; i < kChannelCount; ++i) {
        const auto ui = static_cast<std::size_t>(i);
        if (!in.HasNextLine())
            throw StorageError("the file ends after line " + std::to_string(in.line_number()) +
                               " with " + std::to_string(i) + " of the " +
                               std::to_string(kChannelCount) + " channel records: channels " +
                               std::to_string(i) + " to 383 would be in no well");
        const auto f = in.NextLine();
        line_of[ui] = static_cast<int>(in.line_number());
        if (f.size() < 3)
            throw on_line("a channel record needs 3 fields (channel, well, beam), not " +
                          std::to_string(f.size()));
        const std::int16_t channel = number(FieldToInt16, f[0]);
        const std::int16_t well = number(FieldToInt16, f[1]);
        const std::int16_t beam = number(FieldToInt16, f[2]);
        if (channel != i)
            throw on_line("channel " + std::to_string(channel) + " where channel " +
                          std::to_string(i) +
                          " belongs (the records list channels 0 to 383 in order)");
        if (well < kNoWell || well >= wells)
            throw on_line("channel " + std::to_string(i) + ": well " + std::to_string(well) +
                          " outside the plate's wells 0 to " + std::to_string(wells - 1));
        p.ChannelWell[ui] = well;
        p.ChannelBeam[ui] = well == kNoWell ? 0 : beam;
        if (well == kNoWell) continue;
        if (beam < 0 || beam >= kChannelCount)
            throw on_line("channel " + std::to_string(i) + ": beam " + std::to_string(beam) +
                          " of well " + WellName(p, well));
        int& owner = channel_at[static_cast<std::size_t>(well) * kChannelCount +
                                static_cast<std::size_t>(beam)];
        if (owner != 0)
            throw on_line("channel " + std::to_string(i) + " is beam " + std::to_string(beam) +
                          " of well " + WellName(p, well) + ", which channel " +
                          std::to_string(owner - 1) + " already is (line " +
                          std::to_string(line_of[static_cast<std::size_t>(owner - 1)]) + ")");
        owner = i + 1;
        ++beams_of_well[static_cast<std::size_t>(well)];
    }
    // The beams of a well are numbered 0, 1, ... without a gap: no beam twice (above) and none
    // beyond the well's count of beams.
    int max_well = 0;
    int max_beam = 0;
    for (int i = 0; i < kChannelCount; ++i) {
        const auto ui = static_cast<std::size_t>(i);
        const int well = p.ChannelWell[ui];
        if (well == kNoWell) continue;
        const int count = beams_of_well[static_cast<std::size_t>(well)];
        if (p.ChannelBeam[ui] >= count)
            throw StorageError("line " + std::to_string(line_of[ui]) + ": channel " +
                               std::to_string(i) + " is beam " + std::to_string(p.ChannelBeam[ui]) +
                               " of well " + WellName(p, well) + ", which has " +
                               std::to_string(count) + (count == 1 ? " beam" : " beams") +
                               " (numbered from 0)");
        max_well = std::max(max_well, well);
        max_beam = std::max<int>(max_beam, p.ChannelBeam[ui]);
    }
    p.ChannelWell[kChannelCount] = kNoWell;  // entry 384 is not a beam
    p.MaxWellIndex = static_cast<std::int16_t>(max_well);
    p.MaxBeamIndex = static_cast<std::int16_t>(max_beam);
    stage = 3;
    RebuildWellChannel(p);
    return p;
}

}  // namespace

std::filesystem::path PlateFormatFilePath(const StorageContext& ctx,
                                          std::string_view plate_format) {
    return ctx.install_dir / (std::string(plate_format) + ".dat");
}

void ReadPlateFormatFile(StorageContext& ctx, const std::string& plate_format, PlateMap& plate,
                         int* stage) {
    int reached = 0;
    try {
        plate = ParsePlateFile(ctx, plate_format, plate, reached);
    } catch (...) {
        if (stage) *stage = reached;
        throw;
    }
    if (stage) *stage = reached;
}

namespace {

// How the wells are drawn: rows and columns of wells, and each one's pitch and offset in beams.
void SetWellGrid(PlateMap& plate, std::int16_t rows, double row_pitch, double row_offset,
                 std::int16_t columns, double column_pitch, double column_offset) {
    plate.PlateRows = rows;
    plate.RowPitch = row_pitch;
    plate.RowOffset = row_offset;
    plate.PlateColumns = columns;
    plate.ColumnPitch = column_pitch;
    plate.ColumnOffset = column_offset;
}

}  // namespace

void BuildDefaultPlateMap(std::string_view plate_format, PlateMap& plate) {
    if (plate_format == "w384") {
        SetWellGrid(plate, 16, 1.0, 0.0, 24, 1.0, 0.0);
        for (int i = 0; i < kChannelCount; ++i) {
            plate.ChannelWell[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(i);
            plate.ChannelBeam[static_cast<std::size_t>(i)] = 0;
        }
        plate.MaxWellIndex = 383;
        plate.MaxBeamIndex = 0;
    } else {
        const bool u_shape = plate_format == "w96u";
        SetWellGrid(plate, 8, 2.0, -0.5, 12, 2.0, u_shape ? -0.5 : 0.0);
        std::int16_t next_well = 0;
        for (int c = 0; c < kBeamColumns; ++c) {
            for (int r = 0; r < kBeamRows; r += 2) {
                const auto ch = static_cast<std::size_t>(c * kBeamRows + r);
                plate.ChannelWell[ch + 1] = kNoWell;
                plate.ChannelBeam[ch + 1] = 0;
                if (c % 2 == 0) {
                    plate.ChannelWell[ch] = next_well++;
                    plate.ChannelBeam[ch] = 0;
                } else if (u_shape) {
                    plate.ChannelWell[ch] = kNoWell;
                    plate.ChannelBeam[ch] = 0;
                } else {  // second beam of the well in the column to the left
                    plate.ChannelWell[ch] = plate.ChannelWell[ch - kBeamRows];
                    plate.ChannelBeam[ch] = 1;
                }
            }
        }
        plate.MaxWellIndex = 95;
        plate.MaxBeamIndex = u_shape ? 0 : 1;
    }
    RebuildWellChannel(plate);
}

bool LoadPlateFormat(StorageContext& ctx, std::string& plate_format, PlateMap& plate) {
    int stage = 0;
    std::string reason;
    try {
        plate = ParsePlateFile(ctx, plate_format, plate, stage);
        return true;
    } catch (const StorageError& e) {
        reason = e.what();
    }
    const std::filesystem::path file = PlateFormatFilePath(ctx, plate_format);
    if (plate_format != "w96f" && plate_format != "w384" && plate_format != "w96u")
        plate_format = "w96f";
    ctx.dialogs.MessageBox(FileErrorTag(file) + " ID#" + std::to_string(stage) +
                           " => Loading plate format from default: 384,96f or 96u...\r\n" + reason +
                           ".\r\nThe built-in " + plate_format +
                           " map is used; check the plate format in the project setup.");
    BuildDefaultPlateMap(plate_format, plate);
    return false;
}

std::string FormatPlateFile(const PlateMap& plate, std::string_view title1,
                            std::string_view title2) {
    RecordWriter out;
    out.Header(title1);
    out.Header(title2);
    out.Int(plate.PlateRows)
        .Double(plate.RowPitch)
        .Double(plate.RowOffset)
        .Int(plate.PlateColumns)
        .Double(plate.ColumnPitch)
        .Double(plate.ColumnOffset)
        .EndLine();
    out.Header("<Channel>, <Well>, <Beam>");
    for (int i = 0; i < kChannelCount; ++i) {
        const auto ui = static_cast<std::size_t>(i);
        out.Int(i).Int(plate.ChannelWell[ui]).Int(plate.ChannelBeam[ui]).EndLine();
    }
    return out.Take();
}

}  // namespace lumivo
