#include "core/device/mod_comm.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <exception>
#include <sstream>
#include <vector>

#include "core/device/posix_serial.h"
#include "core/platform/install_dir.h"

namespace lumivo {
namespace {

std::int32_t RecordRuntimeFault(CommPorts& ports, const char* operation, std::int32_t code,
                                std::string message) {
    ports.error.code = code;
    ports.error.operation = operation;
    ports.error.message = std::move(message);
    return code;
}

std::int32_t RecordPortOutOfRange(CommPorts& ports, const char* operation) {
    return RecordRuntimeFault(ports, operation, kCommFaultPortOutOfRange, "Subscript out of range");
}

// Runs `body` on the slot of `port`, turning a bad port number or an exception into a
// recorded run-time fault with the bare operation name.
template <class Body>
std::int32_t Guarded(CommPorts& ports, const char* operation, int port, Body&& body) {
    if (!IsComPort(port)) return RecordPortOutOfRange(ports, operation);
    try {
        return body(ports.table[static_cast<std::size_t>(port)]);
    } catch (const std::exception& e) {
        return RecordRuntimeFault(ports, operation, kCommFaultUnexpected, e.what());
    } catch (...) {
        return RecordRuntimeFault(ports, operation, kCommFaultUnexpected, "Unexpected error");
    }
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::optional<long> ParseWhole(const std::string& s) {
    long v = 0;
    const char* end = s.data() + s.size();
    auto [p, ec] = std::from_chars(s.data(), end, v);
    if (ec != std::errc() || p != end) return std::nullopt;
    return v;
}

std::optional<bool> ParseOnOff(const std::string& v) {
    if (v == "on") return true;
    if (v == "off") return false;
    return std::nullopt;
}

std::int64_t ReadTotalUs(const CommTimeouts& t, std::int32_t bytes) {
    return (t.read_total_constant_ms + t.read_total_multiplier_ms * bytes) * 1000;
}

}  // namespace

CommPorts::~CommPorts() {
    for (auto& slot : table) {
        if (slot.handle) slot.handle->Close();
    }
}

TransportOpener TerminalDeviceOpener(std::filesystem::path install_dir) {
    return [dir = std::move(install_dir)](int port_number, const std::string& name) {
        std::filesystem::path device(name);
        if (name.size() > 3 && Lower(name.substr(0, 3)) == "com") {
            if (auto n = ParseWhole(name.substr(3)); n && *n >= 1 && *n <= 255) {
                device = ResolveComDevice(dir, static_cast<int>(*n));
            }
        }
        (void)port_number;
        return OpenPosixSerial(device);
    };
}

std::string SystemErrorText(std::int32_t code) {
    const char* text = strerrordesc_np(code);
    if (text == nullptr) return {};
    std::string s(text, strnlen(text, 255));
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

std::int32_t RecordCommFault(CommPorts& ports, const std::string& operation, std::int32_t code) {
    ports.error.code = code;
    ports.error.operation = operation;
    ports.error.message = SystemErrorText(code);
    return code;
}

std::int32_t RecordCommFaultWithFlags(CommPorts& ports, const std::string& operation, int port,
                                      std::int32_t code) {
    RecordCommFault(ports, operation, code);
    std::uint32_t flags = 0;
    if (IsComPort(port)) {
        auto& slot = ports.table[static_cast<std::size_t>(port)];
        if (slot.handle) flags = slot.handle->TakeErrorFlags();
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", flags);
    ports.error.message += "  COMM Error Flags = ";
    ports.error.message += hex;
    return code;
}

namespace {

// The value of `text` in a table of spellings; false when it has none.
template <typename T, std::size_t N>
bool Lookup(const std::pair<const char*, T> (&table)[N], const std::string& text, T& out) {
    for (const auto& [spelling, value] : table) {
        if (text == spelling) {
            out = value;
            return true;
        }
    }
    return false;
}

constexpr std::pair<const char*, Parity> kParities[] = {{"n", Parity::None},
                                                        {"o", Parity::Odd},
                                                        {"e", Parity::Even},
                                                        {"m", Parity::Mark},
                                                        {"s", Parity::Space}};
constexpr std::pair<const char*, StopBits> kStopBits[] = {
    {"1", StopBits::One}, {"1.5", StopBits::OnePointFive}, {"2", StopBits::Two}};

}  // namespace

bool BuildLineSettings(const std::string& text, LineSettings& settings) {
    LineSettings out = settings;
    std::istringstream words(text);
    std::string word;
    bool any = false;
    while (words >> word) {
        const auto eq = word.find('=');
        if (eq == std::string::npos || eq == 0 || eq + 1 == word.size()) return false;
        const std::string key = Lower(word.substr(0, eq));
        const std::string value = Lower(word.substr(eq + 1));
        if (key == "baud") {
            auto v = ParseWhole(value);
            if (!v || *v <= 0 || *v > 4'000'000) return false;
            out.baud = static_cast<std::uint32_t>(*v);
        } else if (key == "parity") {
            if (!Lookup(kParities, value, out.parity)) return false;
        } else if (key == "data") {
            auto v = ParseWhole(value);
            if (!v || *v < 5 || *v > 8) return false;
            out.data_bits = static_cast<int>(*v);
        } else if (key == "stop") {
            if (!Lookup(kStopBits, value, out.stop_bits)) return false;
        } else if (key == "xon") {
            auto v = ParseOnOff(value);
            if (!v) return false;
            out.xon_xoff = *v;
        } else if (key == "octs") {
            auto v = ParseOnOff(value);
            if (!v) return false;
            out.rts_cts = *v;
        } else if (key == "dtr") {
            auto v = ParseOnOff(value);
            if (!v) return false;
            out.dtr_on_open = *v;
        } else if (key == "rts") {
            if (value == "hs") {
                out.rts_cts = true;
            } else {
                auto v = ParseOnOff(value);
                if (!v) return false;
                out.rts_on_open = *v;
            }
        } else {
            return false;
        }
        any = true;
    }
    if (!any) return false;
    settings = out;
    return true;
}

std::int32_t CommOpen(CommPorts& ports, int port, const std::string& name,
                      const std::string& settings) {
    return Guarded(ports, "CommOpen", port, [&](CommPortSlot& slot) -> std::int32_t {
        if (slot.open) {
            ports.error.code = -1;
            ports.error.operation = "CommOpen";
            ports.error.message = "Port in use.";
            return -1;
        }
        if (!ports.opener) return RecordCommFault(ports, "CommOpen (CreateFile)", ENODEV);
        TransportOpenResult opened = ports.opener(port, name);
        if (!opened.transport) {
            return RecordCommFault(ports, "CommOpen (CreateFile)",
                                   opened.error != 0 ? opened.error : ENODEV);
        }
        slot.handle = std::move(opened.transport);
        slot.open = true;
        slot.device = name;
        slot.io_error = 0;
        // A terminal device has no queue sizes to set: its queues are the kernel's.
        if (int e = slot.handle->Purge(); e != 0) {
            return RecordCommFault(ports, "CommOpen (PurgeComm)", e);
        }
        // The timeouts are applied by every read and write from the slot.
        slot.timeouts = CommTimeouts{};
        LineSettings current;
        if (int e = slot.handle->GetLineSettings(current); e != 0) {
            return RecordCommFault(ports, "CommOpen (GetCommState)", e);
        }
        slot.line_settings = current;
        if (!BuildLineSettings(settings, slot.line_settings)) {
            return RecordCommFault(ports, "CommOpen (BuildCommDCB)", EINVAL);
        }
        if (int e = slot.handle->Configure(slot.line_settings); e != 0) {
            return RecordCommFault(ports, "CommOpen (SetCommState)", e);
        }
        return 0;
    });
}

std::int32_t CommClose(CommPorts& ports, int port) {
    return Guarded(ports, "CommClose", port, [&](CommPortSlot& slot) -> std::int32_t {
        if (!slot.open) return 0;
        if (slot.handle) {
            if (int e = slot.handle->Close(); e != 0) {
                return RecordCommFault(ports, "CommClose (CloseHandle)", e);
            }
        }
        slot.handle.reset();
        slot.open = false;
        return 0;
    });
}

std::int32_t CommFlush(CommPorts& ports, int port) {
    return Guarded(ports, "CommFlush", port, [&](CommPortSlot& slot) -> std::int32_t {
        if (!slot.handle) return RecordCommFault(ports, "CommFlush (PurgeComm)", EBADF);
        if (int e = slot.handle->Purge(); e != 0) {
            return RecordCommFault(ports, "CommFlush (PurgeComm)", e);
        }
        return 0;
    });
}

namespace {

// CommRead and CommReadReply. While `not_before_us` has not passed, the reply is read one byte
// at a time and every byte seen is dropped: it came before the far end could have answered.
std::int32_t ReadFromPort(CommPorts& ports, int port, std::string& out, std::int32_t wanted,
                          std::int64_t not_before_us) {
    out.clear();
    if (!IsComPort(port)) {
        RecordPortOutOfRange(ports, "CommRead");
        return 0;
    }
    auto& slot = ports.table[static_cast<std::size_t>(port)];
    if (wanted <= 0) return 0;
    if (!slot.handle) {
        slot.io_error = EBADF;
        RecordCommFaultWithFlags(ports, "CommRead (ReadFile)", port, EBADF);
        return 0;
    }
    std::int32_t total = 0;
    try {
        std::uint8_t buffer[kCommReadBufferSize];
        int retries = 0;
        int last_error = 0;
        bool screening = not_before_us > 0;
        while (total < wanted && retries < kCommReadAttempts) {
            const std::int32_t ask = screening ? 1 : std::min(wanted - total, kCommReadBufferSize);
            const ReadTimeouts timeouts{slot.timeouts.read_interval_ms * 1000,
                                        ReadTotalUs(slot.timeouts, ask)};
            const IoResult r = slot.handle->Read(buffer, static_cast<std::size_t>(ask), timeouts);
            const auto got = static_cast<std::int32_t>(
                std::min<std::size_t>(r.bytes, static_cast<std::size_t>(ask)));
            last_error = r.error;
            if (screening && got > 0) {
                // Seen before the frame had even crossed the line: a stray byte.
                if (ports.clock.MonotonicMicros() < not_before_us) continue;
                // The first byte of the reply; the rest is read as usual.
                screening = false;
                out.append(reinterpret_cast<const char*>(buffer), 1);
                total += 1;
                continue;
            }
            out.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(got));
            total += got;
            if (total < wanted) {
                ++retries;
                if (ports.keep_waiting && !ports.keep_waiting()) break;
                // What ran meanwhile may have closed the port.
                if (!slot.handle) break;
                ports.clock.SleepMs(kCommReadRetryPauseMs);
            }
        }
        slot.io_error = last_error;
        if (last_error != 0)
            RecordCommFaultWithFlags(ports, "CommRead (ReadFile)", port, last_error);
    } catch (const std::exception& e) {
        RecordRuntimeFault(ports, "CommRead", kCommFaultUnexpected, e.what());
    } catch (...) {
        RecordRuntimeFault(ports, "CommRead", kCommFaultUnexpected, "Unexpected error");
    }
    if (total < wanted) CommFlush(ports, port);
    return total;
}

}  // namespace

std::int32_t CommRead(CommPorts& ports, int port, std::string& out, std::int32_t wanted) {
    return ReadFromPort(ports, port, out, wanted, 0);
}

std::int32_t CommReadReply(CommPorts& ports, int port, std::string& out, std::int32_t wanted,
                           std::int64_t not_before_us) {
    return ReadFromPort(ports, port, out, wanted, not_before_us);
}

std::int64_t CommLineTimeUs(const CommPorts& ports, int port, std::int32_t bytes) {
    if (!IsComPort(port) || bytes <= 0) return 0;
    const auto& slot = ports.table[static_cast<std::size_t>(port)];
    if (!slot.handle || !slot.handle->LineIsPaced()) return 0;
    const LineSettings& s = slot.line_settings;
    if (s.baud == 0) return 0;
    // In half bits, so that 1.5 stop bits count exactly.
    int half_bits = 2 * (1 + s.data_bits) + (s.parity == Parity::None ? 0 : 2);
    switch (s.stop_bits) {
        case StopBits::One:
            half_bits += 2;
            break;
        case StopBits::OnePointFive:
            half_bits += 3;
            break;
        case StopBits::Two:
            half_bits += 4;
            break;
    }
    return static_cast<std::int64_t>(bytes) * half_bits * 1'000'000 / (2 * std::int64_t{s.baud});
}

std::int32_t CommWrite(CommPorts& ports, int port, const std::string& data) {
    return Guarded(ports, "CommWrite", port, [&](CommPortSlot& slot) -> std::int32_t {
        if (!slot.handle) {
            slot.io_error = EBADF;
            RecordCommFaultWithFlags(ports, "CommWrite (WriteFile)", port, EBADF);
            return -1;
        }
        const std::span<const std::uint8_t> bytes(
            reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
        const auto n = static_cast<std::int64_t>(data.size());
        const std::int64_t timeout_us =
            (slot.timeouts.write_total_constant_ms + slot.timeouts.write_total_multiplier_ms * n) *
            1000;
        const IoResult r = slot.handle->Write(bytes, timeout_us);
        slot.io_error = r.error;
        if (r.error != 0) {
            RecordCommFaultWithFlags(ports, "CommWrite (WriteFile)", port, r.error);
            return -1;
        }
        return static_cast<std::int32_t>(r.bytes);
    });
}

bool IsPortGoneError(std::int32_t code) {
    switch (code) {
        case EIO:
        case ENXIO:
        case ENODEV:
        case EBADF:
        case EPIPE:
        case ENOENT:
            return true;
        default:
            return false;
    }
}

bool CommPortGone(const CommPorts& ports, int port) {
    if (!IsComPort(port)) return false;
    const CommPortSlot& slot = ports.table[static_cast<std::size_t>(port)];
    return !slot.handle || IsPortGoneError(slot.io_error);
}

std::int32_t CommSetLine(CommPorts& ports, int port, int line, int state) {
    return Guarded(ports, "CommSetLine", port, [&](CommPortSlot& slot) -> std::int32_t {
        // Any non-zero state sets: callers pass the program's boolean true, -1.
        const bool on = state != 0;
        LineFunction f = LineFunction::None;
        switch (line) {
            case 1:
                f = on ? LineFunction::SetBreak : LineFunction::ClearBreak;
                break;
            case 2:
                f = on ? LineFunction::SetDtr : LineFunction::ClearDtr;
                break;
            case 3:
                f = on ? LineFunction::SetRts : LineFunction::ClearRts;
                break;
            default:
                break;
        }
        const int e = slot.handle ? slot.handle->SetLine(f) : EBADF;
        if (e != 0) return RecordCommFault(ports, "CommSetLine (EscapeCommFunction)", e);
        return 0;
    });
}

std::int32_t CommDrain(CommPorts& ports, int port, std::int64_t quiet_us) {
    return Guarded(ports, "CommDrain", port, [&](CommPortSlot& slot) -> std::int32_t {
        if (!slot.handle) return RecordCommFault(ports, "CommDrain (ReadFile)", EBADF);
        // Each round waits at most quiet_us; a line that keeps talking past a few rounds is
        // purged instead of being waited out.
        constexpr int kMaxRounds = 8;
        std::uint8_t buffer[64];
        for (int round = 0; round < kMaxRounds; ++round) {
            const IoResult r = slot.handle->Read(buffer, sizeof buffer, {quiet_us, quiet_us});
            if (r.error != 0) {
                return RecordCommFaultWithFlags(ports, "CommDrain (ReadFile)", port, r.error);
            }
            if (r.bytes == 0) return 0;
        }
        if (int e = slot.handle->Purge(); e != 0) {
            return RecordCommFault(ports, "CommDrain (PurgeComm)", e);
        }
        return 0;
    });
}

}  // namespace lumivo
