// Finding the instrument: the configured port first, then COM1..COM15, each identified by the
// serial number it answers; when nothing answers, the user may type a port number or go
// offline. Also the logic behind the main window's "Connect" button, its disconnect button and
// the port menu "COM1".."COM15". The window only forwards its clicks here and shows what the
// ConnectionView is told.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/common/com_ports.h"
#include "core/device/command_set.h"
#include "core/storage/config_file.h"

namespace lumivo {

// Serial-number windows: the configured port must answer 15..200, a port met in the scan
// 10..200.
inline constexpr int kConfiguredPortMinSerial = 15;
inline constexpr int kScannedPortMinSerial = 10;
inline constexpr int kMaxSerial = 200;

// Pauses of the search, in milliseconds.
inline constexpr int kPortOpenPauseMs = 100;
inline constexpr int kSerialRetryPauseMs = 10;
inline constexpr int kSerialAttemptsPerPort = 2;

inline constexpr const char* kInvalidPortMessage = "Invalid Port Number. Offline Mode";
// What the main window says once a connect found no instrument and the program works offline.
inline constexpr const char* kOfflineNotice =
    "No instrument found: working offline. Recorded experiments can be analysed; press Connect "
    "to look for the instrument again.";

// Connection flags of the program.
struct ConnectionState {
    bool OfflineMode = false;          // the program works without an instrument
    bool InstrumentConnected = false;  // set by a successful connect
};

// What the connection logic shows; the main window implements it.
class ConnectionView {
  public:
    virtual ~ConnectionView() = default;
    // The status line `lbl_autochannel`.
    virtual void SetStatusText(const std::string& text) = 0;
    // The launcher's news line `LblNews`.
    virtual void SetLauncherNews(const std::string& text) = 0;
    // The caption `lbl_autotext` of the automatic-action frame.
    virtual void SetAutoActionText(const std::string& text) = 0;
    // Shows or hides the automatic-action frame `frm_autotext` and the progress box
    // `picturecal` together.
    virtual void ShowAutoActionPanels(bool visible) = 0;
    // Unchecks the port menu entries "COM1".."COM15" and checks `port` (none when outside).
    virtual void CheckPortMenuEntry(int port) = 0;
    // Offline after a connect, as the port question offered: the main window stays and says
    // so with `notice`.
    virtual void ShowOffline(const std::string& notice) = 0;
};

// Everything the connection procedures work on.
struct ConnectionContext {
    DeviceLink& link;  // its ComPortNumber is the port in use
    ConnectionState& state;
    ConnectionView& view;
    StorageContext& storage;
    GlobalConfig& config;  // config.dat; ComPortNumber is copied into it when saved
};

// The instrument's serial number as printed on it: "LMVO" + five digits ("LMVO00123").
std::string InstrumentSerialText(int serial);

// "COM(" + port + ") PORT ERROR. Type New Port number or <Enter> to go Offline".
std::string PortErrorPrompt(int port);

// The search. Returns true with the instrument's port open as link.ComPortNumber and
// link.SerialNumber set; false with OfflineMode set and no port open.
bool OpenInstrumentPort(ConnectionContext& ctx);

// "Connect": closes a port still open from an earlier connect, searches, marks the port menu,
// then either reads the sensor calibration and sets InstrumentConnected, or (no instrument, and
// Enter or no usable port at the port question) works offline and says so.
void ConnectInstrument(ConnectionContext& ctx);

// Opening a port known beforehand (the command line's --com N, or a simulated instrument's
// terminal), without a search: the port `port` is opened at `device` ("COMn" for the
// installation's port n) and must answer its serial number. On success the port stays open
// and link.ComPortNumber and link.SerialNumber name it; otherwise it is closed again.
struct InstrumentAtPort {
    enum class Result { Answered, PortNotOpened, NoAnswer };
    Result result = Result::PortNotOpened;
    CommErrorRecord error;  // why the port did not open (PortNotOpened)
};
InstrumentAtPort OpenInstrumentAt(DeviceLink& link, int port, const std::string& device);

// One quick look for the instrument while a run waits for it to come back: `port` is opened as
// `device` and asked its serial number once, with timeouts short enough that a silent port
// holds the caller for about `wait_ms`. On Answered the port stays open and `serial` is the
// number it answered (link.SerialNumber is left alone: the caller decides whether it is the
// instrument it lost); otherwise the port is closed again.
struct InstrumentProbe {
    InstrumentAtPort::Result result = InstrumentAtPort::Result::PortNotOpened;
    int serial = -1;
    CommErrorRecord error;  // why the port did not open
};
InstrumentProbe ProbeInstrumentAt(DeviceLink& link, int port, const std::string& device,
                                  int wait_ms);

// The last step of every connect, once the instrument answered on its open port: the program
// is connected (online) and the instrument's sensor calibration is read.
void AcceptInstrument(DeviceLink& link, ConnectionState& state);

// Disconnect: closes the port unless offline and clears InstrumentConnected.
void DisconnectInstrument(ConnectionContext& ctx);

// Port menu entry `index` (1..15): marks it and makes it the port of the next connect, saved in
// config.dat. An open port stays open until the next connect.
void SelectComPort(ConnectionContext& ctx, int index);

// The launcher's news text while connected ("status: Connected in COM" + port), or nullopt.
std::optional<std::string> LauncherConnectedNews(const ConnectionState& state, int port);

// Reads a port number typed at the port prompt: digits only (blanks around them allowed).
// nullopt for anything else, including an empty answer.
std::optional<int> ParseTypedPort(const std::string& text);

}  // namespace lumivo
