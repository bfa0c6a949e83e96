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

// The autocorrelations of the series around the range of periods: `raw` at the lags from `reach`
// steps before the range to `reach` after it; `smooth` the curve the peak is looked for on, the
// raw one smoothed by a centred mean over +-1 h of lags, at the periods and one step beyond each
// end (entries 0 and m + 1). The estimate at single lags of a noisy series scatters by about
// 1 / sqrt(N) from lag to lag, enough to move the highest point of a broad peak by far more
// than the 0.1 h the periods are apart; the mean over neighbouring lags keeps a symmetric peak
// where it is.
struct AcfCurves {
    int reach = 0, step = 1, half = 0;  // half: the steps of the smoothing's half width
    std::vector<std::vector<double>> raw, smooth;
};

AcfCurves AutocorrelationPeriodogram(const std::vector<Observed>& in,
                                     const std::vector<std::uint8_t>& observed, std::size_t bins,
                                     double bin_minutes, PeriodogramSet& set) {
    AcfCurves out;
    const std::size_t m = set.period_bins.size();
    out.step = m > 1 ? set.period_bins[1] - set.period_bins[0] : 1;
    // The line: a series without rhythm has its autocorrelation at a lag within
    // +-z(1 - a / 2) / sqrt(N) with probability 1 - a (N the observed bins); as for the other
    // periodograms, alpha is shared among the m periods tried (a = alpha / m), or a random
    // series would pass the line somewhere in the range nearly always.
    const auto n = static_cast<double>(std::count(observed.begin(), observed.end(), 1));
    const double line =
        statistics::NormalQuantile(1.0 - set.alpha / (2.0 * static_cast<double>(m))) / std::sqrt(n);
    std::fill(set.threshold.begin(), set.threshold.end(), line);
    const double step_minutes = bin_minutes * out.step;
    out.half = static_cast<int>(std::floor(60.0 / step_minutes + 1e-9));
    // Enough lags beyond the range for the smoothing and for RefinePeak's +-3 h.
    out.reach = std::max(out.half + 1, static_cast<int>(std::ceil(180.0 / step_minutes - 1e-9)));
    const int first = set.period_bins.front() - out.reach * out.step;
    const std::size_t lags = m + 2 * static_cast<std::size_t>(out.reach);
    out.raw.assign(in.size(), std::vector<double>(lags, kNaN));
    out.smooth.assign(in.size(), std::vector<double>(m + 2, kNaN));
    for (std::size_t s = 0; s < in.size(); ++s) {
        if (!set.series[s].valid) continue;
        const Observed& o = in[s];
        const double mean = o.sum / static_cast<double>(o.n);
        std::vector<double>& acf = out.raw[s];
        for (std::size_t j = 0; j < lags; ++j) {
            const int lag = first + static_cast<int>(j) * out.step;
            if (lag >= 1)
                acf[j] = Autocorrelation(o, observed, bins, static_cast<std::size_t>(lag), mean);
        }
        const auto reach = static_cast<std::size_t>(out.reach);
        for (std::size_t p = 0; p < m; ++p) set.series[s].power[p] = acf[p + reach];
        for (std::size_t c = 0; c < m + 2; ++c) {
            const int centre = static_cast<int>(c) + out.reach - 1;  // index into acf
            double sum = 0.0;
            int count = 0;
            for (int j = centre - out.half; j <= centre + out.half; ++j) {
                if (j < 0 || j >= static_cast<int>(lags)) continue;
                const double v = acf[static_cast<std::size_t>(j)];
                if (!std::isfinite(v)) continue;
                sum += v;
                ++count;
            }
            if (count > 0) out.smooth[s][c] = sum / count;
        }
    }
    return out;
}

// The period of an autocorrelation peak between the periods tried: the vertex of a parabola
// fitted by least squares to the raw autocorrelations within +-3 h of the peak, moved to the
// vertex and fitted again (three times at most). The peak period itself when the parabola does
// not open downwards or its vertex leaves the window.
double RefinePeak(const std::vector<double>& raw, const AcfCurves& curves, std::size_t peak,
                  double period_h, double bin_minutes) {
    const double step_h = curves.step * bin_minutes / 60.0;
    const int window = static_cast<int>(std::floor(3.0 / step_h + 1e-9));
    if (window < 2) return period_h;
    const int start = static_cast<int>(peak) + curves.reach;  // the peak's index into raw
    int index = start;
    auto hours = [&](int at) { return period_h + (at - start) * step_h; };
    for (int round = 0; round < 3; ++round) {
        // Sums of x^k and x^k y over the window, x in hours from the window's centre.
        double sx[5] = {}, sy[3] = {};
        for (int j = index - window; j <= index + window; ++j) {
            if (j < 0 || j >= static_cast<int>(raw.size())) continue;
            const double y = raw[static_cast<std::size_t>(j)];
            if (!std::isfinite(y)) continue;
            const double x = (j - index) * step_h;
            double xk = 1.0;
            for (int k = 0; k < 5; ++k) {
                sx[k] += xk;
                if (k < 3) sy[k] += xk * y;
                xk *= x;
            }
        }
        // The normal equations of y = a + b x + c x^2, by Cramer's rule.
        const double m[3][3] = {
            {sx[0], sx[1], sx[2]}, {sx[1], sx[2], sx[3]}, {sx[2], sx[3], sx[4]}};
        auto det = [](const double a[3][3]) {
            return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                   a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                   a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
        };
        const double d = det(m);
        if (!(std::abs(d) > 0.0)) return hours(index);
        double mb[3][3], mc[3][3];
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) {
                mb[r][c] = c == 1 ? sy[r] : m[r][c];
                mc[r][c] = c == 2 ? sy[r] : m[r][c];
            }
        const double b = det(mb) / d, c = det(mc) / d;
        if (!(c < 0.0)) return hours(index);
        const double vertex = -b / (2.0 * c);
        if (std::abs(vertex) > window * step_h) return hours(index);
        const int moved = static_cast<int>(std::lround(vertex / step_h));
        if (moved == 0 || round == 2) return hours(index) + vertex;
        index += moved;
    }
    return hours(index);
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
    AcfCurves curves;
    switch (options.method) {
        case PeriodogramMethod::ChiSquare:
            ChiSquare(in, observed, bins, set);
            break;
        case PeriodogramMethod::LombScargle:
            LombScargle(in, observed, bins, set);
            break;
        case PeriodogramMethod::Autocorrelation:
            curves = AutocorrelationPeriodogram(in, observed, bins, bin_minutes, set);
            break;
    }
    // An autocorrelation decays from lag 0 whatever the rhythm, so its peak must be a local
    // maximum of its smoothed curve: above the period before and not below the one after.
    const bool local = options.method == PeriodogramMethod::Autocorrelation;
    for (std::size_t s = 0; s < set.series.size(); ++s) {
        Periodogram& pg = set.series[s];
        if (!pg.valid) continue;
        double best = -std::numeric_limits<double>::infinity();
        for (std::size_t p = 0; p < m; ++p) {
            double power = pg.power[p];
            if (local) {
                const std::vector<double>& c = curves.smooth[s];
                power = c[p + 1];
                if (power <= c[p] || power < c[p + 2]) continue;
            }
            const double score =
                options.peak == PeakRule::MaxPower ? power : power - set.threshold[p];
            if (std::isfinite(score) && std::isfinite(set.threshold[p]) && score > best) {
                best = score;
                pg.peak = static_cast<int>(p);
            }
        }
        if (pg.peak < 0) continue;
        const auto k = static_cast<std::size_t>(pg.peak);
        pg.peak_period_h = set.period_hours[k];
        if (local)
            pg.peak_period_h = RefinePeak(curves.raw[s], curves, k, pg.peak_period_h, bin_minutes);
        pg.peak_power = pg.power[k];
        pg.peak_threshold = set.threshold[k];
        pg.significant = pg.peak_power > pg.peak_threshold;
    }
    return set;
}

}  // namespace lumivo::reporting
