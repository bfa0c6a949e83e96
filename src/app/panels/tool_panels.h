// The tool panels of the main window, each a widget of its own that owns its controls: the
// calibration panel `frm_mn1`, the light panel `Frame_light` and the temperature panel
// `Frame_temp`. Each shows the plain state the control module keeps (CalibrationControls,
// ClimateState) and tells its owner through signals what the user did; its buttons stay
// disabled until it is made interactive. Tests find the controls by their object names.
#pragma once

#include <QCheckBox>
#include <QColor>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <utility>
#include <vector>

#include "core/control/control_settings.h"
#include "core/control/light_temperature.h"

namespace lumivo::app {

// A round indicator lamp (`shape_light`, `shape_temp`).
class Lamp : public QWidget {
    Q_OBJECT
  public:
    explicit Lamp(QWidget* parent = nullptr);
    void SetColour(const QColor& colour);
    QColor colour() const { return colour_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QColor colour_{Qt::white};
};

// The two runs the calibration panel starts with a button of its own.
enum class PanelRun { FastCalibration, FastZero };

class CalibrationPanel : public QGroupBox {
    Q_OBJECT
  public:
    explicit CalibrationPanel(QWidget* parent = nullptr);
    void Show(const CalibrationControls& c);
    // Enables the buttons once their handlers are attached.
    void SetInteractive(bool interactive);

    bool AutoCalibrationChecked() const { return mnCalibra->isChecked(); }
    bool AutoZeroChecked() const { return mnZero->isChecked(); }
    // `txt_snr_umbral`: its text, put back without a new editingFinished, and its lock.
    QString SnrText() const { return txt_snr_umbral->text(); }
    void SetSnrText(const QString& text);
    void SetSnrBoxEnabled(bool enabled) { txt_snr_umbral->setEnabled(enabled); }

    // While `run` works: the panel's other commands wait (all of them within an acquisition)
    // and a stand-alone run's button reads `stop_caption`. Returns the button's caption.
    QString BeginRun(PanelRun run, bool standalone, const QString& stop_caption);
    // The button's caption and the commands' states back as they were before BeginRun.
    void EndRun(PanelRun run, const QString& caption);
    // The caption of the run's button.
    QString RunCaption(PanelRun run) const { return RunButton(run)->text(); }

  signals:
    void autoCalibrationClicked();  // mnCalibra
    void autoZeroClicked();         // mnZero
    void fastCalibrationClicked();  // cmd_calibra
    void fastZeroClicked();         // Cmd_autozero
    void readBlankClicked();        // Cmd_readblank
    void thresholdLabelClicked();   // lbl_umbral
    void thresholdEdited();         // txt_snr_umbral left

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QPushButton* RunButton(PanelRun run) const {
        return run == PanelRun::FastCalibration ? cmd_calibra : Cmd_autozero;
    }

    QCheckBox* mnCalibra;
    QCheckBox* mnZero;
    QPushButton* cmd_calibra;
    QPushButton* Cmd_autozero;
    QPushButton* Cmd_readblank;
    QLabel* lbl_umbral;
    QLineEdit* txt_snr_umbral;
    bool interactive_ = false;
    // The commands BeginRun() disabled, with their state before.
    std::vector<std::pair<QWidget*, bool>> held_;
};

class LightPanel : public QGroupBox {
    Q_OBJECT
  public:
    explicit LightPanel(QWidget* parent = nullptr);
    void Show(const ClimateState& climate);
    void SetInteractive(bool interactive);

    bool LightCycleChecked() const { return Chk_lenabled->isChecked(); }
    // The box of one of the light settings (LightOnHour .. PulseCount), put back without a new
    // editingFinished.
    QString BoxText(ClimateField field) const;
    void SetBoxText(ClimateField field, const QString& text);
    // `txt_lon` and `txt_loff`, usable while no pulse program counts.
    void SetHoursEnabled(bool enabled);
    // `cmd_luz` back to "OFF".
    void ResetCaption() { cmd_luz->setText("OFF"); }

    // "Cycle/Pulse": the pulse settings shown or hidden.
    void cmd_cyclepulse_Click();

  signals:
    void lightClicked();                 // cmd_luz
    void lightCycleClicked();            // Chk_lenabled
    void boxEdited(ClimateField field);  // txt_lon, txt_loff, txt_pulseon, ... left

  private:
    QLineEdit* Box(ClimateField field) const;

    QPushButton* cmd_luz;
    Lamp* shape_light;
    QCheckBox* Chk_lenabled;
    QLineEdit* txt_lon;
    QLineEdit* txt_loff;
    QPushButton* cmd_cyclepulse;
    QFrame* frm_pulse;
    QLineEdit* txt_pulseon;
    QLineEdit* txt_pulseoff;
    QLineEdit* txt_pulsetimes;
};

class TemperaturePanel : public QGroupBox {
    Q_OBJECT
  public:
    explicit TemperaturePanel(QWidget* parent = nullptr);
    void Show(const ClimateState& climate);
    void SetInteractive(bool interactive);

    bool ControlChecked() const { return Chk_tenabled->isChecked(); }
    // `txttemp`, put back without a new editingFinished.
    QString SetPointText() const { return txttemp->text(); }
    void SetSetPointText(const QString& text);
    // `cmd_frio` back to "COOL" and `cmd_ontemp` to "OFF".
    void ResetCaptions();

  signals:
    void heaterClicked();    // cmd_ontemp
    void modeClicked();      // cmd_frio
    void controlClicked();   // Chk_tenabled
    void setPointClicked();  // Cmd_settemp
    void setPointEdited();   // txttemp left

  private:
    QPushButton* cmd_ontemp;
    QPushButton* cmd_frio;
    Lamp* shape_temp;
    QCheckBox* Chk_tenabled;
    QLineEdit* txttemp;
    QPushButton* Cmd_settemp;
};

QColor ToQColor(const Rgb& rgb);

}  // namespace lumivo::app
