#include "core/reporting/compare/dose_response.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <set>

#include "core/reporting/compare/compare_chart.h"
#include "core/reporting/report/report_chart.h"
#include "core/reporting/rhythm/rhythm_tables.h"
#include "core/storage/file_system.h"

namespace lumivo::reporting {

namespace {

namespace cc = compare_chart;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The treatments of the sample wells, in the order they first appear.
std::vector<std::string> Treatments(const Screen& s) {
    std::vector<std::string> out;
    for (const ScreenWell& w : s.wells)
        if (w.left_out.empty() && w.in_map && w.entry.role == WellRole::Sample &&
            !w.entry.treatment.empty() &&
            std::find(out.begin(), out.end(), w.entry.treatment) == out.end())
            out.push_back(w.entry.treatment);
    return out;
}

std::string Bool(bool v) {
    return v ? "TRUE" : "FALSE";
}

}  // namespace

std::string_view DoseNormaliseName(DoseNormalise normalise) {
    return normalise == DoseNormalise::Control ? "control" : "none";
}

std::optional<DoseNormalise> ParseDoseNormalise(std::string_view text) {
    if (text == "none") return DoseNormalise::None;
    if (text == "control") return DoseNormalise::Control;
    return std::nullopt;
}

std::optional<DoseResult> FitDoseCurves(Screen screen, const DoseRequest& request,
                                        std::string* failure) {
    const auto fail = [&](std::string text) -> std::optional<DoseResult> {
        if (failure) *failure = std::move(text);
        return std::nullopt;
    };
    DoseResult result;
    result.request = request;
    const std::vector<std::string> treatments = Treatments(screen);
    if (treatments.empty())
        return fail(
            "no well of the plate map is a sample with a treatment; a dose-response "
            "curve needs wells with role \"sample\", a treatment and concentrations");
    const std::size_t bins = screen.bins.size();
    // The negative controls' mean per plate and bin, to normalise to.
    std::vector<double> control_mean(screen.plates.size() * bins, kNaN);
    if (request.normalise == DoseNormalise::Control) {
        for (std::size_t p = 0; p < screen.plates.size(); ++p)
            for (std::size_t b = 0; b < bins; ++b) {
                double sum = 0.0;
                std::size_t n = 0;
                for (const ScreenWell& w : screen.wells)
                    if (w.plate == p && w.left_out.empty() && w.in_map &&
                        w.entry.role == WellRole::Negative && !std::isnan(w.values[b]))
                        sum += w.values[b], ++n;
                if (n > 0) control_mean[p * bins + b] = sum / static_cast<double>(n);
            }
        for (std::size_t p = 0; p < screen.plates.size(); ++p)
            if (std::isnan(control_mean[p * bins]) && bins == 1)
                return fail(screen.plates[p].name +
                            " has no negative control with a value in the interval; normalising "
                            "to the controls needs wells whose role is \"negative\" in "
                            "wells.csv (or use --normalise none)");
    }
    std::size_t not_converged = 0, outside = 0;
    for (std::size_t b = 0; b < bins; ++b) {
        for (const std::string& t : treatments) {
            TreatmentFit tf;
            tf.bin = b;
            tf.treatment = t;
            std::set<double> concentrations;
            for (const ScreenWell& w : screen.wells) {
                if (!w.left_out.empty() || !w.in_map || w.entry.role != WellRole::Sample ||
                    w.entry.treatment != t || !w.entry.concentration)
                    continue;
                double v = w.values[b];
                if (request.normalise == DoseNormalise::Control) {
                    const double c = control_mean[w.plate * bins + b];
                    v = c > 0.0 ? 100.0 * v / c : kNaN;
                }
                if (std::isnan(v)) continue;
                if (tf.unit.empty()) tf.unit = w.entry.unit;
                tf.points.push_back({*w.entry.concentration, v});
                if (*w.entry.concentration > 0.0) concentrations.insert(*w.entry.concentration);
            }
            if (concentrations.size() < 4) {
                tf.fit.converged = false;
                tf.fit.n = tf.points.size();
                tf.fit.concentrations = concentrations.size();
                tf.note = "no fit: " + std::to_string(concentrations.size()) +
                          " concentrations above 0 with values; a curve needs at least four";
                tf.fit.failure = tf.note;
            } else {
                tf.fit = statistics::FitDoseResponse(tf.points, request.model);
                if (!tf.fit.converged) {
                    tf.note = "no fit: " + tf.fit.failure;
                    ++not_converged;
                } else if (!tf.fit.ec50_in_range) {
                    tf.note = "the EC50 lies outside the tested concentrations (" +
                              CsvNumber(*concentrations.begin(), 6) + " to " +
                              CsvNumber(*concentrations.rbegin(), 6) + "); it is an extrapolation";
                    ++outside;
                }
            }
            result.fits.push_back(std::move(tf));
        }
    }
    if (not_converged > 0)
        result.notes.push_back(std::to_string(not_converged) +
                               (not_converged == 1 ? " fit was" : " fits were") +
                               " refused (no dose response, or no convergence); their rows give "
                               "no estimates and say why");
    if (outside > 0)
        result.notes.push_back(std::to_string(outside) +
                               (outside == 1 ? " EC50 lies" : " EC50s lie") +
                               " outside the tested concentrations (ec50_in_range FALSE)");
    result.quality = PlateQualities(screen);
    result.screen = std::move(screen);
    return result;
}

std::string DoseTable(const DoseResult& result) {
    const Screen& s = result.screen;
    std::string out =
        "treatment,n,bottom,top,hill,ec50,ec50_low,ec50_high,r2,converged,unit,concentrations,"
        "residual_se,ec50_in_range,model,normalise,measure,from_h,to_h,bin_start_h,note\r\n";
    const std::string tail = "," + std::string(statistics::DoseModelName(result.request.model)) +
                             "," + std::string(DoseNormaliseName(result.request.normalise)) + "," +
                             std::string(EndpointName(s.request.endpoint));
    for (const TreatmentFit& tf : result.fits) {
        const statistics::DoseFit& f = tf.fit;
        const bool ok = f.converged;
        const auto est = [&](double v) { return ok ? CsvNumber(v, 6) : std::string("NA"); };
        const ScreenBin& bin = s.bins[tf.bin];
        out += CsvField(tf.treatment) + "," + std::to_string(tf.points.size()) + "," +
               est(f.bottom) + "," + est(f.top) + "," + est(f.hill) + "," + est(f.ec50) + "," +
               est(f.ec50_low) + "," + est(f.ec50_high) + "," + est(f.r2) + "," + Bool(ok) + "," +
               CsvField(tf.unit) + "," + std::to_string(f.concentrations) + "," +
               est(f.residual_se) + "," + (ok ? Bool(f.ec50_in_range) : std::string("NA")) + tail +
               "," + CsvNumber(bin.start_hours, 6) + "," + CsvNumber(bin.end_hours, 6) + "," +
               (s.request.per_bin ? CsvNumber(bin.start_hours, 6) : std::string("NA")) + "," +
               CsvField(tf.note) + "\r\n";
    }
    return out;
}

ChartScene DoseScene(const DoseResult& result) {
    const Screen& s = result.screen;
    ChartScene scene;
    const std::string experiment = s.plates.front().data.experiment_name;
    const bool normalised = result.request.normalise == DoseNormalise::Control;
    std::string details = std::string(EndpointName(s.request.endpoint)) + " from " +
                          cc::Number(s.request.from_hours) + " h to " +
                          cc::Number(s.request.to_hours) + " h" +
                          (normalised ? ", % of the negative controls" : "") + "; model " +
                          std::string(statistics::DoseModelName(result.request.model)) +
                          "; EC50 95 % CI by the delta method on ln EC50";
    for (const PlateQuality& q : result.quality)
        details += "; Z' " + s.plates[q.plate].name + " " + cc::Number(q.z_prime, 2);
    std::vector<std::string> treatments;
    for (const TreatmentFit& tf : result.fits)
        if (std::find(treatments.begin(), treatments.end(), tf.treatment) == treatments.end())
            treatments.push_back(tf.treatment);
    const auto colour_of = [&](const std::string& t) {
        return SeriesColour(static_cast<std::size_t>(
            std::find(treatments.begin(), treatments.end(), t) - treatments.begin()));
    };
    cc::Frame f;
    f.height = 320.0;
    const auto legend = [&](double y0, const std::function<std::string(const std::string&)>& text) {
        for (std::size_t k = 0; k < treatments.size(); ++k) {
            const double x = f.left + static_cast<double>(k % 2) * f.width / 2.0;
            const double y = y0 + 15.0 * static_cast<double>(k / 2);
            scene.Rect("legend", x, y - 8.0, 12.0, 8.0, cc::Fill(colour_of(treatments[k])));
            scene.Text("legend", x + 16.0, y, text(treatments[k]), TextAnchor::Start, 10.5);
        }
    };
    if (!s.request.per_bin) {
        cc::Header(scene, (experiment.empty() ? "" : experiment + ": ") + "dose-response", details);
        double c_lo = 1e300, c_hi = 0.0, lo = 0.0, hi = 0.0;
        for (const TreatmentFit& tf : result.fits)
            for (const statistics::DosePoint& p : tf.points) {
                if (p.concentration > 0.0)
                    c_lo = std::min(c_lo, p.concentration), c_hi = std::max(c_hi, p.concentration);
                lo = std::min(lo, p.response), hi = std::max(hi, p.response);
            }
        if (!(c_hi > 0.0)) c_lo = 0.1, c_hi = 10.0;
        hi *= 1.08;
        cc::NiceRange(lo, hi);
        f.y_lo = lo, f.y_hi = hi;
        f.x_lo = std::floor(std::log10(c_lo)) - 0.5;  // room for the concentration 0 points
        f.x_hi = std::ceil(std::log10(c_hi) + 1e-9);
        cc::ValueAxis(scene, f, normalised ? "% of control" : "activity");
        std::vector<double> ticks;
        for (double d = std::ceil(f.x_lo); d <= f.x_hi + 1e-9; d += 1.0) ticks.push_back(d);
        const std::string unit = result.fits.empty() ? "" : result.fits.front().unit;
        cc::BottomAxis(
            scene, f, ticks, [](double d) { return cc::Number(std::pow(10.0, d), 6); },
            "concentration" + (unit.empty() ? "" : " (" + unit + ")") +
                ", log scale; 0 at the left edge");
        for (const TreatmentFit& tf : result.fits) {
            const std::string colour = colour_of(tf.treatment);
            for (const statistics::DosePoint& p : tf.points) {
                const double x =
                    p.concentration > 0.0 ? f.X(std::log10(p.concentration)) : f.X(f.x_lo) + 4.0;
                cc::Dot(scene, "wells", x, f.Y(p.response), colour, 4.5);
            }
            if (!tf.fit.converged) continue;
            std::vector<ScenePoint> curve;
            for (int k = 0; k <= 120; ++k) {
                const double d =
                    std::ceil(f.x_lo) - 0.5 + (f.x_hi - std::ceil(f.x_lo) + 0.5) * k / 120.0;
                const double y = statistics::LogLogistic(std::pow(10.0, d), tf.fit.bottom,
                                                         tf.fit.top, tf.fit.hill, tf.fit.ec50);
                curve.push_back({f.X(d), f.Y(std::clamp(y, f.y_lo, f.y_hi))});
            }
            scene.Path("fit", curve, false, cc::Stroke(colour, 1.8));
            const double ex = std::log10(tf.fit.ec50);
            if (ex >= f.x_lo && ex <= f.x_hi) {
                const double ey = statistics::LogLogistic(tf.fit.ec50, tf.fit.bottom, tf.fit.top,
                                                          tf.fit.hill, tf.fit.ec50);
                scene.Line("ec50", f.X(ex), f.Y(f.y_lo), f.X(ex),
                           f.Y(std::clamp(ey, f.y_lo, f.y_hi)), cc::Stroke(colour, 1.0, "4,3"));
            }
        }
        legend(f.top + f.height + 62.0, [&](const std::string& t) {
            for (const TreatmentFit& tf : result.fits)
                if (tf.treatment == t)
                    return t + (tf.fit.converged
                                    ? ": EC50 " + cc::Number(tf.fit.ec50) + " [" +
                                          cc::Number(tf.fit.ec50_low) + ", " +
                                          cc::Number(tf.fit.ec50_high) + "] " + tf.unit +
                                          (tf.fit.ec50_in_range ? "" : " (outside the range)")
                                    : ": " + tf.note);
            return t;
        });
        scene.height =
            std::max(scene.height, f.top + f.height + 80.0 +
                                       15.0 * static_cast<double>((treatments.size() + 1) / 2));
        return scene;
    }
    // One fit per bin: the EC50 over the run on a log scale, the CI as a band.
    cc::Header(scene, (experiment.empty() ? "" : experiment + ": ") + "EC50 over time", details);
    double lo = 1e300, hi = -1e300;
    for (const TreatmentFit& tf : result.fits)
        if (tf.fit.converged && tf.fit.ec50_in_range)
            lo = std::min(lo, std::log10(tf.fit.ec50_low)),
            hi = std::max(hi, std::log10(tf.fit.ec50_high));
    if (!(hi >= lo)) lo = -1.0, hi = 1.0;
    f.y_lo = std::floor(lo), f.y_hi = std::max(std::ceil(hi), f.y_lo + 1.0);
    f.x_lo = s.bins.front().start_hours, f.x_hi = s.bins.back().end_hours;
    scene.Rect("frame", f.left, f.top, f.width, f.height, cc::Stroke("#808080"));
    for (double d = f.y_lo; d <= f.y_hi + 1e-9; d += 1.0) {
        scene.Line("grid", f.left, f.Y(d), f.left + f.width, f.Y(d), cc::Stroke("#e6e6e6"));
        scene.Text("axis", f.left - 8.0, f.Y(d) + 4.0, cc::Number(std::pow(10.0, d)),
                   TextAnchor::End, 11.0);
    }
    const std::string unit = result.fits.empty() ? "" : result.fits.front().unit;
    scene.Text("axis", f.left - 55.0, f.top + f.height / 2.0,
               "EC50" + (unit.empty() ? "" : " (" + unit + ")") + ", log scale", TextAnchor::Middle,
               12.0, false, -90.0);
    cc::BottomAxis(
        scene, f, AxisTicks(f.x_lo, f.x_hi, 8), [](double v) { return cc::Number(v, 4); },
        "hours from the start");
    for (const std::string& t : treatments) {
        const std::string colour = colour_of(t);
        std::vector<ScenePoint> line;
        const auto flush = [&] {
            if (line.size() > 1) scene.Path("ec50", line, false, cc::Stroke(colour, 1.5));
            line.clear();
        };
        for (const TreatmentFit& tf : result.fits) {
            if (tf.treatment != t) continue;
            const ScreenBin& b = s.bins[tf.bin];
            const double x = f.X((b.start_hours + b.end_hours) / 2.0);
            if (!tf.fit.converged || !tf.fit.ec50_in_range) {
                flush();
                continue;
            }
            const auto y = [&](double v) { return f.Y(std::clamp(std::log10(v), f.y_lo, f.y_hi)); };
            scene.Line("ci", x, y(tf.fit.ec50_low), x, y(tf.fit.ec50_high),
                       cc::Stroke(TintColour(colour, 0.4)));
            line.push_back({x, y(tf.fit.ec50)});
        }
        flush();
    }
    legend(f.top + f.height + 62.0, [](const std::string& t) { return t; });
    scene.Text("legend", f.left, 548.0,
               "Bins without a converged fit inside the tested range are left as gaps.",
               TextAnchor::Start, 10.5);
    scene.height =
        std::max(scene.height, f.top + f.height + 100.0 +
                                   15.0 * static_cast<double>((treatments.size() + 1) / 2));
    return scene;
}

std::optional<DoseResult> ComputeDose(StorageContext& ctx, const DoseRequest& request,
                                      std::string* failure) {
    auto screen = ReadScreen(ctx, request.screen, failure);
    if (!screen) return std::nullopt;
    return FitDoseCurves(std::move(*screen), request, failure);
}

// What the user should know of a fit: the data's notes, the fits' and the plates' quality.
std::vector<std::string> DoseNotes(const DoseResult& result) {
    std::vector<std::string> notes = result.screen.notes;
    notes.insert(notes.end(), result.notes.begin(), result.notes.end());
    for (const PlateQuality& q : result.quality)
        notes.push_back(result.screen.plates[q.plate].name + ": Z' " + CsvNumber(q.z_prime, 3) +
                        ", signal window " + CsvNumber(q.signal_window, 3) + " (" +
                        std::to_string(q.negatives) + " negative, " + std::to_string(q.positives) +
                        " positive controls)");
    return notes;
}

CompareOutcome WriteDose(StorageContext& ctx, const DoseRequest& request) {
    CompareOutcome out;
    auto result = ComputeDose(ctx, request, &out.failure);
    if (!result) return out;
    const auto& folder = request.screen.folders.front();
    out.svg_file = folder / kDosePictureName;
    out.csv_file = folder / kDoseTableName;
    try {
        const FileContent files[] = {{out.svg_file, RenderSceneSvg(DoseScene(*result))},
                                     {out.csv_file, DoseTable(*result)}};
        ctx.files.WriteFiles(files);
    } catch (const std::exception& e) {
        out.failure = std::string("the dose-response could not be written: ") + e.what();
        return out;
    }
    out.written = true;
    out.notes = DoseNotes(*result);
    return out;
}

}  // namespace lumivo::reporting
