// The main window's device test (Tools > "Device test", `mnstatustest_Click`): the timer
// `Timer_test` that drives the core's self-test step machine (core/control/self_test.h) one
// step per tick, and what the test shows while it runs. It borrows the activity plot `Picact`
// for a 16 x 24 grid of the channels' readings with the door hint `lbl_autostart` above it,
// draws its progress in `picturetime`, puts its captions and verdicts in the main window's
// `lbl_temperature`, and hands the report to the desktop's viewer at its end.
//
// The test uses the port: while it runs the main window's commands that would use it wait.
#pragma once

#include <QLabel>
#include <QObject>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <span>

#include "app/main_window/acquisition_host.h"
#include "app/panels/live_plots.h"
#include "core/control/self_test.h"

namespace lumivo::app {

// The readings of channels 0..383 as the 16 x 24 grid (rows A..P, columns 1..24), laid over the
// activity plot while the test runs.
class SelfTestGrid : public QWidget {
    Q_OBJECT
  public:
    explicit SelfTestGrid(QWidget* plot);

    void ShowReadings(std::span<const std::uint16_t> readings);
    void ShowDoorHint(bool shown, const QString& text);
    void SetCaption(const QString& caption);

  protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::array<std::uint16_t, kChannelCount> readings_{};
    QString caption_;
    QLabel* lbl_autostart;
};

class DeviceTest : public QObject, private SelfTestView {
    Q_OBJECT
  public:
    // `acquisition_stopped` says whether no acquisition runs or is paused.
    // The test's progress goes to `log` and its temperature to `temperature`; its report is
    // opened through `opener`.
    DeviceTest(QObject* parent, AppContext& ctx, LogPanel& log, CommandLock& lock,
               TemperatureDisplay& temperature, ParentWindow& opener, LiveView& live,
               std::function<bool()> acquisition_stopped);

    // mnstatustest_Click: asks, and on OK starts the test; while it runs, stops it.
    void mnstatustest_Click();
    // Timer_test_Timer: one step; never re-entered (a question it asks lets events run).
    void Timer_test_Timer();
    // Ends a running test (the main window closes): the beams get their settings back.
    void Stop();

    bool Running() const { return state_.end == SelfTestEnd::Running; }
    const SelfTestState& state() const { return state_; }

  signals:
    // The test started or ended (the menu entry follows).
    void runningChanged(bool running);

  private:
    SelfTestContext Context();
    void Ended();

    // SelfTestView.
    void ShowCaption(const std::string& text) override;
    void ShowDoorHint(bool shown, const std::string& text) override;
    void DrawReadings(std::span<const std::uint16_t> readings) override;
    void DrawProgress(double percent) override;
    void RestorePlot() override;
    void SetTestTimer(bool enabled) override;
    void OpenReport(const std::filesystem::path& file) override;
    void ShowStatusLine(const std::string& text) override;

    AppContext& ctx_;
    LogPanel& log_;
    CommandLock& lock_;
    TemperatureDisplay& temperature_;
    ParentWindow& opener_;
    LiveView& live_;
    std::function<bool()> acquisition_stopped_;
    QTimer* Timer_test;
    SelfTestGrid* grid_;
    SelfTestState state_;
    bool offline_ = false;
    bool ticking_ = false;
    bool stop_requested_ = false;
    bool locked_ = false;
};

}  // namespace lumivo::app
