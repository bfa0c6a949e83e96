// What the long device procedures (calibration, automatic adjustment, auto-zero) need besides
// the tables they work on: the instrument link, the storage of calvalue.dat, a view to show
// their progress on and the rules that tell them when to stop early.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

#include "core/device/command_set.h"
#include "core/storage/storage_context.h"

namespace lumivo {

// The calibration strip of the main window: the frame frm_autotext with its title line
// (lbl_autotext) and status line (lbl_autochannel), and the progress box picturecal, on which
// progress is a filled bar from the left edge to the current x. Every method defaults to doing
// nothing, so a headless caller overrides only what it shows.
class CalibrationView {
  public:
    virtual ~CalibrationView() = default;
    virtual void ShowFrame(bool /*shown*/) {}
    virtual void SetTitle(const std::string& /*text*/) {}
    virtual void SetStatus(const std::string& /*text*/) {}
    // The progress box's scale: 0..x_max across, 0..y_max up.
    virtual void ScaleProgress(double /*x_max*/, double /*y_max*/) {}
    virtual void ClearProgress() {}
    virtual void DrawProgress(double /*x*/) {}
};

// When a run stops early and what it does then.
struct RunControl {
    // Without an instrument nothing can be calibrated or measured.
    bool offline = false;
    // Asked after every point where window events may have run. Returning false ends the run
    // early: the acquisition the run belongs to was stopped, or the user cancelled a
    // stand-alone run. Empty: the run always goes on to its end.
    std::function<bool()> keep_going;
    // Stops the acquisition the run belongs to (used when a channel write fails during the
    // adjustment passes of a calibration). May be empty.
    std::function<void()> stop_acquisition;
    // Moves the sampling loop back to its first row before calibration reads into it. May be
    // empty.
    std::function<void()> reset_sample_row;

    bool KeepGoing() const { return !keep_going || keep_going(); }
};

struct ControlContext {
    DeviceLink& link;
    StorageContext& storage;
    CalibrationView& view;
    RunControl run;
};

// How a run ended.
enum class RunOutcome {
    Completed,    // ran to its end; its results were kept (and saved where it saves)
    Interrupted,  // stopped early by RunControl::keep_going; nothing was saved
    WriteFailed,  // a channel register write failed for good; nothing was saved
    SaveFailed,   // ran to its end, but calvalue.dat could not be written
    Refused,      // not started (offline)
    ReadFailed,   // the instrument did not answer the readings; nothing was saved
};

// A few words for how a run ended ("completed", "interrupted", ...).
inline const char* RunOutcomeText(RunOutcome outcome) {
    switch (outcome) {
        case RunOutcome::Completed:
            return "completed";
        case RunOutcome::Interrupted:
            return "interrupted";
        case RunOutcome::WriteFailed:
            return "a channel write failed";
        case RunOutcome::SaveFailed:
            return "calvalue.dat could not be written";
        case RunOutcome::Refused:
            return "refused";
        case RunOutcome::ReadFailed:
            return "the instrument did not answer";
    }
    return "?";
}

inline constexpr const char* kOfflineRefusalMessage = "Operation not possible in OFFLINE mode";

// The checks every run makes before it touches the instrument: true (after telling the user)
// when it cannot run offline. `channel_table` must hold an entry for every channel; otherwise
// (a fault of the caller) the run throws std::invalid_argument with `what` + " 384 entries".
inline bool RefusedBeforeStart(ControlContext& ctx, std::size_t channel_table, const char* what) {
    if (ctx.run.offline) {
        ctx.link.dialogs.MessageBox(kOfflineRefusalMessage, MsgButtons::Ok);
        return true;
    }
    if (channel_table < static_cast<std::size_t>(kChannelCount))
        throw std::invalid_argument(std::string(what) + " 384 entries");
    return false;
}

}  // namespace lumivo
