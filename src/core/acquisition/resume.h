// Going on with a recording whose recorder died (a crash, a kill, a power cut). Such an
// acquisition is recognised by its folder: no process holds its recording mark and its
// events.log began a run that it never ended. Resuming records into the same folder on the same
// time axis: the record minutes count from the original start, so the time the recorder was
// dead shows as missing minutes, and the run ends at its original lapse. Before the first new
// window the data files are cut back to whole windows that all of them hold, so raw page m,
// counts record m and histogram record m still describe the same window.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/acquisition/event_log_reader.h"
#include "core/acquisition/record_file_io.h"
#include "core/platform/ui_port.h"
#include "core/storage/storage_context.h"

namespace lumivo {

// What `lumivo-cli acquire --resume` takes for the newest interrupted acquisition.
inline constexpr const char* kResumeLatest = "latest";

struct InterruptedAcquisition {
    std::filesystem::path folder;
    std::string experiment_name;  // subproj.dat
    RunLog log;
    std::int64_t records = 0;       // whole records in counts.bin
    std::int32_t last_minute = -1;  // the minute of the last of them (-1: none)
    int lapse = 0;                  // the run's Aq_lapse, from its own setup.dat
    double elapsed_minutes = 0.0;   // on the run's time axis, at the time of the check
    bool body_bends = false;        // the run counted body bends
};

struct ResumeCheck {
    std::optional<InterruptedAcquisition> run;
    std::string refusal;  // why `folder` cannot be resumed (empty when it can)
};

// Whether the acquisition in `folder` can be resumed at local time `now`: a folder of a
// recorded run (setup.dat and subproj.dat), not being recorded, whose events.log began a run
// without ending it and whose lapse is not over. The refusal names the folder and what to do.
ResumeCheck CheckInterruptedAcquisition(StorageContext& storage,
                                        const std::filesystem::path& folder,
                                        const LocalDateTime& now);

// The newest acquisition of `project_folder` that can be resumed now, if any.
std::optional<InterruptedAcquisition> FindInterruptedAcquisition(
    StorageContext& storage, const std::filesystem::path& project_folder, const LocalDateTime& now);

// The question the desktop program asks at its start: "Resume the interrupted recording ...?"
std::string ResumeQuestionText(const InterruptedAcquisition& run);

// The wall-clock stamp of local time `t` on the axis of `log` (its first logged zone).
std::int64_t StampOnLogAxis(const RunLog& log, const LocalDateTime& t);

// The data files of a folder made ready for more windows. `records` whole windows are kept:
// those counts.bin holds whole. A half-written last record is cut off each file, and a raw page
// or histogram record written for a window whose counts record never was is cut off too (the
// recorder writes the raw page first). `notes` say what was cut, for events.log.
struct ResumedFiles {
    std::int64_t records = 0;
    bool raw_pages_whole = true;  // the raw pages hold every kept window
    std::int64_t histogram_records = 0;
    std::vector<std::string> notes;
    std::string error;  // a file could not be cut back: nothing can be appended safely
};
ResumedFiles PrepareFilesForResume(AppendFileOps& ops, const std::filesystem::path& folder,
                                   std::size_t rt_buffer, bool save_raw, bool body_bends);

}  // namespace lumivo
