// config.dat in the installation folder: the current project, the highest project number handed
// out, the instrument's COM port and the restart counter.
#pragma once

#include <cstdint>

#include "core/common/com_ports.h"
#include "core/storage/storage_context.h"

namespace lumivo {

struct GlobalConfig {
    std::int16_t Actual_Project_Number = 1;  // 0 is the built-in "Default" project
    std::int16_t Last_Project = 1;           // the next new project gets Last_Project + 1
    std::int16_t ComPortNumber = 4;          // "COM" + number, kMinComPort..kMaxComPort
    std::int16_t Restart_Time = 0;           // always 0 after loading
};

inline constexpr const char* kConfigFileName = "config.dat";
inline constexpr const char* kConfigHeader =
    "Config: <Actual_Project_Number>, <Last_Project>,<Serial_COM>,<Restart_Time>";
inline constexpr const char* kConfigNotFoundMessage =
    "Config file not found: Check correct software installation";
inline constexpr const char* kConfigLoadErrorMessage =
    "Error opening config File >>>> Loading DEFAULT configuration...";
inline constexpr const char* kConfigSaveErrorMessage = "<Error Saving Config File>";

// True when the installation folder holds config.dat (start-up shows kConfigNotFoundMessage
// when it does not, then still calls LoadConfig).
bool ConfigFileExists(StorageContext& ctx);

// Reads config.dat and keeps the values in range. On any error shows kConfigLoadErrorMessage
// and loads project 1, last project 1, COM4 (the file is not rewritten). Returns false then.
bool LoadConfig(StorageContext& ctx, GlobalConfig& config);

// Writes config.dat. On failure shows kConfigSaveErrorMessage and returns false; the values in
// memory are not changed either way.
bool SaveConfig(StorageContext& ctx, const GlobalConfig& config);

// The text of config.dat for these values.
std::string FormatConfig(const GlobalConfig& config);

}  // namespace lumivo
