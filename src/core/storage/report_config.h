// repoconf.dat in the installation folder: the user's report settings, and the list separator
// of the user's locale that serves as the default field separator of the reports.
#pragma once

#include <cstdint>
#include <string>

#include "core/storage/storage_context.h"

namespace lumivo {

struct ReportConfig {
    std::int16_t Bin = 30;        // report time bin in minutes, 2..1440
    std::int16_t filetype = 0;    // 0..1
    std::string spacer = ",";     // field separator of the report files
    std::int16_t stdError = 1;    // 0..1
    std::int16_t stdDev = 0;      // 0..1
    std::int16_t n = 1;           // 0..1
    std::int16_t out_format = 0;  // 0..3
    std::int16_t organism = 0;    // 0..2
    std::int16_t method = 1;      // 0..2
    std::int16_t threshold = 18;  // 11..30
    std::int16_t rawexport = 0;   // 0..1
};

struct ReportSettings {
    ReportConfig config;
    std::string ListSeparator = ",";
};

inline constexpr const char* kReportConfigFileName = "repoconf.dat";

// The list separator of the user's locale. POSIX locales carry no list separator, so it follows
// the decimal symbol: ";" where the decimal symbol is ",", otherwise ",". The process-wide
// locale is not changed.
std::string QueryListSeparator();
// Refreshes settings.ListSeparator from ctx.list_separator_source (or the locale); "," when the
// answer is empty.
void RefreshListSeparator(StorageContext& ctx, ReportSettings& settings);

// Every field at its default; spacer = the list separator, refreshed first.
void DefaultReportConfig(StorageContext& ctx, ReportSettings& settings);
// Every field outside its range takes its default (spacer is not tested).
void ValidateReportConfig(ReportConfig& config);

// With use_stored != 0 and an existing file: reads it, validates it, and returns the file's
// User_defined (0 or 1; another value gives use_stored). Otherwise loads the defaults, writes
// the file with User_defined = use_stored and returns 0. A read error shows
// "Error loading repoconf.dat -> Using Default values", loads the defaults, rewrites the file
// with User_defined 0 and returns 0.
std::int16_t LoadReportConfig(StorageContext& ctx, ReportSettings& settings,
                              std::int16_t use_stored);
// Writes the file; on failure shows "Error Writing Report Configuration (repoconf.dat)" and
// returns false.
bool SaveReportConfig(StorageContext& ctx, const ReportSettings& settings,
                      std::int16_t user_defined);
std::string FormatReportConfigFile(const ReportConfig& config, std::int16_t user_defined);

}  // namespace lumivo
