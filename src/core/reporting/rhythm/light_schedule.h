// The light over the plate during a recorded run, as phases of light and dark on the run's clock,
// for the circadian and sleep views.
//
// The run's clock counts minutes since sampling started, on the wall clock: the records' minutes
// are the time counter, which stood still during a pause that stopped it, so records after such a
// pause are moved on by its length (the pause shows as a gap). The start comes from events.log
// ("Sampling started"), else from the acquisition folder's name (yyyymmdd_hhmm; for a joined
// acquisition from the first block named in its register).
//
// The light comes from events.log when the run logged its light switches (every switch the
// program sent, whatever its cause). Older runs are modelled from the light program of the
// acquisition's own copy of the project setup, the way the program runs it: a daily cycle is on
// from the light-on hour to the light-off hour, across midnight when the off hour comes first
// (on 21, off 9 is light from 21:00 to 09:00); a pulse series runs from the start of sampling
// and leaves the light as its last pulse left it; without a light cycle the light stays as it
// was, which such runs did not record (dark is assumed).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/acquisition/event_log_reader.h"
#include "core/platform/ui_port.h"
#include "core/storage/project_setup.h"

namespace lumivo::reporting {

// The light program of a project's tool settings.
struct LightProgram {
    bool cycle_enabled = false;
    int on_hour = 9;
    int off_hour = 21;
    double pulse_on_minutes = 0.0;
    double pulse_off_minutes = 0.0;
    int pulse_count = 0;
};
// The program of a project's ToolParams (values out of range take their defaults).
LightProgram LightProgramOf(const ProjectState& project);

// A stretch of the run's clock, minutes since sampling started.
struct LightPhase {
    double begin = 0.0;
    double end = 0.0;
    bool light = false;
    friend bool operator==(const LightPhase&, const LightPhase&) = default;
};

// The run's clock: when sampling started and how the records' minutes map onto it.
struct RunClock {
    bool start_known = false;
    LocalDateTime start{};     // wall clock at the start of sampling
    std::string start_source;  // "events.log", "folder name", "join register"
    // Pauses that stopped the time counter: the record minute at which the counter stopped and
    // the minutes the clock ran on meanwhile.
    struct Shift {
        double at_record_minute = 0.0;
        double minutes = 0.0;
    };
    std::vector<Shift> frozen;

    double StartMinuteOfDay() const {
        return start.hour * 60.0 + start.minute + start.second / 60.0;
    }
    // The clock minute of a record minute (the frozen pauses before it added).
    double ClockMinute(double record_minute) const;
    // The wall date and time at a clock minute (whole seconds).
    LocalDateTime At(double clock_minute) const;
};

// Where the phases come from.
enum class LightSource {
    EventLog,  // the switches the run logged
    Setup,     // the light program of the acquisition's setup, as the program runs it
    Assumed,   // no light cycle and no record of the light: dark assumed
    Unknown,   // the start time is not known: no phases
};

struct LightSchedule {
    LightSource source = LightSource::Unknown;
    LightProgram program;
    std::vector<LightPhase> phases;  // over the run's clock, 0..end, neighbours differ
    // Over the day (minutes 0..1440 from midnight): the light most days had at each minute of
    // the day; empty when unknown.
    std::vector<LightPhase> daily;
    std::string description;  // one line for the user, e.g. "dark 21:00-09:00 (light cycle of the
                              // acquisition's setup)"
};

// The phases of a light program over minutes 0..run_minutes of a run that started at minute
// `start_minute_of_day` of a day. `uncycled_light` is the light's state when the program does not
// set it (no cycle, or a pulse series without length).
std::vector<LightPhase> ModelLightPhases(const LightProgram& program, double start_minute_of_day,
                                         double run_minutes, bool uncycled_light);

// Phases from logged switches (clock minutes, in time order) over 0..run_minutes; the first
// switch's state also holds before it.
struct LightSwitchAt {
    double minute = 0.0;
    bool on = false;
};
std::vector<LightPhase> LoggedLightPhases(const std::vector<LightSwitchAt>& switches,
                                          double run_minutes);

// The light of each minute of the day, by majority over the run, as phases over 0..1440.
std::vector<LightPhase> DailyLightPhases(const std::vector<LightPhase>& phases,
                                         double start_minute_of_day);

// Whether the light is on at a clock minute (false outside the phases).
bool LightAt(const std::vector<LightPhase>& phases, double minute);
// Minutes of light within [a, b).
double LightMinutes(const std::vector<LightPhase>& phases, double a, double b);

// The run's clock from its log, the folder's name and (for joined acquisitions) the first field of
// its register.
RunClock MakeRunClock(const RunLog& log, const std::string& folder_name,
                      const std::string& register_name);

// The schedule of a run over 0..run_minutes of its clock.
LightSchedule MakeLightSchedule(const LightProgram& program, const RunClock& clock,
                                const RunLog& log, double run_minutes);

// "21:00" for minute 1260 of the day.
std::string ClockText(double minute_of_day);

}  // namespace lumivo::reporting
