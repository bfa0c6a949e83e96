// Dose-response curves: the four-parameter log-logistic model
//     y = c + (d - c) / (1 + exp(b (ln x - ln e)))
// (c bottom, d top, b Hill slope, e EC50), or the three-parameter form with c fixed at 0,
// fitted by nonlinear least squares (GSL's gsl_multifit_nlinear, trust region with geodesic
// acceleration). A concentration of 0 is the limit x -> 0 (y = d for b > 0). The EC50's 95 %
// CI is taken on ln e by the delta method: ln e +- t(0.975, n - p) x se(ln e), se from the
// covariance of the fit scaled by the residual variance, then exponentiated.
#pragma once

#include <cstddef>
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
    std::string failure;  // why there is no fit ("" when converged)
    std::size_t n = 0;    // points used
    std::size_t concentrations = 0;  // distinct concentrations above 0
    double bottom, top, hill, ec50;
    double ec50_low, ec50_high;  // 95 % CI
    double log_ec50_se;
    double r2, residual_se;
    // Whether the EC50 lies within the tested concentrations above 0.
    bool ec50_in_range = false;
    int iterations = 0;
};

// The model's value at x.
double LogLogistic(double x, double bottom, double top, double hill, double ec50);

// Fits the points. Needs at least four distinct concentrations above 0 and more points than
// parameters; otherwise, or when the solver does not converge, `converged` is false and
// `failure` says why (the estimates are then NaN).
DoseFit FitDoseResponse(std::span<const DosePoint> points, DoseModel model);

}  // namespace lumivo::statistics
