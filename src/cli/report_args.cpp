#include "cli/report_args.h"

#include "cli/cli_args.h"

namespace lumivo::cli {

namespace fs = std::filesystem;

std::optional<long long> TakeReportBin(Args& args) {
    return args.TakeInt("bin", 1, 100000);
}

std::optional<double> TakeDeadHours(Args& args) {
    return args.TakeDouble("dead-hours", 0.1, 10000.0);
}

void RequireFolderText(const std::optional<std::string>& text) {
    if (!text) throw UsageError("the acquisition folder is missing");
}

fs::path AcquisitionFolderArgument(const std::string& text) {
    fs::path p = fs::absolute(fs::path(text)).lexically_normal();
    if (p.filename().empty()) p = p.parent_path();
    return p;
}

void LoadStoredReportSettings(StorageContext& ctx, ReportSettings& settings) {
    if (ctx.files.IsFile(ctx.install_dir / kReportConfigFileName))
        LoadReportConfig(ctx, settings, 1);
    else
        DefaultReportConfig(ctx, settings);
}

}  // namespace lumivo::cli
