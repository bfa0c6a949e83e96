// Basal normalisation: every channel's re-binned activity expressed as a percentage of its
// activity during a basal measurement (the first minutes of another acquisition of the same
// project), with the user's questions asked through Dialogs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/platform/ui_port.h"
#include "core/reporting/report/report_tables.h"

namespace lumivo::reporting {

// `ZeroBasalPolicy`: what replaces the basal of a grouped well whose basal activity is 0.
enum class ZeroBasalPolicy : int {
    Maximum = 0,       // the channel's largest count over the main acquisition (0 %: none)
    PlateAverage = 1,  // the mean basal of all grouped channels, zeros included
    Discard = 2,       // the well leaves its group (its counts become -999)
};

// The acquisition folder a `cmbbasal` line names: `main_folder`'s sibling whose name is the
// line's first 13 characters ("yyyymmdd_hhmm"). nullopt when the line does not start with such
// a name (anything else could name a folder elsewhere).
std::optional<std::string> BasalFolderName(const std::string& basal_text);
// Whether the line asks for a basal normalisation: at least 13 characters and not "-".
bool WantsBasal(const std::string& basal_text);

// `BasalMinutes`: the bin size when 1.5 x bin size >= the basal length; otherwise asked in the
// "Basal Calculation" input boxes until a whole number from bin size to basal length is typed.
// nullopt when the user cancels (the run ends without a report).
std::optional<std::int32_t> ChooseBasalMinutes(Dialogs& dialogs, std::int32_t basal_length,
                                               std::int32_t bin_size);

// Basal per channel 0..383: the sum of its basal bins up to `basal_minutes`, scaled to one bin
// (each scaling rounded); bins the basal recording does not cover count as the mean of those it
// does. Wide integers: a long basal sums many bins.
std::vector<std::int64_t> ChannelBasal(const BinTable& basal, std::int32_t basal_minutes,
                                       std::int32_t bin_size, std::int32_t basal_length);

struct BasalOutcome {
    bool proceed = false;                   // false: the user declined, no report
    int zero_wells = 0;                     // grouped wells with a basal of 0
    std::optional<ZeroBasalPolicy> policy;  // the answer, when the question was asked
    int errors = 0;                         // channels discarded (moved to the free group)
};

// Steps after `BasalMinutes`: averages the basal and the activity over the beams of every well
// (AverageOverWells), asks about zero-basal wells (AskZeroBasalPolicy), and converts every count
// of `bins` (bins 0..last) into a percentage of its basal (ApplyBasal). Reports the discarded
// channels with the "ERROR in ..." message.
BasalOutcome NormaliseToBasal(Dialogs& dialogs, ReportInputs& inputs, BinTable& bins,
                              std::vector<std::int64_t> basal);

// Every beam of a well takes the well's mean basal (in `basal`, 385 entries after the call) and
// mean activity (in `bins`). Returns the number of grouped wells whose basal is 0.
int AverageOverWells(const ReportInputs& inputs, BinTable& bins, std::vector<std::int64_t>& basal);

// The questions about `zero_wells` grouped wells with a basal of 0: whether to go on (nullopt:
// no), then what to use instead. Asks nothing (Maximum) when there are none.
std::optional<ZeroBasalPolicy> AskZeroBasalPolicy(Dialogs& dialogs, int zero_wells);

// Every count of `bins` as a percentage of its channel's basal (capped at 10000); a grouped
// channel whose basal is below 1 takes what `policy` says. Channels left without a basal get
// -999 in every bin and group -1 in `inputs`; returns how many.
int ApplyBasal(ReportInputs& inputs, BinTable& bins, const std::vector<std::int64_t>& basal,
               ZeroBasalPolicy policy);

}  // namespace lumivo::reporting
