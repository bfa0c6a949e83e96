// Simulator configurations the tests and benchmarks share. Header-only and free of GoogleTest,
// so that bench/ can include it as well.
#pragma once

#include "sim/instrument.h"

namespace lumivo::testing {

// An instrument slot with no animals: nothing crosses the beams, every beam reads steady (with
// the simulator's usual noise, ripple and spread), as for calibrating or zeroing.
inline sim::SimConfig EmptyPlate() {
    sim::SimConfig config;
    config.default_activity = 0.0;
    return config;
}

}  // namespace lumivo::testing
