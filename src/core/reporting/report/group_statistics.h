// `ComputeGroupStatistics`: per group and report bin the mean, standard deviation and number of
// wells, from the re-binned (and possibly normalised) activity.
//
// The groups are every number from 0 to the largest group of any channel; a group's members are
// the wells whose first beam's channel belongs to it. A well's value in a bin is its single
// beam's count, or the rounded mean of the counts of its beams that map to a channel.
#pragma once

#include <cstdint>

#include "core/reporting/report/report_tables.h"

namespace lumivo::reporting {

// Number of report bins for a length: R(length / bin size), at least 1.
int ReportBinCount(std::int32_t length, std::int32_t bin_size);

// The present bins among 0..last of `bins` go into report bins R(minute / bin size), with the
// records they hold ("#Samples"); a missing bin leaves its report bin absent. `length` is the
// largest re-binned minute.
GroupStatistics ComputeGroupStatistics(const ReportInputs& inputs, const BinTable& bins,
                                       std::int32_t length, int last, std::int32_t bin_size);

// A well's value in re-binned bin k, and whether the well has any beam mapped to a channel.
bool WellValue(const ReportInputs& inputs, const BinTable& bins, int well, std::size_t k,
               std::int32_t& value);

// Standard deviation of a group's values about its whole-number mean, given the sum of their
// squared deviations: R(sqrt(squares / (members - 1))); 0 for fewer than two members.
std::int32_t GroupStandardDeviation(long double squares, std::int64_t members);

// Standard error of a group in a report bin: sd / sqrt(wells), 0 when the group has no well or
// its standard deviation is below 1.
double StandardError(const GroupStatistics& stats, int group, int bin);

}  // namespace lumivo::reporting
