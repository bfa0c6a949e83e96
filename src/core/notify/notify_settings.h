// The notification settings of an installation, kept in notify.dat in the installation folder:
// a command to run for every notice, and an SMTP server to mail it through. Both are optional.
//
// notify.dat is a field-record text file with CR LF lines: a header, then one record a setting,
// its name and then its value(s), in any order:
//   "<Notifications: setting, value>"
//   "command","/usr/local/bin/page-lab","--urgent"      (the program and its arguments)
//   "mail","on"
//   "smtp_host","mail.example.org"
//   "smtp_port",587
//   "starttls","on"
//   "smtp_user","lab"
//   "smtp_password","..."
//   "mail_from","lumivo@example.org"
//   "mail_to","a@example.org, b@example.org"
//   "lost_minutes",2
//   "temperature_band",1
//   "temperature_minutes",10
// Settings it does not know are left out when read. It holds a password, so it is written
// readable by its owner only.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/notify/notice.h"
#include "core/storage/storage_context.h"

namespace lumivo::notify {

inline constexpr const char* kNotifySettingsFileName = "notify.dat";
inline constexpr const char* kNotifySettingsHeader = "<Notifications: setting, value>";

struct NotifySettings {
    std::vector<std::string> command;  // program and arguments; empty: no command
    bool mail = false;
    std::string smtp_host;
    int smtp_port = 587;
    bool starttls = true;
    std::string smtp_user, smtp_password;
    std::string mail_from, mail_to;  // mail_to: addresses separated by commas
    NoticeRules rules;

    bool any() const { return !command.empty() || mail; }
    // Why these settings cannot be used ("" when they can): a mail without server or address.
    std::string Problem() const;
};

// Reads notify.dat; nullopt (and `error`) when it exists but cannot be read. A missing file
// gives the defaults (nothing is sent).
std::optional<NotifySettings> LoadNotifySettings(StorageContext& storage, std::string* error);
// Writes notify.dat atomically; throws StorageError naming the file.
void SaveNotifySettings(StorageContext& storage, const NotifySettings& settings);
std::string FormatNotifySettings(const NotifySettings& settings);

// A command line split into a program and its arguments the way a user types it, without a
// shell: words at blanks, "double" or 'single' quotes group, a backslash takes the next
// character as it is. nullopt for an unterminated quote.
std::optional<std::vector<std::string>> SplitCommandLine(const std::string& line);
// The words joined back, quoted where needed, for showing a command in a box.
std::string JoinCommandLine(const std::vector<std::string>& words);

// "HOST:PORT" (as --smtp takes it); nullopt when it is not.
std::optional<std::pair<std::string, int>> ParseHostPort(const std::string& text);

}  // namespace lumivo::notify
