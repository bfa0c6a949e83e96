#include "core/reporting/report/report_settings.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "core/reporting/report/basal.h"
#include "core/reporting/report/bend_histogram_report.h"
#include "core/reporting/report/report_inputs.h"
#include "core/storage/field_record.h"

namespace lumivo::reporting {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCountsFile = "counts.bin";

void SetStatistics(const ReportConfig& c, std::array<bool, 5>& statistic) {
    statistic[2] = c.stdError == 1;
    statistic[3] = c.stdDev == 1;
    statistic[4] = c.n == 1;
}

// The bin-size list with the stored bin size appended (shown as it is, even outside the list).
void FillBinList(std::int16_t bin, std::vector<std::string>& items, std::string& text) {
    items = BinSizeChoices();
    items.push_back(std::to_string(bin));
    text = items.back();
}

// The numeric value of a text box: a leading decimal number, "," read as "."; 0 for none.
double TextValue(std::string text) {
    std::replace(text.begin(), text.end(), ',', '.');
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return 0.0;
    const char* begin = text.data() + first;
    if (*begin == '+') ++begin;
    double v = 0.0;
    const auto r = std::from_chars(begin, text.data() + text.size(), v);
    return r.ec == std::errc() ? v : 0.0;
}

}  // namespace

const std::vector<std::string>& BinSizeChoices() {
    static const std::vector<std::string> choices = {"5",   "15",  "30",  "60",  "120", "180",
                                                     "240", "360", "480", "720", "1440"};
    return choices;
}

const std::array<const char*, 5>& ReportOutputCaptions() {
    static const std::array<const char*, 5> c = {"Rows", "List", "W.Array", "CH.Array",
                                                 "Histogram Body_bends (experimental)"};
    return c;
}

const std::array<const char*, 4>& ReportSetOutputCaptions() {
    static const std::array<const char*, 4> c = {"Rows", "List", "WArray", "CHArray"};
    return c;
}

const std::array<const char*, 5>& StatisticCaptions() {
    static const std::array<const char*, 5> c = {"Average", "Median", "Std Error", "Std Dev",
                                                 "\"N\""};
    return c;
}

bool StatisticBoxEnabled(int output, int box) {
    if (box < 2 || box > 4 || output < 0 || output > 4) return true;
    return StatisticOffered(static_cast<OutputFormat>(output), static_cast<StatisticBox>(box));
}

const std::array<const char*, 3>& ReportMethodNames() {
    static const std::array<const char*, 3> c = {"0_Threshold+Binary (Old Method.w/filters)",
                                                 "1_Threshold Avrg (Default.Agar&Liquid)",
                                                 "2_uOrganism (Motility Index)"};
    return c;
}

const std::array<const char*, 2>& ReportOrganismNames() {
    static const std::array<const char*, 2> c = {"C elegans(>L4)", "Zebrafish(Larvae)"};
    return c;
}

std::string ThresholdText(int tenths) {
    const int a = tenths < 0 ? -tenths : tenths;
    return std::string(tenths < 0 ? "-" : "") + std::to_string(a / 10) + "." +
           std::to_string(a % 10);
}

void LoadReportWindow(StorageContext& ctx, ReportSettings& settings, bool user_defined,
                      ReportWindowState& w) {
    w.bin_items = BinSizeChoices();
    RefreshListSeparator(ctx, settings);
    w.spacer = settings.ListSeparator;
    w.method = 0;
    w.organism = 0;
    LoadReportConfig(ctx, settings, user_defined ? 1 : 0);
    const ReportConfig& c = settings.config;
    FillBinList(c.Bin, w.bin_items, w.bin_text);
    w.filetype = c.filetype;
    w.spacer = c.spacer;
    w.output = c.out_format;
    SetStatistics(c, w.statistic);
    w.method = std::clamp<int>(c.method, 0, 2);
    w.organism = std::clamp<int>(c.organism, 0, 1);
    w.threshold_text = ThresholdText(c.threshold);
    w.raw_export = c.rawexport == 1;
    w.histogram_visible = false;
    if (!w.input_folder.empty() && !HistogramFileNames(ctx.files, w.input_folder).empty()) {
        w.histogram_visible = true;
        w.output = 4;
    }
}

bool OpenReportWindowFor(StorageContext& ctx, const fs::path& folder,
                         const std::string& main_bin_text, ReportWindowState& w) {
    if (!ctx.files.IsFile(folder / kCountsFile)) {
        ctx.dialogs.MessageBox(ActivityFileNotFoundText(ctx.files, folder / kCountsFile));
        return false;
    }
    w.bin_text = main_bin_text;
    w.input_folder = folder.string();
    w.histogram_visible = !HistogramFileNames(ctx.files, folder).empty();
    w.output = w.histogram_visible ? 4 : 0;
    return true;
}

std::vector<std::string> BasalChoices(StorageContext& ctx, const fs::path& folder) {
    std::vector<std::string> names;
    const std::string own = folder.filename().string();
    for (const std::string& name : ctx.files.ListSubfolders(folder.parent_path())) {
        if (name == own || name.size() != 13 || BasalFolderName(name) != name) continue;
        if (!ctx.files.IsFile(folder.parent_path() / name / kCountsFile)) continue;
        names.push_back(name);
    }
    std::sort(names.rbegin(), names.rend());
    std::vector<std::string> items = {"-"};
    for (const std::string& name : names)
        items.push_back(name + " " + ReadExperimentName(ctx, folder.parent_path() / name));
    return items;
}

void ReportFileTypeChosen(const ReportSettings& settings, int filetype, ReportWindowState& w) {
    w.filetype = filetype == 1 ? 1 : 0;
    w.spacer = w.filetype == 0 ? settings.ListSeparator : std::string(" ");
}

void OrganismChosen(int organism, ReportWindowState& w) {
    w.organism = organism == 1 ? 1 : 0;
    w.threshold_text = w.organism == 1 ? "2.8" : "1.8";
}

void ThresholdLeft(ReportWindowState& w) {
    const double v = TextValue(w.threshold_text);
    if (v < 1.1 || v > 6.0) w.threshold_text = "1.8";
}

void RawExportChecked(bool checked, ReportWindowState& w) {
    w.raw_export = checked;
    if (checked) {
        w.replace_data = false;
        w.datalapse_enabled = true;
        w.datalapse_text = "533";
    }
}

void ReplaceDataChecked(bool checked, ReportWindowState& w) {
    w.replace_data = checked;
    w.datalapse_enabled = !checked;
}

ReportRequest RequestFromWindow(const ReportWindowState& w, const std::string& decimal_symbol) {
    ReportRequest r;
    r.folder = w.input_folder;
    r.bin_size_text = w.bin_text;
    r.options.output = static_cast<OutputFormat>(std::clamp(w.output, 0, 4));
    r.options.file_type = w.filetype == 1 ? ReportFileType::Text : ReportFileType::Csv;
    r.options.spacer = w.spacer;
    r.options.std_error = w.statistic[2];
    r.options.std_dev = w.statistic[3];
    r.options.wells = w.statistic[4];
    r.options.decimal_symbol = decimal_symbol;
    r.basal_text = w.basal_text;
    return r;
}

void LoadReportSetWindow(StorageContext& ctx, ReportSettings& settings, ReportSetState& w) {
    w.bin_items = BinSizeChoices();
    RefreshListSeparator(ctx, settings);
    w.spacer = settings.ListSeparator;
    LoadReportConfig(ctx, settings, 1);
    ReportConfig& c = settings.config;
    FillBinList(c.Bin, w.bin_items, w.bin_text);
    w.filetype = c.filetype;
    w.spacer = c.spacer;
    w.output = std::clamp<int>(c.out_format, 0, 3);
    SetStatistics(c, w.statistic);
    w.raw_export = c.rawexport == 1;
    if (!w.raw_export) c.rawexport = 0;
}

bool ApplyUserReport(StorageContext& ctx, ReportSettings& settings, const ReportSetState& w,
                     bool& user_defined_report) {
    long long bin = 0;
    if (!ParseWholeNumber(w.bin_text, bin) || bin < 2 || bin > 1440) {
        ctx.dialogs.MessageBox(kBinSizeRefused);
        return false;
    }
    ReportConfig& c = settings.config;
    c.Bin = static_cast<std::int16_t>(bin);
    c.filetype = static_cast<std::int16_t>(w.filetype == 1 ? 1 : 0);
    c.spacer = w.spacer;
    c.out_format = static_cast<std::int16_t>(std::clamp(w.output, 0, 3));
    c.stdError = w.statistic[2] ? 1 : 0;
    c.stdDev = w.statistic[3] ? 1 : 0;
    c.n = w.statistic[4] ? 1 : 0;
    c.rawexport = w.raw_export ? 1 : 0;
    SaveReportConfig(ctx, settings, 1);
    ctx.dialogs.MessageBox(kUserConfigurationApplied);
    user_defined_report = true;
    return true;
}

void BackToDefaultReport(StorageContext& ctx, ReportSettings& settings, bool& user_defined_report) {
    user_defined_report = false;
    LoadReportConfig(ctx, settings, 0);
    SaveReportConfig(ctx, settings, 0);
    ctx.dialogs.MessageBox(kDefaultConfigurationApplied);
}

void UserBinEntryChosen(StorageContext& ctx, ReportSettings& settings, bool checked) {
    const std::int16_t flag = checked ? 1 : 0;
    LoadReportConfig(ctx, settings, flag);
    SaveReportConfig(ctx, settings, flag);
}

}  // namespace lumivo::reporting
