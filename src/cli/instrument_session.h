// What the instrument-maintenance commands (selftest, sensor-calibrate, factory) share: the
// port option, questions asked on the terminal (answered by --yes), and one session with the
// instrument on a port of the installation.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "cli/cli_messages.h"
#include "core/control/line_traffic.h"
#include "core/device/command_set.h"
#include "core/storage/file_system.h"
#include "core/storage/storage_context.h"

namespace lumivo::cli {

// Exit status of a command that could not run: no instrument, a communication error.
inline constexpr int kCouldNotRun = 3;

// --com N, required: the port number 1..16.
int TakeInstrumentPort(Args& args);

// Messages on stderr; questions asked on the terminal ("[y/N]", read from stdin, where
// anything but y or yes, and the end of the input, is No or Cancel) unless --yes answers them.
class TerminalDialogs final : public CliDialogs {
  public:
    TerminalDialogs(std::string command, bool answer_yes)
        : CliDialogs(std::move(command)), answer_yes_(answer_yes) {}

  protected:
    MsgResult Answer(MsgButtons buttons) override;

  private:
    bool answer_yes_;
};

// The instrument on one port of the installation, its traffic counted.
struct InstrumentSession {
    InstrumentSession(const std::string& command, const std::filesystem::path& install,
                      int port_number, bool answer_yes);
    ~InstrumentSession();
    InstrumentSession(const InstrumentSession&) = delete;
    InstrumentSession& operator=(const InstrumentSession&) = delete;

    // Opens the port and asks the instrument for its serial number; says why not on stderr.
    bool Connect();
    // "12.3 s; line traffic ... = 9.8 s at 115200 baud" on stderr.
    void ReportTiming(double seconds) const;

    std::string command;
    SystemClock clock;
    TerminalDialogs dialogs;
    LocalFileSystem files;
    StorageContext storage;
    LineTraffic traffic;
    DeviceLink link;
    int port;
};

// "17, 80..95": channel numbers with runs written as ranges.
std::string ChannelListText(const std::vector<int>& channels);

}  // namespace lumivo::cli
