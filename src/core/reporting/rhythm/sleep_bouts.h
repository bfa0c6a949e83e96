// Inactivity bouts ("sleep" as the activity-monitor literature counts it): a well is inactive in
// a bin in which it counted nothing; a bout is a run of consecutive inactive bins lasting at least
// N minutes (default 5). Bins the recording does not cover end a bout and belong to none.
//
// Per series, and split by the light phases of the run:
// - observed minutes, the minutes spent in bouts ("sleep"), also as a share of the observed
//   minutes, and the minutes of every observed bin that counted nothing (in bouts or not);
// - the number of bouts and their mean length. A bout across a phase change is split at the
//   change for the phases' figures: its part in each phase is a bout of that phase (a 5760-min
//   bout over a day of light and a night counts in each as long as it lies in it); the whole
//   run's figures take whole bouts;
// - the latency to the first bout after lights off: for each change from light to dark that
//   the recording covers, the minutes from the change to the beginning of the first bout that
//   begins in that dark phase (a bout already running at the change does not count); averaged
//   over the nights that have one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/reporting/rhythm/light_schedule.h"

namespace lumivo::reporting {

inline constexpr double kDefaultBoutMinutes = 5.0;

// What counts as sleep depends on the animal; the project's organism chooses the default rule:
// - "Zebrafish(Larvae)": a minute or more without counts, the larval sleep the field counts;
// - "C elegans(>L4)": two minutes or more without counts, the shortest quiescence bout our
//   one-minute bins can tell from an awake worm that merely crossed no beam for a minute;
// - "Customized": the user's own length, 5 minutes unless chosen.
enum class Organism { CElegans, Zebrafish, Customized };
// "C elegans(>L4)", "Zebrafish(Larvae)", "Customized".
std::string_view OrganismName(Organism organism);
// The names above in any case, or the short "worm", "zebrafish", "custom".
std::optional<Organism> ParseOrganism(std::string_view text);
// The project setting (ToolParams row 1, column 0): 0 worms, 1 zebrafish larvae, others
// customised.
Organism OrganismOfSetting(int value);
double DefaultBoutMinutesOf(Organism organism);

// The rule a sleep table was made with.
struct SleepDefinition {
    Organism organism = Organism::Customized;  // whose rule, "Customized" when the length was
                                               // chosen apart from the organism's
    double bout_minutes = kDefaultBoutMinutes;
    // "no counts for at least 1 min".
    std::string RuleText() const;
};
// The definition for an acquisition of `project` organism: the organism's rule, or the one
// `chosen` (another organism's), with the bout length `bout_minutes` when given (a length
// other than the organism's makes it "Customized").
SleepDefinition ResolveSleepDefinition(Organism project, std::optional<Organism> chosen,
                                       std::optional<double> bout_minutes);

struct Bout {
    double begin = 0.0;  // clock minutes
    double end = 0.0;
};

struct PhaseSleep {
    double observed_minutes = 0.0;
    double sleep_minutes = 0.0;  // in bouts
    double zero_minutes = 0.0;   // in observed bins that counted nothing, bouts or not
    int bouts = 0;               // bouts (or their parts) in the phase
    double bout_minutes = 0.0;   // their total length in the phase
    double SleepShare() const;   // sleep / observed (NaN when nothing was observed)
    double MeanBout() const;     // NaN without bouts
};

struct SleepSummary {
    PhaseSleep light, dark, all;
    std::vector<Bout> bouts;
    int nights = 0;  // lights-off changes the recording covers
    int nights_with_bout = 0;
    double latency_sum = 0.0;
    double MeanLatency() const;  // NaN when no night has a bout
    // Per bin: 1 in a bout, 0 observed and not in a bout, 2 not observed.
    std::vector<std::uint8_t> state;
};

// The bouts of one series of `bins` values (bin k covers [k x bin, (k + 1) x bin) minutes).
SleepSummary AnalyseSleep(const double* values, std::size_t bins,
                          const std::vector<std::uint8_t>& observed, double bin_minutes,
                          const std::vector<LightPhase>& phases, double bout_minutes);

// The lights-off changes of a run: the beginnings of the dark phases that follow a light one,
// with the end of each dark phase.
std::vector<Bout> DarkPhasesAfterLight(const std::vector<LightPhase>& phases);

}  // namespace lumivo::reporting
