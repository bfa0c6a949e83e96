// The tidy export of an acquisition for R (data.table, behavr) and Python (pandas): two CSV
// tables in the acquisition folder, "activity.csv" (one row per well, or channel, and bin) and
// "metadata.csv" (one row per well, or channel), joined by their `id` column.
//
// activity.csv:  id,t,activity
//   t: the start of the bin in seconds from the start of the recording; activity: the counts
//   in the bin (for a well with several beams the rounded mean of its beams, as in reports),
//   "NA" for a bin the recording does not cover (a pause, a gap, a lost instrument).
// metadata.csv:  id,region_id,start_datetime,stop_datetime,project,acquisition,plate,well,group,
//                channels,status,time_zone
//   region_id: the well number (per channel: the channel number), from 0 as in the program;
//   start_datetime / stop_datetime: ISO 8601 with the UTC offset ("2026-03-29T01:00:00+01:00"),
//   the recorder's wall clock at the start (recording_start.h) and the start plus the recorded
//   duration (the minute of the last record), each with the offset in force then; project: the
//   project name; acquisition: the folder name; plate: the plate format; well: "A1"; group:
//   "001_Control" ("999_Free" for none); channels: the well's channel numbers separated by
//   spaces; status: "OK", "dead", or "no beams" when every channel of the well is disabled;
//   time_zone: where the offsets come from: the zone the recorder logged in events.log, or, for a
//   recording that logged none, the zone of the computer that exported (said so); no commas;
//   organism: the acquisition setup's ("C elegans(>L4)", "Zebrafish(Larvae)", "Customized");
//   sleep_rule: the inactivity its sleep tables count by default ("no counts for at least 2
//   min"), so that a result carries how sleep was defined.
//   id: "<start_datetime>|<project folder>/<acquisition>|<well>" ("A1.0", well and beam, per
//   channel), unique across acquisitions so that the tables of several concatenate.
//   With a plate map (wells.csv) in the acquisition, every row goes on with the well's
//   treatment,concentration,unit,role and the map's own columns (blank for a well the map does
//   not name; a map column named like one of the above is written "map_<name>").
//   A map that cannot be read stops the export with its message.
//
// Plain UTF-8, "." decimals, lines ending in LF, a header line and no other preamble; fields
// with a comma, a quote or a line break are quoted as in RFC 4180. Both files are written to
// temporary files in full before either is put in place.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "core/reporting/rhythm/rhythm.h"
#include "core/storage/storage_context.h"

namespace lumivo::reporting {

inline constexpr const char* kTidyActivityFileName = "activity.csv";
inline constexpr const char* kTidyMetadataFileName = "metadata.csv";
inline constexpr const char* kTidyActivityHeader = "id,t,activity";
inline constexpr const char* kTidyMetadataHeader =
    "id,region_id,start_datetime,stop_datetime,project,acquisition,plate,well,group,channels,"
    "status,time_zone,organism,sleep_rule";
inline constexpr const char* kTidyStatusOk = "OK";
inline constexpr const char* kTidyStatusNoBeams = "no beams";

struct TidyExportRequest {
    std::filesystem::path folder;  // the acquisition folder
    std::int64_t bin_size = 30;    // minutes; corrected like a report's bin size
    bool per_channel = false;      // one row per channel instead of per well
    // A well without counts over this many final hours of the recording is "dead".
    double dead_hours = kDefaultDeadHours;
};

struct TidyExportOutcome {
    bool written = false;
    std::string failure;
    std::int32_t bin_size = 0;  // the bin size used
    bool bin_size_corrected = false;
    std::string bin_size_note;      // why it was corrected ("" when it was not)
    std::size_t ids = 0;            // rows of metadata.csv
    std::size_t activity_rows = 0;  // rows of activity.csv
    std::filesystem::path activity_file;
    std::filesystem::path metadata_file;
};

// "Export for R/Python...": writes both tables into the acquisition folder. Messages go
// through ctx.dialogs.
TidyExportOutcome ExportTidyTables(StorageContext& ctx, const TidyExportRequest& request);

// "2026-03-29T01:00:00+01:00": a civil time and its offset east of UTC, in minutes.
std::string IsoDateTimeWithOffset(const LocalDateTime& t, int offset_minutes);

// A CSV field: as it is, or between double quotes (quotes doubled) when it holds a comma, a
// quote or a line break.
std::string CsvField(const std::string& text);

}  // namespace lumivo::reporting
