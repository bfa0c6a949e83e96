#include "sim/sim_options.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>

#include "core/common/com_ports.h"
#include "core/platform/install_dir.h"

namespace lumivo::sim {
namespace {

template <typename T>
std::optional<T> ParseWhole(const std::string& text) {
    T value{};
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

long long IntIn(const std::string& name, const std::string& text, long long lo, long long hi) {
    const auto v = ParseWhole<long long>(text);
    if (!v || *v < lo || *v > hi) {
        throw SimUsageError(name + " needs a whole number from " + std::to_string(lo) + " to " +
                            std::to_string(hi) + ", got \"" + text + "\"");
    }
    return *v;
}

double NumberIn(const std::string& name, const std::string& text, double lo, double hi) {
    double v = 0.0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, v);
    if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(v) || v < lo || v > hi) {
        throw SimUsageError(name + " needs a number from " + std::to_string(lo) + " to " +
                            std::to_string(hi) + ", got \"" + text + "\"");
    }
    return v;
}

// "3,7,200" -> channels 3, 7 and 200.
std::vector<int> ChannelList(const std::string& name, const std::string& text) {
    std::vector<int> out;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        const std::size_t comma = std::min(text.find(',', pos), text.size());
        out.push_back(
            static_cast<int>(IntIn(name, text.substr(pos, comma - pos), 0, kChannelCount - 1)));
        pos = comma + 1;
    }
    return out;
}

}  // namespace

void ApplyRhythmOption(const std::string& text, SimConfig::Rhythm& rhythm) {
    std::vector<std::string> parts;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        const std::size_t comma = std::min(text.find(',', pos), text.size());
        parts.push_back(text.substr(pos, comma - pos));
        pos = comma + 1;
    }
    if (parts.size() > 5) throw SimUsageError("--rhythm takes at most five numbers: P,A,PH,R,S");
    SimConfig::Rhythm r;
    r.period_hours = NumberIn("--rhythm period", parts[0], 1.0, 1000.0);
    r.active_hours = r.period_hours / 2.0;
    if (parts.size() > 1)
        r.active_hours = NumberIn("--rhythm active hours", parts[1], 0.0, r.period_hours);
    if (parts.size() > 2) r.phase_hours = NumberIn("--rhythm phase", parts[2], -1000.0, 1000.0);
    if (parts.size() > 3) r.rest_fraction = NumberIn("--rhythm rest fraction", parts[3], 0.0, 1.0);
    if (parts.size() > 4)
        r.period_spread_hours = NumberIn("--rhythm spread", parts[4], 0.0, r.period_hours / 2.0);
    rhythm = r;
}

void ApplyFaultOption(const std::string& fault_text, FaultConfig& faults) {
    const std::size_t eq = fault_text.find('=');
    const std::string name = fault_text.substr(0, eq);
    const std::optional<std::string> value =
        eq == std::string::npos ? std::nullopt : std::optional(fault_text.substr(eq + 1));
    auto no_value = [&]() {
        if (value) throw SimUsageError("--fault " + name + " takes no value");
    };
    auto need_value = [&]() -> const std::string& {
        if (!value) throw SimUsageError("--fault " + name + " needs =VALUE");
        return *value;
    };
    if (name == "silence") {
        no_value();
        faults.silent = true;
    } else if (name == "unplugged") {
        no_value();
        faults.unplugged = true;
    } else if (name == "short-block") {
        faults.short_blocks = kAlways;
        if (value) {
            faults.short_block_bytes =
                static_cast<int>(IntIn("--fault short-block", *value, 0, kBlockReplyBytes - 1));
        }
    } else if (name == "high-byte") {
        no_value();
        faults.high_byte_blocks = kAlways;
    } else if (name == "bad-echo") {
        faults.bad_echo_writes =
            static_cast<int>(IntIn("--fault bad-echo", need_value(), 0, 1 << 30));
    } else if (name == "bad-echo-channel") {
        faults.bad_echo_channels.push_back(static_cast<int>(
            IntIn("--fault bad-echo-channel", need_value(), 0, kChannelCount - 1)));
    } else if (name == "block-column") {
        faults.blocked_columns.push_back(
            static_cast<int>(IntIn("--fault block-column", need_value(), 0, kGridColumns - 1)));
    } else if (name == "block-row") {
        faults.blocked_rows.push_back(
            static_cast<int>(IntIn("--fault block-row", need_value(), 0, kGridRows - 1)));
    } else if (name == "delay") {
        faults.extra_delay_us = IntIn("--fault delay", need_value(), 0, 60'000) * 1000;
    } else {
        throw SimUsageError("unknown fault \"" + fault_text + "\"");
    }
}

SimProgramOptions ParseSimArguments(std::vector<std::string> args) {
    SimProgramOptions o;
    o.install_dir = TakeInstallDirOption(args);
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string word = args[i];
        std::optional<std::string> inline_value;
        if (const std::size_t eq = word.find('=');
            word.rfind("--", 0) == 0 && eq != std::string::npos) {
            inline_value = word.substr(eq + 1);
            word.resize(eq);
        }
        auto value = [&]() -> std::string {
            if (inline_value) return *inline_value;
            if (i + 1 >= args.size()) throw SimUsageError(word + " needs a value");
            return args[++i];
        };
        auto flag = [&]() {
            if (inline_value) throw SimUsageError(word + " takes no value");
        };
        if (word == "--help" || word == "-h") {
            flag();
            o.help = true;
        } else if (word == "--version") {
            flag();
            o.version = true;
        } else if (word == "--com") {
            o.com_port = static_cast<int>(IntIn("--com", value(), kMinComPort, kMaxComPort));
        } else if (word == "--serial") {
            o.config.serial_number =
                static_cast<int>(IntIn("--serial", value(), 0, 255 * 255 + 254));
        } else if (word == "--seed") {
            const std::string text = value();
            const auto seed = ParseWhole<std::uint64_t>(text);
            if (!seed) throw SimUsageError("--seed needs a whole number, got \"" + text + "\"");
            o.config.seed = *seed;
        } else if (word == "--no-pace") {
            flag();
            o.config.paced = false;
        } else if (word == "--latency") {
            o.config.reply_latency_us = IntIn("--latency", value(), 0, 10'000'000);
        } else if (word == "--store") {
            o.config.store_path = value();
        } else if (word == "--fault") {
            ApplyFaultOption(value(), o.config.faults);
        } else if (word == "--activity") {
            o.config.default_activity = NumberIn("--activity", value(), 0.0, 1000.0);
        } else if (word == "--rhythm") {
            ApplyRhythmOption(value(), o.config.rhythm);
        } else if (word == "--dead") {
            for (int c : ChannelList("--dead", value())) {
                o.config.channels[static_cast<std::size_t>(c)].kind = ChannelKind::kDead;
            }
        } else if (word == "--saturated") {
            for (int c : ChannelList("--saturated", value())) {
                o.config.channels[static_cast<std::size_t>(c)].kind = ChannelKind::kSaturated;
            }
        } else {
            throw SimUsageError("unknown argument \"" + args[i] + "\"");
        }
    }
    if (!o.help && !o.version && o.com_port == 0) throw SimUsageError("--com N is required");
    return o;
}

std::string SimUsage() {
    return "usage: lumivo-sim [--install DIR] --com N [options]\n"
           "Serves a simulated instrument on a pseudo-terminal linked as DIR/ports/COMN.\n"
           "  --com N            port number " +
           std::to_string(kMinComPort) + ".." + std::to_string(kMaxComPort) +
           " (required)\n"
           "  --serial S         serial number answered to the null frame (default 123)\n"
           "  --seed X           seed of the noise and the animals (default 1)\n"
           "  --no-pace          reply at once instead of at 115200 baud\n"
           "  --latency US       think time before a reply, microseconds (default 100)\n"
           "  --store FILE       keep the channel settings and sensor registers in FILE\n"
           "  --activity RATE    crossings per second in every well (default 0.2)\n"
           "  --rhythm P[,A[,PH[,R[,S]]]]\n"
           "                     day-night rhythm: period P hours, active A hours a cycle\n"
           "                     (default P/2) beginning PH hours after the start (default 0),\n"
           "                     rest activity R of the active one (default 0.1), each well's\n"
           "                     period within +-S hours of P (default 0)\n"
           "  --dead LIST        channels that read about 0 (e.g. 3,17)\n"
           "  --saturated LIST   channels stuck at 4095\n"
           "  --fault FAULT      silence | unplugged | short-block[=BYTES] | high-byte |\n"
           "                     bad-echo=K | bad-echo-channel=C | delay=MS |\n"
           "                     block-column=C (0..23) | block-row=R (0..15)   (repeatable)\n"
           "  --help             show this text; --version: show the version\n"
           "Signals: SIGINT/SIGTERM stop and remove the link; SIGUSR1 pulls the cable out or\n"
           "plugs it back in. The serial number is answered to every null frame (modem lines\n"
           "cannot be seen through a pseudo-terminal).\n";
}

}  // namespace lumivo::sim
