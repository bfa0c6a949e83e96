#include "core/reporting/report/basal.h"

#include <algorithm>
#include <cctype>
#include <limits>

#include "core/common/rounding.h"
#include "core/storage/field_record.h"  // ParseWholeNumber

namespace lumivo::reporting {

namespace {

constexpr std::size_t kFolderNameLength = 13;  // "yyyymmdd_hhmm"

std::int32_t Clamp32(std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// R(a x b / c) for whole numbers, c > 0, without overflow for the magnitudes of a report.
std::int64_t ScaleRounded(std::int64_t a, std::int64_t b, std::int64_t c) {
    const long double exact = static_cast<long double>(a) * static_cast<long double>(b);
    if (exact > 9.0e18L || exact < -9.0e18L)
        return static_cast<std::int64_t>(RoundHalfEven(static_cast<double>(exact / c)));
    return DivideRoundHalfEven(a * b, c);
}

}  // namespace

bool WantsBasal(const std::string& basal_text) {
    return basal_text.size() >= kFolderNameLength && basal_text != "-";
}

std::optional<std::string> BasalFolderName(const std::string& basal_text) {
    if (basal_text.size() < kFolderNameLength) return std::nullopt;
    const std::string name = basal_text.substr(0, kFolderNameLength);
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto ch = static_cast<unsigned char>(name[i]);
        if (i == 8 ? ch != '_' : std::isdigit(ch) == 0) return std::nullopt;
    }
    return name;
}

std::optional<std::int32_t> ChooseBasalMinutes(Dialogs& dialogs, std::int32_t basal_length,
                                               std::int32_t bin_size) {
    // 1.5 x bin size >= basal length, in whole numbers.
    if (3 * std::int64_t{bin_size} >= 2 * std::int64_t{basal_length}) return bin_size;
    const std::int32_t first_default =
        std::int64_t{basal_length} < 2 * std::int64_t{bin_size} ? bin_size : 2 * bin_size;
    const std::string first_prompt =
        "Basal acquisition is " + std::to_string(basal_length) +
        "min long, and BinSize=" + std::to_string(bin_size) + "min. \r\n\r\n" +
        "How many minutes do you want to use to calculate Basal Measurement?";
    const std::string second_prompt = "Enter a value between " + std::to_string(bin_size) +
                                      " and " + std::to_string(basal_length);
    bool first = true;
    while (true) {
        const auto answer =
            first
                ? dialogs.InputBox(first_prompt, "Basal Calculation", std::to_string(first_default))
                : dialogs.InputBox(second_prompt, "Basal Calculation", std::to_string(bin_size));
        if (!answer) return std::nullopt;  // Cancel ends the run
        long long minutes = 0;
        if (ParseWholeNumber(*answer, minutes) && minutes >= bin_size && minutes <= basal_length)
            return static_cast<std::int32_t>(minutes);
        first = !first;
    }
}

std::vector<std::int64_t> ChannelBasal(const BinTable& basal, std::int32_t basal_minutes,
                                       std::int32_t bin_size, std::int32_t basal_length) {
    std::vector<std::int64_t> out(kChannelTableSize, 0);
    std::int64_t bins = 0, present = 0;
    for (std::size_t k = 0; k < basal.size(); ++k) {
        if (basal.minutes[k] > basal_minutes) continue;
        ++bins;
        if (!basal.Present(k)) continue;  // not recorded: it says nothing about the basal
        ++present;
        for (std::size_t c = 0; c < static_cast<std::size_t>(kChannelCount); ++c)
            out[c] += basal.count(k, c);
    }
    for (std::size_t c = 0; c < static_cast<std::size_t>(kChannelCount); ++c) {
        // Bins of the basal period that were not recorded take the mean of those that were.
        if (present > 0 && present < bins) out[c] = ScaleRounded(out[c], bins, present);
        if (basal_length > 0 && basal_length < bin_size)
            out[c] = ScaleRounded(out[c], bin_size, basal_length);
        if (basal_minutes > bin_size) out[c] = ScaleRounded(out[c], bin_size, basal_minutes);
    }
    return out;
}

int AverageOverWells(const ReportInputs& inputs, BinTable& bins, std::vector<std::int64_t>& basal) {
    basal.resize(kChannelTableSize, 0);
    const std::size_t bin_count = bins.size();
    std::vector<bool> zero_basal_well(static_cast<std::size_t>(inputs.max_well_index + 1), false);
    std::vector<std::int64_t> sums(bin_count);
    for (int w = 0; w <= inputs.max_well_index; ++w) {
        std::vector<std::size_t> channels;
        for (int b = 0; b <= inputs.max_beam_index; ++b) {
            const int c = inputs.WellChannel(w, b);
            if (c >= 0 && c < kChannelCount) channels.push_back(static_cast<std::size_t>(c));
        }
        if (channels.empty()) continue;
        const auto m = static_cast<std::int64_t>(channels.size());
        std::int64_t basal_sum = 0;
        std::fill(sums.begin(), sums.end(), 0);
        for (std::size_t c : channels) {
            basal_sum += basal[c];
            for (std::size_t k = 0; k < bin_count; ++k) sums[k] += bins.count(k, c);
        }
        zero_basal_well[static_cast<std::size_t>(w)] = basal_sum == 0;
        const std::int64_t well_basal = DivideRoundHalfEven(basal_sum, m);
        for (std::size_t c : channels) {
            basal[c] = well_basal;
            for (std::size_t k = 0; k < bin_count; ++k)
                bins.count(k, c) = Clamp32(DivideRoundHalfEven(sums[k], m));
        }
    }
    // Grouped wells without basal activity.
    int zero_wells = 0;
    for (int w = 0; w <= inputs.max_well_index; ++w) {
        const int first = inputs.FirstChannel(w);
        if (first >= 0 && first < kChannelCount && zero_basal_well[static_cast<std::size_t>(w)] &&
            inputs.InGroup(first))
            ++zero_wells;
    }
    return zero_wells;
}

std::optional<ZeroBasalPolicy> AskZeroBasalPolicy(Dialogs& dialogs, int zero_wells) {
    if (zero_wells == 0) return ZeroBasalPolicy::Maximum;
    if (dialogs.MessageBox("You have " + std::to_string(zero_wells) +
                               " BASAL WELLS with 0 activity. Proceed anyway??",
                           MsgButtons::YesNo) != MsgResult::Yes)
        return std::nullopt;
    const MsgResult r = dialogs.MessageBox(
        "For ZERO Activity Basal Wells:\r\n"
        "[YES] to replace <BASAL Well> with <MAX Well Activity>\r\n"
        "[NO] to replace <BASAL Well> with <BASAL Microplate Average>\r\n"
        "[CANCEL] to DISCARD Well in Calculation\r\n"
        "TO BE APPLIED TO ALL 0 ACTIVITY BASAL WELLs",
        MsgButtons::YesNoCancel);
    return r == MsgResult::Yes  ? ZeroBasalPolicy::Maximum
           : r == MsgResult::No ? ZeroBasalPolicy::PlateAverage
                                : ZeroBasalPolicy::Discard;
}

int ApplyBasal(ReportInputs& inputs, BinTable& bins, const std::vector<std::int64_t>& basal,
               ZeroBasalPolicy policy) {
    const std::size_t bin_count = bins.size();
    auto normalised = [&](int c) {
        return inputs.channel_well[static_cast<std::size_t>(c)] >= 0 && inputs.InGroup(c);
    };
    // The plate average of policy 1: the mean basal of all grouped channels in wells.
    std::int64_t average_sum = 0;
    std::int64_t average_n = 0;
    for (int c = 0; c < kChannelCount; ++c) {
        if (!normalised(c)) continue;
        average_sum += basal[static_cast<std::size_t>(c)];
        ++average_n;
    }
    const std::int64_t plate_average =
        average_n > 0 ? DivideRoundHalfEven(average_sum, average_n) : 0;

    int errors = 0;
    for (int c = 0; c < kChannelCount; ++c) {
        const auto uc = static_cast<std::size_t>(c);
        std::int64_t b = basal[uc];
        if (normalised(c) && b < 1) {
            switch (policy) {
                case ZeroBasalPolicy::Maximum: {
                    std::int64_t largest = 0;
                    for (std::size_t k = 0; k < bin_count; ++k)
                        if (k == 0 || bins.count(k, uc) > largest) largest = bins.count(k, uc);
                    // A channel that never moved has no largest count to compare with: it
                    // stays in its group at 0 % (discarding it is what Cancel chooses).
                    b = largest < 1 ? 1 : largest;
                    break;
                }
                case ZeroBasalPolicy::PlateAverage:
                    b = plate_average;
                    break;
                case ZeroBasalPolicy::Discard:
                    b = -1;
                    inputs.channel_group[uc] = -1;
                    break;
            }
            if (b < 1) {
                inputs.channel_group[uc] = -1;
                ++errors;
            }
        }
        for (std::size_t k = 0; k < bin_count; ++k) {
            std::int32_t& cell = bins.count(k, uc);
            // A channel without basal activity has no percentage.
            cell =
                b < 1
                    ? kDiscardedCount
                    : Clamp32(std::min<std::int64_t>(ScaleRounded(cell, 100, b), kMaxBasalPercent));
        }
    }
    return errors;
}

BasalOutcome NormaliseToBasal(Dialogs& dialogs, ReportInputs& inputs, BinTable& bins,
                              std::vector<std::int64_t> basal) {
    BasalOutcome outcome;
    // Every beam of a well takes the well's mean basal and mean activity.
    outcome.zero_wells = AverageOverWells(inputs, bins, basal);
    // Grouped wells without basal activity: ask whether to go on and what to use instead.
    const std::optional<ZeroBasalPolicy> policy = AskZeroBasalPolicy(dialogs, outcome.zero_wells);
    if (!policy) return outcome;
    if (outcome.zero_wells > 0) outcome.policy = policy;
    outcome.proceed = true;
    outcome.errors = ApplyBasal(inputs, bins, basal, *policy);
    if (outcome.errors > 0)
        dialogs.MessageBox("ERROR in " + std::to_string(outcome.errors) +
                           " BASAL channels.\r\nChannels were discarded and transferred to Free "
                           "Group");
    return outcome;
}

}  // namespace lumivo::reporting
