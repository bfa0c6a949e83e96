// What the commands on recorded acquisitions (report, reanalyze, export, plot) share: the folder
// argument, the options of the same meaning (--bin, --dead-hours), and the files, storage and
// stored report settings they start from.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "core/platform/ui_port.h"
#include "core/storage/file_system.h"
#include "core/storage/report_config.h"
#include "core/storage/storage_context.h"

namespace lumivo::cli {

class Args;

// "--bin MINUTES" of a report, an export or a re-analysis: a whole number 1..100000.
std::optional<long long> TakeReportBin(Args& args);
// "--dead-hours H" of the tidy export and the rhythm views: 0.1..10000 hours without counts
// after which a well is dead.
std::optional<double> TakeDeadHours(Args& args);

// Throws UsageError ("the acquisition folder is missing") when the command line named no
// acquisition folder.
void RequireFolderText(const std::optional<std::string>& text);

// An absolute folder path without a trailing separator, so its parent is the project folder.
std::filesystem::path AcquisitionFolderArgument(const std::string& text);

// The stored report settings (repoconf.dat) when the installation has them, else the defaults;
// an absent file is not created.
void LoadStoredReportSettings(StorageContext& ctx, ReportSettings& settings);

// Where a command on a recorded acquisition starts: the local files, the storage with the
// command's dialogs, and the stored report settings (LoadStoredReportSettings).
struct RecordedAcquisitionStart {
    RecordedAcquisitionStart(const std::filesystem::path& install_dir, Dialogs& dialogs)
        : ctx{install_dir, dialogs, files} {
        LoadStoredReportSettings(ctx, settings);
    }
    RecordedAcquisitionStart(const RecordedAcquisitionStart&) = delete;
    RecordedAcquisitionStart& operator=(const RecordedAcquisitionStart&) = delete;

    // The bin size in minutes: --bin when it was given, else the stored settings' one.
    long long BinSize(const std::optional<long long>& bin) const {
        return bin ? *bin : settings.config.Bin;
    }

    LocalFileSystem files;
    StorageContext ctx;
    ReportSettings settings;
};

}  // namespace lumivo::cli
