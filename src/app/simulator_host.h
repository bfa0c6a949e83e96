// The built-in simulated instrument of "--simulate": the in-process model served on a
// pseudo-terminal by a thread of its own, reachable as port COMn of the installation folder
// through the link ports/COMn. The link is removed when the host is destroyed.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sim/instrument.h"
#include "sim/pty_server.h"

namespace lumivo::app {

// A port number 1..15 whose ports/COMn entry is free (absent, or a link left dangling by an
// earlier run): `preferred` when it is free, else the lowest free one. 0 when none is.
int ChooseSimulatorPort(const std::filesystem::path& install_dir, int preferred);

class SimulatorHost {
  public:
    // Starts serving on the chosen port. Throws std::runtime_error when no port is free or the
    // pseudo-terminal cannot be set up.
    SimulatorHost(const std::filesystem::path& install_dir, int preferred_port,
                  sim::SimConfig config = {});
    ~SimulatorHost();
    SimulatorHost(const SimulatorHost&) = delete;
    SimulatorHost& operator=(const SimulatorHost&) = delete;

    int port() const { return port_; }
    const std::filesystem::path& link() const { return server_->LinkPath(); }
    // The reason the serving thread stopped early ("" while it serves).
    std::string error() const;

  private:
    int port_ = 0;
    std::unique_ptr<sim::Instrument> instrument_;
    std::unique_ptr<sim::PtyServer> server_;
    std::thread thread_;
    mutable std::mutex error_mutex_;
    std::string error_;
};

}  // namespace lumivo::app
