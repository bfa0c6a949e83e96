// The quick report: the running totals of the last run (`ChannelTotals`) by group and well,
// written to the project folder at the end of a recorded run and from the Report menu.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "core/state/app_state.h"
#include "core/storage/storage_context.h"

namespace lumivo {

inline constexpr const char* kQuickReportFileName = "report.txt";

// The group label of the summary: "\"007_name\"", or "999_Free " for a channel in no group
// (group 999 or negative).
std::string QuickReportGroupLabel(const ProjectState& project, int group);

// The summary of the running totals (`ChannelTotals`): the date line (`date_text`, as the
// user's locale writes it) and the project, then, only when `note` is not empty, the note as a
// line of its own (windows that could not be recorded), then the group, well and raw sections,
// CR LF lines.
std::string FormatQuickReport(const ProjectState& project, const PlateMap& plate,
                              int project_number, std::span<const std::int16_t> totals,
                              const std::string& date_text, const std::string& note = {});

// Writes ProjectFolder/report.txt (replacing it) and returns its path; throws StorageError.
std::filesystem::path WriteQuickReport(StorageContext& storage, const ProjectState& project,
                                       const PlateMap& plate, int project_number,
                                       std::span<const std::int16_t> totals,
                                       const std::string& date_text, const std::string& note = {});

}  // namespace lumivo
