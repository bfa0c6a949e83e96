// The live plots of the main window: `Picact` (activity: bar plot, heat map or body-bends
// histogram) and `Picreal` (the signal of one channel). For now each draws its frame, axes and
// caption; the drawing of live data attaches here.
#pragma once

#include <QComboBox>
#include <QFrame>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QString>
#include <cstddef>
#include <vector>

#include "app/auto_action_frame.h"
#include "core/app_state.h"

namespace lumivo::app {

class PlotBox : public QFrame {
    Q_OBJECT
  public:
    PlotBox(const char* name, QString caption, QWidget* parent = nullptr);

    // Clears the plot and sets its scale (0..x_max across, 0..y_max up).
    void ClearAndScale(double x_max, double y_max);
    void SetCaption(const QString& caption);
    QString caption() const { return caption_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString caption_;
    double x_max_ = 100.0;
    double y_max_ = 100.0;
};

// The live displays of the main window, left of its panels: the plot buttons, the activity plot
// `Picact` with the time bar `picturetime` under it, the channel choice (`Combofila`,
// `Combocol`, `combogrup`, `txtsub`) and the channel-signal plot `Picreal` beside the group
// list `lstgrup`.
class LiveView : public QWidget {
    Q_OBJECT
  public:
    explicit LiveView(QWidget* parent = nullptr);

    // Sized from the project: the live-data buffers, the group lists (with paging beyond 12
    // groups) and the scales of both plots.
    void PrepareFor(const AppState& app);
    // The activity plot cleared and scaled for the groups in use.
    void PrepareActivity(const ProjectState& project);
    void SetActivityCaption(const QString& caption);
    // The signal plot cleared (0..rt_buffer + 20 by 0..2100) and the time bar emptied.
    void ClearSignal(std::size_t rt_buffer);
    void RedrawSignal();
    // The time bar: percent of the lapse (0..100), repainted only when it changed.
    void ShowElapsedBar(double percent);
    // The activity plot and the time bar, lent to the device test while it runs.
    PlotBox& activity_plot() { return *Picact; }
    ProgressBox& time_bar() { return *picturetime; }

  private:
    QPushButton* Cmd_barplot;
    QPushButton* Cmd_gridplot;
    QPushButton* Cmd_histoplot;
    QPushButton* cmd_pgup;
    QPushButton* cmd_pgdown;
    QPushButton* cmdbeam_plus;
    QPushButton* cmdbeam_minus;
    QPushButton* Cmdzoom_plus;
    QPushButton* Cmdzoom_minus;
    QComboBox* Combofila;
    QComboBox* Combocol;
    QComboBox* combogrup;
    QLineEdit* txtsub;
    QListWidget* lstgrup;
    PlotBox* Picact;
    PlotBox* Picreal;
    ProgressBox* picturetime;
    // Live-data buffers, sized from RT_Buffer when the window loads or is activated.
    int live_buffer_rows_ = 0;
    std::vector<double> live_values_;
};

}  // namespace lumivo::app
