// Command line of lumivo-sim.
#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/common/com_ports.h"
#include "sim/dose_plate.h"
#include "sim/instrument.h"

namespace lumivo::sim {

struct SimUsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct SimProgramOptions {
    std::filesystem::path install_dir;
    int com_port = 0;  // kMinComPort..kMaxComPort
    SimConfig config;
    // The plate the channels are mapped to wells by (--plate, --wells, --dose); empty: every
    // channel is a well of its own. `wells_file` and `dose` are what was asked for; `config`
    // already holds the plate they make.
    std::string plate_format;
    std::filesystem::path wells_file;
    std::optional<DoseCurve> dose;
    // Messages met while reading the installation's files (a plate format replaced by a
    // built-in one), to be shown to the user.
    std::vector<std::string> notes;
    bool help = false;
    bool version = false;
};

// Parses the arguments (without the program name). Throws SimUsageError on anything it does
// not understand or on a value out of range. Reads the plate format from the installation
// folder and the --wells file.
SimProgramOptions ParseSimArguments(std::vector<std::string> args);

// Applies one --fault option ("silence", "unplugged", "short-block[=BYTES]",
// "high-byte", "bad-echo=K", "bad-echo-channel=C", "delay=MS", "block-column=C",
// "block-row=R") to `faults`. Throws SimUsageError.
void ApplyFaultOption(const std::string& fault_text, FaultConfig& faults);

// Applies "--rhythm P[,A[,PH[,R[,S]]]]" (period, active hours, phase, rest fraction, period
// spread) to `rhythm`; the active part defaults to half the period. Throws SimUsageError.
void ApplyRhythmOption(const std::string& text, SimConfig::Rhythm& rhythm);

// Parses "--dose TOP,EC50,HILL[,BOTTOM[,AT_H]]" (rates in crossings per second of a well,
// bottom default 0, dose time default 0 hours). Throws SimUsageError.
DoseCurve ParseDoseOption(const std::string& text);

std::string SimUsage();

}  // namespace lumivo::sim
