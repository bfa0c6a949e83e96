#include "core/setup/plate_groups.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

#include "core/storage/field_record.h"

namespace lumivo {

namespace {

std::size_t At(int index) {
    return static_cast<std::size_t>(index);
}

int WellCount(const PlateMap& plate) {
    if (plate.PlateRows < 1 || plate.PlateColumns < 1) return 0;
    return plate.PlateRows * plate.PlateColumns;
}

// The wells that can hold channels: those of the plate up to the largest well of the map (a
// damaged geometry may claim a billion wells; only these are ever scanned).
int WellsWithChannels(const PlateMap& plate) {
    return std::min(WellCount(plate), std::max(0, plate.MaxWellIndex + 1));
}

// Reads a run of decimal digits; false when there is none or it does not fit.
bool ReadNumber(std::string_view text, std::size_t& pos, int& out) {
    const std::size_t start = pos;
    long long v = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        v = v * 10 + (text[pos] - '0');
        if (v > 100000) return false;
        ++pos;
    }
    out = static_cast<int>(v);
    return pos > start;
}

}  // namespace

bool TakesPart(const ProjectState& project, const PlateMap& plate, int channel) {
    if (channel < 0 || channel >= kChannelCount) return false;
    return project.ChannelEnabled[At(channel)] != 0 && plate.ChannelWell[At(channel)] >= 0;
}

bool IsGroupNumber(int group) {
    return group >= 0 && group <= kMaxGroup;
}

std::string WellLabel(const PlateMap& plate, int channel) {
    if (channel < 0 || channel >= kChannelCount) return {};
    const int well = plate.ChannelWell[At(channel)];
    const std::string name = WellName(plate, well);
    if (name.empty()) return {};
    return name + "." + std::to_string(plate.ChannelBeam[At(channel)]);
}

std::optional<int> ChannelOfLabel(const PlateMap& plate, std::string_view label) {
    if (plate.PlateRows < 1) return std::nullopt;
    std::size_t pos = 0;
    long long letters = 0;  // bijective base 26: A = 1, Z = 26, AA = 27
    while (pos < label.size() && label[pos] >= 'A' && label[pos] <= 'Z') {
        letters = letters * 26 + (label[pos] - 'A' + 1);
        if (letters > 100000) return std::nullopt;
        ++pos;
    }
    if (letters == 0) return std::nullopt;
    int column = 0;
    int beam = 0;
    if (!ReadNumber(label, pos, column) || column < 1) return std::nullopt;
    if (pos >= label.size() || label[pos] != '.') return std::nullopt;
    ++pos;
    if (!ReadNumber(label, pos, beam) || pos != label.size()) return std::nullopt;
    const long long row = letters - 1;
    if (row >= plate.PlateRows) return std::nullopt;  // the letter would spill into the next column
    const long long well = (column - 1) * static_cast<long long>(plate.PlateRows) + row;
    if (well > plate.MaxWellIndex) return std::nullopt;
    const int channel = plate.WellChannel(static_cast<int>(well), beam);
    if (channel < 0 || channel >= kChannelCount) return std::nullopt;
    return channel;
}

std::string GroupEntry(int group, const std::string& name) {
    std::string num = std::to_string(group);
    if (num.size() < 3) num.insert(0, 3 - num.size(), '0');
    return num + "_" + name;
}

std::optional<int> GroupOfEntry(std::string_view entry) {
    if (entry.size() < 3) return std::nullopt;
    int g = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        if (entry[i] < '0' || entry[i] > '9') return std::nullopt;
        g = g * 10 + (entry[i] - '0');
    }
    if (!IsGroupNumber(g)) return std::nullopt;
    return g;
}

std::string DefaultGroupName(int group) {
    return "Group" + std::to_string(group);
}

std::vector<std::string> RebuildGroupList(ProjectState& project) {
    std::array<bool, kChannelTableSize> in_use{};
    int largest = -1;
    for (int ch = 0; ch < kChannelCount; ++ch) {
        const int g = project.ChannelGroup[At(ch)];
        if (!IsGroupNumber(g)) continue;  // free, or a number no group list can hold
        in_use[At(g)] = true;
        largest = std::max(largest, g);
    }
    std::vector<std::string> entries;
    for (int g = 0; g <= kMaxGroup; ++g) {
        if (!in_use[At(g)] && g > largest) continue;
        std::string& name = project.GroupName[At(g)];
        if (in_use[At(g)] && name == kFreeGroupName) name = DefaultGroupName(g);
        entries.push_back(GroupEntry(g, name));
    }
    return entries;
}

std::vector<int> ChannelsOfGroup(const ProjectState& project, const PlateMap& plate, int group) {
    std::vector<int> out;
    for (int ch = 0; ch < kChannelCount; ++ch)
        if (TakesPart(project, plate, ch) && project.ChannelGroup[At(ch)] == group)
            out.push_back(ch);
    return out;
}

std::vector<std::string> LabelsOfGroup(const ProjectState& project, const PlateMap& plate,
                                       int group) {
    std::vector<std::string> out;
    for (int ch : ChannelsOfGroup(project, plate, group)) out.push_back(WellLabel(plate, ch));
    return out;
}

namespace {

// The channels of well `well` that take part, in beam order.
std::vector<int> WellChannelsTakingPart(const ProjectState& project, const PlateMap& plate,
                                        int well) {
    std::vector<int> out;
    for (int ch = 0; ch < kChannelCount; ++ch)
        if (plate.ChannelWell[At(ch)] == well && TakesPart(project, plate, ch)) out.push_back(ch);
    return out;
}

}  // namespace

std::vector<std::string> WellEntriesOfGroup(const ProjectState& project, const PlateMap& plate,
                                            int group) {
    std::vector<std::string> out;
    for (int well = 0; well <= plate.MaxWellIndex; ++well) {
        const std::vector<int> channels = WellChannelsTakingPart(project, plate, well);
        if (channels.empty()) continue;
        const bool whole = std::all_of(channels.begin(), channels.end(), [&](int ch) {
            return project.ChannelGroup[At(ch)] == project.ChannelGroup[At(channels.front())];
        });
        if (whole) {
            if (project.ChannelGroup[At(channels.front())] == group)
                out.push_back(WellName(plate, well));
            continue;
        }
        for (int ch : channels)
            if (project.ChannelGroup[At(ch)] == group) out.push_back(WellLabel(plate, ch));
    }
    return out;
}

bool MoveWellEntry(ProjectState& project, const PlateMap& plate, std::string_view entry,
                   int group) {
    if (entry.find('.') != std::string_view::npos) return MoveLabel(project, plate, entry, group);
    const auto first = ChannelOfLabel(plate, std::string(entry) + ".0");
    if (!first) return false;
    bool moved = false;
    for (int ch : WellChannelsTakingPart(project, plate, plate.ChannelWell[At(*first)]))
        moved = MoveChannel(project, plate, ch, group) || moved;
    return moved;
}

bool MoveChannel(ProjectState& project, const PlateMap& plate, int channel, int group) {
    if (!TakesPart(project, plate, channel)) return false;
    if (group != kFreeGroup && !IsGroupNumber(group)) return false;
    project.ChannelGroup[At(channel)] = static_cast<std::int16_t>(group);
    return true;
}

bool MoveLabel(ProjectState& project, const PlateMap& plate, std::string_view label, int group) {
    const auto channel = ChannelOfLabel(plate, label);
    return channel && MoveChannel(project, plate, *channel, group);
}

void ClearGroups(ProjectState& project) {
    for (int ch = 0; ch < kChannelCount; ++ch) project.ChannelGroup[At(ch)] = kFreeGroup;
    for (int g = 0; g <= kMaxGroup; ++g) project.GroupName[At(g)] = kFreeGroupName;
}

std::string RenameGroupPrompt(int group) {
    std::string num = std::to_string(group);
    if (num.size() < 3) num.insert(0, 3 - num.size(), '0');
    return "Enter New Group (" + num + ") Name";
}

bool RenameGroup(Dialogs& dialogs, ProjectState& project, int group) {
    if (!IsGroupNumber(group)) return false;
    const auto answer = dialogs.InputBox(RenameGroupPrompt(group));
    if (!answer || answer->empty()) return false;
    if (const auto refusal = CheckStorableText(*answer, "The group name"); !refusal.empty()) {
        dialogs.MessageBox(refusal);
        return false;
    }
    project.GroupName[At(group)] = *answer;
    return true;
}

std::vector<std::string> BlockSizeCaptions(const PlateMap& plate) {
    auto two = [](int v) {
        std::string s = std::to_string(v);
        return s.size() < 2 ? "0" + s : s;
    };
    std::vector<std::string> out;
    if (plate.PlateRows < 1 || plate.PlateColumns < 1) return out;
    for (int width = 1; width <= 16; ++width) {
        if (plate.PlateColumns % width != 0) continue;
        for (int height = 1; height <= 16; ++height) {
            if (plate.PlateRows % height != 0) continue;
            out.push_back(two(height) + "x" + two(width) + " [RowsxColumn]");
        }
    }
    return out;
}

std::optional<BlockSize> ParseBlockSize(std::string_view caption) {
    if (caption.size() < 5) return std::nullopt;
    auto digits = [&](std::size_t at, int& v) {
        if (caption[at] < '0' || caption[at] > '9' || caption[at + 1] < '0' ||
            caption[at + 1] > '9')
            return false;
        v = (caption[at] - '0') * 10 + (caption[at + 1] - '0');
        return v > 0;
    };
    BlockSize size;
    if (!digits(0, size.rows) || !digits(3, size.columns)) return std::nullopt;
    return size;
}

int ArrangeInBlocks(ProjectState& project, const PlateMap& plate, BlockSize size) {
    ClearGroups(project);
    const int wells = WellsWithChannels(plate);
    if (size.rows < 1 || size.columns < 1 || wells == 0) return 0;

    // The wells of every channel that takes part, and whether any of them is grouped yet.
    std::vector<std::vector<int>> channels_of_well(At(wells));
    for (int ch = 0; ch < kChannelCount; ++ch) {
        if (!TakesPart(project, plate, ch)) continue;
        const int well = plate.ChannelWell[At(ch)];
        if (well < wells) channels_of_well[At(well)].push_back(ch);
    }
    auto well_is_free = [&](int well) {
        const auto& chs = channels_of_well[At(well)];
        if (chs.empty()) return false;  // nothing to group here: never the start of a block
        return std::all_of(chs.begin(), chs.end(),
                           [&](int ch) { return project.ChannelGroup[At(ch)] == kFreeGroup; });
    };

    // One group per block of the plate, never more groups than GroupName holds.
    const int last_group =
        std::min<int>(plate.MaxWellIndex / (size.rows * size.columns), kMaxGroup);
    int filled = 0;
    for (int k = 0; k <= last_group; ++k) {
        int start = -1;
        for (int well = 0; well < wells && start < 0; ++well)  // down the columns
            if (well_is_free(well)) start = well;
        if (start < 0) break;  // every well is grouped
        bool got_any = false;
        for (int i = 0; i < size.rows; ++i) {
            for (int j = 0; j < size.columns; ++j) {
                // A block that starts low in a column continues at the top of the next one.
                const int well = start + j * plate.PlateRows + i;
                if (well >= wells) continue;  // past the end of the map: no channels
                for (int ch : channels_of_well[At(well)]) {
                    if (project.ChannelGroup[At(ch)] != kFreeGroup) continue;
                    project.ChannelGroup[At(ch)] = static_cast<std::int16_t>(k);
                    got_any = true;
                }
            }
        }
        if (got_any) {
            project.GroupName[At(k)] = DefaultGroupName(k);
            ++filled;
        }
    }
    return filled;
}

WellCell WellAtPoint(const PlateMap& plate, double x, double y) {
    auto index = [](double pos, double offset, double pitch, int count) {
        if (count < 1) return 0;
        if (!(pitch > 0.0) || !std::isfinite(pos)) return 0;
        const double v = std::floor((pos - offset * kUnitsPerBeam) / (pitch * kUnitsPerBeam));
        if (!(v > 0.0)) return 0;  // before the first well (or not a number)
        if (v >= count - 1) return count - 1;
        return static_cast<int>(v);
    };
    return {index(x, plate.ColumnOffset, plate.ColumnPitch, plate.PlateColumns),
            index(y, plate.RowOffset, plate.RowPitch, plate.PlateRows)};
}

int WellIndex(const PlateMap& plate, WellCell cell) {
    return cell.column * plate.PlateRows + cell.row;
}

int AssignRectangle(ProjectState& project, const PlateMap& plate, WellCell a, WellCell b,
                    int group) {
    if (group != kFreeGroup && !IsGroupNumber(group)) return -1;
    const int c0 = std::max(0, std::min(a.column, b.column));
    const int c1 = std::min<int>(std::max(a.column, b.column), plate.PlateColumns - 1);
    const int r0 = std::max(0, std::min(a.row, b.row));
    const int r1 = std::min<int>(std::max(a.row, b.row), plate.PlateRows - 1);
    int changed = 0;
    for (int ch = 0; ch < kChannelCount; ++ch) {
        if (!TakesPart(project, plate, ch)) continue;
        const int well = plate.ChannelWell[At(ch)];
        if (well >= WellCount(plate)) continue;
        const int column = well / plate.PlateRows;
        const int row = well % plate.PlateRows;
        if (column < c0 || column > c1 || row < r0 || row > r1) continue;
        if (project.ChannelGroup[At(ch)] == group) continue;
        project.ChannelGroup[At(ch)] = static_cast<std::int16_t>(group);
        ++changed;
    }
    return changed;
}

}  // namespace lumivo
