// Dose-response curves: the four-parameter log-logistic model
//     y = c + (d - c) / (1 + exp(b (ln x - ln e)))
// (c bottom, d top, b Hill slope, e EC50), or the three-parameter form with c fixed at 0,
// fitted by nonlinear least squares (GSL's gsl_multifit_nlinear, trust region with geodesic
// acceleration). A concentration of 0 is the limit x -> 0 (y = d for b > 0). The EC50's 95 %
// CI is taken on ln e by the delta method: ln e +- t(0.975, n - p) x se(ln e), se from the
// covariance of the fit scaled by the residual variance, then exponentiated.
#pragma once

#include <cstddef>
#include <limits>
#include <span>
#include <string>
#include <string_view>

namespace lumivo::statistics {

struct DosePoint {
    double concentration;  // >= 0
    double response;
};

enum class DoseModel { LL4, LL3 };
// "ll4", "ll3".
std::string_view DoseModelName(DoseModel model);

struct DoseFit {
    bool converged = false;
    std::string failure;             // why there is no fit ("" when converged)
    std::size_t n = 0;               // points used
    std::size_t concentrations = 0;  // distinct concentrations above 0
    static constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();
    double bottom = kNoValue, top = kNoValue, hill = kNoValue, ec50 = kNoValue;
    double ec50_low = kNoValue, ec50_high = kNoValue;  // 95 % CI
    double log_ec50_se = kNoValue;
    double r2 = kNoValue, residual_se = kNoValue;
    // The F-test of the curve against a flat line at the mean response (above 0.05: no dose
    // response, refused); NaN before the fit.
    double no_effect_p = kNoValue;
    // Whether the EC50 lies within the tested concentrations above 0.
    bool ec50_in_range = false;
    int iterations = 0;
};

// The model's value at x.
double LogLogistic(double x, double bottom, double top, double hill, double ec50);

// Fits the points (those with a finite response and a concentration >= 0; the others are left
// out). Needs at least four distinct concentrations above 0 and more points than parameters.
// Refused as well: a flat response (every response equal, or a curve that fits no better than
// a flat line: `no_effect_p` above 0.05), a solver that does not converge within its
// iterations, and a curve whose EC50 the data do not determine (a singular covariance or an
// unbounded CI). Then `converged` is false, `failure` says why in plain words and the estimates
// are NaN.
DoseFit FitDoseResponse(std::span<const DosePoint> points, DoseModel model);

}  // namespace lumivo::statistics
