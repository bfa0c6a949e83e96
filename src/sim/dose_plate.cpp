#include "sim/dose_plate.h"

#include <cmath>
#include <cstddef>
#include <stdexcept>

namespace lumivo::sim {
namespace {

bool Positive(double v) {
    return std::isfinite(v) && v > 0.0;
}

void CheckCurve(const DoseCurve& c) {
    auto fail = [](const char* what) { throw std::invalid_argument(std::string("dose: ") + what); };
    if (!Positive(c.top_rate) || c.top_rate > 1000.0)
        fail("top rate must be above 0 and at most 1000");
    if (!std::isfinite(c.bottom_rate) || c.bottom_rate < 0.0 || c.bottom_rate > c.top_rate)
        fail("bottom rate must be 0..top rate");
    if (!Positive(c.hill)) fail("hill slope must be above 0");
    if (!Positive(c.ec50)) fail("EC50 must be above 0");
    if (!std::isfinite(c.at_hours) || c.at_hours < 0.0) fail("dose time must be at least 0 hours");
}

}  // namespace

double DoseShareAt(const DoseCurve& curve, double concentration) {
    if (!(concentration > 0.0)) return 1.0;
    const double e = std::exp(curve.hill * (std::log(concentration) - std::log(curve.ec50)));
    // exp overflowing to infinity is the saturating end: the bottom.
    const double rate = curve.bottom_rate + (curve.top_rate - curve.bottom_rate) / (1.0 + e);
    return rate / curve.top_rate;
}

void ApplyPlateWells(const PlateMap& plate, const WellMap& wells, double rate, SimConfig& config) {
    config.channel_well.assign(kChannelCount, -1);
    for (std::size_t c = 0; c < config.channel_well.size(); ++c) {
        const int well = plate.ChannelWell[c];
        config.channel_well[c] = well >= 0 && well <= plate.MaxWellIndex ? well : -1;
    }
    const auto well_count = static_cast<std::size_t>(plate.MaxWellIndex) + 1;
    config.well_activity.assign(well_count, rate);
    for (std::size_t w = 0; w < well_count; ++w) {
        const WellEntry* entry = wells.Find(WellName(plate, static_cast<int>(w)));
        if (entry != nullptr && entry->role == WellRole::Empty) config.well_activity[w] = 0.0;
    }
    config.well_dose_share.clear();
}

void ApplyDosePlate(const PlateMap& plate, const WellMap& wells, const DoseCurve& curve,
                    SimConfig& config) {
    CheckCurve(curve);
    ApplyPlateWells(plate, wells, curve.top_rate, config);
    const std::size_t well_count = config.well_activity.size();
    config.well_dose_share.assign(well_count, 1.0);
    for (std::size_t w = 0; w < well_count; ++w) {
        const WellEntry* entry = wells.Find(WellName(plate, static_cast<int>(w)));
        if (entry == nullptr) continue;
        switch (entry->role) {
            case WellRole::Empty:
            case WellRole::Negative:
                break;
            case WellRole::Positive:
                config.well_dose_share[w] = curve.bottom_rate / curve.top_rate;
                break;
            case WellRole::Sample:
                config.well_dose_share[w] = DoseShareAt(curve, entry->concentration.value_or(0.0));
                break;
        }
    }
    config.dose_at_hours = curve.at_hours;
}

}  // namespace lumivo::sim
