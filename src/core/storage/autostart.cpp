#include "core/storage/autostart.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <system_error>

namespace lumivo {

namespace fs = std::filesystem;

namespace {

// A desktop entry's Exec argument: quoted when it holds a reserved character, with ", `, $
// and \ escaped inside the quotes; % is doubled (a field code otherwise).
std::string ExecArgument(const std::string& arg) {
    std::string escaped;
    for (char c : arg) {
        if (c == '%') escaped += '%';
        escaped += c;
    }
    if (!escaped.empty() && escaped.find_first_of(" \t\n\"'\\><~|&;$*?#()`") == std::string::npos)
        return escaped;
    std::string out = "\"";
    // Inside the quotes these four take a backslash, and the file's string escaping doubles
    // every backslash: a literal backslash becomes four.
    for (char c : escaped) {
        if (c == '\\') {
            out += "\\\\\\\\";
        } else {
            if (c == '"' || c == '`' || c == '$') out += "\\\\";
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace

std::optional<fs::path> AutostartFolder() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/')
        return fs::path(xdg) / "autostart";
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0')
        return fs::path(home) / ".config" / "autostart";
    return std::nullopt;
}

std::string AutostartEntryText(const fs::path& program, const fs::path& install_dir) {
    std::string exec = ExecArgument(program.string());
    if (!install_dir.empty()) exec += " --install " + ExecArgument(install_dir.string());
    exec += " /RUN";
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Lumivo: resume recording\n"
           "Comment=Resumes the interrupted recording of the current Lumivo project after a "
           "restart\n"
           "Exec=" +
           exec +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool AutostartIsOn() {
    const auto folder = AutostartFolder();
    std::error_code ec;
    return folder && fs::is_regular_file(*folder / kAutostartEntryName, ec);
}

std::string SetAutostart(bool on, const fs::path& program, const fs::path& install_dir) {
    const auto folder = AutostartFolder();
    if (!folder) return "no autostart folder: neither XDG_CONFIG_HOME nor HOME is set";
    const fs::path entry = *folder / kAutostartEntryName;
    std::error_code ec;
    if (!on) {
        fs::remove(entry, ec);
        return ec ? entry.string() + " could not be removed: " + ec.message() : std::string();
    }
    fs::create_directories(*folder, ec);
    if (ec) return folder->string() + " could not be created: " + ec.message();
    const fs::path temp = entry.string() + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << AutostartEntryText(program, install_dir);
        out.flush();
        if (!out) {
            const std::string why = std::strerror(errno);
            fs::remove(temp, ec);
            return entry.string() + " could not be written: " + why;
        }
    }
    fs::rename(temp, entry, ec);
    if (ec) {
        const std::string why = ec.message();
        fs::remove(temp, ec);
        return entry.string() + " could not be written: " + why;
    }
    return {};
}

}  // namespace lumivo
