#include "core/notify/notify_settings.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "core/storage/field_record.h"

namespace lumivo::notify {

namespace {

bool OnOff(const Field& f, const std::string& key) {
    if (f.text == "on") return true;
    if (f.text == "off") return false;
    throw StorageError("the value of \"" + key + "\" is \"" + f.text + "\", not on or off");
}

int Whole(const Field& f, const std::string& key, int lo, int hi) {
    long long v = 0;
    if (!ParseWholeNumber(f.text, v) || v < lo || v > hi)
        throw StorageError("the value of \"" + key + "\" is \"" + f.text +
                           "\", not a whole number " + std::to_string(lo) + ".." +
                           std::to_string(hi));
    return static_cast<int>(v);
}

}  // namespace

std::string NotifySettings::Problem() const {
    if (!mail) return {};
    if (smtp_host.empty()) return "e-mail is on but no SMTP server is given";
    if (mail_to.empty()) return "e-mail is on but no address to send to is given";
    if (mail_from.empty()) return "e-mail is on but no sender address (From) is given";
    return {};
}

std::optional<NotifySettings> LoadNotifySettings(StorageContext& storage, std::string* error) {
    const auto file = storage.install_dir / kNotifySettingsFileName;
    NotifySettings s;
    if (!storage.files.IsFile(file)) return s;
    try {
        RecordReader in(storage.files.ReadFile(file));
        in.SkipLine();
        while (in.HasData()) {
            const std::vector<Field> f = in.AnyRecord();
            if (f.empty()) continue;
            const std::string& key = f[0].text;
            if (f.size() < 2 && key != "command")
                throw StorageError("\"" + key + "\" has no value");
            if (key == "command") {
                s.command.clear();
                for (std::size_t i = 1; i < f.size(); ++i) s.command.push_back(f[i].text);
                if (!s.command.empty() && s.command.front().empty()) s.command.clear();
            } else if (key == "mail") {
                s.mail = OnOff(f[1], key);
            } else if (key == "smtp_host") {
                s.smtp_host = f[1].text;
            } else if (key == "smtp_port") {
                s.smtp_port = Whole(f[1], key, 1, 65535);
            } else if (key == "starttls") {
                s.starttls = OnOff(f[1], key);
            } else if (key == "smtp_user") {
                s.smtp_user = f[1].text;
            } else if (key == "smtp_password") {
                s.smtp_password = f[1].text;
            } else if (key == "mail_from") {
                s.mail_from = f[1].text;
            } else if (key == "mail_to") {
                s.mail_to = f[1].text;
            } else if (key == "lost_minutes") {
                s.rules.lost_minutes = Whole(f[1], key, 0, 10080);
            } else if (key == "temperature_minutes") {
                s.rules.temperature_minutes = Whole(f[1], key, 0, 10080);
            } else if (key == "temperature_band") {
                s.rules.temperature_band = FieldToDouble(f[1]);
                if (s.rules.temperature_band < 0.1 || s.rules.temperature_band > 50)
                    throw StorageError("the value of \"temperature_band\" is \"" + f[1].text +
                                       "\", not 0.1..50 degrees");
            }
        }
    } catch (const StorageError& e) {
        if (error) {
            *error = file.string() + ": " + e.what() +
                     ". Correct it, or save the notification settings again.";
        }
        return std::nullopt;
    }
    return s;
}

std::string FormatNotifySettings(const NotifySettings& s) {
    RecordWriter out;
    out.Header(kNotifySettingsHeader);
    out.Text("command");
    for (const std::string& w : s.command) out.Text(w);
    out.EndLine();
    out.Text("mail").Text(s.mail ? "on" : "off").EndLine();
    out.Text("smtp_host").Text(s.smtp_host).EndLine();
    out.Text("smtp_port").Int(s.smtp_port).EndLine();
    out.Text("starttls").Text(s.starttls ? "on" : "off").EndLine();
    out.Text("smtp_user").Text(s.smtp_user).EndLine();
    out.Text("smtp_password").Text(s.smtp_password).EndLine();
    out.Text("mail_from").Text(s.mail_from).EndLine();
    out.Text("mail_to").Text(s.mail_to).EndLine();
    out.Text("lost_minutes").Int(s.rules.lost_minutes).EndLine();
    out.Text("temperature_band").Double(s.rules.temperature_band).EndLine();
    out.Text("temperature_minutes").Int(s.rules.temperature_minutes).EndLine();
    return out.Take();
}

void SaveNotifySettings(StorageContext& storage, const NotifySettings& settings) {
    const auto file = storage.install_dir / kNotifySettingsFileName;
    std::string text;
    try {
        text = FormatNotifySettings(settings);
    } catch (const StorageError& e) {
        throw StorageError(file.string() + " was not written: " + e.what());
    }
    storage.files.WriteFile(file, text);
    // It holds the SMTP password.
    std::error_code ec;
    std::filesystem::permissions(
        file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
        std::filesystem::perm_options::replace, ec);
}

std::optional<std::vector<std::string>> SplitCommandLine(const std::string& line) {
    std::vector<std::string> out;
    std::string word;
    bool in_word = false;
    char quote = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote != 0) {
            if (c == quote) {
                quote = 0;
            } else if (c == '\\' && quote == '"' && i + 1 < line.size()) {
                word += line[++i];
            } else {
                word += c;
            }
        } else if (c == '"' || c == '\'') {
            quote = c;
            in_word = true;
        } else if (c == '\\' && i + 1 < line.size()) {
            word += line[++i];
            in_word = true;
        } else if (c == ' ' || c == '\t') {
            if (in_word) out.push_back(word);
            word.clear();
            in_word = false;
        } else {
            word += c;
            in_word = true;
        }
    }
    if (quote != 0) return std::nullopt;
    if (in_word) out.push_back(word);
    return out;
}

std::string JoinCommandLine(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& w : words) {
        if (!out.empty()) out += ' ';
        const bool plain = !w.empty() && w.find_first_of(" \t\"'\\") == std::string::npos;
        if (plain) {
            out += w;
            continue;
        }
        out += '"';
        for (char c : w) {
            if (c == '"' || c == '\\') out += '\\';
            out += c;
        }
        out += '"';
    }
    return out;
}

std::optional<std::pair<std::string, int>> ParseHostPort(const std::string& text) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return std::nullopt;
    long long port = 0;
    if (!ParseWholeNumber(text.substr(colon + 1), port) || port < 1 || port > 65535)
        return std::nullopt;
    return std::pair{text.substr(0, colon), static_cast<int>(port)};
}

}  // namespace lumivo::notify
