// Counts the bytes that cross a serial line, so a long device procedure (a calibration) can be
// compared with the time its traffic alone needs on the wire.
#pragma once

#include <cstdint>

#include "core/device/serial_transport.h"

namespace lumivo {

struct LineTraffic {
    std::uint64_t bytes_out = 0;  // written by the program
    std::uint64_t bytes_in = 0;   // received from the instrument

    // Seconds the bytes take on a line with 10 bits per byte (start, 8 data, stop). Requests
    // and replies alternate, so the two directions add up.
    double WireSeconds(double baud = 115200.0) const {
        return static_cast<double>(bytes_out + bytes_in) * 10.0 / baud;
    }
};

// An opener whose ports count every byte they move into `traffic` (which must outlive them).
TransportOpener CountingOpener(TransportOpener inner, LineTraffic& traffic);

}  // namespace lumivo
