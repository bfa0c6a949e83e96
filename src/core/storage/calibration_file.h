// calvalue.dat in the installation folder: the last calibration of the instrument, PinHole and
// Gain of every channel. It belongs to the instrument, not to a project.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "core/storage/plate_format.h"
#include "core/storage/storage_context.h"

namespace lumivo {

// The register byte of a channel is Gain x 32 + PinHole: PinHole has five bits, Gain three.
inline constexpr std::int16_t kMaxPinHole = 31;
inline constexpr std::int16_t kMaxGain = 7;
inline constexpr std::int16_t kFirstPinHole = 2;  // first-time settings (no calvalue.dat yet)
inline constexpr std::int16_t kFirstGain = 3;

struct CalibrationValues {
    std::array<std::int16_t, kChannelTableSize> PinHole{};
    std::array<std::int16_t, kChannelTableSize> Gain{};
};

inline constexpr const char* kCalibrationFileName = "calvalue.dat";

// Reads calvalue.dat by position (the channel numbers in the file are ignored); a short file
// leaves the later channels as they were. Read and format errors throw StorageError to the
// caller, with the tables unchanged. A channel whose PinHole or Gain does not fit the register
// byte is given the first-time settings, with one message listing those channels; their numbers
// are returned. `channels_read` (when given) gets the number of channel lines the file held.
std::vector<int> LoadCalibration(StorageContext& ctx, CalibrationValues& cal,
                                 std::size_t* channels_read = nullptr);
// Sets every channel to the first-time settings and writes the file (throws on failure).
void ResetCalibration(StorageContext& ctx, CalibrationValues& cal);
// Writes the file from the tables (throws StorageError on failure).
void SaveCalibration(StorageContext& ctx, const CalibrationValues& cal);
std::string FormatCalibrationFile(const CalibrationValues& cal);

}  // namespace lumivo
