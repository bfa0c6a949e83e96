#include "core/reporting/rhythm/periodogram.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "core/statistics/group_tests.h"

namespace lumivo::reporting {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Fewer observed bins than this, or a series without variance, has no periodogram.
constexpr std::size_t kMinObservedBins = 8;

// The observed values of one series, in bin order.
struct Observed {
    std::vector<double> x;  // all bins, 0 where not observed
    double sum = 0.0, sum_squares = 0.0;
    std::size_t n = 0;
    double Variance() const {  // sum of squared deviations from the mean
        return n > 0 ? sum_squares - sum * sum / static_cast<double>(n) : 0.0;
    }
};

Observed Mask(const double* values, std::size_t bins, const std::vector<std::uint8_t>& observed) {
    Observed o;
    o.x.assign(bins, 0.0);
    for (std::size_t i = 0; i < bins; ++i) {
        if (!observed[i] || !std::isfinite(values[i])) continue;
        o.x[i] = values[i];
        o.sum += values[i];
        o.sum_squares += values[i] * values[i];
        ++o.n;
    }
    return o;
}

void ChiSquare(const std::vector<Observed>& in, const std::vector<std::uint8_t>& observed,
               std::size_t bins, PeriodogramSet& set) {
    const std::size_t m = set.period_bins.size();
    std::vector<double> sums;
    std::vector<double> counts;
    for (std::size_t p = 0; p < m; ++p) {
        const auto period = static_cast<std::size_t>(set.period_bins[p]);
        counts.assign(period, 0.0);
        for (std::size_t i = 0; i < bins; ++i)
            if (observed[i]) counts[i % period] += 1.0;
        std::size_t columns = 0;
        for (double c : counts) columns += c > 0.0;
        set.threshold[p] = statistics::ChiSquareQuantile(
            1.0 - set.alpha / static_cast<double>(m),
            static_cast<double>(std::max<std::size_t>(columns, 2) - 1));
        for (std::size_t s = 0; s < in.size(); ++s) {
            const Observed& o = in[s];
            if (!set.series[s].valid) continue;
            sums.assign(period, 0.0);
            const double* x = o.x.data();
            for (std::size_t start = 0; start < bins; start += period) {
                const std::size_t len = std::min(period, bins - start);
                double* out = sums.data();
                const double* from = x + start;
                for (std::size_t j = 0; j < len; ++j) out[j] += from[j];
            }
            double between = 0.0;
            for (std::size_t h = 0; h < period; ++h)
                if (counts[h] > 0.0) between += sums[h] * sums[h] / counts[h];
            const auto n = static_cast<double>(o.n);
            between -= o.sum * o.sum / n;
            set.series[s].power[p] = n * between / o.Variance();
        }
    }
}

void LombScargle(const std::vector<Observed>& in, const std::vector<std::uint8_t>& observed,
                 std::size_t bins, PeriodogramSet& set) {
    const std::size_t m = set.period_bins.size();
    // The line: the highest of m exponentially distributed powers passes z with probability
    // alpha.
    const double z = -std::log(-std::expm1(std::log1p(-set.alpha) / static_cast<double>(m)));
    std::fill(set.threshold.begin(), set.threshold.end(), z);
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < bins; ++i)
        if (observed[i]) at.push_back(i);
    const std::size_t n = at.size();
    std::vector<double> c(n), s(n);
    // Each series' observed values, packed.
    std::vector<std::vector<double>> y(in.size());
    for (std::size_t k = 0; k < in.size(); ++k) {
        if (!set.series[k].valid) continue;
        y[k].resize(n);
        for (std::size_t i = 0; i < n; ++i) y[k][i] = in[k].x[at[i]];
    }
    for (std::size_t p = 0; p < m; ++p) {
        const double w = 2.0 * std::numbers::pi / static_cast<double>(set.period_bins[p]);
        double sum_c = 0.0, sum_s = 0.0, c2 = 0.0, s2 = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            const double t = static_cast<double>(at[i]);
            c[i] = std::cos(w * t);
            s[i] = std::sin(w * t);
            sum_c += c[i];
            sum_s += s[i];
            c2 += c[i] * c[i] - s[i] * s[i];
            s2 += 2.0 * c[i] * s[i];
        }
        // tan(2 w tau) = s2 / c2.
        const double two_tau = std::atan2(s2, c2);
        const double ct = std::cos(two_tau / 2.0), st = std::sin(two_tau / 2.0);
        const double r = std::hypot(c2, s2);
        const double cc = 0.5 * (static_cast<double>(n) + r);
        const double ss = 0.5 * (static_cast<double>(n) - r);
        for (std::size_t k = 0; k < in.size(); ++k) {
            if (!set.series[k].valid) continue;
            const double* v = y[k].data();
            double yc = 0.0, ys = 0.0;
            for (std::size_t i = 0; i < n; ++i) {
                yc += v[i] * c[i];
                ys += v[i] * s[i];
            }
            const double mean = in[k].sum / static_cast<double>(in[k].n);
            yc -= mean * sum_c;
            ys -= mean * sum_s;
            const double a = ct * yc + st * ys;
            const double b = ct * ys - st * yc;
            const double variance = in[k].Variance() / static_cast<double>(in[k].n - 1);
            double power = 0.0;
            if (cc > 0.0) power += a * a / cc;
            if (ss > 1e-9 * static_cast<double>(n)) power += b * b / ss;
            set.series[k].power[p] = power / (2.0 * variance);
        }
    }
}

// The autocorrelation of a series at a lag of `lag` bins over the pairs of observed bins,
// r(k) = [sum d_i d_{i+k} / (pairs + k)] / [sum d_i^2 / n], d the deviations from the mean:
// the usual (biased) estimate for a series without gaps, and what R's acf() gives with
// na.pass for one with gaps.
double Autocorrelation(const Observed& o, const std::vector<std::uint8_t>& observed,
                       std::size_t bins, std::size_t lag, double mean) {
    if (lag >= bins) return kNaN;
    double sum = 0.0;
    std::size_t pairs = 0;
    const double* x = o.x.data();
    for (std::size_t i = 0; i + lag < bins; ++i) {
        if (!observed[i] || !observed[i + lag]) continue;
        sum += (x[i] - mean) * (x[i + lag] - mean);
        ++pairs;
    }
    if (pairs == 0) return kNaN;
    const double n = static_cast<double>(o.n);
    return sum / static_cast<double>(pairs + lag) / (o.Variance() / n);
}

// Each series' autocorrelation at the periods; `edges` gets the autocorrelations one step beyond
// each end of the range, so that a peak at an end can be told from a slope running on.
void AutocorrelationPeriodogram(const std::vector<Observed>& in,
                                const std::vector<std::uint8_t>& observed, std::size_t bins,
                                PeriodogramSet& set,
                                std::vector<std::pair<double, double>>& edges) {
    const std::size_t m = set.period_bins.size();
    const auto step = static_cast<std::size_t>(m > 1 ? set.period_bins[1] - set.period_bins[0] : 1);
    // The line: a series without rhythm has its autocorrelation at a lag within
    // +-z(1 - alpha / 2) / sqrt(N) with probability 1 - alpha (N the observed bins).
    const auto n = static_cast<double>(std::count(observed.begin(), observed.end(), 1));
    const double line = statistics::NormalQuantile(1.0 - set.alpha / 2.0) / std::sqrt(n);
    std::fill(set.threshold.begin(), set.threshold.end(), line);
    edges.assign(in.size(), {kNaN, kNaN});
    const auto lo = static_cast<std::size_t>(set.period_bins.front());
    const auto hi = static_cast<std::size_t>(set.period_bins.back());
    for (std::size_t s = 0; s < in.size(); ++s) {
        if (!set.series[s].valid) continue;
        const Observed& o = in[s];
        const double mean = o.sum / static_cast<double>(o.n);
        for (std::size_t p = 0; p < m; ++p)
            set.series[s].power[p] = Autocorrelation(
                o, observed, bins, static_cast<std::size_t>(set.period_bins[p]), mean);
        edges[s] = {lo > step ? Autocorrelation(o, observed, bins, lo - step, mean) : kNaN,
                    Autocorrelation(o, observed, bins, hi + step, mean)};
    }
}

}  // namespace

std::string_view PeriodogramMethodName(PeriodogramMethod method) {
    switch (method) {
        case PeriodogramMethod::ChiSquare:
            return "chi-square";
        case PeriodogramMethod::LombScargle:
            return "lomb-scargle";
        case PeriodogramMethod::Autocorrelation:
            return "autocorrelation";
    }
    return "chi-square";
}

std::string_view PeakRuleName(PeakRule rule) {
    return rule == PeakRule::MaxPower ? "max-power" : "above-line";
}

std::optional<PeakRule> ParsePeakRule(std::string_view text) {
    if (text == "max-power") return PeakRule::MaxPower;
    if (text == "above-line") return PeakRule::AboveLine;
    return std::nullopt;
}

std::optional<PeriodogramMethod> ParsePeriodogramMethod(std::string_view text) {
    if (text == "chi-square") return PeriodogramMethod::ChiSquare;
    if (text == "lomb-scargle") return PeriodogramMethod::LombScargle;
    if (text == "autocorrelation") return PeriodogramMethod::Autocorrelation;
    return std::nullopt;
}

std::vector<int> PeriodGrid(double bin_minutes, double min_hours, double max_hours,
                            std::size_t bins) {
    std::vector<int> out;
    if (!(bin_minutes > 0.0) || !(max_hours >= min_hours) || !(min_hours > 0.0)) return out;
    const int step =
        std::max(1, static_cast<int>(std::ceil(kPeriodStepMinutes / bin_minutes - 1e-9)));
    const double lo = min_hours * 60.0 / bin_minutes, hi = max_hours * 60.0 / bin_minutes;
    int p = static_cast<int>(std::ceil(lo / step - 1e-9)) * step;
    p = std::max(p, 2);
    for (; p <= hi + 1e-9 && static_cast<std::size_t>(p) <= bins; p += step) out.push_back(p);
    return out;
}

PeriodogramSet ComputePeriodograms(const std::vector<const double*>& series, std::size_t bins,
                                   const std::vector<std::uint8_t>& observed, double bin_minutes,
                                   const PeriodogramOptions& options) {
    PeriodogramSet set;
    set.method = options.method;
    set.peak = options.peak;
    set.alpha = options.alpha;
    set.period_bins = PeriodGrid(bin_minutes, options.min_hours, options.max_hours, bins);
    for (int p : set.period_bins) set.period_hours.push_back(p * bin_minutes / 60.0);
    const std::size_t m = set.period_bins.size();
    set.threshold.assign(m, kNaN);
    std::vector<Observed> in;
    in.reserve(series.size());
    for (const double* v : series) {
        in.push_back(Mask(v, bins, observed));
        Periodogram pg;
        const Observed& o = in.back();
        pg.valid =
            m > 0 && o.n >= kMinObservedBins && o.Variance() > 1e-12 * std::max(1.0, o.sum_squares);
        pg.power.assign(m, kNaN);
        set.series.push_back(std::move(pg));
    }
    if (m == 0) return set;
    std::vector<std::pair<double, double>> edges;
    switch (options.method) {
        case PeriodogramMethod::ChiSquare:
            ChiSquare(in, observed, bins, set);
            break;
        case PeriodogramMethod::LombScargle:
            LombScargle(in, observed, bins, set);
            break;
        case PeriodogramMethod::Autocorrelation:
            AutocorrelationPeriodogram(in, observed, bins, set, edges);
            break;
    }
    // An autocorrelation decays from lag 0 whatever the rhythm, so its peak must be a local
    // maximum: above the period before and not below the one after.
    const bool local = options.method == PeriodogramMethod::Autocorrelation;
    for (std::size_t s = 0; s < set.series.size(); ++s) {
        Periodogram& pg = set.series[s];
        if (!pg.valid) continue;
        auto power_at = [&](std::ptrdiff_t p) {
            if (p < 0) return edges[s].first;
            if (p >= static_cast<std::ptrdiff_t>(m)) return edges[s].second;
            return pg.power[static_cast<std::size_t>(p)];
        };
        double best = -std::numeric_limits<double>::infinity();
        for (std::size_t p = 0; p < m; ++p) {
            const auto at = static_cast<std::ptrdiff_t>(p);
            if (local && (pg.power[p] <= power_at(at - 1) || pg.power[p] < power_at(at + 1)))
                continue;
            const double score =
                options.peak == PeakRule::MaxPower ? pg.power[p] : pg.power[p] - set.threshold[p];
            if (std::isfinite(score) && std::isfinite(set.threshold[p]) && score > best) {
                best = score;
                pg.peak = static_cast<int>(p);
            }
        }
        if (pg.peak < 0) continue;
        const auto k = static_cast<std::size_t>(pg.peak);
        pg.peak_period_h = set.period_hours[k];
        pg.peak_power = pg.power[k];
        pg.peak_threshold = set.threshold[k];
        pg.significant = pg.peak_power > pg.peak_threshold;
    }
    return set;
}

}  // namespace lumivo::reporting
