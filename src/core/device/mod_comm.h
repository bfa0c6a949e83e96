// ModCOMM: the program's serial ports. Six operations (CommOpen, CommClose, CommFlush,
// CommRead, CommWrite, CommSetLine) move byte strings over the port numbered 1..16; none of
// them throws. Each returns a status or a count and leaves its last failure in the error
// record of the CommPorts it works on. The layer knows nothing of the instrument's frames.
//
// Timing of CommRead: one read attempt returns when the bytes asked for have arrived, 100 ms
// after the last byte once one has arrived, or 500 ms after it started; a call makes at most
// five attempts with 5 ms pauses between them and, when it ends short, flushes the port so
// that a late remainder is not taken for the start of the next reply.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "core/common/com_ports.h"
#include "core/device/serial_transport.h"
#include "core/platform/ui_port.h"

namespace lumivo {

// Timeouts set on every port when it is opened.
struct CommTimeouts {
    std::int64_t read_interval_ms = 100;
    std::int64_t read_total_multiplier_ms = 0;
    std::int64_t read_total_constant_ms = 500;
    std::int64_t write_total_multiplier_ms = 1000;
    std::int64_t write_total_constant_ms = 0;
};

// One slot of the port table.
struct CommPortSlot {
    std::unique_ptr<SerialTransport> handle;  // the open device
    bool open = false;                        // the port is open
    LineSettings line_settings;               // filled by CommOpen, kept while open
    CommTimeouts timeouts;
    // The device name the port was last opened as ("COM3", a terminal's path); kept after it
    // closes, so a port that vanished can be opened again where it was.
    std::string device;
    // The errno of the last read or write on the port, 0 after one that failed no transfer
    // (bytes moved, or a timeout with none). A device that vanished answers EIO, ENXIO or ENODEV.
    std::int32_t io_error = 0;
};

// Slots kMinComPort..kMaxComPort are the ports; slot 0 is unused so that the port number is the
// index.
using CommPortTable = std::array<CommPortSlot, kMaxComPort + 1>;

// The last failure of any operation; overwritten by each failure, never cleared by success.
struct CommErrorRecord {
    std::int32_t code = 0;  // errno, -1 for "Port in use.", or a run-time fault number
    std::string operation;  // the failing step, e.g. "CommOpen (SetCommState)"
    std::string message;    // SystemErrorText(code), maybe followed by the error flags
};

// Run-time fault numbers stored in the error record (bare operation name).
inline constexpr std::int32_t kCommFaultPortOutOfRange = 9;  // port number outside 1..16
inline constexpr std::int32_t kCommFaultUnexpected = 51;     // an exception inside an operation

// Largest number of bytes one read attempt asks the device for.
inline constexpr std::int32_t kCommReadBufferSize = 512;
// Number of read attempts of one CommRead, and the pause after each short attempt.
inline constexpr int kCommReadAttempts = 5;
inline constexpr int kCommReadRetryPauseMs = 5;

// The program's ports: the table, the error record, how a port is opened and the clock the
// pauses go through. Plain state passed by reference; two of them in one process are
// independent.
struct CommPorts {
    CommPorts(Clock& clock_ref, TransportOpener opener_fn)
        : clock(clock_ref), opener(std::move(opener_fn)) {}
    ~CommPorts();
    CommPorts(const CommPorts&) = delete;
    CommPorts& operator=(const CommPorts&) = delete;

    Clock& clock;
    TransportOpener opener;
    CommPortTable table;
    CommErrorRecord error;
    // Asked after every read attempt that came back short (up to 500 ms each while the device
    // is silent). False ends the read at once: a long procedure whose stop was pressed need
    // not wait out all five attempts. Empty: every read makes its attempts.
    std::function<bool()> keep_waiting;
};

// The opener used by the program: "COMn" is the terminal device ResolveComDevice(install_dir,
// n); any other name is taken as a device path.
TransportOpener TerminalDeviceOpener(std::filesystem::path install_dir);

// Opens port `port` as device `name` with line settings `settings`. 0 on success; -1 (and
// "Port in use.") when the slot is already open; otherwise the errno of the failing step.
// A failure after the device was opened leaves the slot marked open with its handle; the
// caller decides whether to CommClose it.
std::int32_t CommOpen(CommPorts& ports, int port, const std::string& name,
                      const std::string& settings);
// Closes the port. 0 on success or when it was not open; otherwise the errno.
std::int32_t CommClose(CommPorts& ports, int port);
// Discards everything queued in both directions. 0 or the errno.
std::int32_t CommFlush(CommPorts& ports, int port);
// Reads up to `wanted` bytes into `out` (emptied first); returns how many arrived.
std::int32_t CommRead(CommPorts& ports, int port, std::string& out, std::int32_t wanted);
// As CommRead, for the reply to a frame written at a known time: bytes seen before
// `not_before_us` (on ports.clock) cannot be that reply and are discarded as strays of an
// earlier exchange. Discarded bytes do not use up read attempts.
std::int32_t CommReadReply(CommPorts& ports, int port, std::string& out, std::int32_t wanted,
                           std::int64_t not_before_us);
// The time `bytes` characters take on the port's line at its settings (start bit, data bits,
// parity, stop bits), rounded down; 0 when the port is not open or its transport delivers at
// once (LineIsPaced false).
std::int64_t CommLineTimeUs(const CommPorts& ports, int port, std::int32_t bytes);
// Writes `data` (one byte per character). Returns the number written, or -1 on a failure.
std::int32_t CommWrite(CommPorts& ports, int port, const std::string& data);
// Line 1 = break, 2 = DTR, 3 = RTS; a non-zero state (true is -1) raises/sets, 0 drops/clears.
std::int32_t CommSetLine(CommPorts& ports, int port, int line, int state);

// True when the last read or write on `port` failed because the device itself is gone or broken
// (EIO, ENXIO, ENODEV, EBADF, EPIPE, ENOENT: a USB adapter unplugged, a closed terminal, a port
// that is not open), not merely silent. The port must be closed and opened again.
bool CommPortGone(const CommPorts& ports, int port);
// Whether `code` is one of the errno values CommPortGone stands for.
bool IsPortGoneError(std::int32_t code);

// Reads and discards input until none has arrived for `quiet_us` (at most a few ms even on a
// chattering line, after which the input is purged); with 0 it takes only what is already
// there. 0 or the errno.
std::int32_t CommDrain(CommPorts& ports, int port, std::int64_t quiet_us);

// Stores `code` with `operation` and SystemErrorText(code) in the error record; returns code.
std::int32_t RecordCommFault(CommPorts& ports, const std::string& operation, std::int32_t code);
// As RecordCommFault, then reads and clears the port's error flags and appends
// "  COMM Error Flags = " and the flags in upper-case hex.
std::int32_t RecordCommFaultWithFlags(CommPorts& ports, const std::string& operation, int port,
                                      std::int32_t code);
// The system's text for an errno code, trimmed; empty when the system has none.
std::string SystemErrorText(std::int32_t code);

// Overlays a settings text ("baud=115200 parity=N data=8 stop=1"; also xon=, octs=, dtr=,
// rts=) on `settings`. Keys not named keep their values. Returns false, leaving `settings`
// untouched, for an unknown key or a value that cannot be represented.
bool BuildLineSettings(const std::string& text, LineSettings& settings);

}  // namespace lumivo
