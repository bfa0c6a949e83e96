// The factory station `Frm_Bench`: the workbench on which an instrument's beams get their first
// calibration. It shows the live readings of every channel as a picture of the 16 x 24 grid
// (`Picwell`, a click chooses the channel) and the chosen channel's signal over the 600-row
// history with its threshold trace (`Pictrace`), read by the timer `Timerreal` while online.
// Its commands: the channel-by-channel automatic calibration `Cmdcalibrar` into the window
// around `Txtajuste`, the read-back of every register into calvalue.dat (`cmd_savecal`), one
// setting for every channel (`cmd_setcalibra`, `Cmd_setall`), the chosen channel's setting and
// zero level (`scrollpower`, `scrollgain`, `Scroll_threshold`), enabling or disabling it
// (double click on `lblstatus`), the gain curve test `cmdTEST` and the exit `Command2`.
//
// The work is the core's (core/control/factory_station.h); the window shows through BenchView
// and asks through the program's Dialogs.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "app/panels/auto_action_frame.h"
#include "app/support/app_context.h"
#include "core/control/factory_station.h"
#include "core/storage/calibration_file.h"

namespace lumivo::app {

// The caption of `cmdTEST`, the gain curve test (in the earlier software, in Spanish).
inline constexpr const char* kGainCurveTestCaption = "Gain curve test";

// Picwell: the channels' latest readings on the 16 x 24 grid (rows A..P, columns 1..24); the
// chosen channel is framed. A click chooses a channel.
class BenchPlate : public QWidget {
    Q_OBJECT
  public:
    explicit BenchPlate(QWidget* parent = nullptr);
    void Show(const BenchReadings& readings, int channel);

  signals:
    void channelChosen(int channel);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    QRectF Area() const;
    const BenchReadings* readings_ = nullptr;
    int channel_ = 0;
};

// Pictrace: one channel's readings over the history (oldest left) and its threshold trace.
class BenchTrace : public QWidget {
    Q_OBJECT
  public:
    explicit BenchTrace(QWidget* parent = nullptr);
    void Show(const BenchReadings& readings, int channel);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    const BenchReadings* readings_ = nullptr;
    int channel_ = 0;
};

class Frm_Bench : public QWidget, private BenchView {
    Q_OBJECT
  public:
    explicit Frm_Bench(AppContext& ctx, QWidget* parent = nullptr);

    // The target from the program's calibration window, the modes, calvalue.dat's settings for
    // the channel boxes; the online view starts.
    void Form_Load();

    // Handlers.
    void Cmd_online_Click();
    void Cmd_offline_Click();
    void Timerreal_Timer();
    void Cmdcalibrar_Click();
    void cmd_savecal_Click();
    void cmd_setcalibra_Click();
    void Cmd_setall_Click();
    void cmdTEST_Click();
    void lblstatus_DblClick();
    void scrollpower_Change(int value);
    void scrollgain_Change(int value);
    void Scroll_threshold_Change(int value);
    void Command2_Click();
    // A channel chosen on the plate picture (lblcanal).
    void SelectChannel(int channel);

    const FactoryStationState& station() const { return state_; }
    const StationCalibrationResult& last_calibration() const { return last_calibration_; }
    const GainCurveResult& last_curve() const { return last_curve_; }

    // Runs when the window closes (the main window comes back).
    std::function<void()> Unloaded;
    // Ends the program (Command2, after multitsk.dat is released).
    std::function<void()> ExitProgram;

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    BenchContext Context();
    bool Offline() const;
    // The commands wait while a long operation runs; `running` keeps its own button usable.
    void SetBusy(bool busy, QPushButton* running = nullptr);
    void ShowChannel();

    // BenchView.
    void ShowReadings(const BenchReadings& readings) override;
    void ShowCalibrating(bool shown, const std::string& text) override;
    void DrawProgress(int channel) override;
    void ShowReply(int reply) override;
    void ShowCurveStep(const std::string& text) override;
    void SetOnline(bool online) override;

    AppContext& ctx_;
    FactoryStationState state_;
    CalibrationValues cal_;
    StationCalibrationResult last_calibration_;
    GainCurveResult last_curve_;
    int channel_ = 0;
    bool busy_ = false;
    bool cancel_ = false;
    bool reading_ = false;

    BenchPlate* Picwell;
    BenchTrace* Pictrace;
    QPushButton* Cmd_online;
    QPushButton* Cmd_offline;
    QLabel* lblcanal;
    QLabel* lblstatus;
    QScrollBar* scrollpower;
    QScrollBar* scrollgain;
    QScrollBar* Scroll_threshold;
    QLineEdit* txtpower;
    QLineEdit* txtgain;
    QLineEdit* txt_threshold;
    QLineEdit* Txtajuste;
    QComboBox* Combomode;
    QPushButton* Cmdcalibrar;
    QPushButton* cmd_savecal;
    QLabel* lblcalibrando;
    ProgressBox* picturecal;
    QLineEdit* txt_power;
    QLineEdit* txt_ganancia;
    QPushButton* cmd_setcalibra;
    QPushButton* Cmd_setall;
    QLabel* lblout;
    QPushButton* cmdTEST;
    QLineEdit* txt_test;
    QPushButton* Command2;
    QPushButton* cmdclose;  // back to the main window
    QLabel* lbl_result;     // how the last command ended
    QTimer* Timerreal;
};

}  // namespace lumivo::app
