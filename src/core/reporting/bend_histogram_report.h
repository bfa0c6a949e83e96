// The body-bends output of a report: the acquisition's histoNNNN.bin files (histograms of the
// intervals between body bends, accumulated since the start) turned into the increase of each
// interval bin per report bin, per well and per group.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/reporting/report_tables.h"
#include "core/reporting/report_writer.h"
#include "core/storage/file_system.h"

namespace lumivo::reporting {

// The folder's "histo*.bin" files in page order (histo0000.bin, histo0001.bin, ...).
std::vector<std::string> HistogramFileNames(FileSystem& files, const std::filesystem::path& folder);

// Reads the folder's histogram files and builds the tables for report bins 1..stats.bin_count
// of `bin_size` minutes. A record belongs to the report bin that holds its exact minute; its
// increase over the previous bin's last record is what the bin shows. nullopt when a file
// cannot be read or there is none.
std::optional<HistogramTables> LoadBendHistograms(FileSystem& files,
                                                  const std::filesystem::path& folder,
                                                  const ReportInputs& inputs,
                                                  const GroupStatistics& stats,
                                                  std::int32_t bin_size);

}  // namespace lumivo::reporting
