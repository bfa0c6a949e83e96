// What the commands on recorded acquisitions (report, reanalyze, export) share: the folder
// argument and the stored report settings they start from.
#pragma once

#include <filesystem>
#include <string>

#include "core/storage/report_config.h"
#include "core/storage/storage_context.h"

namespace lumivo::cli {

// An absolute folder path without a trailing separator, so its parent is the project folder.
std::filesystem::path AcquisitionFolderArgument(const std::string& text);

// The stored report settings (repoconf.dat) when the installation has them, else the defaults;
// an absent file is not created.
void LoadStoredReportSettings(StorageContext& ctx, ReportSettings& settings);

}  // namespace lumivo::cli
