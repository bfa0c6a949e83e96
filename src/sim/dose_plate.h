// A simulated dose-response plate: the animals of every well cross their beams at one rate
// until a dose is given, and after it at a share of that rate that follows a four-parameter
// log-logistic curve of the well's concentration. Built from the plate format (which channels
// lie in which well) and the plate map of what is in each well.
#pragma once

#include "core/storage/plate_format.h"
#include "core/storage/well_map.h"
#include "sim/instrument.h"

namespace lumivo::sim {

// Rates in crossings per second of a well; the concentration ec50 in the plate map's unit.
struct DoseCurve {
    double top_rate = 1.0;     // before the dose, and at no concentration
    double bottom_rate = 0.0;  // at a saturating concentration, and in positive controls
    double hill = 1.0;         // steepness (> 0: the rate falls as the concentration rises)
    double ec50 = 1.0;         // the concentration halfway between top and bottom
    double at_hours = 0.0;     // when the dose is given, hours after the first contact
};

// The share of the top rate left at concentration c:
// (bottom + (top - bottom) / (1 + exp(hill (ln c - ln ec50)))) / top; 1 for c <= 0.
double DoseShareAt(const DoseCurve& curve, double concentration);

// Sets the channel-well map from the plate (channels in no well see no animals) and every
// well's activity to `rate` crossings per second, 0 for wells whose role is "empty". No dose.
void ApplyPlateWells(const PlateMap& plate, const WellMap& wells, double rate, SimConfig& config);

// As ApplyPlateWells with the top rate, and a dose (0 for wells whose role is "empty") and every
// well's dose share: negative controls 1, positive controls bottom / top, samples by their
// concentration (none or 0: 1). Wells the plate map does not name are samples without a
// concentration. Throws std::invalid_argument when the curve is unusable (top not above 0, bottom
// not in 0..top, hill or ec50 not above 0, a negative dose time).
void ApplyDosePlate(const PlateMap& plate, const WellMap& wells, const DoseCurve& curve,
                    SimConfig& config);

}  // namespace lumivo::sim
