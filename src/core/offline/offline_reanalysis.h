// `Cmd_analyze` of the offline browser: the chosen acquisition's raw pages analysed again with
// the acquisition's own counting method, in the mode chosen in `cmb_modeanalisis` and with the
// signal-to-noise factor typed in `frmtxt_threshold`, then reported like the report window's
// RUN (reporting/report/raw_reanalysis.h does the work, with its "Block m/N" progress and STOP).
//
//   "Mode:0"  re-analyse and write the report; counts.bin keeps the recorded counts.
//   "Mode:1"  re-analyse, put the new counts into counts.bin (the recorded file is kept as
//             counts.bak, which an earlier replacement may already hold) and write the report.
//
// The threshold "0.0", as the window opens, stands for the factor the acquisition was recorded
// with (its setup.dat); any other value is used as typed (1.1 to 6.0).
#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>

#include "core/reporting/report/raw_reanalysis.h"
#include "core/storage/report_config.h"
#include "core/storage/storage_context.h"

namespace lumivo::offline {

// `cmb_modeanalisis` items and the text `frmtxt_threshold` starts with.
inline constexpr std::array<const char*, 2> kAnalysisModes = {"Mode:0", "Mode:1"};
inline constexpr const char* kOwnThresholdText = "0.0";

struct OfflineAnalysisChoice {
    int mode = 0;                                    // cmb_modeanalisis index
    std::string threshold_text = kOwnThresholdText;  // frmtxt_threshold
    std::string bin_text = "30";                     // the report's bin size (minutes)
};

// The question "Mode:1" asks before the counts of `folder` are replaced.
std::string ReplaceCountsQuestion(const std::filesystem::path& folder);

// The signal-to-noise factor an acquisition folder was recorded with, from its setup.dat ("1.8"
// when the file does not say). The file's own messages are not shown: the re-analysis reads it
// again and tells them.
std::string RecordedThresholdText(StorageContext& ctx, const std::filesystem::path& folder);

// The re-analysis the window asks for, or nullopt when the user declined "Mode:1"'s question
// or the request is refused (with a message): a mode other than 0 and 1, or "Mode:1" while
// the acquisition is still being recorded. The method is the acquisition's own, the report is
// written as the stored report configuration says, and no event strings are exported.
std::optional<reporting::RawRunRequest> OfflineAnalysisRequest(StorageContext& ctx,
                                                               const ReportConfig& config,
                                                               const std::filesystem::path& folder,
                                                               const OfflineAnalysisChoice& choice);

}  // namespace lumivo::offline
