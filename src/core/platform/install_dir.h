// Where the program keeps its installation data (config.dat, plate formats, calibration values,
// projects) and how a port number "COMn" becomes a device path on this system.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace lumivo {

// ~/.local/share/lumivo (or ./lumivo when HOME is not set).
std::filesystem::path DefaultInstallDir();

// The data files installed with the program: share/lumivo/data beside the folder of the running
// program (/usr/bin/lumivo -> /usr/share/lumivo/data). Empty when that folder does not exist, as
// when the program runs from its build tree.
std::filesystem::path InstalledDataDir();

// Takes "--install DIR" (or "--install=DIR") out of args when present and returns DIR;
// otherwise returns DefaultInstallDir(). args excludes the program name.
std::filesystem::path TakeInstallDirOption(std::vector<std::string>& args);

// The device that stands for port "COMn": the link or device file ports/COMn inside the
// installation folder when it exists, otherwise /dev/ttyS<n-1>.
std::filesystem::path ResolveComDevice(const std::filesystem::path& install_dir, int port_number);

// The path of the ports/COMn link inside the installation folder (whether or not it exists).
std::filesystem::path ComLinkPath(const std::filesystem::path& install_dir, int port_number);

}  // namespace lumivo
