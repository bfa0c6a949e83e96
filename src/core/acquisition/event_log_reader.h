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
// The light's state at the start of sampling and every change the program sent afterwards
// (light cycle, pulse series, or the light button), followed by the cause in brackets.
inline constexpr std::string_view kLightOnEvent = "Light on";
inline constexpr std::string_view kLightOffEvent = "Light off";

// Days from 0001-01-01 to a civil date (proleptic Gregorian calendar).
std::int64_t CivilDayNumber(int year, int month, int day);

// One line of events.log: "yyyy-mm-dd hh:mm:ss  text".
struct LoggedLine {
    std::int64_t second = 0;  // wall-clock seconds since 0001-01-01 00:00:00
    std::string_view text;
};
std::optional<LoggedLine> ParseEventLogLine(std::string_view line);

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

// What a run's events.log tells.
struct RunLog {
    bool any = false;  // at least one readable line
    bool sampling_started = false;
    std::int64_t start = 0;           // "Sampling started", else the first line
    std::optional<std::int64_t> end;  // the line that ended the run
    std::int64_t last = 0;            // the latest stamp
    std::vector<WallPeriod> silences, running_pauses, frozen_pauses;
    std::size_t write_failures = 0;
    std::vector<LoggedLightSwitch> light;  // in the order logged, from the start of sampling
};

// Reads a log's text; lines that cannot be read are skipped. Each list keeps at most
// kMaxLoggedPeriods entries.
RunLog ParseRunLog(std::string_view log);
inline constexpr std::size_t kMaxLoggedPeriods = 20000;

// The records' elapsed minutes at wall time t: the time since the start without the pauses that
// stopped the time counter (never below 0).
double ElapsedMinutesAt(const RunLog& log, std::int64_t t);

// events.log is read up to this size; a longer log is read from its start up to here.
inline constexpr std::uintmax_t kMaxEventLogBytes = 16u * 1024u * 1024u;
// The text of folder/events.log ("" when it is missing or cannot be read).
std::string ReadEventLog(const std::filesystem::path& folder);

}  // namespace lumivo
