// `LoadReportInputs`: the project tables of an acquisition folder that a report needs (group
// names, channel groups, the plate map named by the folder's setup, the experiment name),
// read through the project storage code.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "core/reporting/report/report_tables.h"
#include "core/storage/storage_context.h"

namespace lumivo::reporting {

// Reads setup.dat, groups.dat, chgroup.dat and subproj.dat of `folder` and the plate format the
// setup names (installation folder, "<format>.dat", else "<format>.bak"). Damaged project files
// show their usual messages and load their defaults. When no plate file can be read, shows
// "Multiwell Configuration File <format>.dat or .bak not found" (or the reading error) and
// returns nullopt, with the message in `failure` when given. Nothing is written.
std::optional<ReportInputs> LoadReportInputs(StorageContext& ctx,
                                             const std::filesystem::path& folder,
                                             std::string* failure = nullptr);

// The experiment name of an acquisition folder (first field of subproj.dat, "" when missing).
std::string ReadExperimentName(StorageContext& ctx, const std::filesystem::path& folder);

}  // namespace lumivo::reporting
