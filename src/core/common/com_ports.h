// The serial ports the program knows: "COM1".."COM16", each the slot of its number in the
// port table. The port menu, the instrument search and the simulated instrument use
// COM1..COM15.
#pragma once

#include <string>

namespace lumivo {

inline constexpr int kMinComPort = 1;
inline constexpr int kMaxComPort = 16;
// The last entry of the port menu and the last port the search and the simulator try.
inline constexpr int kScanLastPort = 15;

constexpr bool IsComPort(int port) {
    return port >= kMinComPort && port <= kMaxComPort;
}

// "COM" + number.
inline std::string ComPortName(int port) {
    return "COM" + std::to_string(port);
}

}  // namespace lumivo
