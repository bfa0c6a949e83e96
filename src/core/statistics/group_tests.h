// Descriptive statistics and the group comparisons of a screen: two-sample tests of a group
// against its control, tests over all groups, p-value adjustment over many comparisons, effect
// sizes with confidence intervals and the plate-quality factor of the control wells.
//
// Distributions and quantiles (t, F, chi-square, normal) come from Boost.Math. Every function
// takes the values of a group as given; missing values (NaN) are left out first. A result that
// cannot be computed (too few values, no variance) holds NaN, never a made-up number.
#pragma once

#include <cstddef>
#include <limits>
#include <span>
#include <string_view>
#include <vector>

namespace lumivo::statistics {

inline constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

struct Summary {
    std::size_t n = 0;
    // The sample SD (n - 1); the CI: mean +- t(0.975, n-1) x se. With one value only the mean
    // and the median are known.
    double mean = kNoValue, sd = kNoValue, se = kNoValue, median = kNoValue;
    double ci_low = kNoValue, ci_high = kNoValue;
};
Summary Summarise(std::span<const double> values);

struct TestResult {
    double statistic = kNoValue;  // t, U, F or H
    double df = kNoValue;         // degrees of freedom (the numerator's for F); NaN when none
    double df2 = kNoValue;        // the denominator's for F; NaN otherwise
    double p = kNoValue;          // two-sided where that applies
    bool exact = false;           // Mann-Whitney: the exact distribution rather than the normal one
};

// Welch's t-test of a against b: t of mean(a) - mean(b), Welch-Satterthwaite df.
TestResult WelchT(std::span<const double> a, std::span<const double> b);
// Mann-Whitney U of a against b: U of a (pairs a > b, ties counting one half), two-sided;
// exact when there are no ties and the samples are small (C(n1 + n2, n1) <= 2^53 and
// n1 n2 <= 10 000: both up to 25 values, or a few beside many), otherwise the normal
// approximation with the tie correction and a continuity correction of 1/2.
TestResult MannWhitney(std::span<const double> a, std::span<const double> b);
// One-way ANOVA (equal variances), Welch's ANOVA and Kruskal-Wallis H (tie-corrected,
// chi-square with k - 1 df) over the groups.
TestResult OneWayAnova(const std::vector<std::vector<double>>& groups);
TestResult WelchAnova(const std::vector<std::vector<double>>& groups);
TestResult KruskalWallis(const std::vector<std::vector<double>>& groups);

enum class Adjustment { Holm, BenjaminiHochberg, None };
// "holm", "bh", "none".
std::string_view AdjustmentName(Adjustment adjustment);
// The adjusted p-values in the order given; NaN entries stay NaN and do not count.
std::vector<double> AdjustPValues(std::span<const double> p, Adjustment adjustment);

struct Effect {
    double value = kNoValue, low = kNoValue, high = kNoValue;  // the estimate and its 95 % CI
};
// Hedges' g of a against b (positive when a's mean is larger): d on the pooled SD times the
// exact small-sample correction J; its 95 % CI the large-sample one of Hedges & Olkin,
// g +- z(0.975) sqrt((n1 + n2) / (n1 n2) + g^2 / (2 (n1 + n2))).
Effect HedgesG(std::span<const double> a, std::span<const double> b);
// The rank-biserial correlation r = 2 U / (n1 n2) - 1 of the Mann-Whitney comparison of a
// against b (positive when a tends to be larger); its 95 % CI r +- z(0.975) x 2 sd(U) / (n1 n2)
// with the tie-corrected SD of U under no difference, cut to [-1, 1].
Effect RankBiserial(std::span<const double> a, std::span<const double> b);

// Plate quality from the control wells: Z' = 1 - 3 (SDpos + SDneg) / |mean pos - mean neg|, and
// the signal window (|mean pos - mean neg| - 3 (SDpos + SDneg)) / SDneg (the negative controls
// are the untreated, active wells: the high signal). NaN with fewer than two of either.
double ZPrime(std::span<const double> positive, std::span<const double> negative);
double SignalWindow(std::span<const double> positive, std::span<const double> negative);

// Quantiles for other views: chi-square with df degrees of freedom, Student's t, the standard
// normal; and the upper tail P(F > f) of Fisher's F with df1 and df2 degrees of freedom.
double ChiSquareQuantile(double probability, double df);
double StudentTQuantile(double probability, double df);
double NormalQuantile(double probability);
double FUpperTail(double f, double df1, double df2);

}  // namespace lumivo::statistics
