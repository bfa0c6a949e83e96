// Plate formats: which of the 384 channels (beams) fall into which well of the microplate in
// use, as which beam of the well, and how the wells are drawn. The beam grid is 24 columns by 16
// rows; channel = beam column x 16 + beam row. Wells are numbered down the columns:
// well = well column x PlateRows + well row.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/common/channels.h"
#include "core/storage/storage_context.h"

namespace lumivo {

// "No channel" / "no well" in the plate tables.
inline constexpr std::int16_t kNoChannel = -1;
inline constexpr std::int16_t kNoWell = -1;

// WellChannel[well, beam]: the channel of beam b of well w, or kNoChannel (-1) when no channel
// fills that place (a well with fewer beams than MaxBeamIndex + 1) or the place lies outside the
// table. Channel 0 is a real channel, so "none" is never 0.
class WellChannelTable {
  public:
    void Reset(int max_well_index, int max_beam_index);
    std::int16_t operator()(int well, int beam) const;
    void Set(int well, int beam, std::int16_t channel);
    int wells() const { return wells_; }
    int beams() const { return beams_; }

  private:
    int wells_ = 0;
    int beams_ = 0;
    std::vector<std::int16_t> cells_;
};

struct PlateMap {
    std::int16_t PlateRows = 8;
    double RowPitch = 2.0;
    double RowOffset = -0.5;
    std::int16_t PlateColumns = 12;
    double ColumnPitch = 2.0;
    double ColumnOffset = 0.0;
    std::array<std::int16_t, kChannelTableSize>
        ChannelWell{};  // kNoWell: the channel is in no well
    std::array<std::int16_t, kChannelTableSize> ChannelBeam{};
    std::int16_t MaxWellIndex = 0;
    std::int16_t MaxBeamIndex = 0;
    WellChannelTable WellChannel;

    PlateMap() { ChannelWell.fill(kNoWell); }
};

// A well's name: row letter and column number from 1 ("A1", "H12"); "" for kNoWell.
std::string WellName(const PlateMap& plate, int well);

// The formats known by name, with the texts shown when one is chosen in the project setup.
struct PlateFormatInfo {
    const char* name;
    const char* description;
    const char* adapter;
    const char* note;  // "" when none
};
const std::vector<PlateFormatInfo>& KnownPlateFormats();
// The message shown when a format is chosen: description, CR LF, adapter text, and for formats
// with a note a further CR LF and the note. Empty for an unknown name.
std::string PlateFormatDescription(std::string_view name);

// A format name must be a plain file name: letters, digits, "_" and "-", at most 64 characters.
// Anything else (a path, "..") is never opened.
bool IsValidPlateFormatName(std::string_view name);

// installation folder/<Plate_format>.dat
std::filesystem::path PlateFormatFilePath(const StorageContext& ctx, std::string_view plate_format);

// Reads installation folder/<Plate_format>.dat into the map. Throws StorageError on any
// failure, naming the line; the map is then unchanged (the file is read completely before
// anything is taken). The file is checked as it is read: one record for each of the 384
// channels, in channel order; wells inside the plate; within a well, the beams numbered 0, 1,
// ... without a gap and no beam twice. `stage`, when given, tells how far reading got (0 until
// the file is open, 1 in the title and geometry fields, 2 in the channel records, 3 when done).
void ReadPlateFormatFile(StorageContext& ctx, const std::string& plate_format, PlateMap& plate,
                         int* stage = nullptr);

// The same reading with the built-in fallback: on any error shows
// "Error [<path>] ID#<stage> => Loading plate format from default: 384,96f or 96u...", what was
// wrong and which map is used, changes plate_format to "w96f" unless it is "w96f", "w384" or
// "w96u", and builds that format's map. Returns false when the fallback was used.
bool LoadPlateFormat(StorageContext& ctx, std::string& plate_format, PlateMap& plate);

// Builds the built-in map of "w384", "w96f" or "w96u" (any other name gives "w96f").
void BuildDefaultPlateMap(std::string_view plate_format, PlateMap& plate);

// Rebuilds WellChannel from ChannelWell and ChannelBeam of channels 0..383.
void RebuildWellChannel(PlateMap& plate);

// The text of a plate-format file for a map (used to author the shipped files and by tests).
std::string FormatPlateFile(const PlateMap& plate, std::string_view title1,
                            std::string_view title2);

}  // namespace lumivo
