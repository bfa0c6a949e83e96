// Serves a simulated instrument on a pseudo-terminal, so the program (or any terminal client)
// can open it like a serial port.
//
// - The slave side is set to raw 115200 8N1; a link (normally ports/COMn in the installation
//   folder) points to it. A stale link is replaced; a regular file or folder in its place is
//   never clobbered. The link is removed when the server is destroyed, unless it was meanwhile
//   repointed elsewhere.
// - Reply bytes are written to the master when the model says they are due (less a small lead
//   that makes up for the pseudo-terminal's own delays), in batches every few hundred
//   microseconds, so a paced 192-byte block takes ~16.7 ms to arrive. The bytes the
//   host writes are handed to the model with their line-rate arrival times as well.
// - The server keeps a slave descriptor of its own open, so clients may close and reopen the
//   device at will.
// - Modem lines are invisible through a pty, so the server holds RTS and DTR raised in the
//   model: every null frame is answered with the serial number.
// - Flushes of the host's queues (tcflush on the slave) are seen through the master's packet
//   mode and purge the model's pending reply, as the in-process link does.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "sim/instrument.h"

namespace lumivo::sim {

struct PtyServerOptions {
    // Where to create the link to the slave device; empty: no link.
    std::filesystem::path link_path;
    // Longest wait between two deliveries of due bytes while a reply is on its way.
    std::int64_t batch_us = 300;
    // Reply bytes are handed over this long before they are due. Each direction of a
    // pseudo-terminal goes through a kernel hand-over (about 25 us), which a serial line does
    // not have: the host's frame reaches the server late and the reply reaches the host late.
    // The lead makes up for both, so an exchange counted from the host's write takes about what
    // the line would take. It stays well below the think time plus one byte time, so a reply
    // never reaches the host before its frame could have crossed the line.
    std::int64_t delivery_lead_us = 50;
};

class PtyServer {
  public:
    // Opens the pseudo-terminal and creates the link. Throws std::runtime_error (with the
    // system's reason) when either fails. The instrument must outlive the server and is touched
    // only by the thread that calls Run().
    PtyServer(Instrument& instrument, PtyServerOptions options);
    ~PtyServer();
    PtyServer(const PtyServer&) = delete;
    PtyServer& operator=(const PtyServer&) = delete;

    const std::filesystem::path& SlavePath() const { return slave_path_; }
    const std::filesystem::path& LinkPath() const { return link_path_; }

    // Serves until RequestStop(). Returns normally, or throws std::runtime_error when the
    // pseudo-terminal fails for good.
    void Run();
    // Both may be called from any thread (they only set flags the serving loop reads).
    void RequestStop() { stop_.store(true); }
    void RequestUnplugToggle() { toggle_unplug_.store(true); }

    // Removes the link now (also done by the destructor). Idempotent.
    void RemoveLink();

  private:
    void HandleMasterInput(std::int64_t now_us);
    void FlushOutgoing();

    Instrument& instrument_;
    PtyServerOptions options_;
    int master_fd_ = -1;
    int slave_fd_ = -1;
    bool packet_mode_ = false;
    std::filesystem::path slave_path_;
    std::filesystem::path link_path_;
    bool link_created_ = false;
    std::vector<std::uint8_t> outgoing_;  // due bytes the master could not take yet
    std::int64_t host_line_free_us_ = 0;  // when the host's last byte finished arriving
    std::atomic<bool> stop_{false};
    std::atomic<bool> toggle_unplug_{false};
};

// Creates (or replaces) the symbolic link `link` -> `target`, creating its folder. Refuses
// (std::runtime_error) when something other than a symbolic link is in the way.
void InstallDeviceLink(const std::filesystem::path& link, const std::filesystem::path& target);

}  // namespace lumivo::sim
