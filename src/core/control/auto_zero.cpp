#include "core/control/auto_zero.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "core/analysis/rounding.h"
#include "core/control/control_fields.h"
#include "core/storage/acquisition_register.h"
#include "core/storage/field_record.h"

namespace lumivo {
namespace {

constexpr int kEventsEverySamples = 10;
constexpr double kProgressHeight = 10.0;

}  // namespace

int AutoZeroSampleCount(bool auto_calibrate_on_start, bool auto_zero_on_start) {
    return auto_calibrate_on_start && auto_zero_on_start ? kAutoZeroSamplesQuick
                                                         : kAutoZeroSamplesFull;
}

double AutoZeroLevel(std::span<const int> p, double snr) {
    const std::size_t n = p.size();
    const auto first = static_cast<std::size_t>(kAutoZeroFirstRow);
    if (n < first + 2) return kMinZeroLevel;
    int peak = p[first];
    int trough = p[first];
    double ripple_sum = 0.0;
    double level_sum = 0.0;
    int count = 0;
    for (std::size_t j = first + 1; j + 1 < n; ++j) {
        if (p[j] < p[j - 1] && p[j] < p[j + 1]) trough = p[j];
        if (p[j] > p[j - 1] && p[j] > p[j + 1]) peak = p[j];
        ripple_sum += peak - trough;
        level_sum += p[j];
        ++count;
    }
    if (count == 0) return kMinZeroLevel;
    const double a = RoundHalfEven(ripple_sum / count);
    const double m = RoundHalfEven(level_sum / count);
    const double raw = m < 1.0 ? 0.0 : (1.0 - (m - a) / m) * 100.0 * snr;
    return std::max(raw + 1.0, kMinZeroLevel);
}

AutoZeroResult CalculateAutoZero(ControlContext& ctx, const AutoZeroSettings& settings,
                                 std::span<double> zero_level) {
    AutoZeroResult result;
    Dialogs& dialogs = ctx.link.dialogs;
    CalibrationView& view = ctx.view;
    if (ctx.run.offline) {
        dialogs.MessageBox(kOfflineRefusalMessage, MsgButtons::Ok);
        return result;
    }
    if (zero_level.size() < static_cast<std::size_t>(kChannelCount)) {
        throw std::invalid_argument("CalculateAutoZero: the zero levels need 384 entries");
    }

    view.SetStatus("AutoZero Calculation .... <000>");
    view.ClearProgress();
    const int n = AutoZeroSampleCount(settings.AutoCalibrateOnStart, settings.AutoZeroOnStart);
    view.ScaleProgress(n, kProgressHeight);

    ChannelRow scratch{};
    ReadFullSample(ctx.link, scratch, BlockReadMode::Whole);  // discarded

    result.rows.reserve(static_cast<std::size_t>(n));
    for (int s = 0; s < n; ++s) {
        // A block that comes back short keeps its channels' previous sample.
        result.rows.push_back(s == 0 ? ChannelRow{} : result.rows.back());
        ReadFullSample(ctx.link, result.rows.back(), BlockReadMode::Whole);
        result.samples = s + 1;
        view.SetStatus("AutoZero... <" + std::to_string(s) + ">");
        view.DrawProgress(s);
        if (s % kEventsEverySamples == 0) {
            dialogs.ProcessEvents();
            if (!ctx.run.KeepGoing()) {
                result.outcome = RunOutcome::Interrupted;
                view.SetStatus(kAutoZeroInterruptedStatus);
                dialogs.MessageBox(kAutoZeroInterruptedStatus, MsgButtons::Ok);
                return result;
            }
        }
    }

    std::vector<int> series(static_cast<std::size_t>(n));
    for (int ch = 0; ch < kChannelCount; ++ch) {
        const auto c = static_cast<std::size_t>(ch);
        for (std::size_t j = 0; j < series.size(); ++j) series[j] = result.rows[j][c];
        zero_level[c] = AutoZeroLevel(series, settings.SnrThreshold);
    }
    result.outcome = RunOutcome::Completed;
    return result;
}

// ---- The blank ----

std::string PrepareBlankFolder(StorageContext& storage, int actual_project_number,
                               const ProjectState& project, const LocalDateTime& now) {
    const std::string name = AcquisitionFolderName(now);
    const std::filesystem::path folder = project.ProjectFolder / name;
    if (!storage.files.IsFolder(folder) && !storage.files.CreateFolders(folder)) {
        throw StorageError("cannot create the folder " + folder.string());
    }
    SaveProjectFiles(storage, folder, actual_project_number, project);
    return name;
}

std::string BlankStartText(int blank_sample_count) {
    return "Setting Blank.... (" + std::to_string(blank_sample_count) + " samples)";
}

std::string BlankDoneText(int channel) {
    return "Setting (" + std::to_string(channel) + ") OK...";
}

void StartBlank(BlankState& blank, std::int16_t blank_sample_count) {
    blank.blank_max.fill(kBlankMaxStart);
    blank.blank_min.fill(kBlankMinStart);
    blank.ticks = 0;
    blank.BlankSampleCount = blank_sample_count;
    blank.BlankMode = true;
}

std::optional<double> BlankZeroLevel(std::int16_t minimum, std::int16_t maximum) {
    if (minimum >= kBlankMinStart || maximum < 1) return std::nullopt;
    const double spread = (1.0 - static_cast<double>(minimum) / maximum) * 100.0 * kBlankMargin;
    return std::max(std::trunc(spread) + 1.0, kMinZeroLevel);
}

bool BlankStep(BlankState& blank, std::span<const std::uint16_t> row,
               std::span<double> zero_level) {
    if (!blank.BlankMode) return false;
    const std::size_t channels =
        std::min({row.size(), zero_level.size(), static_cast<std::size_t>(kChannelCount)});
    for (std::size_t c = 0; c < channels; ++c) {
        const auto r = static_cast<std::int16_t>(std::min<int>(row[c], 32767));
        if (r > blank.blank_max[c]) blank.blank_max[c] = r;
        if (r < blank.blank_min[c]) blank.blank_min[c] = r;
        if (const auto level = BlankZeroLevel(blank.blank_min[c], blank.blank_max[c])) {
            zero_level[c] = *level;
        }
    }
    ++blank.ticks;
    if (blank.ticks > blank.BlankSampleCount) {
        blank.BlankMode = false;
        return true;
    }
    return false;
}

// ---- The signal-to-noise factor ----

std::string SnrTextFromField(std::int16_t snr_x10) {
    return FormatOneDecimal(snr_x10 != 0 ? snr_x10 / 10.0 : kDefaultSnr);
}

double SnrFromText(const std::string& text, double floor) {
    const auto v = ParseNumericText(text);
    if (!v || *v <= 1.0 || *v < floor) return kDefaultSnr;
    return *v;
}

}  // namespace lumivo
