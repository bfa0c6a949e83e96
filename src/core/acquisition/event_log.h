// events.log: what happened during a recorded run, kept beside its data in the acquisition
// folder, one line per event with its date and time: the start (instrument, port, project and
// settings), the calibration and zero results, every alarm's start and end, pauses and resumes,
// write failures, and the stop with its reason. A lab reading a week's recording afterwards can
// tell what the instrument and the program went through.
//
// Lines end in CR LF like the program's other text files and are appended as whole records
// (record_file_io.h): a line torn by a crash is cut off before the next one is written.
#pragma once

#include <deque>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/acquisition/record_file_io.h"
#include "core/acquisition/recording_mark.h"
#include "core/platform/ui_port.h"

namespace lumivo {

inline constexpr const char* kEventLogFileName = "events.log";

// "yyyy-mm-dd hh:mm:ss  " followed by the text; line breaks inside the text become " | " so
// that one event is always one line. No line end.
std::string EventLogLine(const LocalDateTime& when, std::string_view text);

// Appends lines to the events.log of one folder.
class EventLog {
  public:
    explicit EventLog(AppendFileOps& ops) : ops_(ops) {}

    // Lines go to folder/events.log from now on (appended to what it holds). While the log is
    // open the folder carries a RecordingMark: it is being recorded.
    void Open(const std::filesystem::path& folder);
    void Close();
    bool is_open() const { return !file_.empty(); }
    const std::filesystem::path& file() const { return file_; }

    // Appends one line (CR LF added) and flushes it to the disk. Returns "" or what failed.
    // A line that could not be written (a full disk) is kept and written, in its place, before
    // the next line that can be: the log catches up once space is freed.
    std::string Append(const std::string& line);
    std::size_t pending() const { return pending_.size(); }

    // Lines kept at most while the file cannot be written.
    static constexpr std::size_t kMaxPending = 1000;

  private:
    AppendFileOps& ops_;
    std::filesystem::path file_;
    std::deque<std::string> pending_;
    RecordingMark mark_;
};

}  // namespace lumivo
