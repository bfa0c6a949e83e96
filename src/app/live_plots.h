// The live plots of the main window: `Picact` (activity: bar plot, heat map or body-bends
// histogram) and `Picreal` (the signal of one channel). For now each draws its frame, axes and
// caption; the drawing of live data attaches here.
#pragma once

#include <QFrame>
#include <QString>

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

}  // namespace lumivo::app
