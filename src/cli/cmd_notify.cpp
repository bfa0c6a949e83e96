// lumivo-cli notify: shows, saves and tests the notification settings (notify.dat), and the
// options every recording command takes to override them for one run.
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <string>

#include "cli/cli_messages.h"
#include "cli/commands.h"
#include "cli/notify_options.h"
#include "core/notify/notifier.h"
#include "core/storage/file_system.h"

namespace lumivo::cli {

namespace {

constexpr const char* kCommand = "notify";

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    return name;
}

bool OnOffOption(const std::string& name, const std::string& value) {
    if (value == "on") return true;
    if (value == "off") return false;
    throw UsageError("--" + name + " takes on or off, not \"" + value + "\"");
}

}  // namespace

std::optional<notify::NotifySettings> TakeNotifySettings(Args& args, StorageContext& storage,
                                                         const char* command) {
    const auto cmd = args.TakeOption("notify-command");
    const auto mail = args.TakeOption("notify-mail");
    const auto smtp = args.TakeOption("smtp");
    const auto user = args.TakeOption("smtp-user");
    const auto password = args.TakeOption("smtp-password");
    const auto starttls = args.TakeOption("starttls");
    const auto from = args.TakeOption("mail-from");
    const auto lost = args.TakeInt("lost-minutes", 0, 10080);

    std::string error;
    auto s = notify::LoadNotifySettings(storage, &error);
    if (!s) {
        PrintError(command, error);
        return std::nullopt;
    }
    if (cmd) {
        const auto words = notify::SplitCommandLine(*cmd);
        if (!words) throw UsageError("--notify-command \"" + *cmd + "\" has an unterminated quote");
        s->command = *words;
    }
    if (mail) {
        if (mail->empty()) {
            s->mail = false;
        } else {
            s->mail = true;
            s->mail_to = *mail;
        }
    }
    if (smtp) {
        const auto hp = notify::ParseHostPort(*smtp);
        if (!hp) throw UsageError("--smtp takes HOST:PORT (for example mail.example.org:587)");
        s->smtp_host = hp->first;
        s->smtp_port = hp->second;
    }
    if (user) s->smtp_user = *user;
    if (password) s->smtp_password = *password;
    if (starttls) s->starttls = OnOffOption("starttls", *starttls);
    if (from) s->mail_from = *from;
    if (s->mail && s->mail_from.empty()) s->mail_from = "lumivo@" + HostName();
    if (lost) s->rules.lost_minutes = static_cast<int>(*lost);
    if (const std::string problem = s->Problem(); !problem.empty())
        throw UsageError(problem + " (give --smtp HOST:PORT and --notify-mail ADDR)");
    return s;
}

int RunNotify(Args& args) {
    const bool test = args.TakeFlag("test");
    const bool save = args.TakeFlag("save");
    OptionDialogs dialogs(kCommand, "--yes");
    LocalFileSystem files;
    StorageContext storage{args.install_dir(), dialogs, files, {}};
    const auto settings = TakeNotifySettings(args, storage, kCommand);
    args.ExpectEnd();
    if (!settings) return 1;
    const auto file = storage.install_dir / notify::kNotifySettingsFileName;

    std::cout << "command: "
              << (settings->command.empty() ? std::string("(none)")
                                            : notify::JoinCommandLine(settings->command))
              << "\n";
    if (settings->mail) {
        std::cout << "e-mail: to " << settings->mail_to << " from " << settings->mail_from
                  << " through " << settings->smtp_host << ":" << settings->smtp_port
                  << (settings->starttls ? " with STARTTLS" : " without STARTTLS")
                  << (settings->smtp_user.empty() ? std::string() : " as " + settings->smtp_user)
                  << "\n";
    } else {
        std::cout << "e-mail: off\n";
    }
    std::cout << "instrument lost after " << settings->rules.lost_minutes
              << " min; temperature outside +-" << settings->rules.temperature_band << " C for "
              << settings->rules.temperature_minutes << " min\n";
    if (save) {
        try {
            notify::SaveNotifySettings(storage, *settings);
        } catch (const StorageError& e) {
            PrintError(kCommand, e.what());
            return 1;
        }
    }
    int status = 0;
    if (test) {
        if (!settings->any()) {
            PrintError(kCommand, file.string() +
                                     " sets neither a command nor e-mail: nothing to test (give "
                                     "--notify-command CMD or --notify-mail ADDR --smtp "
                                     "HOST:PORT, and --save to keep them)");
            return 1;
        }
        notify::Notifier notifier(*settings);
        notify::Notice n;
        n.kind = notify::NoticeKind::Test;
        n.message = "A test message of the Lumivo program on " + HostName() +
                    ": notifications reach you this way.";
        SystemClock clock;
        n.time = notify::IsoTimeText(clock.Now());
        notifier.Post(n);
        std::cerr << "lumivo-cli " << kCommand << ": sending a test message...\n";
        notifier.WaitIdle(std::chrono::minutes(6));
        if (!notifier.WaitIdle(std::chrono::seconds(0))) status = 1;
        for (const notify::Delivery& d : notifier.TakeDeliveries()) {
            std::cout << d.report << "\n";
            if (!d.ok) status = 1;
        }
    }
    if (save) std::cout << file.string() << "\n";
    return status;
}

}  // namespace lumivo::cli
