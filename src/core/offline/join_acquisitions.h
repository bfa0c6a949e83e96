// `Cmd_join_Click`: several acquisitions of one project merged into a new acquisition whose
// counts.bin holds all their records on one time axis, each block's minutes moved by the
// minutes between its start and the earliest start.
//
// The new acquisition is written so that it can never mix with another one or be half
// written: the sources are taken in the order of their start times (whatever the order of the
// selection, so the minutes never run backwards between blocks); only whole records are
// copied, and a source's incomplete last record is left out and reported; counts.bin is
// written to a temporary file and renamed into place after the register and the first
// source's project files (setup, groups, channel groups, thresholds, status), so the joined
// acquisition reports with its groups; and the folder is one that holds nothing yet: when the
// present minute's folder holds another acquisition, the next free minute is taken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/acquisition/record_file_io.h"
#include "core/offline/acquisition_browser.h"
#include "core/platform/ui_port.h"
#include "core/storage/storage_context.h"

namespace lumivo::offline {

inline constexpr const char* kJoinWrongSelection =
    "Wrong Selection!\r\nSelect more than one acquisition folder";
inline constexpr const char* kJoinDescriptionStart = "Data Block: ";
inline constexpr const char* kJoinRegisterDescription = "Joint Files";
// counts.bin of a join while it is being written.
inline constexpr const char* kJoinPartFile = "counts.bin.part";

struct JoinSource {
    std::string entry_text;  // its list entry
    std::string folder;      // its folder name, "yyyymmdd_hhmm"
};

struct JoinedBlock {
    std::string folder;
    std::int32_t offset_minutes = 0;
    std::size_t records = 0;
    std::uint64_t bytes_left_out = 0;  // an incomplete last record
};

struct JoinOutcome {
    bool joined = false;
    std::filesystem::path folder;  // the new acquisition
    std::size_t records = 0;
    std::vector<JoinedBlock> blocks;  // in the order they were joined
    std::vector<std::string> notes;   // what the user should know about the result
    // "Joined 2 acquisitions into ...", then the notes, one per line.
    std::string Message() const;
};

// A source's start in minutes (folder name; a name of any other form counts as `now`).
double StartMinutes(const std::string& folder, const LocalDateTime& now);
// The sources in the order of their start times; equal starts keep their order.
std::vector<JoinSource> OrderByStart(std::vector<JoinSource> sources, const LocalDateTime& now);
// The confirmation: "Would you like to Join (in order of start time):", CR LF, each entry and
// CR LF, then " ?".
std::string JoinQuestion(const std::vector<JoinSource>& ordered);
// The folder name of the new acquisition: the minute of `now`, or the first later minute whose
// folder does not exist or holds nothing; nullopt when none of the next 24 hours is free.
std::optional<std::string> FreeJoinFolder(FileSystem& files,
                                          const std::filesystem::path& project_path,
                                          LocalDateTime now);

// Joins acquisitions of the project folder: fewer than two sources get kJoinWrongSelection;
// otherwise the question is asked (OK/Cancel) and, on OK, the new acquisition is written and
// its outcome shown. Any failure is reported and leaves nothing behind. `ops` writes
// counts.bin (PosixFileOps in the program).
JoinOutcome JoinAcquisitions(StorageContext& ctx, AppendFileOps& ops, Clock& clock,
                             const std::filesystem::path& project_path,
                             std::vector<JoinSource> sources);

// `Cmd_join_Click` over the browser's list: accepted only while the list shows the date view of
// the chosen acquisition's project (else kJoinWrongSelection); `selected` are the indexes of
// the selected entries. After a join the date view is rebuilt.
JoinOutcome JoinSelected(StorageContext& ctx, AppendFileOps& ops, Clock& clock, BrowserState& s,
                         std::vector<std::size_t> selected);

}  // namespace lumivo::offline
