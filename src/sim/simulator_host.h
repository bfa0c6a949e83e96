// The simulated instrument served on a pseudo-terminal by a thread of this process: the
// desktop program's "--simulate" links it as port COMn of the installation folder, and
// "lumivo-cli acquire --simulate" opens the terminal by its own path. Either way the samples
// travel the real serial path at the instrument's line rate.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sim/instrument.h"
#include "sim/pty_server.h"

namespace lumivo::sim {

// A port number kMinComPort..kScanLastPort whose ports/COMn entry is free (absent, or a link
// left dangling by an earlier run): `preferred` when it is free, else the lowest free one. 0
// when none is.
int ChooseSimulatorPort(const std::filesystem::path& install_dir, int preferred);

class SimulatorHost {
  public:
    // Starts serving `config`, linked at `options.link_path` when that is set. `on_error`, when
    // given, is called from the serving thread with the reason when serving stops early. Throws
    // std::runtime_error when the pseudo-terminal or its link cannot be set up.
    explicit SimulatorHost(SimConfig config, PtyServerOptions options = {},
                           std::function<void(const std::string&)> on_error = {});
    // Stops serving and removes the link.
    ~SimulatorHost();
    SimulatorHost(const SimulatorHost&) = delete;
    SimulatorHost& operator=(const SimulatorHost&) = delete;

    // Serves as port COMn of the installation folder (the link ports/COMn), n chosen by
    // ChooseSimulatorPort. Throws std::runtime_error when no port is free or the terminal cannot
    // be set up.
    static std::unique_ptr<SimulatorHost> AsPort(const std::filesystem::path& install_dir,
                                                 int preferred_port, SimConfig config = {});

    // The port it serves as (0 when it was not started as a port).
    int port() const { return port_; }
    // The terminal's device, to be opened like a serial port.
    const std::filesystem::path& device() const { return server_->SlavePath(); }
    const std::filesystem::path& link() const { return server_->LinkPath(); }
    // The reason the serving thread stopped early ("" while it serves).
    std::string error() const;

  private:
    int port_ = 0;
    std::unique_ptr<Instrument> instrument_;
    std::unique_ptr<PtyServer> server_;
    std::function<void(const std::string&)> on_error_;
    mutable std::mutex error_mutex_;
    std::string error_;
    std::thread thread_;
};

}  // namespace lumivo::sim
