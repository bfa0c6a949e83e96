#include "core/control/auto_zero.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <stdexcept>

#include "core/common/rounding.h"
#include "core/control/channel_calibration.h"
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
    if (RefusedBeforeStart(ctx, zero_level.size(), "CalculateAutoZero: the zero levels need"))
        return result;
    Dialogs& dialogs = ctx.link.dialogs;
    CalibrationView& view = ctx.view;

    auto end_early = [&](RunOutcome outcome) {
        result.outcome = outcome;
        view.SetStatus(kAutoZeroInterruptedStatus);
        dialogs.MessageBox(kAutoZeroInterruptedStatus, MsgButtons::Ok);
        return result;
    };
    // Reads the four blocks into `row`. A block that does not come back has kept the reader
    // waiting its whole timeout: window events run at once so a stop is not held up, and a
    // block missing sample after sample ends the run. False when the run is to end.
    std::array<int, 4> missed{};
    bool stopped = false;
    auto read_sample = [&](ChannelRow& row) {
        for (std::size_t b = 0; b < kBlockStarts.size(); ++b) {
            const BlockRead read =
                ReadChannelBlock(ctx.link, kBlockStarts[b], BlockReadMode::Whole, row);
            if (read.decode.accepted) {
                missed[b] = 0;
                continue;
            }
            ++missed[b];
            if (stopped) return false;
            dialogs.ProcessEvents();
            if (!ctx.run.KeepGoing()) {
                stopped = true;
                return false;
            }
        }
        return true;
    };
    auto too_many_missed = [&] {
        for (int m : missed) {
            if (m >= kAutoZeroMaxMissedBlocks) return true;
        }
        return false;
    };

    // While a silent instrument keeps a read waiting, its attempts let window events run so
    // that STOP ends the run within one attempt (half a second).
    struct WaitHook {
        CommPorts& ports;
        std::function<bool()> previous;
        ~WaitHook() { ports.keep_waiting = std::move(previous); }
    } hook{ctx.link.ports, ctx.link.ports.keep_waiting};
    ctx.link.ports.keep_waiting = [&] {
        dialogs.ProcessEvents();
        if (ctx.run.KeepGoing()) return true;
        stopped = true;
        return false;
    };

    view.SetStatus("AutoZero Calculation .... <000>");
    view.ClearProgress();
    const int n = AutoZeroSampleCount(settings.AutoCalibrateOnStart, settings.AutoZeroOnStart);
    view.ScaleProgress(n, kProgressHeight);

    ChannelRow scratch{};
    if (!read_sample(scratch)) return end_early(RunOutcome::Interrupted);  // discarded
    missed.fill(0);

    result.rows.reserve(static_cast<std::size_t>(n));
    for (int s = 0; s < n; ++s) {
        // A block that comes back short keeps its channels' previous sample.
        result.rows.push_back(s == 0 ? ChannelRow{} : result.rows.back());
        const bool goes_on = read_sample(result.rows.back());
        result.samples = s + 1;
        if (!goes_on) return end_early(stopped ? RunOutcome::Interrupted : RunOutcome::ReadFailed);
        if (too_many_missed()) return end_early(RunOutcome::ReadFailed);
        view.SetStatus("AutoZero... <" + std::to_string(s) + ">");
        view.DrawProgress(s);
        if (s % kEventsEverySamples == 0) {
            dialogs.ProcessEvents();
            if (!ctx.run.KeepGoing()) return end_early(RunOutcome::Interrupted);
        }
    }
    // A block still missing at the last samples left its channels on older readings.
    for (int m : missed) {
        if (m > 0) return end_early(RunOutcome::ReadFailed);
    }

    std::vector<int> series(static_cast<std::size_t>(n));
    for (int ch = 0; ch < kChannelCount; ++ch) {
        const auto c = static_cast<std::size_t>(ch);
        for (std::size_t j = 0; j < series.size(); ++j) series[j] = result.rows[j][c];
        zero_level[c] = AutoZeroLevel(series, settings.SnrThreshold);
    }
    result.outcome = RunOutcome::Completed;
    // The counter was the progress; what stays is the result.
    view.SetStatus("AutoZero completed over " + std::to_string(result.samples) + " samples");
    return result;
}

std::string AutoZeroSummary(const AutoZeroResult& result,
                            std::span<const std::int16_t> channel_well,
                            std::span<const double> zero_level) {
    if (result.outcome != RunOutcome::Completed) {
        return std::string("AutoZero NOT completed (") + RunOutcomeText(result.outcome) +
               " after " + std::to_string(result.samples) + " samples): zero levels unchanged";
    }
    int in_use = 0;
    int in_window = 0;
    int below = 0;  // readable, but under or over the calibration window
    int above = 0;
    std::vector<int> dead;
    std::vector<int> saturated;
    double lo = 0.0;
    double hi = 0.0;
    const std::size_t first = static_cast<std::size_t>(kAutoZeroFirstRow);
    for (int ch = 0; ch < kChannelCount; ++ch) {
        const auto c = static_cast<std::size_t>(ch);
        if (c >= channel_well.size() || channel_well[c] < 0) continue;
        double sum = 0.0;
        std::size_t count = 0;
        const std::size_t from = result.rows.size() > first ? first : 0;
        for (std::size_t j = from; j < result.rows.size(); ++j) {
            sum += result.rows[j][c];
            ++count;
        }
        const double level = count > 0 ? sum / static_cast<double>(count) : 0.0;
        if (level < kDeadChannelLevel) {
            dead.push_back(ch);
        } else if (level >= kSaturatedChannelLevel) {
            saturated.push_back(ch);
        } else if (level < CalibrationWindowLow) {
            ++below;
        } else if (level > CalibrationWindowHigh) {
            ++above;
        } else {
            ++in_window;
        }
        const double z = c < zero_level.size() ? zero_level[c] : 0.0;
        lo = in_use == 0 ? z : std::min(lo, z);
        hi = in_use == 0 ? z : std::max(hi, z);
        ++in_use;
    }
    std::string text =
        "AutoZero completed over " + std::to_string(result.samples) +
        " samples: " + std::to_string(in_use) + " channels in use, " + std::to_string(in_window) +
        " with their level in the window " + std::to_string(CalibrationWindowLow) + ".." +
        std::to_string(CalibrationWindowHigh);
    // Every channel in use is counted once: in the window, beside it, dead or saturated.
    if (below + above > 0) {
        text += ", " + std::to_string(below + above) + " readable outside it (" +
                std::to_string(below) + " below, " + std::to_string(above) + " above)";
    }
    text += ", " + std::to_string(dead.size()) + " dead";
    text += ChannelNumbersText(dead) + ", " + std::to_string(saturated.size()) + " saturated" +
            ChannelNumbersText(saturated);
    if (in_use > 0) text += "; zero levels " + FormatOneDecimal(lo) + " to " + FormatOneDecimal(hi);
    return text;
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
