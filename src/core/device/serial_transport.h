// What the serial port layer needs from one open port. The port layer (mod_comm.h) keeps the
// table of ports, the error record and the retry rules; a transport only moves bytes and
// sets lines. Two implementations exist: a POSIX terminal device (posix_serial.h) and the
// in-process simulated instrument (sim/sim_transport.h); tests add scripted ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace lumivo {

enum class Parity { None, Odd, Even, Mark, Space };
enum class StopBits { One, OnePointFive, Two };

// The line settings of a port, as a settings text such as "baud=115200 parity=N data=8
// stop=1" selects them (see BuildLineSettings in mod_comm.h).
struct LineSettings {
    std::uint32_t baud = 9600;
    Parity parity = Parity::None;
    int data_bits = 8;  // 5..8
    StopBits stop_bits = StopBits::One;
    bool xon_xoff = false;    // software flow control in both directions
    bool rts_cts = false;     // hardware flow control
    bool dtr_on_open = true;  // DTR raised while the port is open
    bool rts_on_open = true;  // RTS raised while the port is open (ignored with rts_cts)

    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

// When a read gives up: `interval_us` after the last byte received (once one has arrived) or
// `total_us` after the read started, whichever comes first. A read also returns as soon as
// the requested number of bytes has arrived.
struct ReadTimeouts {
    std::int64_t interval_us = 100'000;
    std::int64_t total_us = 500'000;
};

// Result of a transfer: the bytes moved and 0, or the system error code (errno) of the
// failure. A read that times out is not a failure: it returns the bytes it has (maybe 0).
struct IoResult {
    std::size_t bytes = 0;
    int error = 0;
};

// The modem-line and break functions a port can perform.
enum class LineFunction { None, SetBreak, ClearBreak, SetDtr, ClearDtr, SetRts, ClearRts };

// Error conditions a port reports, read and cleared by TakeErrorFlags.
enum CommErrorFlag : std::uint32_t {
    kCommRxOver = 0x1,    // the input queue overflowed
    kCommOverrun = 0x2,   // a character was lost in the hardware
    kCommRxParity = 0x4,  // parity error
    kCommFrame = 0x8,     // framing error
    kCommBreak = 0x10,    // break condition detected
};

class SerialTransport {
  public:
    virtual ~SerialTransport() = default;

    // Current line settings of the device. Returns 0 or an errno code.
    virtual int GetLineSettings(LineSettings& out) = 0;
    // Applies line settings; settings the device cannot apply give an errno code (EINVAL).
    virtual int Configure(const LineSettings& settings) = 0;
    // Discards everything queued in both directions. Returns 0 or an errno code.
    virtual int Purge() = 0;
    // Reads up to `max` bytes into `out` under `timeouts`.
    virtual IoResult Read(std::uint8_t* out, std::size_t max, const ReadTimeouts& timeouts) = 0;
    // Writes `bytes` and returns once they have left the host (or `timeout_us` passed, in
    // which case fewer bytes may be reported without an error).
    virtual IoResult Write(std::span<const std::uint8_t> bytes, std::int64_t timeout_us) = 0;
    // Performs a modem-line or break function. LineFunction::None fails with EINVAL.
    virtual int SetLine(LineFunction function) = 0;
    // The CommErrorFlag bits raised since the last call, cleared by reading them.
    virtual std::uint32_t TakeErrorFlags() = 0;
    // Releases the device. Returns 0 or an errno code; a second Close returns 0.
    virtual int Close() = 0;
    // True when bytes take their line time to cross, as on every real serial line: the far
    // end then cannot have heard a frame, let alone answered it, before the frame's own line
    // time has passed since it was written. Transports that deliver at once (scripted tests,
    // an unpaced simulation) say false; a transport that wraps another must ask it.
    virtual bool LineIsPaced() const { return false; }
};

// What opening a port gives: a transport, or the errno code of the failure.
struct TransportOpenResult {
    std::unique_ptr<SerialTransport> transport;
    int error = 0;
};

// Opens the device for port `port_number` (1..16) named `name` (e.g. "COM3").
using TransportOpener =
    std::function<TransportOpenResult(int port_number, const std::string& name)>;

}  // namespace lumivo
