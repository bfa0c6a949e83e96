#include "core/platform/install_dir.h"

#include <cstdlib>
#include <system_error>

#include "core/common/com_ports.h"

namespace lumivo {

std::filesystem::path DefaultInstallDir() {
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') return std::filesystem::path("lumivo");
    return std::filesystem::path(home) / ".local" / "share" / "lumivo";
}

std::filesystem::path InstalledDataDir() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    const auto data = exe.parent_path().parent_path() / "share" / "lumivo" / "data";
    return std::filesystem::is_directory(data, ec) ? data : std::filesystem::path();
}

std::filesystem::path TakeInstallDirOption(std::vector<std::string>& args) {
    std::optional<std::filesystem::path> dir;
    for (std::size_t i = 0; i < args.size();) {
        const std::string& a = args[i];
        if (a == "--install" && i + 1 < args.size()) {
            dir = args[i + 1];
            args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
                       args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
        } else if (a.rfind("--install=", 0) == 0) {
            dir = a.substr(10);
            args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
    return dir ? *dir : DefaultInstallDir();
}

std::filesystem::path ComLinkPath(const std::filesystem::path& install_dir, int port_number) {
    return install_dir / "ports" / ComPortName(port_number);
}

std::filesystem::path ResolveComDevice(const std::filesystem::path& install_dir, int port_number) {
    std::error_code ec;
    const auto link = ComLinkPath(install_dir, port_number);
    // symlink_status: a dangling link still names the port the user meant; opening it then
    // fails with a clear system error instead of silently trying a different device.
    if (std::filesystem::exists(std::filesystem::symlink_status(link, ec))) return link;
    return std::filesystem::path("/dev/ttyS" + std::to_string(port_number - 1));
}

}  // namespace lumivo
