// The report options both report windows offer, as one widget: the output format
// `Option_output` (one button per caption), the file type `Option_report` with its field
// separator `txt_customspacer`, the bin size `Cmb_binsize` and the group statistics
// `Chk_statistic`. The statistics boxes that add nothing to a report of the chosen output are
// greyed.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QWidget>
#include <array>
#include <string>
#include <vector>

#include "core/reporting/report/report_settings.h"

namespace lumivo::app {

class ReportOptionsPanel : public QWidget {
    Q_OBJECT
  public:
    ReportOptionsPanel(const std::vector<const char*>& output_captions, QWidget* parent);

    // The options into the controls, and back (the other fields of `w` are left alone).
    void Show(const reporting::ReportOptionsState& w);
    void Take(reporting::ReportOptionsState& w) const;

    // Output format `index` offered or hidden (frm_report's histogram).
    void SetOutputOffered(int index, bool offered);
    bool OutputOffered(int index) const;
    void SetSpacer(const std::string& text);
    void SetBinText(const std::string& text);

    // Enables the statistics boxes that add a table to a report of the checked output, greys
    // the others.
    void OfferStatisticBoxes();

  signals:
    // File type `index` was clicked.
    void fileTypeClicked(int index);

  private:
    std::vector<QRadioButton*> Option_output;
    std::array<QRadioButton*, 2> Option_report{};
    QLineEdit* txt_customspacer;
    QComboBox* Cmb_binsize;
    std::array<QCheckBox*, 5> Chk_statistic{};
};

}  // namespace lumivo::app
