// The body-bends output of a report: the acquisition's histoNNNN.bin files (histograms of the
// intervals between body bends, accumulated since the start) turned into the increase of each
// interval bin per report bin, per well and per group.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/reporting/report/report_tables.h"
#include "core/reporting/report/report_writer.h"
#include "core/storage/file_system.h"

namespace lumivo::reporting {

// The folder's "histo*.bin" files in page order (histo0000.bin, histo0001.bin, ...).
std::vector<std::string> HistogramFileNames(FileSystem& files, const std::filesystem::path& folder);

// Reads the folder's histogram files and builds the tables for report bins 1..stats.bin_count
// of `bin_size` minutes. A record belongs to the report bin that holds its exact minute; its
// increase over the previous bin's last record is what the bin shows. The files are checked:
// a missing page, a short or cut page, and records that an accumulated histogram cannot hold
// (a negative count, a count below the record before, a time that is not one) are left out and
// said in `notes`, and a bin without a valid record (or after one) has no histogram, never
// zeros. nullopt with the reason in `failure` when there is no file or no valid record at all.
std::optional<HistogramTables> LoadBendHistograms(
    FileSystem& files, const std::filesystem::path& folder, const ReportInputs& inputs,
    const GroupStatistics& stats, std::int32_t bin_size, std::string* failure = nullptr);

}  // namespace lumivo::reporting
