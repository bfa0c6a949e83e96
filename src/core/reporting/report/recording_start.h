// When a recorded acquisition started, as every reader of it (the summary, the exports, the
// tidy tables, the report's header, the light phases of the rhythm views) takes it: the start of
// sampling logged in events.log, which the records' minutes count from; for an older
// acquisition without that line, the first block named in a joined acquisition's register;
// otherwise the acquisition folder's name "yyyymmdd_hhmm" (the minute the folder was made,
// before any calibration). A joined acquisition writes its first block's start into its own
// events.log, so its folder's name (the minute of the join) is never taken for its start.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "core/acquisition/event_log_reader.h"
#include "core/platform/ui_port.h"
#include "core/storage/storage_context.h"

namespace lumivo::reporting {

// The civil date and time `seconds` after 0001-01-01 00:00:00 (the axis of events.log's stamps).
LocalDateTime WallTime(std::int64_t seconds);
// Seconds since 0001-01-01 00:00:00 of a civil date and time (its milliseconds and zone left
// out).
std::int64_t WallSeconds(const LocalDateTime& t);

// The start named by "yyyymmdd_hhmm" at `at` of `text` (seconds 0); nullopt when it is not a
// real date and time (20261301_1000, 20260230_1000, 20261207_2460).
std::optional<LocalDateTime> StartOfFolderName(const std::string& text, std::size_t at = 0);
// The first block of a joined acquisition's register: "Data Block: " followed by the blocks'
// list entries, either "yyyymmdd_hhmm name" or the tree's "> yyyy.mmdd<TAB> ACQhh:mm ...".
std::optional<LocalDateTime> StartOfJoinRegister(const std::string& name);

struct RecordingStart {
    bool known = false;
    LocalDateTime local;  // the recorder's wall clock at the start
    // The recorder's offset east of UTC at the start, when events.log gave its zone.
    std::optional<int> utc_offset_minutes;
    std::string zone;    // its abbreviation ("CET"), when logged
    std::string source;  // "events.log", "join register" or "folder name"
};

// The start from the acquisition's log, register name (the first field of subproj.dat) and
// folder name, in that order.
RecordingStart StartOfRecording(const RunLog& log, const std::string& folder_name,
                                const std::string& register_name);
// The same read from the folder (its events.log and subproj.dat).
RecordingStart ReadRecordingStart(StorageContext& ctx, const std::filesystem::path& folder);

// "2026-12-07 15:35:00 UTC+01:00 (CET), from events.log"; "not known" when it is not.
std::string RecordingStartText(const RecordingStart& start);

}  // namespace lumivo::reporting
