#include "sim/simulator_host.h"

#include <stdexcept>
#include <system_error>

#include "core/common/com_ports.h"
#include "core/platform/install_dir.h"

namespace lumivo::sim {

namespace {

bool PortEntryFree(const std::filesystem::path& install_dir, int port) {
    std::error_code ec;
    const auto link = ComLinkPath(install_dir, port);
    const auto status = std::filesystem::symlink_status(link, ec);
    if (!std::filesystem::exists(status)) return true;
    // A link whose target is gone was left by a run that ended without removing it.
    return std::filesystem::is_symlink(status) && !std::filesystem::exists(link, ec);
}

}  // namespace

int ChooseSimulatorPort(const std::filesystem::path& install_dir, int preferred) {
    if (preferred >= kMinComPort && preferred <= kScanLastPort &&
        PortEntryFree(install_dir, preferred))
        return preferred;
    for (int port = kMinComPort; port <= kScanLastPort; ++port) {
        if (PortEntryFree(install_dir, port)) return port;
    }
    return 0;
}

SimulatorHost::SimulatorHost(SimConfig config, PtyServerOptions options,
                             std::function<void(const std::string&)> on_error)
    : instrument_(std::make_unique<Instrument>(std::move(config))),
      server_(std::make_unique<PtyServer>(*instrument_, std::move(options))),
      on_error_(std::move(on_error)) {
    thread_ = std::thread([this] {
        try {
            server_->Run();
        } catch (const std::exception& e) {
            {
                const std::lock_guard<std::mutex> lock(error_mutex_);
                error_ = e.what();
            }
            if (on_error_) on_error_(e.what());
        }
    });
}

std::unique_ptr<SimulatorHost> SimulatorHost::AsPort(const std::filesystem::path& install_dir,
                                                     int preferred_port, SimConfig config) {
    const int port = ChooseSimulatorPort(install_dir, preferred_port);
    if (port == 0) {
        throw std::runtime_error("no free port " + ComPortName(kMinComPort) + ".." +
                                 ComPortName(kScanLastPort) + " for the simulated instrument");
    }
    PtyServerOptions options;
    options.link_path = ComLinkPath(install_dir, port);
    auto host = std::make_unique<SimulatorHost>(std::move(config), std::move(options));
    host->port_ = port;
    return host;
}

SimulatorHost::~SimulatorHost() {
    server_->RequestStop();
    if (thread_.joinable()) thread_.join();
    server_->RemoveLink();
}

std::string SimulatorHost::error() const {
    const std::lock_guard<std::mutex> lock(error_mutex_);
    return error_;
}

}  // namespace lumivo::sim
