#include "core/offline/offline_reanalysis.h"

#include <algorithm>
#include <cstdio>

#include "core/acquisition/recording_mark.h"
#include "core/control/auto_zero.h"
#include "core/control/control_fields.h"
#include "core/control/control_settings.h"
#include "core/reporting/report/report_run.h"
#include "core/storage/project_setup.h"

namespace lumivo::offline {

namespace fs = std::filesystem;

namespace {

// The lowest factor an acquisition starts with; below it the run used the default.
constexpr double kRunSnrFloor = 1.3;

// Takes every message and answers it with its default: for reading a file that is read (and
// its messages shown) again right afterwards.
class SilentDialogs final : public Dialogs {
  public:
    MsgResult MessageBox(const std::string&, MsgButtons buttons, const std::string&) override {
        return buttons == MsgButtons::YesNo || buttons == MsgButtons::YesNoCancel ? MsgResult::No
                                                                                  : MsgResult::Ok;
    }
    std::optional<std::string> InputBox(const std::string&, const std::string&,
                                        const std::string&) override {
        return std::nullopt;
    }
};

// The acquisition's own setup.dat, read as the files of no project (nothing is restored).
ProjectState ReadOwnSetup(StorageContext& ctx, const fs::path& folder) {
    SilentDialogs silent;
    StorageContext acq{ctx.install_dir, silent, ctx.files, ctx.list_separator_source};
    ProjectState p;
    p.ProjectFolder = folder;
    (void)LoadProjectSetup(acq, 0, 0, p, SetupUse::Reading);
    return p;
}

// A blank box or a zero ("0.0", "0", "0,0" typed with a decimal comma).
bool MeansOwnThreshold(std::string text) {
    if (text.find_first_not_of(" \t") == std::string::npos) return true;
    std::replace(text.begin(), text.end(), ',', '.');
    const auto v = ParseNumericText(text);
    return v && *v == 0.0;
}

}  // namespace

std::string ReplaceCountsQuestion(const fs::path& folder) {
    return "Mode:1 replaces the counts recorded in " + (folder / "counts.bin").string() +
           " with the counts of this re-analysis (the recorded file is kept as " +
           reporting::kCountsBackupFileName + "). Go on?";
}

std::string RecordedThresholdText(StorageContext& ctx, const fs::path& folder) {
    const ProjectState p = ReadOwnSetup(ctx, folder);
    const double factor = SnrFromText(
        SnrTextFromField(p.ToolParams[std::size_t{kToolRowCalibration}][std::size_t{kColSnrX10}]),
        kRunSnrFloor);
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", factor);
    return text;
}

std::optional<reporting::RawRunRequest> OfflineAnalysisRequest(
    StorageContext& ctx, const ReportConfig& config, const fs::path& folder,
    const OfflineAnalysisChoice& choice) {
    if (choice.mode < 0 || choice.mode >= static_cast<int>(kAnalysisModes.size())) {
        ctx.dialogs.MessageBox("Choose Mode:0 (report only) or Mode:1 (replace the counts).");
        return std::nullopt;
    }
    const bool replace = choice.mode == 1;
    if (replace && IsBeingRecorded(folder)) {
        ctx.dialogs.MessageBox(folder.string() +
                               " is being recorded: its counts cannot be replaced until its "
                               "acquisition has ended.");
        return std::nullopt;
    }
    if (replace &&
        ctx.dialogs.MessageBox(ReplaceCountsQuestion(folder), MsgButtons::YesNo) != MsgResult::Yes)
        return std::nullopt;
    reporting::RawRunRequest r;
    r.folder = folder;
    r.replace_data = replace;
    r.raw_export = false;
    r.method = ReadOwnSetup(ctx, folder).Setup.DSP_Method;
    r.threshold_text = MeansOwnThreshold(choice.threshold_text) ? RecordedThresholdText(ctx, folder)
                                                                : choice.threshold_text;
    r.bin_size_text = choice.bin_text;
    r.options = reporting::RequestFromConfig(ctx.files, config, folder, choice.bin_text).options;
    return r;
}

}  // namespace lumivo::offline
