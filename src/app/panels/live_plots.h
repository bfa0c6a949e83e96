// The live plots of the main window: the activity plot `Picact` (group bars with their standard
// errors, well bars in pages, the time course, the plate heat map, the body-bends histogram) and
// the channel signal `Picreal`, with the controls that choose what they show.
//
// The sampling loop stays on the window's thread, as the timer Timeradq: everything a tick
// touches besides the readings (the instrument link that the light, temperature and
// calibration commands share, the project, the dialogs and the log) belongs to that thread, and
// a loop of its own would have to stop for each of them. What could delay a tick is the
// drawing, so the plots keep it off the tick's way:
// - the loop hands each new row of SampleMatrix and each closed window to `hand_over()` (a copy
//   into a bounded buffer that drops its oldest rows, never waits, when the plots fall behind);
// - the plots take what was handed over ten times a second; the channel signal, the only plot
//   that changes with every reading, is drawn on a thread of its own and only its finished
//   picture is copied here; the activity plots change once a window and are drawn then;
// - nothing is drawn while the window is hidden.
// Measured against the simulated instrument, the tick period with the plots shown is that of
// the plots hidden (see the user guide and bench/live_plots_bench).
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <cstddef>
#include <vector>

#include "app/panels/auto_action_frame.h"
#include "app/plots/activity_plot.h"
#include "app/plots/signal_plot.h"
#include "core/acquisition/live_signal.h"
#include "core/state/app_state.h"

class QStatusBar;

namespace lumivo::app {

// The live displays of the main window, left of its panels: the plot buttons, the activity plot
// `Picact` with the time bar `picturetime` under it, the channel choice (`Combofila`,
// `Combocol`, `combogrup`, `txtsub`) and the channel-signal plot `Picreal` beside the group
// list `lstgrup`.
class LiveView : public QWidget {
    Q_OBJECT
  public:
    explicit LiveView(QWidget* parent = nullptr);

    // The count of channels that read dead, saturated or drifting goes into `status_bar`.
    void AttachStatusBar(QStatusBar& status_bar);

    // Sized from the project: the group lists, the channel choice and the plots' layout.
    // `app` outlives the view.
    void PrepareFor(const AppState& app);
    // The activity plot cleared for the project's groups (a run starts).
    void PrepareActivity(const ProjectState& project);
    // A run starts: what the plots held is dropped and they follow the new run.
    void BeginRun(const SignalSettings& settings);
    // The time bar emptied.
    void ClearSignal(std::size_t rt_buffer);
    // The time bar: percent of the lapse (0..100), repainted only when it changed.
    void ShowElapsedBar(double percent);
    // The activity plot and the time bar, lent to the device test while it runs.
    ActivityPlot& activity_plot() { return *Picact; }
    ProgressBox& time_bar() { return *picturetime; }

    // The sampling loop's side: rows and windows go in here.
    SampleHandOver& hand_over() { return hand_over_; }
    // Takes what was handed over and repaints (the refresh timer calls it).
    void RefreshPlots();

    // The channel the signal plot shows.
    std::size_t channel() const { return Picreal->channel(); }
    void SelectChannel(std::size_t channel);
    const ActivityData& activity() const { return activity_; }
    LiveSignalSource& source() { return source_; }

  private:
    void ShowActivity(ActivityView view);
    void StepChannel(int direction);
    // The channels previous/next step through: those in use of the chosen group (all groups
    // when the first entry is chosen).
    std::vector<std::size_t> ChannelsOfChoice() const;
    void UpdatePaging();
    void UpdateChannelStatus();

    QPushButton* Cmd_barplot;
    QPushButton* Cmd_gridplot;
    QPushButton* Cmd_histoplot;
    QComboBox* cmb_barview;  // groups, wells or time course under "Bar Plot"
    QPushButton* cmd_pgup;
    QPushButton* cmd_pgdown;
    QPushButton* cmdbeam_plus;
    QPushButton* cmdbeam_minus;
    QPushButton* Cmdzoom_plus;
    QPushButton* Cmdzoom_minus;
    QCheckBox* chk_fitsignal;  // the y axis zoomed to the signal instead of 0..4095
    QComboBox* Combofila;
    QComboBox* Combocol;
    QComboBox* combogrup;
    QLineEdit* txtsub;
    QListWidget* lstgrup;
    ActivityPlot* Picact;
    SignalPlot* Picreal;
    ProgressBox* picturetime;
    QLabel* lbl_channels = nullptr;  // in the status bar
    QTimer* refresh_;

    const AppState* app_ = nullptr;
    SampleHandOver hand_over_;
    LiveSignalSource source_{hand_over_};
    ActivityData activity_;
    std::vector<int> group_of_entry_;  // combogrup entry -> group (-1: all)
};

}  // namespace lumivo::app
