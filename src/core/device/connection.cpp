#include "core/device/connection.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <utility>

namespace lumivo {

namespace {

// A status text goes to the window at once, followed by a pass of pending window events so the
// user sees each step of a search that blocks the interface for seconds.
void ShowStatus(ConnectionContext& ctx, const std::string& text) {
    ctx.view.SetStatusText(text);
    ctx.link.dialogs.ProcessEvents();
}

void ShowConnected(ConnectionContext& ctx, int port) {
    const std::string where = "COM[ " + std::to_string(port) + " ]";
    ctx.view.SetLauncherNews("Status = Connected on " + where);
    ShowStatus(ctx, "Connected on " + where);
}

// Opens `port` for the instrument. A failure after the device was opened leaves the slot marked
// open; it is closed here, or every later open of that port in this run would be refused as
// "Port in use.".
bool OpenPort(ConnectionContext& ctx, int port) {
    if (!IsComPort(port)) return false;
    if (CommOpen(ctx.link.ports, port, ComPortName(port), kInstrumentPortSettings) == 0)
        return true;
    if (ctx.link.ports.table[static_cast<std::size_t>(port)].open) CommClose(ctx.link.ports, port);
    return false;
}

bool InWindow(int serial, int min_serial) {
    return serial >= min_serial && serial <= kMaxSerial;
}

// Asks the open port for the serial number up to kSerialAttemptsPerPort times; the accepted
// number or 0.
int IdentifyScannedPort(ConnectionContext& ctx, int port) {
    for (int attempt = 0; attempt < kSerialAttemptsPerPort; ++attempt) {
        ctx.link.clock.SleepMs(kSerialRetryPauseMs);
        const int n = ReadSerialNumber(ctx.link, port);
        if (InWindow(n, kScannedPortMinSerial)) return n;
    }
    return 0;
}

void CloseEveryOpenPort(ConnectionContext& ctx) {
    for (int port = kMinComPort; port <= kMaxComPort; ++port) {
        if (ctx.link.ports.table[static_cast<std::size_t>(port)].open)
            CommClose(ctx.link.ports, port);
    }
}

// The port prompt after a search that found nothing. Returns true when a typed port holds the
// instrument, which is then left open as the port in use.
bool AskForPort(ConnectionContext& ctx, int last_port_tried) {
    const auto answer = ctx.link.dialogs.InputBox(PortErrorPrompt(last_port_tried));
    const auto typed = answer ? ParseTypedPort(*answer) : std::nullopt;
    if (!typed || *typed < kMinComPort || *typed > kScanLastPort) return false;

    const int port = *typed;
    ctx.link.ComPortNumber = static_cast<std::int16_t>(port);
    if (OpenPort(ctx, port)) {
        // A port that merely opens is not the instrument: it must answer its serial number,
        // and then it stays open, exactly as a port found by the scan.
        const int serial = IdentifyScannedPort(ctx, port);
        if (serial != 0) {
            ctx.link.SerialNumber = static_cast<std::int16_t>(serial);
            ShowConnected(ctx, port);
            ctx.config.ComPortNumber = static_cast<std::int16_t>(port);
            SaveConfig(ctx.storage, ctx.config);
            return true;
        }
        CommClose(ctx.link.ports, port);
    }
    ctx.link.SerialNumber = 0;
    ctx.link.dialogs.MessageBox(kInvalidPortMessage);
    return false;
}

}  // namespace

std::string InstrumentSerialText(int serial) {
    std::string digits = std::to_string(serial);
    if (digits.size() < 5) digits.insert(0, 5 - digits.size(), '0');
    return "LMVO" + digits;
}

std::string PortErrorPrompt(int port) {
    return "COM(" + std::to_string(port) +
           ") PORT ERROR. Type New Port number or <Enter> to go Offline";
}

std::optional<int> ParseTypedPort(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])) != 0) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])) != 0) --end;
    if (begin == end) return std::nullopt;
    int value = 0;
    const char* first = text.data() + begin;
    const char* last = text.data() + end;
    if (std::isdigit(static_cast<unsigned char>(*first)) == 0) return std::nullopt;
    const auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || ptr != last) return std::nullopt;
    return value;
}

bool OpenInstrumentPort(ConnectionContext& ctx) {
    DeviceLink& link = ctx.link;
    int port = link.ComPortNumber;
    bool found = false;

    // The configured port, with the stricter serial-number window.
    ShowStatus(ctx, "Opening Port [" + std::to_string(port) + "]");
    link.clock.SleepMs(kPortOpenPauseMs);
    if (OpenPort(ctx, port)) {
        const int n = ReadSerialNumber(link, port);
        found = InWindow(n, kConfiguredPortMinSerial);
        link.SerialNumber = static_cast<std::int16_t>(found ? n : 0);
        CommClose(link.ports, port);
    }
    if (!found) port = 0;

    // The scan: COM1..COM15, the configured port included.
    while (!found && port < kScanLastPort) {
        ++port;
        link.ComPortNumber = static_cast<std::int16_t>(port);
        ShowStatus(ctx, "Opening Port [" + std::to_string(port) + "]");
        link.clock.SleepMs(kPortOpenPauseMs);
        if (!OpenPort(ctx, port)) continue;
        const int n = IdentifyScannedPort(ctx, port);
        link.SerialNumber = static_cast<std::int16_t>(n);
        if (n != 0) {
            found = true;
            ShowConnected(ctx, port);
        }
        CommClose(link.ports, port);
    }
    link.ComPortNumber = static_cast<std::int16_t>(port);

    if (!found) {
        const bool typed_found = AskForPort(ctx, port);
        ctx.state.OfflineMode = !typed_found;
        return typed_found;
    }

    // Found: open the port again and keep it for the rest of the run. Should that fail, the
    // program must not believe itself connected to a port it cannot use.
    if (!OpenPort(ctx, port)) {
        link.SerialNumber = 0;
        ctx.state.OfflineMode = true;
        return false;
    }
    ctx.state.OfflineMode = false;
    ctx.config.ComPortNumber = static_cast<std::int16_t>(port);
    return true;
}

void ConnectInstrument(ConnectionContext& ctx) {
    DeviceLink& link = ctx.link;
    // A second "Connect" while connected: the old port is released first, or the search would
    // find its own open port "in use" and miss the instrument.
    CloseEveryOpenPort(ctx);
    ctx.state.InstrumentConnected = false;
    if (IsComPort(ctx.config.ComPortNumber)) link.ComPortNumber = ctx.config.ComPortNumber;

    ctx.view.SetAutoActionText("CONNECTING:");
    ctx.view.ShowAutoActionPanels(true);
    ShowStatus(ctx, "STARTING.....");

    OpenInstrumentPort(ctx);

    ctx.view.CheckPortMenuEntry(link.ComPortNumber);
    link.sensor = SensorCalibrationBlock{};  // offset 0.0, slope 0.219 until read back

    if (ctx.state.OfflineMode) {
        // The port question said "<Enter> to go Offline": the program goes offline where it
        // is, without a second message and without leaving the main window.
        ShowStatus(ctx, "Equipment not found");
        ctx.view.ShowOffline(kOfflineNotice);
    } else {
        ShowStatus(ctx, "Reading Factory Calibration...");
        AcceptInstrument(link, ctx.state);
    }

    ctx.view.ShowAutoActionPanels(false);
    ctx.view.SetAutoActionText("");
    ctx.view.SetStatusText("");
}

InstrumentAtPort OpenInstrumentAt(DeviceLink& link, int port, const std::string& device) {
    InstrumentAtPort out;
    link.ComPortNumber = static_cast<std::int16_t>(port);
    if (CommOpen(link.ports, port, device, kInstrumentPortSettings) != 0) {
        out.error = link.ports.error;
        // A failure after the device was opened leaves the slot marked open.
        if (IsComPort(port) && link.ports.table[static_cast<std::size_t>(port)].open)
            CommClose(link.ports, port);
        return out;
    }
    const int serial = ReadSerialNumber(link, port);
    if (serial < 0) {
        CommClose(link.ports, port);
        out.result = InstrumentAtPort::Result::NoAnswer;
        return out;
    }
    link.SerialNumber = static_cast<std::int16_t>(serial);
    out.result = InstrumentAtPort::Result::Answered;
    return out;
}

InstrumentProbe ProbeInstrumentAt(DeviceLink& link, int port, const std::string& device,
                                  int wait_ms) {
    InstrumentProbe out;
    if (!IsComPort(port)) return out;
    CommPortSlot& slot = link.ports.table[static_cast<std::size_t>(port)];
    if (slot.open) CommClose(link.ports, port);
    if (CommOpen(link.ports, port, device, kInstrumentPortSettings) != 0) {
        out.error = link.ports.error;
        if (slot.open) CommClose(link.ports, port);
        return out;
    }
    // One short read attempt instead of five long ones: a port that does not answer at once
    // is tried again later, and meanwhile the caller goes on.
    const CommTimeouts usual = slot.timeouts;
    slot.timeouts.read_total_constant_ms = std::max(wait_ms, 1);
    slot.timeouts.read_interval_ms = std::min<std::int64_t>(usual.read_interval_ms, wait_ms);
    auto keep_waiting = std::exchange(link.ports.keep_waiting, [] { return false; });
    const int serial = ReadSerialNumber(link, port);
    link.ports.keep_waiting = std::move(keep_waiting);
    slot.timeouts = usual;
    if (serial < 0) {
        CommClose(link.ports, port);
        out.result = InstrumentAtPort::Result::NoAnswer;
        return out;
    }
    out.result = InstrumentAtPort::Result::Answered;
    out.serial = serial;
    return out;
}

void AcceptInstrument(DeviceLink& link, ConnectionState& state) {
    state.OfflineMode = false;
    state.InstrumentConnected = true;
    ReadSensorCalibration(link);
}

void DisconnectInstrument(ConnectionContext& ctx) {
    if (ctx.state.OfflineMode) return;
    if (IsComPort(ctx.link.ComPortNumber)) CommClose(ctx.link.ports, ctx.link.ComPortNumber);
    ctx.state.InstrumentConnected = false;
}

void SelectComPort(ConnectionContext& ctx, int index) {
    if (index < kMinComPort || index > kScanLastPort) return;
    ctx.view.CheckPortMenuEntry(index);
    // The port in use keeps talking on its own number until the next connect; only the
    // configured port changes.
    if (!ctx.state.InstrumentConnected) ctx.link.ComPortNumber = static_cast<std::int16_t>(index);
    ctx.config.ComPortNumber = static_cast<std::int16_t>(index);
    SaveConfig(ctx.storage, ctx.config);
}

std::optional<std::string> LauncherConnectedNews(const ConnectionState& state, int port) {
    if (!state.InstrumentConnected) return std::nullopt;
    return "status: Connected in COM" + std::to_string(port);
}

}  // namespace lumivo
