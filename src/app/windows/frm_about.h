// The About box: the program's name and its version label.
#pragma once

#include <QDialog>
#include <QLabel>

namespace lumivo::app {

class Frm_About : public QDialog {
    Q_OBJECT
  public:
    explicit Frm_About(QWidget* parent = nullptr);
    QLabel* Label_version() const { return Label_version_; }

  private:
    QLabel* Label_version_;
};

}  // namespace lumivo::app
