// Dose-response curves of a screen (screen.h): for each treatment with at least four
// concentrations above 0, the log-logistic fit (statistics/dose_fit.h) of its wells' endpoints,
// as they are or as a percent of the negative controls' mean on the same plate; one fit over
// the interval, or one per bin of it (the EC50 over time).
//
// dose.csv (long format, CR LF, "NA" where there is no value), one row per treatment (and bin):
//   treatment,n,bottom,top,hill,ec50,ec50_low,ec50_high,r2,converged,unit,concentrations,
//   residual_se,ec50_in_range,model,normalise,measure,from_h,to_h,bin_start_h,note
// A fit that did not converge has no estimates and says why in `note`; an EC50 outside the
// tested concentrations is given with ec50_in_range FALSE and a note.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/reporting/compare/compare_stats.h"
#include "core/reporting/compare/screen.h"
#include "core/reporting/report/chart_scene.h"
#include "core/statistics/dose_fit.h"

namespace lumivo::reporting {

inline constexpr const char* kDoseTableName = "dose.csv";
inline constexpr const char* kDosePictureName = "dose.svg";

enum class DoseNormalise { None, Control };
// "none", "control".
std::string_view DoseNormaliseName(DoseNormalise normalise);
std::optional<DoseNormalise> ParseDoseNormalise(std::string_view text);

struct DoseRequest {
    ScreenRequest screen;  // grouping is always by treatment here
    DoseNormalise normalise = DoseNormalise::None;
    statistics::DoseModel model = statistics::DoseModel::LL4;
};

struct TreatmentFit {
    std::size_t bin = 0;
    std::string treatment, unit;
    std::vector<statistics::DosePoint> points;
    statistics::DoseFit fit;
    std::string note;
};

struct DoseResult {
    Screen screen;
    DoseRequest request;
    std::vector<TreatmentFit> fits;  // by bin, then treatment
    std::vector<PlateQuality> quality;
    std::vector<std::string> notes;
};

// nullopt with the reason when no treatment has four concentrations, or the controls needed to
// normalise are missing.
std::optional<DoseResult> FitDoseCurves(Screen screen, const DoseRequest& request,
                                        std::string* failure);
std::string DoseTable(const DoseResult& result);
// The points and fitted curves over log concentration with each EC50 marked; with one fit per
// bin, the EC50s (and their CIs) over the run.
ChartScene DoseScene(const DoseResult& result);

// The data's notes, the fits' and each plate's Z' and signal window.
std::vector<std::string> DoseNotes(const DoseResult& result);
// Reads the acquisitions and fits (what the window's tab shows); nullopt with the reason.
std::optional<DoseResult> ComputeDose(StorageContext& ctx, const DoseRequest& request,
                                      std::string* failure);
// Reads the acquisitions, fits and writes dose.csv and dose.svg into the first folder.
CompareOutcome WriteDose(StorageContext& ctx, const DoseRequest& request);

}  // namespace lumivo::reporting
