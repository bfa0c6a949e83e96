#include "sim/sim_options.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>

#include "core/common/com_ports.h"
#include "core/platform/install_dir.h"
#include "core/platform/ui_port.h"
#include "core/storage/field_record.h"
#include "core/storage/file_system.h"
#include "core/storage/plate_format.h"
#include "core/storage/storage_context.h"
#include "core/storage/well_map.h"

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

// "a,b,,c" -> "a", "b", "", "c".
std::vector<std::string> SplitCommas(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        const std::size_t comma = std::min(text.find(',', pos), text.size());
        parts.push_back(text.substr(pos, comma - pos));
        pos = comma + 1;
    }
    return parts;
}

double AboveZero(const std::string& name, const std::string& text, double hi) {
    const double v = NumberIn(name, text, 0.0, hi);
    if (v <= 0.0) throw SimUsageError(name + " must be above 0, got \"" + text + "\"");
    return v;
}

// Keeps the messages of the storage procedures (there is no one to answer them) for the
// program to print.
class NoteDialogs final : public Dialogs {
  public:
    explicit NoteDialogs(std::vector<std::string>& notes) : notes_(notes) {}
    MsgResult MessageBox(const std::string& text, MsgButtons buttons,
                         const std::string& /*title*/) override {
        std::string line = text;
        for (std::size_t at = line.find("\r\n"); at != std::string::npos; at = line.find("\r\n"))
            line.replace(at, 2, "\n");
        notes_.push_back(line);
        return buttons == MsgButtons::YesNo || buttons == MsgButtons::YesNoCancel ? MsgResult::Yes
                                                                                  : MsgResult::Ok;
    }
    std::optional<std::string> InputBox(const std::string& /*prompt*/, const std::string& /*title*/,
                                        const std::string& default_text) override {
        return default_text;
    }

  private:
    std::vector<std::string>& notes_;
};

// Maps the channels to the wells of the plate format and applies the plate map and the dose.
void ApplyPlate(SimProgramOptions& o) {
    if (o.plate_format.empty()) o.plate_format = "w96f";
    NoteDialogs dialogs(o.notes);
    LocalFileSystem files;
    StorageContext ctx{o.install_dir, dialogs, files};
    PlateMap plate;
    LoadPlateFormat(ctx, o.plate_format, plate);
    WellMap wells;
    if (!o.wells_file.empty()) {
        std::string text;
        try {
            text = files.ReadFile(o.wells_file);
        } catch (const StorageError& e) {
            throw SimUsageError("--wells " + o.wells_file.string() + ": " + e.what());
        }
        std::string why;
        std::optional<WellMap> parsed = ParseWellMap(text, PlateWellNames(plate), &why);
        if (!parsed) throw SimUsageError("--wells " + o.wells_file.string() + ": " + why);
        wells = std::move(*parsed);
    }
    if (o.dose) {
        try {
            ApplyDosePlate(plate, wells, *o.dose, o.config);
        } catch (const std::invalid_argument& e) {
            throw SimUsageError(std::string("--") + e.what());
        }
    } else {
        ApplyPlateWells(plate, wells, o.config.default_activity, o.config);
    }
}

}  // namespace

DoseCurve ParseDoseOption(const std::string& text) {
    const std::vector<std::string> parts = SplitCommas(text);
    if (parts.size() < 3 || parts.size() > 5)
        throw SimUsageError("--dose takes three to five numbers: TOP,EC50,HILL[,BOTTOM[,AT_H]]");
    DoseCurve d;
    d.top_rate = AboveZero("--dose top rate", parts[0], 1000.0);
    d.ec50 = AboveZero("--dose EC50", parts[1], 1e12);
    d.hill = AboveZero("--dose hill slope", parts[2], 100.0);
    if (parts.size() > 3) d.bottom_rate = NumberIn("--dose bottom rate", parts[3], 0.0, d.top_rate);
    if (parts.size() > 4) d.at_hours = NumberIn("--dose time", parts[4], 0.0, 100000.0);
    return d;
}

void ApplyRhythmOption(const std::string& text, SimConfig::Rhythm& rhythm) {
    const std::vector<std::string> parts = SplitCommas(text);
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
        } else if (word == "--plate") {
            o.plate_format = value();
            if (!IsValidPlateFormatName(o.plate_format)) {
                throw SimUsageError(
                    "--plate needs a plate format name (letters, digits, _ and -), got \"" +
                    o.plate_format + "\"");
            }
        } else if (word == "--wells") {
            o.wells_file = value();
            if (o.wells_file.empty()) throw SimUsageError("--wells needs a file name");
        } else if (word == "--dose") {
            o.dose = ParseDoseOption(value());
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
    if (o.help || o.version) return o;
    if (o.com_port == 0) throw SimUsageError("--com N is required");
    if (o.dose && o.wells_file.empty()) throw SimUsageError("--dose needs --wells FILE.csv");
    if (!o.plate_format.empty() || !o.wells_file.empty()) ApplyPlate(o);
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
           "  --plate FORMAT     map the channels to the wells of plate format FORMAT, read\n"
           "                     from DIR/FORMAT.dat (a built-in map when it cannot be read):\n"
           "                     w96f, w96u, w384 or the installation's own\n"
           "  --wells FILE.csv   the plate map of what is in each well (a wells.csv); wells\n"
           "                     of role empty have no animals. The plate is w96f unless\n"
           "                     --plate says otherwise\n"
           "  --dose TOP,EC50,HILL[,BOTTOM[,AT_H]]   (needs --wells)\n"
           "                     a dose given AT_H hours after the start (default 0): every\n"
           "                     well crosses at TOP crossings/s before it, and after it\n"
           "                     negative controls keep TOP, positive controls fall to\n"
           "                     BOTTOM (default 0) and samples follow a log-logistic curve\n"
           "                     of their concentration C: BOTTOM + (TOP - BOTTOM) /\n"
           "                     (1 + (C / EC50)^HILL), EC50 in the plate map's unit\n"
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
