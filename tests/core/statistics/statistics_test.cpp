// The group comparisons against known answers: reference values were
// computed once with scipy 1.10.1 / numpy 1.24.2 (each table names the call), the p-value
// adjustments and Welch's ANOVA by their textbook formulas in numpy, the plate-quality factors by
// hand. Confidence intervals are checked for coverage over seeded simulations.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "core/statistics/group_tests.h"

namespace lumivo::statistics {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
using Values = std::vector<double>;

// Each value NaN-or-near: NaN expected means NaN returned.
void ExpectNear(double actual, double expected, double tolerance, const std::string& what) {
    if (std::isnan(expected))
        EXPECT_TRUE(std::isnan(actual)) << what << ": " << actual;
    else
        EXPECT_NEAR(actual, expected, tolerance) << what;
}

TEST(GroupTests, TwoSampleTestsMatchScipy) {
    enum Kind { Welch, MannWhitneyU };
    struct Case {
        const char* name;
        Kind kind;
        Values a, b;
        double statistic, df, p;
        bool exact;
    };
    Values ramp_a, ramp_b, even, odd, forty;
    for (int i = 0; i < 20; ++i)
        ramp_a.push_back(std::round((0.5 + i * 20.0 / 19.0 + 0.013 * std::pow(i, 1.5)) * 1000.0) /
                         1000.0);
    for (int i = 0; i < 22; ++i)
        ramp_b.push_back(std::round((3.25 + i * 22.0 / 21.0) * 1000.0) / 1000.0);
    for (int i = 0; i < 30; ++i) even.push_back(2.0 * i);
    for (int i = 0; i < 30; ++i) odd.push_back(5.5 + 2.0 * i);
    for (int i = 0; i < 40; ++i) forty.push_back(i);
    const Case cases[] = {
        // scipy.stats.ttest_ind(a, b, equal_var=False); df by Welch-Satterthwaite in numpy
        {"welch 8 v 7",
         Welch,
         {5.1, 4.9, 6.2, 5.8, 6.0, 5.5, 5.3, 6.1},
         {4.0, 4.5, 5.2, 4.8, 4.1, 3.9, 4.6},
         4.724964010867304,
         12.826371854419309,
         0.00041156714108618386,
         false},
        {"welch, a NaN left out",
         Welch,
         {5.1, 4.9, kNaN, 6.2, 5.8, 6.0, 5.5, 5.3, 6.1},
         {4.0, 4.5, 5.2, 4.8, 4.1, 3.9, 4.6},
         4.724964010867304,
         12.826371854419309,
         0.00041156714108618386,
         false},
        {"welch unequal variances",
         Welch,
         {12, 15, 11, 18, 20, 14},
         {10.5, 10.9, 11.2, 10.1, 10.8, 11.0, 10.4, 10.6, 10.7, 11.3},
         2.9950296804190866,
         5.068156725348318,
         0.029763348131520376,
         false},
        {"welch negative",
         Welch,
         {0.2, 0.4, 0.1},
         {0.9, 1.4, 0.7, 1.1},
         -4.56540864765602,
         4.615795563652478,
         0.007322467410769443,
         false},
        // scipy.stats.mannwhitneyu(a, b, method='exact')
        {"mwu exact 5 v 6",
         MannWhitneyU,
         {1.1, 2.3, 3.5, 4.2, 5.9},
         {2.0, 6.1, 7.4, 8.8, 9.3, 10.2},
         4.0,
         kNaN,
         0.05194805194805195,
         true},
        {"mwu exact 3 v 4",
         MannWhitneyU,
         {3.1, 0.4, 2.2},
         {1.5, 1.7, 5.0, 6.0},
         4.0,
         kNaN,
         0.6285714285714286,
         true},
        {"mwu exact 20 v 22", MannWhitneyU, ramp_a, ramp_b, 160.0, kNaN, 0.1351099078332236, true},
        {"mwu exact 4 v 40",
         MannWhitneyU,
         {10.5, 20.5, 30.5, 41.5},
         forty,
         103.0,
         kNaN,
         0.37268233751500907,
         true},
        // scipy.stats.mannwhitneyu(a, b, method='asymptotic', use_continuity=True)
        {"mwu ties",
         MannWhitneyU,
         {3, 5, 5, 7, 8, 8, 9, 12},
         {1, 2, 2, 3, 5, 6, 6, 7, 7},
         56.5,
         kNaN,
         0.05252452050519215,
         false},
        {"mwu ties small",
         MannWhitneyU,
         {10, 10, 10, 11, 12},
         {10, 11, 11, 13, 14, 15},
         6.5,
         kNaN,
         0.13119415723411434,
         false},
        {"mwu 30 v 30 without ties", MannWhitneyU, even, odd, 378.0, kNaN, 0.2904721494938346,
         false},
    };
    for (const Case& c : cases) {
        const TestResult r = c.kind == Welch ? WelchT(c.a, c.b) : MannWhitney(c.a, c.b);
        ExpectNear(r.statistic, c.statistic, 1e-9, std::string(c.name) + " statistic");
        ExpectNear(r.df, c.df, 1e-6, std::string(c.name) + " df");
        ExpectNear(r.p, c.p, 1e-6 * c.p, std::string(c.name) + " p");
        EXPECT_EQ(r.exact, c.exact) << c.name;
    }
}

TEST(GroupTests, TestsOverGroupsMatchTheirReferences) {
    const std::vector<Values> groups = {
        {6.1, 7.2, 5.9, 6.6, 7.0}, {8.3, 7.9, 9.1, 8.8, kNaN}, {5.0, 5.6, 4.9, 6.1, 5.2, 5.8}, {}};
    const std::vector<Values> tied = {{1, 2, 2, 3, 5}, {2, 3, 3, 3, 6, 7}, {5, 5, 6, 8, 8, 9, 9}};
    struct Case {
        const char* name;
        TestResult result;
        double statistic, df, df2, p;
    };
    const Case cases[] = {
        // scipy.stats.f_oneway(*groups)
        {"anova", OneWayAnova(groups), 42.6508222921071, 2, 12, 3.518571590816001e-06},
        // numpy: F = A / (1 + 2 (k-2) / (k^2-1) lambda), df2 = (k^2-1) / (3 lambda); p from
        // scipy.stats.f.sf
        {"welch anova", WelchAnova(groups), 40.34047030918576, 2, 7.150905860403004,
         0.00012743580682947353},
        // scipy.stats.kruskal(*tied)
        {"kruskal-wallis with ties", KruskalWallis(tied), 9.760739401245726, 2, kNaN,
         0.007594205925870133},
    };
    for (const Case& c : cases) {
        ExpectNear(c.result.statistic, c.statistic, 1e-9, std::string(c.name) + " statistic");
        ExpectNear(c.result.df, c.df, 1e-9, std::string(c.name) + " df");
        ExpectNear(c.result.df2, c.df2, 1e-9, std::string(c.name) + " df2");
        ExpectNear(c.result.p, c.p, 1e-6 * c.p, std::string(c.name) + " p");
    }
}

TEST(GroupTests, WhatCannotBeComputedIsNaN) {
    const Values one = {3.0}, same = {2.0, 2.0, 2.0}, some = {1.0, 2.0, 4.0}, none = {kNaN};
    struct Case {
        const char* name;
        double value;
    };
    const Case cases[] = {
        {"welch with one value", WelchT(one, some).p},
        {"welch without variance", WelchT(same, same).statistic},
        {"mann-whitney of nothing", MannWhitney(none, some).p},
        {"mann-whitney of equal values", MannWhitney(same, same).p},
        {"anova of one group", OneWayAnova({some, {}}).statistic},
        {"anova without variance", OneWayAnova({same, {5.0, 5.0}}).p},
        {"welch anova, a group without variance", WelchAnova({same, some}).statistic},
        {"kruskal-wallis of equal values", KruskalWallis({same, same}).p},
        {"hedges g with one value", HedgesG(one, some).value},
        {"rank-biserial of nothing", RankBiserial(some, none).value},
        {"z' with one control", ZPrime(one, some)},
        {"signal window without negative spread", SignalWindow(some, same)},
        {"summary sd of one value", Summarise(one).sd},
        {"summary of nothing", Summarise(none).mean},
        {"chi-square quantile at df 0", ChiSquareQuantile(0.95, 0.0)},
        {"t quantile outside [0, 1]", StudentTQuantile(1.5, 3.0)},
    };
    for (const Case& c : cases) EXPECT_TRUE(std::isnan(c.value)) << c.name << ": " << c.value;
    EXPECT_EQ(Summarise(one).median, 3.0);
    EXPECT_EQ(Summarise(none).n, 0u);
}

TEST(GroupTests, AdjustedPValuesKeepTheirOrderAndNaN) {
    const Values p = {0.01, 0.04, kNaN, 0.03, 0.005, 0.2, 0.04};
    struct Case {
        Adjustment adjustment;
        const char* name;
        Values expected;
    };
    // Holm: the j-th smallest (from 0) times m - j, running maximum; BH: the j-th smallest (from
    // 1) times m / j, running minimum from the largest; both capped at 1 (by hand in numpy).
    const Case cases[] = {
        {Adjustment::Holm, "holm", {0.05, 0.12, kNaN, 0.12, 0.03, 0.2, 0.12}},
        {Adjustment::BenjaminiHochberg, "bh", {0.03, 0.048, kNaN, 0.048, 0.03, 0.2, 0.048}},
        {Adjustment::None, "none", p},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AdjustmentName(c.adjustment), c.name);
        const Values adjusted = AdjustPValues(p, c.adjustment);
        ASSERT_EQ(adjusted.size(), p.size());
        for (std::size_t i = 0; i < p.size(); ++i)
            ExpectNear(adjusted[i], c.expected[i], 1e-12,
                       std::string(c.name) + " #" + std::to_string(i));
    }
    EXPECT_EQ(AdjustPValues(Values{0.6, 0.9}, Adjustment::Holm), (Values{1.0, 1.0}));
}

TEST(GroupTests, SummaryAndQuantilesMatchScipy) {
    // numpy mean, std(ddof=1), median; scipy.stats.sem; scipy.stats.t.interval(0.95, n - 1, ...)
    const Summary s = Summarise(Values{3.2, 4.1, 2.8, kNaN, 3.9, 4.4, 3.5, 3.0});
    EXPECT_EQ(s.n, 7u);
    EXPECT_NEAR(s.mean, 3.557142857142857, 1e-12);
    EXPECT_NEAR(s.sd, 0.5968169536721257, 1e-12);
    EXPECT_NEAR(s.se, 0.22557560537765736, 1e-12);
    EXPECT_NEAR(s.median, 3.5, 1e-12);
    EXPECT_NEAR(s.ci_low, 3.005179235545911, 1e-9);
    EXPECT_NEAR(s.ci_high, 4.109106478739803, 1e-9);
    EXPECT_NEAR(Summarise(Values{4.0, 1.0, 3.0, 2.0}).median, 2.5, 1e-12);

    struct Case {
        bool chi_square;
        double probability, df, expected;
    };
    // scipy.stats.chi2.ppf and scipy.stats.t.ppf
    const Case cases[] = {
        {true, 0.95, 1, 3.841458820694124},     {true, 0.95, 10, 18.307038053275146},
        {true, 0.99, 30, 50.89218131151707},    {true, 0.9997, 159, 227.46648563265433},
        {true, 0.05, 3, 0.35184631774927144},   {false, 0.975, 1, 12.706204736432095},
        {false, 0.975, 5, 2.5705818366147395},  {false, 0.975, 12.5, 2.1691859427099556},
        {false, 0.025, 30, -2.042272456301238}, {false, 0.995, 1000, 2.580754698065942},
    };
    for (const Case& c : cases) {
        const double q = c.chi_square ? ChiSquareQuantile(c.probability, c.df)
                                      : StudentTQuantile(c.probability, c.df);
        EXPECT_NEAR(q, c.expected, 1e-6 * std::fabs(c.expected)) << c.probability << " " << c.df;
    }
}

TEST(EffectSizes, ValuesMatchTheirDefinitions) {
    const Values a = {5.1, 4.9, 6.2, 5.8, 6.0, 5.5, 5.3, 6.1},
                 b = {4.0, 4.5, 5.2, 4.8, 4.1, 3.9, 4.6};
    // numpy: pooled-SD d times Gamma(df/2) / (sqrt(df/2) Gamma((df-1)/2)) (scipy.special.gamma),
    // +- norm.ppf(0.975) sqrt((n1+n2)/(n1 n2) + g^2 / (2 (n1+n2)))
    const Effect g = HedgesG(a, b);
    EXPECT_NEAR(g.value, 2.296515446558279, 1e-9);
    EXPECT_NEAR(g.low, 0.991031439341284, 1e-9);
    EXPECT_NEAR(g.high, 3.6019994537752744, 1e-9);
    EXPECT_NEAR(HedgesG(b, a).value, -g.value, 1e-12);

    // r = 2 U / (n1 n2) - 1 with U from scipy.stats.mannwhitneyu (U = 56.5 of 8 x 9 pairs).
    const Effect r =
        RankBiserial(Values{3, 5, 5, 7, 8, 8, 9, 12}, Values{1, 2, 2, 3, 5, 6, 6, 7, 7});
    EXPECT_NEAR(r.value, 2.0 * 56.5 / 72.0 - 1.0, 1e-12);
    // The half width scipy.stats.norm.ppf(0.975) x 2 sd(U) / 72, sd(U) tie-corrected:
    // sqrt(8 x 9 / 12 x (18 - 72 / (17 x 16))) (four pairs and two triples of ties: 72).
    EXPECT_NEAR(r.value - r.low, 0.561617216854841, 1e-9);
    EXPECT_EQ(r.high, 1.0);  // r + 0.56 cut at 1
    // Complete separation: r = 1, the interval ends at 1 and still has a width.
    const Effect apart = RankBiserial(Values{10, 11, 12, 13}, Values{1, 2, 3, 4});
    EXPECT_EQ(apart.value, 1.0);
    EXPECT_EQ(apart.high, 1.0);
    EXPECT_LT(apart.low, 0.9);
    const Effect below = RankBiserial(Values{1, 2, 3, 4}, Values{10, 11, 12, 13});
    EXPECT_EQ(below.value, -1.0);
    EXPECT_EQ(below.low, -1.0);
    EXPECT_NEAR(below.high, -apart.low, 1e-12);
}

// Over seeded samples of 10 against 10 normal values a shift of 0.8 SD apart, the 95 % CIs
// hold the true effect about 95 % of the time: g's true value 0.8 (its small-sample bias is
// what J corrects), r's 2 Phi(0.8 / sqrt 2) - 1. The rank-biserial CI takes the SE of U under
// no difference, wider than the true SE away from 0: it covers more (about 98 % here), never
// less.
TEST(EffectSizes, ConfidenceIntervalsCoverTheTrueEffect) {
    const double shift = 0.8;
    const double true_r = std::erf(shift / 2.0);  // 2 Phi(shift / sqrt 2) - 1
    std::mt19937 rng(20261208);
    std::normal_distribution<double> noise(0.0, 1.0);
    const int runs = 400;
    int g_holds = 0, r_holds = 0;
    for (int run = 0; run < runs; ++run) {
        Values a(10), b(10);
        for (double& x : a) x = shift + noise(rng);
        for (double& x : b) x = noise(rng);
        const Effect g = HedgesG(a, b), r = RankBiserial(a, b);
        g_holds += g.low <= shift && shift <= g.high;
        r_holds += r.low <= true_r && true_r <= r.high;
    }
    EXPECT_NEAR(g_holds / static_cast<double>(runs), 0.95, 0.03);
    EXPECT_GE(r_holds / static_cast<double>(runs), 0.94);
    EXPECT_LE(r_holds / static_cast<double>(runs), 0.995);
}

TEST(PlateQuality, ZPrimeAndSignalWindowOfADesignedLayout) {
    // Positive controls 10, 12, 14 (mean 12, SD 2), negative 97, 100, 103 (mean 100, SD 3):
    // Z' = 1 - 3 (2 + 3) / 88 = 73/88, the window (88 - 15) / 3 = 73/3.
    const Values positive = {10, kNaN, 12, 14}, negative = {97, 100, 103};
    EXPECT_NEAR(ZPrime(positive, negative), 73.0 / 88.0, 1e-12);
    EXPECT_NEAR(SignalWindow(positive, negative), 73.0 / 3.0, 1e-12);
    // Overlapping controls give a negative Z'.
    EXPECT_NEAR(ZPrime(Values{10, 20, 30}, Values{25, 30, 35}), 1.0 - 3.0 * 15.0 / 10.0, 1e-12);
}

}  // namespace
}  // namespace lumivo::statistics
