// A serial port on a POSIX terminal device (a UART, a USB adapter or a pseudo-terminal).
// The device is opened exclusively: TIOCEXCL keeps other unprivileged programs out and an
// advisory flock() keeps out every other program that locks its port the same way,
// including privileged ones. Reads wait with ppoll(), so the timing contract of ReadTimeouts
// holds to the microsecond instead of the tenth-of-a-second steps of VMIN/VTIME.
#pragma once

#include <filesystem>

#include "core/device/serial_transport.h"

namespace lumivo {

// Opens `device` for reading and writing without making it the controlling terminal. Fails
// with ENOTTY when it is not a terminal and with EBUSY when another program holds it.
TransportOpenResult OpenPosixSerial(const std::filesystem::path& device);

}  // namespace lumivo
