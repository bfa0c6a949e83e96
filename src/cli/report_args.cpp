#include "cli/report_args.h"

namespace lumivo::cli {

namespace fs = std::filesystem;

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
