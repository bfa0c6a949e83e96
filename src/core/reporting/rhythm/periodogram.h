// Periodograms of binned activity: how strongly a series repeats with each period of a range,
// by the chi-square periodogram (Sokolove and Bushell) or the Lomb-Scargle periodogram, with
// the line a random series would pass with probability alpha.
//
// Chi-square: the series is folded at period P (P bins); with N observed bins, column means M_h
// over n_h bins each, and the overall mean M,
//     Qp = N x sum_h n_h (M_h - M)^2 / sum_i (X_i - M)^2,
// which for a series without rhythm follows a chi-square distribution with (columns - 1) degrees
// of freedom. Lomb-Scargle: the normalised power of Scargle (1982), over the observed bins only,
// which for a series without rhythm follows an exponential distribution. Autocorrelation: the
// correlation of the series with itself shifted by P (over the pairs of observed bins), which
// for a series without rhythm is about normal with SD 1 / sqrt(N) (N observed bins); its peak
// must be a local maximum (the autocorrelation falls from lag 0 whatever the rhythm).
//
// Periods are tried every whole number of bins, at least kPeriodStepMinutes apart. The
// significance line is where a random series' highest peak over the whole range stands with
// probability alpha: alpha is shared among the m periods tried (chi-square: the quantile
// 1 - alpha / m of each period's distribution; Lomb-Scargle: -ln(1 - (1 - alpha)^(1/m));
// autocorrelation: z(1 - alpha / (2 m)) / sqrt(N)).
// The peak is the period of the largest power (PeakRule::MaxPower, the default), or the period
// whose power stands highest above the line (PeakRule::AboveLine); the two differ for the
// chi-square periodogram, whose line rises with the period. It is significant when its power
// is above the line at its period.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace lumivo::reporting {

enum class PeriodogramMethod { ChiSquare, LombScargle, Autocorrelation };
// "chi-square", "lomb-scargle", "autocorrelation".
std::string_view PeriodogramMethodName(PeriodogramMethod method);
std::optional<PeriodogramMethod> ParsePeriodogramMethod(std::string_view text);

// Periods are tried at most every 0.1 h.
inline constexpr double kPeriodStepMinutes = 6.0;

enum class PeakRule { MaxPower, AboveLine };
// "max-power", "above-line".
std::string_view PeakRuleName(PeakRule rule);
std::optional<PeakRule> ParsePeakRule(std::string_view text);

struct PeriodogramOptions {
    PeriodogramMethod method = PeriodogramMethod::ChiSquare;
    PeakRule peak = PeakRule::MaxPower;
    double min_hours = 16.0;
    double max_hours = 32.0;
    double alpha = 0.05;
};

struct Periodogram {
    bool valid = false;         // the series varies over enough observed bins
    std::vector<double> power;  // per period of the set, NaN when not valid
    int peak = -1;              // index of the peak, -1 when none
    bool significant = false;   // the peak stands above the line
    double peak_period_h = 0.0;
    double peak_power = 0.0;
    double peak_threshold = 0.0;
};

struct PeriodogramSet {
    PeriodogramMethod method = PeriodogramMethod::ChiSquare;
    PeakRule peak = PeakRule::MaxPower;
    double alpha = 0.05;
    std::vector<int> period_bins;      // the periods tried, in bins
    std::vector<double> period_hours;  // the same in hours
    std::vector<double> threshold;     // the significance line per period
    std::vector<Periodogram> series;   // one per input series
};

// The periods tried for bins of `bin_minutes` over [min_hours, max_hours] (in bins), at most
// `bins` long.
std::vector<int> PeriodGrid(double bin_minutes, double min_hours, double max_hours,
                            std::size_t bins);

// Periodograms of several series of `bins` values on one grid of bins; bins whose `observed`
// entry is 0 are left out.
PeriodogramSet ComputePeriodograms(const std::vector<const double*>& series, std::size_t bins,
                                   const std::vector<std::uint8_t>& observed, double bin_minutes,
                                   const PeriodogramOptions& options);

}  // namespace lumivo::reporting
