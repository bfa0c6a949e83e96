// Reading events.log back: what the lines the acquisition engine writes say about the run's time
// axis. Its stamps are wall-clock times; the records' minutes are the time counter, which stands
// still during a pause that stopped it. From the log come the start of sampling, the end, the
// pauses, the instrument's silences, the write failures and every switch of the light.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumivo {

// The texts the acquisition engine writes into events.log (the start of each line's text).
inline constexpr std::string_view kSamplingStartedEvent = "Sampling started";
inline constexpr std::string_view kPausedFrozenEvent = "Paused, time counter stopped";
inline constexpr std::string_view kPausedRunningEvent = "Paused, time counter running";
inline constexpr std::string_view kResumedEvent = "Resumed after a pause of ";
inline constexpr std::string_view kNotCountedInLapse = "(not counted in the lapse)";
inline constexpr std::string_view kAlarmBeginsEvent =
    "ALARM: NO VALID DATA from the instrument for ";
inline constexpr std::string_view kAlarmEndsEvent =
    "Alarm ended: the instrument answers again after ";
inline constexpr std::string_view kRecordingErrorEvent = "RECORDING ERROR: ";
// The recorder's zone, "Time zone: UTC+01:00 (CET)", at the start of sampling and at every
// change of the offset during the run (a summer-time change).
inline constexpr std::string_view kTimeZoneEvent = "Time zone: ";
// The port itself failed or vanished (what failed, the port, the time), and its return:
// "Instrument reconnected on COMn after S s: ...".
inline constexpr std::string_view kInstrumentLostEvent = "Instrument lost: ";
inline constexpr std::string_view kInstrumentReconnectedEvent = "Instrument reconnected on ";
// A run carried on in its folder after its recorder died (a crash, a kill, a power cut).
inline constexpr std::string_view kRecordingResumedEvent =
    "Recording resumed after an interruption: ";
// In that line: the minute of the last record the dead recorder wrote.
inline constexpr std::string_view kLastRecordAtMinute = ", the last at minute ";
// Windows without enough readings from the instrument, left out of every file:
// "Windows not recorded: N (minutes A to B): why".
inline constexpr std::string_view kWindowsNotRecordedEvent = "Windows not recorded: ";
// The light's state at the start of sampling and every change the program sent afterwards
// (light cycle, pulse series, or the light button), followed by the cause in brackets.
inline constexpr std::string_view kLightOnEvent = "Light on";
inline constexpr std::string_view kLightOffEvent = "Light off";

// Days from 0001-01-01 to a civil date (proleptic Gregorian calendar).
std::int64_t CivilDayNumber(int year, int month, int day);

// One line of events.log: "yyyy-mm-dd hh:mm:ss  text" (the recorder's local time).
struct LoggedLine {
    std::int64_t second = 0;  // wall-clock seconds since 0001-01-01 00:00:00
    std::string_view text;
};
std::optional<LoggedLine> ParseEventLogLine(std::string_view line);

// Calls `fn(raw, line)` for every line of `log` that is a dated event, in order: `raw` is the
// whole line without its CR LF, `line` what ParseEventLogLine made of it.
template <typename Fn>
void ForEachEventLogLine(std::string_view log, Fn&& fn) {
    for (std::size_t pos = 0; pos < log.size();) {
        std::size_t end = log.find('\n', pos);
        if (end == std::string_view::npos) end = log.size();
        std::string_view raw = log.substr(pos, end - pos);
        pos = end + 1;
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        if (const auto line = ParseEventLogLine(raw)) fn(raw, *line);
    }
}

// "hh:mm:ss [Nd]" (how the log writes elapsed times) at the start of `text`, in seconds.
std::optional<std::int64_t> ParseElapsedText(std::string_view text);

// A stretch of the run in wall-clock seconds.
struct WallPeriod {
    std::int64_t begin = 0, end = 0;
    bool ended = true;  // false when the log stops before the period ended
};

struct LoggedLightSwitch {
    std::int64_t second = 0;
    bool on = false;
};

// The recorder's offset east of UTC from `second` (a logged wall-clock stamp) on.
// The recorder's offset east of UTC from `second` on.
struct LoggedZone {
    std::int64_t second = 0;
    int utc_offset_minutes = 0;
    std::string name;  // "CET"; empty when the log gave none
};

// "UTC+01:00 (CET)" or "UTC-03:30": the offset in minutes and the name.
std::optional<LoggedZone> ParseTimeZoneText(std::string_view text);

// What a run's events.log tells. Its times are the logged stamps on one continuous axis: in the
// zone of the first logged "Time zone" line, so that after a summer-time change (logged as a new
// zone) the stamps go on without a jump. A log without zone lines keeps its stamps as written.
struct RunLog {
    bool any = false;  // at least one readable line
    bool sampling_started = false;
    std::int64_t start = 0;           // "Sampling started", else the first line
    std::optional<std::int64_t> end;  // the line that ended the run
    std::int64_t last = 0;            // the latest stamp
    std::vector<WallPeriod> silences, running_pauses, frozen_pauses;
    std::size_t write_failures = 0;
    std::vector<LoggedLightSwitch> light;  // in the order logged, from the start of sampling
    // The recorder's zone at the start and at each change; empty for a log written before the
    // program logged it.
    std::vector<LoggedZone> zones;
    // The instrument's port gone, from "Instrument lost" to its reconnection.
    std::vector<WallPeriod> instrument_lost;
    // The recorder was not running: from the last sign of it before a "Recording resumed after
    // an interruption" (its last line, or its last record when that came later) to that line.
    std::vector<WallPeriod> interruptions;
    std::int64_t windows_not_recorded = 0;  // the sum of the "Windows not recorded" lines

    // The UTC offset in force at `second` of the axis (nullopt without a logged zone).
    std::optional<int> UtcOffsetAt(std::int64_t second) const;
    // `second` of the axis in seconds since 0001-01-01 00:00:00 UTC; with no zone logged, the
    // stamp itself.
    std::int64_t UtcSecond(std::int64_t second) const;
};

// Reads a log's text; lines that cannot be read are skipped. Each list keeps at most
// kMaxLoggedPeriods entries.
RunLog ParseRunLog(std::string_view log);
inline constexpr std::size_t kMaxLoggedPeriods = 20000;

// The records' elapsed minutes at wall time t: the time since the start without the pauses that
// stopped the time counter (never below 0). Stamps are compared in UTC when the log gives the
// zone, so a summer-time change moves no minute.
double ElapsedMinutesAt(const RunLog& log, std::int64_t t);

// events.log is read up to this size; a longer log is read from its start up to here.
inline constexpr std::uintmax_t kMaxEventLogBytes = 16u * 1024u * 1024u;
// The text of folder/events.log ("" when it is missing or cannot be read).
std::string ReadEventLog(const std::filesystem::path& folder);

}  // namespace lumivo
