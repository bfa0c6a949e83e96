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
    FieldStream in(ctx.files.ReadFile(ctx.install_dir / (plate_format + ".dat")));
    stage = 1;
    PlateMap p = old;
    in.Next();
    in.Next();
    p.PlateRows = FieldToInt16(in.Next());
    p.RowPitch = FieldToDouble(in.Next());
    p.RowOffset = FieldToDouble(in.Next());
    p.PlateColumns = FieldToInt16(in.Next());
    p.ColumnPitch = FieldToDouble(in.Next());
    p.ColumnOffset = FieldToDouble(in.Next());
    // A plate cannot have more wells than there are beams to see them.
    if (p.PlateRows < 1 || p.PlateColumns < 1 || p.PlateRows * p.PlateColumns > kChannelCount)
        throw StorageError("plate of " + std::to_string(p.PlateRows) + " x " +
                           std::to_string(p.PlateColumns) + " wells");
    in.Next();
    stage = 2;
    const int wells = p.PlateRows * p.PlateColumns;
    int max_well = 0;
    int max_beam = 0;
    std::array<bool, kChannelTableSize> read{};
    for (int i = 0; in.HasData() && i < static_cast<int>(kChannelTableSize); ++i) {
        const auto ui = static_cast<std::size_t>(i);
        in.Next();  // the channel number: records are taken in file order
        const std::int16_t well = FieldToInt16(in.Next());
        const std::int16_t beam = FieldToInt16(in.Next());
        if (well < kNoWell || well >= wells)
            throw StorageError("channel " + std::to_string(i) + ": well " + std::to_string(well) +
                               " outside the plate");
        if (beam < 0 || beam >= kChannelCount)
            throw StorageError("channel " + std::to_string(i) + ": beam " + std::to_string(beam));
        p.ChannelWell[ui] = well;
        p.ChannelBeam[ui] = beam;
        read[ui] = true;
        max_well = std::max<int>(max_well, well);
        max_beam = std::max<int>(max_beam, beam);
    }
    // Channels a short file leaves out keep their well: the table must still hold them, and no
    // kept well may lie outside the new plate.
    for (int i = 0; i < kChannelCount; ++i) {
        const auto ui = static_cast<std::size_t>(i);
        if (read[ui] || p.ChannelWell[ui] < 0) continue;
        if (p.ChannelWell[ui] >= wells) {
            p.ChannelWell[ui] = kNoWell;
            continue;
        }
        max_well = std::max<int>(max_well, p.ChannelWell[ui]);
        max_beam = std::max<int>(max_beam, p.ChannelBeam[ui]);
    }
    p.MaxWellIndex = static_cast<std::int16_t>(max_well);
    p.MaxBeamIndex = static_cast<std::int16_t>(max_beam);
    stage = 3;
    RebuildWellChannel(p);
    return p;
}

}  // namespace

void ReadPlateFormatFile(StorageContext& ctx, const std::string& plate_format, PlateMap& plate) {
    int stage = 0;
    plate = ParsePlateFile(ctx, plate_format, plate, stage);
}

void BuildDefaultPlateMap(std::string_view plate_format, PlateMap& plate) {
    if (plate_format == "w384") {
        plate.PlateRows = 16;
        plate.RowPitch = 1.0;
        plate.RowOffset = 0.0;
        plate.PlateColumns = 24;
        plate.ColumnPitch = 1.0;
        plate.ColumnOffset = 0.0;
        for (int i = 0; i < kChannelCount; ++i) {
            plate.ChannelWell[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(i);
            plate.ChannelBeam[static_cast<std::size_t>(i)] = 0;
        }
        plate.MaxWellIndex = 383;
        plate.MaxBeamIndex = 0;
    } else {
        const bool u_shape = plate_format == "w96u";
        plate.PlateRows = 8;
        plate.RowPitch = 2.0;
        plate.RowOffset = -0.5;
        plate.PlateColumns = 12;
        plate.ColumnPitch = 2.0;
        plate.ColumnOffset = u_shape ? -0.5 : 0.0;
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
    try {
        plate = ParsePlateFile(ctx, plate_format, plate, stage);
        return true;
    } catch (const StorageError&) {
    }
    ctx.dialogs.MessageBox("Error [\\" + plate_format + ".dat] ID#" + std::to_string(stage) +
                           " => Loading plate format from default: 384,96f or 96u...");
    if (plate_format != "w96f" && plate_format != "w384" && plate_format != "w96u")
        plate_format = "w96f";
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
