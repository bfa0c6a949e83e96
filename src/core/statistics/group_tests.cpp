#include "core/statistics/group_tests.h"

#include <algorithm>
#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/fisher_f.hpp>
#include <boost/math/distributions/normal.hpp>
#include <boost/math/distributions/students_t.hpp>
#include <cmath>
#include <numeric>
#include <utility>

namespace lumivo::statistics {

namespace {

// Domain errors (a df of 0, a probability outside [0, 1]) give NaN and overflows infinity
// instead of exceptions: a result that cannot be computed holds NaN.
using Policy = boost::math::policies::policy<
    boost::math::policies::domain_error<boost::math::policies::ignore_error>,
    boost::math::policies::pole_error<boost::math::policies::ignore_error>,
    boost::math::policies::overflow_error<boost::math::policies::ignore_error>,
    boost::math::policies::evaluation_error<boost::math::policies::ignore_error>>;
using Normal = boost::math::normal_distribution<double, Policy>;
using StudentT = boost::math::students_t_distribution<double, Policy>;
using FisherF = boost::math::fisher_f_distribution<double, Policy>;
using ChiSquared = boost::math::chi_squared_distribution<double, Policy>;

// The upper tail P(X > x) of a distribution; NaN for a NaN statistic.
template <class Distribution>
double UpperTail(const Distribution& distribution, double x) {
    if (std::isnan(x)) return kNoValue;
    return boost::math::cdf(boost::math::complement(distribution, x));
}

double NormalUpperTail(double z) {
    return UpperTail(Normal(0.0, 1.0), z);
}

std::vector<double> Observed(std::span<const double> values) {
    std::vector<double> out;
    out.reserve(values.size());
    for (double v : values)
        if (!std::isnan(v)) out.push_back(v);
    return out;
}

struct Moments {
    double n = 0.0, mean = kNoValue, variance = kNoValue;  // the sample variance (n - 1)
};

Moments MomentsOf(const std::vector<double>& v) {
    Moments m;
    m.n = static_cast<double>(v.size());
    if (v.empty()) return m;
    m.mean = std::accumulate(v.begin(), v.end(), 0.0) / m.n;
    if (v.size() < 2) return m;
    double ss = 0.0;
    for (double x : v) ss += (x - m.mean) * (x - m.mean);
    m.variance = ss / (m.n - 1.0);
    return m;
}

// Mid-ranks (1-based, ties sharing their mean rank) of the pooled values, and the tie term
// sum(t^3 - t) over the groups of equal values.
struct Ranks {
    std::vector<double> rank;
    double tie_term = 0.0;
};

Ranks RankPooled(const std::vector<double>& pooled) {
    Ranks r;
    const std::size_t n = pooled.size();
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(),
              [&](std::size_t i, std::size_t j) { return pooled[i] < pooled[j]; });
    r.rank.assign(n, 0.0);
    for (std::size_t i = 0; i < n;) {
        std::size_t j = i + 1;
        while (j < n && pooled[order[j]] == pooled[order[i]]) ++j;
        const double mid = (static_cast<double>(i + 1) + static_cast<double>(j)) / 2.0;
        for (std::size_t k = i; k < j; ++k) r.rank[order[k]] = mid;
        const auto t = static_cast<double>(j - i);
        r.tie_term += t * t * t - t;
        i = j;
    }
    return r;
}

// The groups with at least one observed value.
std::vector<std::vector<double>> ObservedGroups(const std::vector<std::vector<double>>& groups) {
    std::vector<std::vector<double>> out;
    for (const auto& g : groups) {
        std::vector<double> v = Observed(g);
        if (!v.empty()) out.push_back(std::move(v));
    }
    return out;
}

// The exact null distribution of U is used when there are no ties and it can be counted exactly
// and quickly: every count of arrangements, up to C(n1 + n2, n1), is an integer a double holds
// exactly (at most 2^53: both samples up to 25 values, or a small one beside a large one), and
// the table of U has at most 10 000 entries (built in min(n1, n2) passes). Beyond that, where
// both samples are larger, the normal approximation with the continuity correction is within
// a few thousandths of the exact p-value (at most 0.007 found, for 8 against 320 values).
constexpr double kMaxExactCount = 9007199254740992.0;  // 2^53
constexpr std::size_t kMaxExactTable = 10000;

bool ExactCountable(std::size_t n1, std::size_t n2) {
    if (n1 * n2 > kMaxExactTable) return false;
    const std::size_t k = std::min(n1, n2), n = n1 + n2;
    double count = 1.0;  // C(n, i) for i = 1..k, each an integer
    for (std::size_t i = 1; i <= k; ++i) {
        count = count * static_cast<double>(n - k + i) / static_cast<double>(i);
        if (count > kMaxExactCount) return false;
    }
    return true;
}

// P(U >= u) under no difference for samples of n1 and n2 values without ties. The number of
// arrangements with U = k is the coefficient of q^k of the Gaussian binomial coefficient
// prod_{i=1..n1} (1 - q^(n2+i)) / (1 - q^i), built factor by factor (each partial product is
// again a polynomial with integer coefficients).
double ExactUpperTail(std::size_t n1, std::size_t n2, double u) {
    if (n1 > n2) std::swap(n1, n2);  // the same distribution, in fewer passes
    const std::size_t top = n1 * n2;
    std::vector<double> c{1.0};
    c.resize(top + 1, 0.0);
    for (std::size_t i = 1; i <= n1; ++i) {
        const std::size_t up = n2 + i;
        for (std::size_t k = top; k >= up; --k) c[k] -= c[k - up];  // x (1 - q^(n2+i))
        for (std::size_t k = i; k <= top; ++k) c[k] += c[k - i];    // / (1 - q^i)
    }
    const double total = std::accumulate(c.begin(), c.end(), 0.0);
    const auto from = static_cast<std::size_t>(std::ceil(u));
    double tail = 0.0;
    for (std::size_t k = from; k <= top; ++k) tail += c[k];
    return tail / total;
}

struct UStatistic {
    double u = kNoValue;  // U of a
    double n1 = 0.0, n2 = 0.0, tie_term = 0.0;
    bool any_ties = false;
};

UStatistic UOf(const std::vector<double>& a, const std::vector<double>& b) {
    UStatistic s;
    s.n1 = static_cast<double>(a.size());
    s.n2 = static_cast<double>(b.size());
    if (a.empty() || b.empty()) return s;
    std::vector<double> pooled = a;
    pooled.insert(pooled.end(), b.begin(), b.end());
    const Ranks r = RankPooled(pooled);
    const double rank_sum_a = std::accumulate(r.rank.begin(), r.rank.begin() + std::ssize(a), 0.0);
    s.u = rank_sum_a - s.n1 * (s.n1 + 1.0) / 2.0;
    s.tie_term = r.tie_term;
    s.any_ties = r.tie_term > 0.0;
    return s;
}

// The variance of U under no difference, with the tie correction.
double UVariance(const UStatistic& s) {
    const double n = s.n1 + s.n2;
    return s.n1 * s.n2 / 12.0 * ((n + 1.0) - s.tie_term / (n * (n - 1.0)));
}

}  // namespace

Summary Summarise(std::span<const double> values) {
    std::vector<double> v = Observed(values);
    Summary s;
    s.n = v.size();
    if (v.empty()) return s;
    const Moments m = MomentsOf(v);
    s.mean = m.mean;
    // The middle value, or the mean of the two middle values (the largest of the lower half).
    const auto half = v.begin() + std::ssize(v) / 2;
    std::nth_element(v.begin(), half, v.end());
    s.median = *half;
    if (v.size() % 2 == 0) s.median = (s.median + *std::max_element(v.begin(), half)) / 2.0;
    if (v.size() < 2) return s;
    s.sd = std::sqrt(m.variance);
    s.se = s.sd / std::sqrt(m.n);
    const double t = StudentTQuantile(0.975, m.n - 1.0);
    s.ci_low = s.mean - t * s.se;
    s.ci_high = s.mean + t * s.se;
    return s;
}

TestResult WelchT(std::span<const double> a, std::span<const double> b) {
    const Moments ma = MomentsOf(Observed(a)), mb = MomentsOf(Observed(b));
    TestResult r;
    if (ma.n < 2.0 || mb.n < 2.0) return r;
    const double qa = ma.variance / ma.n, qb = mb.variance / mb.n;
    const double se2 = qa + qb;
    if (!(se2 > 0.0)) return r;
    r.statistic = (ma.mean - mb.mean) / std::sqrt(se2);
    r.df = se2 * se2 / (qa * qa / (ma.n - 1.0) + qb * qb / (mb.n - 1.0));
    r.p = std::min(1.0, 2.0 * UpperTail(StudentT(r.df), std::fabs(r.statistic)));
    return r;
}

TestResult MannWhitney(std::span<const double> a, std::span<const double> b) {
    const std::vector<double> va = Observed(a), vb = Observed(b);
    const UStatistic s = UOf(va, vb);
    TestResult r;
    if (va.empty() || vb.empty()) return r;
    r.statistic = s.u;
    // The two-sided p-value doubles the upper tail of the larger of U and n1 n2 - U.
    const double u_max = std::max(s.u, s.n1 * s.n2 - s.u);
    if (!s.any_ties && ExactCountable(va.size(), vb.size())) {
        r.exact = true;
        r.p = std::min(1.0, 2.0 * ExactUpperTail(va.size(), vb.size(), u_max));
        return r;
    }
    const double variance = UVariance(s);
    if (!(variance > 0.0)) return r;  // every value equal: no ordering to test
    const double z = (u_max - s.n1 * s.n2 / 2.0 - 0.5) / std::sqrt(variance);
    r.p = std::min(1.0, 2.0 * NormalUpperTail(z));
    return r;
}

TestResult OneWayAnova(const std::vector<std::vector<double>>& groups) {
    const auto observed = ObservedGroups(groups);
    TestResult r;
    const auto k = static_cast<double>(observed.size());
    double n = 0.0, sum = 0.0;
    for (const auto& g : observed) {
        n += static_cast<double>(g.size());
        sum += std::accumulate(g.begin(), g.end(), 0.0);
    }
    if (k < 2.0 || n <= k) return r;
    const double grand = sum / n;
    double between = 0.0, within = 0.0;
    for (const auto& g : observed) {
        const Moments m = MomentsOf(g);
        between += m.n * (m.mean - grand) * (m.mean - grand);
        for (double x : g) within += (x - m.mean) * (x - m.mean);
    }
    if (!(within > 0.0)) return r;
    r.df = k - 1.0;
    r.df2 = n - k;
    r.statistic = (between / r.df) / (within / r.df2);
    r.p = UpperTail(FisherF(r.df, r.df2), r.statistic);
    return r;
}

TestResult WelchAnova(const std::vector<std::vector<double>>& groups) {
    const auto observed = ObservedGroups(groups);
    TestResult r;
    const auto k = static_cast<double>(observed.size());
    if (k < 2.0) return r;
    std::vector<Moments> m;
    for (const auto& g : observed) {
        m.push_back(MomentsOf(g));
        // Every group needs a variance of its own for its weight n / s^2.
        if (!(m.back().n >= 2.0 && m.back().variance > 0.0)) return r;
    }
    double w_sum = 0.0, weighted_mean = 0.0;
    for (const Moments& g : m) {
        w_sum += g.n / g.variance;
        weighted_mean += g.n / g.variance * g.mean;
    }
    weighted_mean /= w_sum;
    double a = 0.0, lambda = 0.0;
    for (const Moments& g : m) {
        const double w = g.n / g.variance;
        a += w * (g.mean - weighted_mean) * (g.mean - weighted_mean);
        lambda += (1.0 - w / w_sum) * (1.0 - w / w_sum) / (g.n - 1.0);
    }
    a /= k - 1.0;
    const double b = 1.0 + 2.0 * (k - 2.0) / (k * k - 1.0) * lambda;
    r.statistic = a / b;
    r.df = k - 1.0;
    r.df2 = (k * k - 1.0) / (3.0 * lambda);
    r.p = UpperTail(FisherF(r.df, r.df2), r.statistic);
    return r;
}

TestResult KruskalWallis(const std::vector<std::vector<double>>& groups) {
    const auto observed = ObservedGroups(groups);
    TestResult r;
    if (observed.size() < 2) return r;
    std::vector<double> pooled;
    for (const auto& g : observed) pooled.insert(pooled.end(), g.begin(), g.end());
    const Ranks ranks = RankPooled(pooled);
    const auto n = static_cast<double>(pooled.size());
    const double correction = 1.0 - ranks.tie_term / (n * n * n - n);
    if (!(correction > 0.0)) return r;  // every value equal
    double h = 0.0;
    std::size_t at = 0;
    for (const auto& g : observed) {
        double rank_sum = 0.0;
        for (std::size_t i = 0; i < g.size(); ++i) rank_sum += ranks.rank[at + i];
        at += g.size();
        h += rank_sum * rank_sum / static_cast<double>(g.size());
    }
    h = 12.0 / (n * (n + 1.0)) * h - 3.0 * (n + 1.0);
    r.statistic = h / correction;
    r.df = static_cast<double>(observed.size()) - 1.0;
    r.p = UpperTail(ChiSquared(r.df), r.statistic);
    return r;
}

std::string_view AdjustmentName(Adjustment adjustment) {
    switch (adjustment) {
        case Adjustment::Holm:
            return "holm";
        case Adjustment::BenjaminiHochberg:
            return "bh";
        case Adjustment::None:
            break;
    }
    return "none";
}

std::vector<double> AdjustPValues(std::span<const double> p, Adjustment adjustment) {
    std::vector<double> out(p.begin(), p.end());
    if (adjustment == Adjustment::None) return out;
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < p.size(); ++i)
        if (!std::isnan(p[i])) order.push_back(i);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t i, std::size_t j) { return p[i] < p[j]; });
    const auto m = static_cast<double>(order.size());
    if (adjustment == Adjustment::Holm) {
        // Step down: the j-th smallest (from 0) times m - j, kept non-decreasing.
        double running = 0.0;
        for (std::size_t j = 0; j < order.size(); ++j) {
            const double scaled = std::min(1.0, (m - static_cast<double>(j)) * p[order[j]]);
            running = std::max(running, scaled);
            out[order[j]] = running;
        }
    } else {
        // Step up: the j-th smallest (from 1) times m / j, kept non-increasing from the top.
        double running = 1.0;
        for (std::size_t j = order.size(); j-- > 0;) {
            const double scaled = std::min(1.0, m / static_cast<double>(j + 1) * p[order[j]]);
            running = std::min(running, scaled);
            out[order[j]] = running;
        }
    }
    return out;
}

// Hedges' g: Cohen's d on the pooled SD times the exact small-sample correction
// J = Gamma(df/2) / (sqrt(df/2) Gamma((df-1)/2)), df = n1 + n2 - 2. Its CI is the large-sample
// one of Hedges & Olkin: g +- z(0.975) x sqrt((n1 + n2) / (n1 n2) + g^2 / (2 (n1 + n2))).
Effect HedgesG(std::span<const double> a, std::span<const double> b) {
    const Moments ma = MomentsOf(Observed(a)), mb = MomentsOf(Observed(b));
    Effect e;
    if (ma.n < 2.0 || mb.n < 2.0) return e;
    const double df = ma.n + mb.n - 2.0;
    const double pooled = ((ma.n - 1.0) * ma.variance + (mb.n - 1.0) * mb.variance) / df;
    if (!(pooled > 0.0)) return e;
    const double j =
        std::exp(std::lgamma(df / 2.0) - std::lgamma((df - 1.0) / 2.0)) / std::sqrt(df / 2.0);
    e.value = j * (ma.mean - mb.mean) / std::sqrt(pooled);
    const double n = ma.n + mb.n;
    const double se = std::sqrt(n / (ma.n * mb.n) + e.value * e.value / (2.0 * n));
    const double z = NormalQuantile(0.975);
    e.low = e.value - z * se;
    e.high = e.value + z * se;
    return e;
}

// r = 2 U / (n1 n2) - 1 (= 1 - 2 U_b / (n1 n2)), U of a. Its CI is the normal one on the SE
// of U under no difference (tie-corrected, as in the test) carried to r,
// r +- z(0.975) x 2 sd(U) / (n1 n2), cut to [-1, 1]. That SE is the largest U has, so away from
// r = 0 the interval is on the safe side (wider); it keeps a width at complete separation. (On
// Fisher's z scale the same SE covers far too rarely for large effects.)
Effect RankBiserial(std::span<const double> a, std::span<const double> b) {
    const std::vector<double> va = Observed(a), vb = Observed(b);
    const UStatistic s = UOf(va, vb);
    Effect e;
    if (va.empty() || vb.empty()) return e;
    const double pairs = s.n1 * s.n2;
    e.value = 2.0 * s.u / pairs - 1.0;
    const double variance = UVariance(s);
    if (!(variance > 0.0)) return e;
    const double half_width = NormalQuantile(0.975) * 2.0 * std::sqrt(variance) / pairs;
    e.low = std::max(-1.0, e.value - half_width);
    e.high = std::min(1.0, e.value + half_width);
    return e;
}

double ZPrime(std::span<const double> positive, std::span<const double> negative) {
    const Moments p = MomentsOf(Observed(positive)), n = MomentsOf(Observed(negative));
    if (p.n < 2.0 || n.n < 2.0) return kNoValue;
    const double separation = std::fabs(p.mean - n.mean);
    if (!(separation > 0.0)) return kNoValue;
    return 1.0 - 3.0 * (std::sqrt(p.variance) + std::sqrt(n.variance)) / separation;
}

double SignalWindow(std::span<const double> positive, std::span<const double> negative) {
    const Moments p = MomentsOf(Observed(positive)), n = MomentsOf(Observed(negative));
    if (p.n < 2.0 || n.n < 2.0) return kNoValue;
    const double sd_negative = std::sqrt(n.variance);
    if (!(sd_negative > 0.0)) return kNoValue;
    return (std::fabs(p.mean - n.mean) - 3.0 * (std::sqrt(p.variance) + sd_negative)) / sd_negative;
}

double ChiSquareQuantile(double probability, double df) {
    if (!(df > 0.0) || !(probability >= 0.0 && probability <= 1.0)) return kNoValue;
    return boost::math::quantile(ChiSquared(df), probability);
}

double StudentTQuantile(double probability, double df) {
    if (!(df > 0.0) || !(probability >= 0.0 && probability <= 1.0)) return kNoValue;
    return boost::math::quantile(StudentT(df), probability);
}

double NormalQuantile(double probability) {
    if (!(probability >= 0.0 && probability <= 1.0)) return kNoValue;
    return boost::math::quantile(Normal(), probability);
}

double FUpperTail(double f, double df1, double df2) {
    if (!(df1 > 0.0) || !(df2 > 0.0) || std::isnan(f)) return kNoValue;
    if (f <= 0.0) return 1.0;
    return UpperTail(FisherF(df1, df2), f);
}

}  // namespace lumivo::statistics
