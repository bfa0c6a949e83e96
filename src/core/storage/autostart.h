// "Resume recording after a restart": an XDG autostart entry that starts the desktop program
// with "/RUN" when the user logs in, so that after a power cut (and the log-in that follows)
// the current project's interrupted recording goes on by itself. The entry lives in the user's
// autostart folder ($XDG_CONFIG_HOME/autostart, by default ~/.config/autostart).
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace lumivo {

inline constexpr const char* kAutostartEntryName = "org.lumivo.lumivo-resume.desktop";

// The user's autostart folder; nullopt when neither XDG_CONFIG_HOME nor HOME is set.
std::optional<std::filesystem::path> AutostartFolder();

// The entry's text: the program `program` with "--install DIR" (unless `install_dir` is
// empty, the default folder) and "/RUN". Arguments are quoted as desktop entries quote them.
std::string AutostartEntryText(const std::filesystem::path& program,
                               const std::filesystem::path& install_dir);

// Whether an entry of this program is in the autostart folder.
bool AutostartIsOn();
// Writes (on) or removes (off) the entry; "" when done, otherwise what failed (with the path).
std::string SetAutostart(bool on, const std::filesystem::path& program,
                         const std::filesystem::path& install_dir);

}  // namespace lumivo
