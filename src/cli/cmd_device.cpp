// lumivo-cli sample --com N and lumivo-cli serial --com N: one full reading of the 384 channels,
// and the instrument's identity and temperature-sensor calibration, over the same device code
// as the desktop program.
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_messages.h"
#include "cli/commands.h"
#include "core/common/com_ports.h"
#include "core/device/command_set.h"
#include "core/platform/install_dir.h"

namespace lumivo::cli {
namespace {

// The device link of one command: its clock, dialogs and the port it opened.
struct CliDevice {
    SystemClock clock;
    CliDialogs dialogs;
    DeviceLink link;
    int port;

    CliDevice(const std::string& command, const std::filesystem::path& install, int port_number)
        : dialogs(command), link(clock, dialogs, TerminalDeviceOpener(install)), port(port_number) {
        link.ComPortNumber = static_cast<std::int16_t>(port_number);
    }
    ~CliDevice() { CommClose(link.ports, port); }
    CliDevice(const CliDevice&) = delete;
    CliDevice& operator=(const CliDevice&) = delete;

    // Opens the port; on failure says why on stderr and returns false.
    bool Open(const std::filesystem::path& install) {
        const std::string name = ComPortName(port);
        if (CommOpen(link.ports, port, name, kInstrumentPortSettings) == 0) return true;
        PrintError(dialogs.command(), PortOpenFailure(install, port, name, link.ports.error));
        return false;
    }
};

std::string DescribeBlock(int block_start, const BlockRead& b) {
    std::string what = "block " + std::to_string(block_start) + ": ";
    if (b.bytes == 0) return what + "no answer from the instrument";
    if (!b.decode.accepted) {
        return what + "short reply (" + std::to_string(b.bytes) + " of " +
               std::to_string(kBlockReplyBytes) + " bytes)";
    }
    return what + "bad block (a sample above 12 bits)";
}

}  // namespace

int RunSample(Args& args) {
    const int port = args.RequireComPort();
    args.ExpectEnd();
    CliDevice device("sample", args.install_dir(), port);
    if (!device.Open(args.install_dir())) return 1;

    std::vector<std::uint16_t> channels(kChannelCount + 1, 0);
    const SampleRead sample = ReadFullSample(device.link, channels);
    if (!sample.AllGood()) {
        for (std::size_t i = 0; i < sample.blocks.size(); ++i) {
            const BlockRead& b = sample.blocks[i];
            if (!b.decode.accepted || b.decode.bad) {
                std::cerr << "lumivo-cli sample: " << DescribeBlock(kBlockStarts[i], b) << "\n";
            }
        }
        return 1;
    }
    std::string line;
    line.reserve(kChannelCount * 5);
    for (int ch = 0; ch < kChannelCount; ++ch) {
        if (ch > 0) line += ' ';
        line += std::to_string(channels[static_cast<std::size_t>(ch)]);
    }
    std::cout << line << "\n";
    return 0;
}

int RunSerial(Args& args) {
    const int port = args.RequireComPort();
    args.ExpectEnd();
    CliDevice device("serial", args.install_dir(), port);
    if (!OpenInstrumentPort("serial", device.link, args.install_dir(), port, ComPortName(port)))
        return 1;
    std::cout << "SERIAL : " << InstrumentSerialText(device.link.SerialNumber) << "\n";

    ReadSensorCalibration(device.link);
    const SensorCalibrationBlock& s = device.link.sensor;
    char values[96];
    std::snprintf(values, sizeof values, "sensor slope %.3f, offset %.1f", s.slope, s.offset);
    std::cout << values << "\n";
    if (s.calibrated) {
        std::cout << "OK Last Factory Calibration " << s.month << "/" << s.year << " [mm/yy]\n";
    } else {
        std::cout << "NON Calibrated\n";
    }
    return 0;
}

}  // namespace lumivo::cli
