#include "core/reporting/rhythm/circadian.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "core/statistics/group_tests.h"

namespace lumivo::reporting {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kTwoPi = 2.0 * std::numbers::pi;

double Wrap(double x, double period) {
    const double r = std::fmod(x, period);
    return r < 0.0 ? r + period : r;
}

bool Usable(const double* values, const std::vector<std::uint8_t>& observed, std::size_t k) {
    return observed[k] != 0 && std::isfinite(values[k]);
}

// The inverse of a symmetric 3 x 3 matrix; false when it is singular.
bool Invert3(const double a[3][3], double out[3][3]) {
    const double c00 = a[1][1] * a[2][2] - a[1][2] * a[2][1];
    const double c01 = a[1][2] * a[2][0] - a[1][0] * a[2][2];
    const double c02 = a[1][0] * a[2][1] - a[1][1] * a[2][0];
    const double det = a[0][0] * c00 + a[0][1] * c01 + a[0][2] * c02;
    const double scale = std::abs(a[0][0] * a[1][1] * a[2][2]);
    if (!(std::abs(det) > 1e-12 * scale)) return false;
    out[0][0] = c00 / det;
    out[0][1] = out[1][0] = c01 / det;
    out[0][2] = out[2][0] = c02 / det;
    out[1][1] = (a[0][0] * a[2][2] - a[0][2] * a[2][0]) / det;
    out[1][2] = out[2][1] = (a[0][2] * a[1][0] - a[0][0] * a[1][2]) / det;
    out[2][2] = (a[0][0] * a[1][1] - a[0][1] * a[1][0]) / det;
    return true;
}

}  // namespace

double CosinorFit::At(double hours) const {
    const double w = kTwoPi / period_h;
    return mesor + beta * std::cos(w * hours) + gamma * std::sin(w * hours);
}

double ZeitgeberHours(double hour_of_day, double lights_on_hour) {
    if (!std::isfinite(hour_of_day) || !std::isfinite(lights_on_hour)) return kNaN;
    return Wrap(hour_of_day - lights_on_hour, 24.0);
}

CosinorFit FitCosinor(const double* values, std::size_t bins,
                      const std::vector<std::uint8_t>& observed, double bin_minutes,
                      double period_hours, double reference_minute) {
    CosinorFit fit;
    fit.period_h = period_hours;
    if (!(period_hours > 0.0)) {
        fit.why = "no period to fit";
        return fit;
    }
    const double w = kTwoPi / period_hours;
    auto hours_of = [&](std::size_t k) {
        return ((static_cast<double>(k) + 0.5) * bin_minutes - reference_minute) / 60.0;
    };
    double xtx[3][3] = {}, xty[3] = {};
    double first = kNaN, last = kNaN, sum = 0.0;
    for (std::size_t k = 0; k < bins; ++k) {
        if (!Usable(values, observed, k)) continue;
        const double t = hours_of(k), c = std::cos(w * t), s = std::sin(w * t), y = values[k];
        const double x[3] = {1.0, c, s};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) xtx[i][j] += x[i] * x[j];
            xty[i] += x[i] * y;
        }
        if (std::isnan(first)) first = t;
        last = t;
        sum += y;
        ++fit.n;
    }
    if (fit.n < 4) {
        fit.why = "fewer than 4 observed bins";
        return fit;
    }
    if (last - first + bin_minutes / 60.0 < period_hours) {
        fit.why = "the recording covers less than one period";
        return fit;
    }
    double inv[3][3];
    if (!Invert3(xtx, inv)) {
        fit.why = "the bins do not determine a cosine";
        return fit;
    }
    double coef[3] = {};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) coef[i] += inv[i][j] * xty[j];
    fit.mesor = coef[0];
    fit.beta = coef[1];
    fit.gamma = coef[2];
    const double mean = sum / fit.n;
    double rss = 0.0, sst = 0.0;
    for (std::size_t k = 0; k < bins; ++k) {
        if (!Usable(values, observed, k)) continue;
        const double e = values[k] - fit.At(hours_of(k));
        rss += e * e;
        sst += (values[k] - mean) * (values[k] - mean);
    }
    if (!(sst > 1e-12 * std::max(1.0, mean * mean * fit.n))) {
        fit.why = "no variation to fit";
        return fit;
    }
    fit.valid = true;
    const double df = fit.n - 3.0;
    const double sigma2 = rss / df;
    const double ssm = std::max(0.0, sst - rss);
    fit.r2 = ssm / sst;
    fit.f = rss > 0.0 ? (ssm / 2.0) / sigma2 : std::numeric_limits<double>::infinity();
    fit.p = rss > 0.0 ? statistics::FUpperTail(fit.f, 2.0, df) : 0.0;

    const double b = fit.beta, g = fit.gamma;
    fit.amplitude = std::hypot(b, g);
    const double phase = std::atan2(g, b);  // the peak is at w t = phase
    fit.acrophase_h = Wrap(phase / w, period_hours);
    const double t975 = statistics::StudentTQuantile(0.975, df);
    const double c11 = sigma2 * inv[1][1], c12 = sigma2 * inv[1][2], c22 = sigma2 * inv[2][2];
    const double se_m = std::sqrt(sigma2 * inv[0][0]);
    fit.mesor_lo = fit.mesor - t975 * se_m;
    fit.mesor_hi = fit.mesor + t975 * se_m;
    const double a2 = fit.amplitude * fit.amplitude;
    if (a2 > 0.0) {
        const double se_a =
            std::sqrt(std::max(0.0, (b * b * c11 + 2 * b * g * c12 + g * g * c22) / a2));
        fit.amplitude_lo = std::max(0.0, fit.amplitude - t975 * se_a);
        fit.amplitude_hi = fit.amplitude + t975 * se_a;
        const double se_phase =
            std::sqrt(std::max(0.0, (g * g * c11 - 2 * b * g * c12 + b * b * c22) / (a2 * a2)));
        const double half = t975 * se_phase / w;  // hours
        if (fit.p < 0.05 && half < period_hours / 2.0) {
            fit.acrophase_lo_h = Wrap(fit.acrophase_h - half, period_hours);
            fit.acrophase_hi_h = Wrap(fit.acrophase_h + half, period_hours);
        } else {
            fit.acrophase_lo_h = fit.acrophase_hi_h = kNaN;
        }
    } else {
        fit.amplitude_lo = 0.0;
        fit.amplitude_hi = kNaN;
        fit.acrophase_h = fit.acrophase_lo_h = fit.acrophase_hi_h = kNaN;
    }
    return fit;
}

RestActivity RestActivityIndices(const double* values, std::size_t bins,
                                 const std::vector<std::uint8_t>& observed, double bin_minutes,
                                 double start_minute_of_day) {
    RestActivity r;
    const double per_hour = 60.0 / bin_minutes;
    if (!(bin_minutes > 0.0) || std::abs(per_hour - std::round(per_hour)) > 1e-9) {
        r.why = "the indices need bins that divide an hour (60, 30, 20, 15, 10 ... minutes)";
        return r;
    }
    const auto hour = static_cast<std::size_t>(std::llround(per_hour));
    const std::size_t slots = 24 * hour;
    std::vector<double> slot_sum(slots, 0.0);
    std::vector<std::size_t> slot_n(slots, 0);
    double sum = 0.0;
    std::size_t n = 0;
    for (std::size_t k = 0; k < bins; ++k) {
        if (!Usable(values, observed, k)) continue;
        slot_sum[k % slots] += values[k];
        ++slot_n[k % slots];
        sum += values[k];
        ++n;
    }
    r.days = static_cast<double>(n) / static_cast<double>(slots);
    if (bins < 2 * slots) {
        r.why = "fewer than two days recorded";
        return r;
    }
    if (std::find(slot_n.begin(), slot_n.end(), std::size_t{0}) != slot_n.end()) {
        r.why = "some time of day is never observed";
        return r;
    }
    const double mean = sum / static_cast<double>(n);
    double total = 0.0, steps = 0.0;
    std::size_t pairs = 0;
    for (std::size_t k = 0; k < bins; ++k) {
        if (!Usable(values, observed, k)) continue;
        total += (values[k] - mean) * (values[k] - mean);
        if (k > 0 && Usable(values, observed, k - 1)) {
            steps += (values[k] - values[k - 1]) * (values[k] - values[k - 1]);
            ++pairs;
        }
    }
    if (!(total > 0.0)) {
        r.why = "no variation";
        return r;
    }
    std::vector<double> profile(slots);
    double between = 0.0;
    for (std::size_t h = 0; h < slots; ++h) {
        profile[h] = slot_sum[h] / static_cast<double>(slot_n[h]);
        between += (profile[h] - mean) * (profile[h] - mean);
    }
    const auto nd = static_cast<double>(n);
    r.is = nd * between / (static_cast<double>(slots) * total);
    r.iv = pairs > 0 ? nd * steps / (static_cast<double>(pairs) * total) : kNaN;

    // The highest 10 and lowest 5 consecutive hours of the average day, going round midnight.
    auto window = [&](std::size_t length, bool highest, double& best, std::size_t& at) {
        double s = 0.0;
        for (std::size_t j = 0; j < length; ++j) s += profile[j];
        best = s;
        at = 0;
        for (std::size_t i = 1; i < slots; ++i) {
            s += profile[(i + length - 1) % slots] - profile[i - 1];
            if (highest ? s > best + 1e-12 : s < best - 1e-12) {
                best = s;
                at = i;
            }
        }
        best /= static_cast<double>(length);
    };
    std::size_t m10_at = 0, l5_at = 0;
    window(10 * hour, true, r.m10, m10_at);
    window(5 * hour, false, r.l5, l5_at);
    r.ra = r.m10 + r.l5 > 0.0 ? (r.m10 - r.l5) / (r.m10 + r.l5) : kNaN;
    auto time_of_day = [&](std::size_t slot) {
        return Wrap(start_minute_of_day + static_cast<double>(slot) * bin_minutes, 1440.0) / 60.0;
    };
    r.m10_onset_h = time_of_day(m10_at);
    r.l5_onset_h = time_of_day(l5_at);
    r.first_slot_h = time_of_day(0);
    r.slot_hours = bin_minutes / 60.0;
    r.profile = std::move(profile);
    r.valid = true;
    return r;
}

PhaseMarkers FindPhaseMarkers(const double* values, std::size_t bins,
                              const std::vector<std::uint8_t>& observed, double bin_minutes,
                              double origin, double day_minutes, int rows, double smooth_hours) {
    PhaseMarkers out;
    out.period_h = out.period_lo_h = out.period_hi_h = kNaN;
    // The smoothed series: the mean of the observed bins within half the window either side,
    // only at observed bins.
    const auto half = static_cast<std::size_t>(
        std::max(0.0, std::round(smooth_hours * 60.0 / bin_minutes / 2.0 - 0.5 + 1e-9)));
    std::vector<double> prefix(bins + 1, 0.0), count(bins + 1, 0.0);
    for (std::size_t k = 0; k < bins; ++k) {
        const bool use = Usable(values, observed, k);
        prefix[k + 1] = prefix[k] + (use ? values[k] : 0.0);
        count[k + 1] = count[k] + (use ? 1.0 : 0.0);
    }
    std::vector<double> s(bins, kNaN);
    for (std::size_t k = 0; k < bins; ++k) {
        if (!Usable(values, observed, k)) continue;
        const std::size_t a = k >= half ? k - half : 0, b = std::min(bins, k + half + 1);
        s[k] = (prefix[b] - prefix[a]) / (count[b] - count[a]);
    }
    auto middle = [&](std::size_t k) { return (static_cast<double>(k) + 0.5) * bin_minutes; };
    auto crossing = [&](std::size_t k, double level) {  // between the middles of k - 1 and k
        const double d = s[k] - s[k - 1];
        const double share = d != 0.0 ? (level - s[k - 1]) / d : 0.5;
        return middle(k - 1) + std::clamp(share, 0.0, 1.0) * bin_minutes;
    };

    std::vector<double> xs, ys;
    for (int r = 0; r < rows; ++r) {
        DayMarkers day;
        day.row = r;
        day.mean = day.onset = day.offset = kNaN;
        const double a = origin + r * day_minutes, b = a + day_minutes;
        // Bins whose start lies in the day.
        const auto first =
            static_cast<std::size_t>(std::max(0.0, std::ceil(a / bin_minutes - 1e-9)));
        const auto end = std::min(
            bins, static_cast<std::size_t>(std::max(0.0, std::ceil(b / bin_minutes - 1e-9))));
        double sum = 0.0, n = 0.0;
        for (std::size_t k = first; k < end; ++k)
            if (Usable(values, observed, k)) {
                sum += values[k];
                ++n;
            }
        if (n < 0.75 * day_minutes / bin_minutes || n == 0.0) {
            out.days.push_back(day);
            continue;
        }
        day.mean = sum / n;
        const double level = day.mean;
        std::size_t best_length = 0;
        for (std::size_t k = std::max<std::size_t>(first, 1); k < end; ++k) {
            // A stretch above the mean begins at k when k - 1 was observed at or below it.
            if (std::isnan(s[k]) || std::isnan(s[k - 1]) || !(s[k] > level) || s[k - 1] > level)
                continue;
            std::size_t e = k;
            while (e < bins && !std::isnan(s[e]) && s[e] > level) ++e;
            if (e - k > best_length) {
                best_length = e - k;
                day.onset = crossing(k, level);
                day.offset = e < bins && !std::isnan(s[e]) ? crossing(e, level) : kNaN;
            }
            k = e;  // the next stretch begins after this one
        }
        if (!std::isnan(day.onset)) {
            ++out.onsets;
            xs.push_back(r);
            ys.push_back(day.onset);
        }
        out.days.push_back(day);
    }
    if (xs.size() >= 3) {
        const auto m = static_cast<double>(xs.size());
        double mx = 0.0, my = 0.0;
        for (std::size_t i = 0; i < xs.size(); ++i) {
            mx += xs[i];
            my += ys[i];
        }
        mx /= m;
        my /= m;
        double sxx = 0.0, sxy = 0.0;
        for (std::size_t i = 0; i < xs.size(); ++i) {
            sxx += (xs[i] - mx) * (xs[i] - mx);
            sxy += (xs[i] - mx) * (ys[i] - my);
        }
        const double slope = sxy / sxx;
        double rss = 0.0;
        for (std::size_t i = 0; i < xs.size(); ++i) {
            const double e = ys[i] - my - slope * (xs[i] - mx);
            rss += e * e;
        }
        out.period_h = slope / 60.0;
        const double se = std::sqrt(rss / (m - 2.0) / sxx) / 60.0;
        const double t = statistics::StudentTQuantile(0.975, m - 2.0);
        out.period_lo_h = out.period_h - t * se;
        out.period_hi_h = out.period_h + t * se;
    }
    return out;
}

}  // namespace lumivo::reporting
