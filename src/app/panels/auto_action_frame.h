// The automatic-action strip of the main window: the frame `frm_autotext` with its title line
// `lbl_autotext`, the progress box `picturecal` (a filled bar from the left edge to the current
// x on a scale set by its user), the status line `lbl_autochannel` and the "calibrating" label
// `lblcalibrando`. The connection, the calibration panel and the acquisition show their
// progress here.
#pragma once

#include <QColor>
#include <QFrame>
#include <QLabel>
#include <QWidget>
#include <string>

namespace lumivo::app {

class ProgressBox : public QWidget {
    Q_OBJECT
  public:
    explicit ProgressBox(QWidget* parent = nullptr);

    void SetScale(double x_max, double y_max);
    void SetBackground(const QColor& colour);
    void Clear();
    void DrawBarTo(double x);

    double x_max() const { return x_max_; }
    double bar() const { return bar_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    double x_max_ = 383.0;
    double y_max_ = 10.0;
    double bar_ = 0.0;
    QColor background_{255, 255, 192};
};

class AutoActionFrame : public QFrame {
    Q_OBJECT
  public:
    explicit AutoActionFrame(QWidget* parent = nullptr);

    QLabel* lbl_autotext() const { return lbl_autotext_; }

  private:
    QLabel* lbl_autotext_;
};

class AutoActionStrip : public QWidget {
    Q_OBJECT
  public:
    explicit AutoActionStrip(QWidget* parent = nullptr);

    void SetTitle(const std::string& text);
    void SetStatus(const std::string& text);
    void ShowFrame(bool shown);     // frm_autotext
    void ShowProgress(bool shown);  // picturecal
    ProgressBox& progress() { return *picturecal; }
    void ShowCalibrating(bool shown);  // lblcalibrando
    void SetCalibratingText(const std::string& text);

  private:
    AutoActionFrame* frm_autotext;
    ProgressBox* picturecal;
    QLabel* lbl_autochannel;
    QLabel* lblcalibrando;
};

}  // namespace lumivo::app
