#include "core/acquisition/acquisition_texts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "core/acquisition/data_files.h"
#include "core/control/control_fields.h"

namespace lumivo {
namespace {

constexpr const char* kCrLf = "\r\n";

}  // namespace

std::string StartPromptText(bool auto_calibrate_on_start, bool auto_zero_on_start) {
    const std::string stars(49, '*');
    std::string text = stars + kCrLf + "***   Enter a Name for this Experiment  ***" + kCrLf +
                       stars + kCrLf + "Comments:" + kCrLf + "~~~~~~~" + kCrLf;
    if (auto_calibrate_on_start && auto_zero_on_start) {
        text += "> Auto Calibration is ON: Use experimental Microplate Directly.";
    } else {
        text += "> Auto Calibration is OFF: Remember to read Blank.";
    }
    text += kCrLf;
    text += "> To go into Monitor_mode (no calculation/recording) keep experiment name empty.";
    return text;
}

double RecordedBytesPerMinute(std::size_t rt_buffer, bool body_bends, bool save_raw) {
    const double tick_s =
        std::max(kTimeradqIntervalMs / 1000.0, (body_bends ? 2.0 : 4.0) * kBlockWireSeconds);
    const double window_s = static_cast<double>(std::max<std::size_t>(rt_buffer, 1)) * tick_s;
    double bytes = static_cast<double>(kCountsRecordSize);
    if (save_raw) bytes += static_cast<double>(RawPageRecordSize(rt_buffer));
    if (body_bends) bytes += static_cast<double>(kHistogramRecordSize);
    return bytes * 60.0 / window_s;
}

std::int64_t RequiredDiskMegabytes(int lapse_minutes, std::size_t rt_buffer, bool body_bends,
                                   bool save_raw) {
    const double bytes =
        std::max(lapse_minutes, 0) * RecordedBytesPerMinute(rt_buffer, body_bends, save_raw);
    return static_cast<std::int64_t>(std::ceil(bytes / (1024.0 * 1024.0)));
}

DiskCheck CheckDiskSpace(int lapse_minutes, std::int64_t required_mb, std::int64_t free_mb) {
    DiskCheck d;
    d.required_mb = required_mb;
    d.message = "Programmed Acquisition lapse = " + std::to_string(lapse_minutes) +
                "minutes & RealTime_recording=YES" + kCrLf +
                "Required Disk space for RealTime Saving = " + std::to_string(d.required_mb) +
                "MB" + kCrLf + "Current Disk Space=" + std::to_string(free_mb) + "MB" + kCrLf;
    bool warn = d.required_mb > 1000;
    const std::int64_t spare = free_mb - d.required_mb;
    if (spare < 1000) {
        d.message += std::string("LOW DISK SPACE") + kCrLf;
        warn = true;
    }
    if (spare < 200) {
        d.message += std::string("NOT ENOUGH DISK SPACE") + kCrLf +
                     " (Please, Increase Disk Space Availablility or Deselect Realtime "
                     "recording)";
        warn = true;
    }
    if (warn) d.warning = std::string("WARNING:") + kCrLf + d.message + kCrLf + "PROCEED?";
    return d;
}

std::string ElapsedTimeText(std::int64_t elapsed_us) {
    const std::int64_t s = std::max<std::int64_t>(elapsed_us, 0) / 1'000'000;
    const std::int64_t days = s / 86400;
    const std::int64_t rest = s % 86400;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld [%lldd]",
                  static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
                  static_cast<long long>(rest % 60), static_cast<long long>(days));
    return buf;
}

std::string TemperatureLabel(double celsius) {
    return "T = " + FormatOneDecimal(celsius) + " \xC2\xB0" + "C";
}

}  // namespace lumivo
