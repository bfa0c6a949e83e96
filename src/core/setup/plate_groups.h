// The assignment of wells to groups in the project setup: well labels ("A1.0"), group entries
// ("003_Group3"), the group list with its "in use" marks, the lists of a group's wells and of the
// free wells, moves between them, clearing every group, the automatic arrangement of the plate
// into equal blocks and the rectangle of wells chosen with the mouse on the plate picture.
//
// Only channels that are enabled (ChannelEnabled) and lie in a well (ChannelWell >= 0) take part.
// Every procedure checks group numbers, wells and positions against the tables, so a damaged
// plate file, a stray group number or a pointer beyond the plate never reaches outside them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/storage/plate_format.h"
#include "core/storage/project_setup.h"

namespace lumivo {

// The name every group gets when it is cleared.
inline constexpr const char* kFreeGroupName = "Free";
// Number of items of the arrangement menu `mngroup` (`mnopciongrup` 0..23).
inline constexpr int kArrangementMenuItems = 24;
inline constexpr const char* kClearGroupsQuestion = "Do you like to Clear Group lists?";

// True when the channel takes part in grouping: a channel 0..383, enabled and in a well.
bool TakesPart(const ProjectState& project, const PlateMap& plate, int channel);
// True for a group number that indexes GroupName (0..383).
bool IsGroupNumber(int group);

// "A1.0": row letter, well column from 1, ".", beam index. "" for a channel in no well.
std::string WellLabel(const PlateMap& plate, int channel);
// The channel of a label: WellChannel[(column - 1) x PlateRows + (letter - "A"), beam]. nullopt
// when the label is malformed or names a place of the plate that holds no channel.
std::optional<int> ChannelOfLabel(const PlateMap& plate, std::string_view label);

// "003_Group3": the group number in three digits, "_", the name.
std::string GroupEntry(int group, const std::string& name);
// The group number of an entry: its first three characters; nullopt when they are not digits
// or name no group of the table.
std::optional<int> GroupOfEntry(std::string_view entry);
// "Group" followed by the number.
std::string DefaultGroupName(int group);

// The group list `combogrup`: every group in use and every group up to the largest number in
// use, in order. A group in use that is still named "Free" is renamed "Group<n>" first.
std::vector<std::string> RebuildGroupList(ProjectState& project);
// The channels of one group (kFreeGroup for the free ones) that take part, in channel order.
std::vector<int> ChannelsOfGroup(const ProjectState& project, const PlateMap& plate, int group);
// Their labels: `lstgrup` for a group, `lstchgrup` for kFreeGroup.
std::vector<std::string> LabelsOfGroup(const ProjectState& project, const PlateMap& plate,
                                       int group);

// The entries of the setup windows' well lists for `group` (kFreeGroup: the free wells), in
// well order: a well whose beams that take part are all in the group is listed by its name
// ("A1"); a beam of a well whose beams lie in different groups is listed by its label ("A1.2"),
// the only case in which beams matter to the user.
std::vector<std::string> WellEntriesOfGroup(const ProjectState& project, const PlateMap& plate,
                                            int group);
// Moves what an entry of those lists names: every beam of the well that takes part ("A1"), or
// one beam ("A1.2"). False when the entry names nothing that takes part, or the group is none.
bool MoveWellEntry(ProjectState& project, const PlateMap& plate, std::string_view entry,
                   int group);

// Puts a channel that takes part into `group` (kFreeGroup frees it). Returns false and changes
// nothing for a channel that does not take part or a group number outside the table.
bool MoveChannel(ProjectState& project, const PlateMap& plate, int channel, int group);
// Moves the channel of a list label (a double click on `lstchgrup` or `lstgrup`).
bool MoveLabel(ProjectState& project, const PlateMap& plate, std::string_view label, int group);

// Every channel 0..383 free and every GroupName 0..383 "Free".
void ClearGroups(ProjectState& project);

// Renames a group from the answer of the input box "Enter New Group (ggg) Name". An empty
// answer (or a cancel) keeps the old name; a name that cannot be stored in groups.dat is refused
// with its message. Returns true when the name changed.
bool RenameGroup(Dialogs& dialogs, ProjectState& project, int group);
std::string RenameGroupPrompt(int group);

// The block sizes of the arrangement menu: for every block width 1..16 dividing PlateColumns
// and every block height 1..16 dividing PlateRows, "RRxCC [RowsxColumn]".
std::vector<std::string> BlockSizeCaptions(const PlateMap& plate);
struct BlockSize {
    int rows = 0;
    int columns = 0;
};
// Reads a caption's characters 1-2 (rows) and 4-5 (columns); nullopt unless both are numbers
// from 1 up.
std::optional<BlockSize> ParseBlockSize(std::string_view caption);

// The automatic arrangement: frees every channel, then fills group 0, 1, ... with blocks of
// `size` wells, each block starting at the first well (down the columns) none of whose taking
// part channels is grouped yet. Returns the number of groups that received channels.
int ArrangeInBlocks(ProjectState& project, const PlateMap& plate, BlockSize size);

// ---- Mouse on the plate picture ----

// The picture's scale: 100 units to one beam position.
inline constexpr double kUnitsPerBeam = 100.0;

struct WellCell {
    int column = 0;
    int row = 0;
    bool operator==(const WellCell&) const = default;
};
// The well under a pointer at (x, y) in picture units, limited to the plate: a position before
// the first well counts as the first, one beyond the last as the last.
WellCell WellAtPoint(const PlateMap& plate, double x, double y);
// The well index of a cell (column x PlateRows + row).
int WellIndex(const PlateMap& plate, WellCell cell);

// Puts every enabled channel of every well in the rectangle between two cells (any corner
// order) into `group` (kFreeGroup frees them). Returns the number of channels changed, or -1
// when `group` is neither kFreeGroup nor a group of the table (nothing changes then).
int AssignRectangle(ProjectState& project, const PlateMap& plate, WellCell a, WellCell b,
                    int group);

}  // namespace lumivo
