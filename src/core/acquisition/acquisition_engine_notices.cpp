// The engine's notices: what it hands to the notifier and when, and the deliveries' outcomes
// it writes into events.log.
#include <algorithm>
#include <cmath>
#include <string>

#include "core/acquisition/acquisition_engine.h"
#include "core/storage/project_setup.h"

namespace lumivo {

void AcquisitionEngine::Notify(notify::NoticeKind kind, const std::string& message) {
    if (ctx_.notices == nullptr) return;
    notify::Notice n;
    n.kind = kind;
    n.message = message;
    n.acquisition = state.RecordingOn ? state.AcquisitionFolder.string() : std::string();
    n.time = notify::IsoTimeText(ctx_.link.clock.Now());
    ctx_.notices->Post(n);
}

void AcquisitionEngine::LogNoticeReports() {
    if (ctx_.notices == nullptr) return;
    for (const std::string& line : ctx_.notices->TakeReports()) LogEvent(line);
}

void AcquisitionEngine::WatchConditions(std::int64_t now) {
    if (ctx_.notices == nullptr || !state.RecordingOn) return;
    SamplingState& s = sampling;
    const notify::NoticeRules rules = ctx_.notices->Rules();
    const ClimateState& c = ctx_.climate;

    const bool outside =
        c.temperature_control_enabled && c.temperature_known &&
        std::fabs(c.CurrentTemperature - c.TemperatureSetPoint) > rules.temperature_band;
    if (!outside) {
        s.temperature_out_since = -1;
        s.temperature_notified = false;
    } else {
        if (s.temperature_out_since < 0) s.temperature_out_since = now;
        const std::int64_t out_us = now - s.temperature_out_since;
        if (!s.temperature_notified &&
            out_us >= std::int64_t{rules.temperature_minutes} * 60'000'000) {
            s.temperature_notified = true;
            const std::string text = "The plate is at " + FormatOneDecimal(c.CurrentTemperature) +
                                     " C, outside " + FormatOneDecimal(c.TemperatureSetPoint) +
                                     " +- " + FormatOneDecimal(rules.temperature_band) + " C for " +
                                     std::to_string(out_us / 60'000'000) + " min";
            LogEvent("Temperature out of its band: " + text);
            Notify(notify::NoticeKind::TemperatureOutOfBand, text);
        }
    }

    const ProjectSetup& setup = ctx_.app.project.Setup;
    // Room for a day of recording, or for what is left of the run when that is shorter.
    const double minutes =
        std::min(1440.0, std::max(1.0, setup.Aq_lapse - sampling.ElapsedMinutesExact + 1.0));
    const double per_day_mb =
        RecordedBytesPerMinute(sampling.rt_buffer, state.BodyBendsMode, SavesRawSignals(setup)) *
        minutes / (1024.0 * 1024.0);
    const std::int64_t free = FreeDiskMegabytes(ctx_.storage, state.AcquisitionFolder);
    if (free < 0) return;
    if (static_cast<double>(free) >= per_day_mb) {
        s.disk_notified = false;
    } else if (!s.disk_notified) {
        s.disk_notified = true;
        const std::string text = "the disk of " + state.AcquisitionFolder.string() + " has " +
                                 std::to_string(free) + " MB free, less than the " +
                                 std::to_string(static_cast<std::int64_t>(std::ceil(per_day_mb))) +
                                 " MB the next " + std::to_string(std::lround(minutes)) +
                                 " min of this recording need";
        LogEvent("Low disk space: " + text);
        Notify(notify::NoticeKind::LowDiskSpace, "Low disk space: " + text);
    }
}

}  // namespace lumivo
