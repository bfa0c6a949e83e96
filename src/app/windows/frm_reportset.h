// The window `Frm_reportset` ("User Defined Report"): edits the stored report configuration.
// "Apply" saves it as the user's own and checks the main window's `mn_userbin` entry, so the
// report generates itself after every recorded acquisition; "Back to Default" restores the
// defaults and unchecks it. The behaviour lives in core/reporting/report/report_settings.h.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>
#include <array>
#include <functional>

#include "app/panels/report_options_panel.h"
#include "core/reporting/report/report_settings.h"
#include "core/storage/report_config.h"
#include "core/storage/storage_context.h"

namespace lumivo::app {

class Frm_reportset : public QWidget {
    Q_OBJECT
  public:
    Frm_reportset(StorageContext& storage, ReportSettings& settings, QWidget* parent = nullptr);

    void Form_Load();
    void Cmd_generate_Click();   // "Apply"
    void Cmd_cancel_Click();     // "Back to Default"
    void Option_output_Click();  // offers the statistics boxes that change this output

    // The main window's `mn_userbin` check mark, and showing the main window again.
    std::function<void(bool)> SetUserBinChecked;
    std::function<void()> ShowMainWindow;

    reporting::ReportSetState State() const;

    ReportOptionsPanel* report_options;  // Option_output, Option_report, Cmb_binsize, ...
    QCheckBox* Chk_rawexport;
    QCheckBox* Chk_autofile;
    QPushButton* Cmd_generate;
    QPushButton* Cmd_cancel;

  private:
    void Show(const reporting::ReportSetState& w);
    void Leave();

    StorageContext& storage_;
    ReportSettings& settings_;
};

}  // namespace lumivo::app
