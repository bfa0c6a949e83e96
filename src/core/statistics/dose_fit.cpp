#include "core/statistics/dose_fit.h"

#include <gsl/gsl_blas.h>
#include <gsl/gsl_errno.h>
#include <gsl/gsl_matrix.h>
#include <gsl/gsl_multifit_nlinear.h>
#include <gsl/gsl_vector.h>

#include <algorithm>
#include <boost/math/distributions/fisher_f.hpp>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>
#include <vector>

#include "core/statistics/group_tests.h"

namespace lumivo::statistics {

namespace {

constexpr double kNaN = DoseFit::kNoValue;
constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr std::size_t kMinConcentrations = 4;
constexpr std::size_t kMaxIterations = 200;
// Convergence on the relative step and the scaled gradient.
constexpr double kStepTolerance = 1e-10;
constexpr double kGradientTolerance = 1e-10;
// A fit whose F-test against a flat line has a larger p-value is no dose response.
constexpr double kNoEffectAlpha = 0.05;

// GSL's default error handler aborts the program; every GSL call here checks its status
// instead. Turned off once, whichever thread fits first (a function-local static is
// initialised exactly once).
void GslErrorsAsStatus() {
    static const bool off = [] {
        gsl_set_error_handler_off();
        return true;
    }();
    (void)off;
}

// The points a fit uses and the fixed parts of its model.
struct Data {
    std::vector<double> log_x;  // -infinity for concentration 0
    std::vector<double> y;
    bool three_parameter = false;
};

struct Parameters {
    double hill, bottom, top, log_ec50;
};

// The parameter vector: (b, c, d, ln e) for LL.4, (b, d, ln e) for LL.3 (c = 0).
Parameters Unpack(const gsl_vector* x, const Data& data) {
    if (data.three_parameter)
        return {gsl_vector_get(x, 0), 0.0, gsl_vector_get(x, 1), gsl_vector_get(x, 2)};
    return {gsl_vector_get(x, 0), gsl_vector_get(x, 1), gsl_vector_get(x, 2), gsl_vector_get(x, 3)};
}

// The logistic part f = 1 / (1 + exp(b (ln x - ln e))), computed without overflow; at
// concentration 0 its limit (1 for b > 0, 0 for b < 0, 1/2 for b = 0).
double Logistic(double log_x, double hill, double log_ec50) {
    if (std::isinf(log_x)) return hill > 0.0 ? 1.0 : hill < 0.0 ? 0.0 : 0.5;
    const double z = hill * (log_x - log_ec50);
    if (z > 0.0) {
        const double e = std::exp(-z);
        return e / (1.0 + e);
    }
    return 1.0 / (1.0 + std::exp(z));
}

int Residuals(const gsl_vector* x, void* params, gsl_vector* f) {
    const Data& data = *static_cast<const Data*>(params);
    const Parameters p = Unpack(x, data);
    for (std::size_t i = 0; i < data.y.size(); ++i) {
        const double model =
            p.bottom + (p.top - p.bottom) * Logistic(data.log_x[i], p.hill, p.log_ec50);
        gsl_vector_set(f, i, model - data.y[i]);
    }
    return GSL_SUCCESS;
}

// dy/db = -(d - c) f (1 - f) (ln x - ln e), dy/dc = 1 - f, dy/dd = f,
// dy/d(ln e) = (d - c) f (1 - f) b; the derivatives in b and ln e vanish at concentration 0.
int Jacobian(const gsl_vector* x, void* params, gsl_matrix* jacobian) {
    const Data& data = *static_cast<const Data*>(params);
    const Parameters p = Unpack(x, data);
    for (std::size_t i = 0; i < data.y.size(); ++i) {
        const double f = Logistic(data.log_x[i], p.hill, p.log_ec50);
        const double slope = (p.top - p.bottom) * f * (1.0 - f);
        const bool at_zero = std::isinf(data.log_x[i]);
        const double d_hill = at_zero ? 0.0 : -slope * (data.log_x[i] - p.log_ec50);
        const double d_log_ec50 = at_zero ? 0.0 : slope * p.hill;
        std::size_t column = 0;
        gsl_matrix_set(jacobian, i, column++, d_hill);
        if (!data.three_parameter) gsl_matrix_set(jacobian, i, column++, 1.0 - f);
        gsl_matrix_set(jacobian, i, column++, f);
        gsl_matrix_set(jacobian, i, column, d_log_ec50);
    }
    return GSL_SUCCESS;
}

struct WorkspaceFree {
    void operator()(gsl_multifit_nlinear_workspace* w) const { gsl_multifit_nlinear_free(w); }
};
struct MatrixFree {
    void operator()(gsl_matrix* m) const { gsl_matrix_free(m); }
};

DoseFit Refuse(DoseFit fit, std::string why) {
    fit.converged = false;
    fit.failure = std::move(why);
    fit.bottom = fit.top = fit.hill = fit.ec50 = kNaN;
    fit.ec50_low = fit.ec50_high = fit.log_ec50_se = kNaN;
    fit.r2 = fit.residual_se = kNaN;
    fit.ec50_in_range = false;
    return fit;
}

// Starting values from the data: bottom and top from the extreme responses (LL.3: the top is
// the response farthest from 0), the slope's sign from the trend of the responses over ln x
// (falling: b > 0), |b| = 1, and ln e at the tested concentration whose mean response is
// nearest the midpoint of bottom and top.
std::vector<double> StartingValues(const std::map<double, std::vector<double>>& by_concentration,
                                   const Data& data) {
    const auto [low, high] = std::minmax_element(data.y.begin(), data.y.end());
    double bottom = *low, top = *high;
    if (data.three_parameter) {
        bottom = 0.0;
        top = std::fabs(*high) >= std::fabs(*low) ? *high : *low;
    }
    double sx = 0.0, sy = 0.0, sxy = 0.0, n = 0.0;
    for (std::size_t i = 0; i < data.y.size(); ++i) {
        if (std::isinf(data.log_x[i])) continue;
        sx += data.log_x[i];
        sy += data.y[i];
        sxy += data.log_x[i] * data.y[i];
        n += 1.0;
    }
    const double trend = n * sxy - sx * sy;  // the sign of the regression slope
    // The response runs from d at low concentrations to c at high ones when b > 0.
    const bool towards_top = data.three_parameter ? top >= 0.0 : true;
    const double hill = (trend < 0.0) == towards_top ? 1.0 : -1.0;
    const double middle = (bottom + top) / 2.0;
    double log_ec50 = 0.0, best = kInfinity;
    for (const auto& [concentration, responses] : by_concentration) {
        if (concentration <= 0.0) continue;
        double mean = 0.0;
        for (double r : responses) mean += r;
        mean /= static_cast<double>(responses.size());
        if (std::fabs(mean - middle) < best) {
            best = std::fabs(mean - middle);
            log_ec50 = std::log(concentration);
        }
    }
    if (data.three_parameter) return {hill, top, log_ec50};
    return {hill, bottom, top, log_ec50};
}

}  // namespace

std::string_view DoseModelName(DoseModel model) {
    return model == DoseModel::LL3 ? "ll3" : "ll4";
}

double LogLogistic(double x, double bottom, double top, double hill, double ec50) {
    if (!(x >= 0.0) || !(ec50 > 0.0)) return kNaN;
    const double log_x = x > 0.0 ? std::log(x) : -kInfinity;
    return bottom + (top - bottom) * Logistic(log_x, hill, std::log(ec50));
}

DoseFit FitDoseResponse(std::span<const DosePoint> points, DoseModel model) {
    GslErrorsAsStatus();
    DoseFit fit;
    Data data;
    data.three_parameter = model == DoseModel::LL3;
    std::map<double, std::vector<double>> by_concentration;
    double min_concentration = kInfinity, max_concentration = 0.0;
    for (const DosePoint& point : points) {
        if (!std::isfinite(point.response) || !std::isfinite(point.concentration) ||
            point.concentration < 0.0)
            continue;
        data.log_x.push_back(point.concentration > 0.0 ? std::log(point.concentration)
                                                       : -kInfinity);
        data.y.push_back(point.response);
        by_concentration[point.concentration].push_back(point.response);
        if (point.concentration > 0.0) {
            min_concentration = std::min(min_concentration, point.concentration);
            max_concentration = std::max(max_concentration, point.concentration);
        }
    }
    fit.n = data.y.size();
    fit.concentrations = by_concentration.size() - by_concentration.count(0.0);
    const std::size_t p = data.three_parameter ? 3 : 4;
    if (fit.concentrations < kMinConcentrations)
        return Refuse(fit, "too few concentrations: " + std::to_string(fit.concentrations) +
                               " above 0, at least " + std::to_string(kMinConcentrations) +
                               " needed");
    if (fit.n <= p)
        return Refuse(fit, "too few points: " + std::to_string(fit.n) + " for " +
                               std::to_string(p) + " parameters");
    const auto [low, high] = std::minmax_element(data.y.begin(), data.y.end());
    if (*low == *high) return Refuse(fit, "flat response: every response is the same");

    std::vector<double> start = StartingValues(by_concentration, data);
    gsl_vector_view x0 = gsl_vector_view_array(start.data(), p);
    gsl_multifit_nlinear_fdf fdf{};
    fdf.f = Residuals;
    fdf.df = Jacobian;
    fdf.fvv = nullptr;  // the geodesic acceleration by finite differences
    fdf.n = fit.n;
    fdf.p = p;
    fdf.params = &data;
    gsl_multifit_nlinear_parameters settings = gsl_multifit_nlinear_default_parameters();
    settings.trs = gsl_multifit_nlinear_trs_lmaccel;
    std::unique_ptr<gsl_multifit_nlinear_workspace, WorkspaceFree> w(
        gsl_multifit_nlinear_alloc(gsl_multifit_nlinear_trust, &settings, fit.n, p));
    if (!w) return Refuse(fit, "out of memory");
    if (gsl_multifit_nlinear_init(&x0.vector, &fdf, w.get()) != GSL_SUCCESS)
        return Refuse(fit, "the fit could not start from the data");
    int info = 0;
    const int status = gsl_multifit_nlinear_driver(
        kMaxIterations, kStepTolerance, kGradientTolerance, 0.0, nullptr, nullptr, &info, w.get());
    fit.iterations = static_cast<int>(gsl_multifit_nlinear_niter(w.get()));
    const gsl_vector* x = gsl_multifit_nlinear_position(w.get());
    const gsl_vector* f = gsl_multifit_nlinear_residual(w.get());
    double ss_residual = 0.0;
    gsl_blas_ddot(f, f, &ss_residual);
    if (status != GSL_SUCCESS)
        return Refuse(fit, status == GSL_EMAXITER
                               ? "the fit did not converge within " +
                                     std::to_string(kMaxIterations) + " iterations"
                               : std::string("the fit did not converge: ") + gsl_strerror(status));
    const Parameters estimate = Unpack(x, data);
    if (!std::isfinite(estimate.hill) || !std::isfinite(estimate.log_ec50) ||
        !std::isfinite(estimate.bottom) || !std::isfinite(estimate.top))
        return Refuse(fit, "the fit did not converge: the estimates ran off");

    std::unique_ptr<gsl_matrix, MatrixFree> covariance(gsl_matrix_alloc(p, p));
    gsl_matrix* jacobian = gsl_multifit_nlinear_jac(w.get());
    if (!covariance || gsl_multifit_nlinear_covar(jacobian, 0.0, covariance.get()) != GSL_SUCCESS)
        return Refuse(fit, "the curve is not determined by the data");
    for (std::size_t i = 0; i < p; ++i) {
        const double v = gsl_matrix_get(covariance.get(), i, i);
        if (!(v > 0.0) || !std::isfinite(v))
            return Refuse(fit, "the curve is not determined by the data");
    }

    const auto dof = static_cast<double>(fit.n - p);
    const double residual_variance = ss_residual / dof;
    double mean = 0.0;
    for (double y : data.y) mean += y;
    mean /= static_cast<double>(fit.n);
    double ss_total = 0.0;
    for (double y : data.y) ss_total += (y - mean) * (y - mean);

    // The curve against a flat line (the mean response): a curve that explains no more than
    // noise does is no dose response, whatever EC50 the solver settled on.
    const double extra_df = static_cast<double>(p - 1);
    const double f_statistic = (ss_total - ss_residual) / extra_df / residual_variance;
    // (No residual at all, or an F beyond the doubles: a perfect curve.)
    fit.no_effect_p = residual_variance > 0.0 && std::isfinite(f_statistic)
                          ? boost::math::cdf(boost::math::complement(
                                boost::math::fisher_f_distribution<double>(extra_df, dof),
                                std::max(f_statistic, 0.0)))
                          : 0.0;
    if (!(fit.no_effect_p <= kNoEffectAlpha)) {
        char text[96];
        std::snprintf(text, sizeof text,
                      "no dose response: the curve fits no better than a flat line (p = %.2g)",
                      fit.no_effect_p);
        return Refuse(fit, text);
    }
    const double log_ec50_se =
        std::sqrt(gsl_matrix_get(covariance.get(), p - 1, p - 1) * residual_variance);
    const double t = StudentTQuantile(0.975, dof);
    const double ec50_low = std::exp(estimate.log_ec50 - t * log_ec50_se);
    const double ec50_high = std::exp(estimate.log_ec50 + t * log_ec50_se);
    if (!(ec50_low > 0.0) || !std::isfinite(ec50_high))
        return Refuse(fit, "the EC50 is not determined by the data");

    fit.converged = true;
    fit.hill = estimate.hill;
    fit.bottom = estimate.bottom;
    fit.top = estimate.top;
    fit.ec50 = std::exp(estimate.log_ec50);
    fit.log_ec50_se = log_ec50_se;
    fit.ec50_low = ec50_low;
    fit.ec50_high = ec50_high;
    fit.r2 = 1.0 - ss_residual / ss_total;
    fit.residual_se = std::sqrt(residual_variance);
    fit.ec50_in_range = fit.ec50 >= min_concentration && fit.ec50 <= max_concentration;
    return fit;
}

}  // namespace lumivo::statistics
