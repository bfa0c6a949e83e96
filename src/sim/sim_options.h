// Command line of lumivo-sim.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/common/com_ports.h"
#include "sim/instrument.h"

namespace lumivo::sim {

struct SimUsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct SimProgramOptions {
    std::filesystem::path install_dir;
    int com_port = 0;  // kMinComPort..kMaxComPort
    SimConfig config;
    bool help = false;
    bool version = false;
};

// Parses the arguments (without the program name). Throws SimUsageError on anything it does
// not understand or on a value out of range.
SimProgramOptions ParseSimArguments(std::vector<std::string> args);

// Applies one --fault option ("silence", "unplugged", "short-block[=BYTES]",
// "high-byte", "bad-echo=K", "bad-echo-channel=C", "delay=MS", "block-column=C",
// "block-row=R") to `faults`. Throws SimUsageError.
void ApplyFaultOption(const std::string& fault_text, FaultConfig& faults);

// Applies "--rhythm P[,A[,PH[,R[,S]]]]" (period, active hours, phase, rest fraction, period
// spread) to `rhythm`; the active part defaults to half the period. Throws SimUsageError.
void ApplyRhythmOption(const std::string& text, SimConfig::Rhythm& rhythm);

std::string SimUsage();

}  // namespace lumivo::sim
