#include "cli/instrument_session.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace lumivo::cli {

int TakeInstrumentPort(Args& args) {
    const auto port = args.TakeInt("com", 1, 16);
    if (!port) throw UsageError("--com N is missing (the port number, 1 to 16)");
    return static_cast<int>(*port);
}

MsgResult TerminalDialogs::Answer(MsgButtons buttons) {
    if (buttons == MsgButtons::Ok) return MsgResult::Ok;
    const bool ok_cancel = buttons == MsgButtons::OkCancel;
    bool yes = answer_yes_;
    if (answer_yes_) {
        Print(ok_cancel ? "answered OK (--yes)" : "answered Yes (--yes)");
    } else {
        std::cerr << "lumivo-cli " << command() << ": [y/N] " << std::flush;
        std::string line;
        if (std::getline(std::cin, line)) {
            while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
            yes = line == "y" || line == "Y" || line == "yes" || line == "Yes";
            // An answer that came from a pipe was not echoed: say what it was.
            if (::isatty(0) != 1) std::cerr << (yes ? "Yes\n" : "No\n");
        } else {
            std::cerr << "\n";
            Print("no answer on the terminal: taken as No (--yes answers Yes)");
        }
    }
    if (ok_cancel) return yes ? MsgResult::Ok : MsgResult::Cancel;
    return yes ? MsgResult::Yes : MsgResult::No;
}

InstrumentSession::InstrumentSession(const std::string& cmd, const std::filesystem::path& install,
                                     int port_number, bool answer_yes)
    : command(cmd),
      dialogs(cmd, answer_yes),
      storage{install, dialogs, files, {}},
      link(clock, dialogs, CountingOpener(TerminalDeviceOpener(install), traffic)),
      port(port_number) {
    link.ComPortNumber = static_cast<std::int16_t>(port_number);
}

InstrumentSession::~InstrumentSession() {
    CommClose(link.ports, port);
}

bool InstrumentSession::Connect() {
    const std::string name = "COM" + std::to_string(port);
    if (CommOpen(link.ports, port, name, kInstrumentPortSettings) != 0) {
        PrintError(command, PortOpenFailure(storage.install_dir, port, name, link.ports.error));
        return false;
    }
    const int serial = ReadSerialNumber(link, port);
    if (serial < 0) {
        PrintError(command, NoInstrumentAnswer(storage.install_dir, port, name));
        return false;
    }
    link.SerialNumber = static_cast<std::int16_t>(serial);
    traffic = {};
    return true;
}

void InstrumentSession::ReportTiming(double seconds) const {
    char text[200];
    std::snprintf(text, sizeof text,
                  "%.1f s; line traffic %llu bytes out, %llu bytes in = %.1f s at 115200 baud",
                  seconds, static_cast<unsigned long long>(traffic.bytes_out),
                  static_cast<unsigned long long>(traffic.bytes_in), traffic.WireSeconds());
    PrintError(command, text);
}

std::string ChannelListText(const std::vector<int>& channels) {
    std::string text;
    for (std::size_t i = 0; i < channels.size();) {
        std::size_t j = i;
        while (j + 1 < channels.size() && channels[j + 1] == channels[j] + 1) ++j;
        if (!text.empty()) text += ", ";
        text += std::to_string(channels[i]);
        if (j > i) text += ".." + std::to_string(channels[j]);
        i = j + 1;
    }
    return text;
}

}  // namespace lumivo::cli
