// The notification settings of a command: those of notify.dat in the installation folder, with
// the command line's overrides for this run.
#pragma once

#include <optional>

#include "cli/cli_args.h"
#include "core/notify/notify_settings.h"
#include "core/storage/storage_context.h"

namespace lumivo::cli {

// Takes --notify-command CMD, --notify-mail ADDR, --smtp HOST:PORT, --smtp-user U,
// --smtp-password P, --starttls on|off, --mail-from ADDR and --lost-minutes N (throwing
// UsageError for a malformed one) over the settings of notify.dat. nullopt after saying why
// when notify.dat cannot be read.
std::optional<notify::NotifySettings> TakeNotifySettings(Args& args, StorageContext& storage,
                                                         const char* command);

}  // namespace lumivo::cli
