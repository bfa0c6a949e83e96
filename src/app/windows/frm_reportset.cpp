#include "app/windows/frm_reportset.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "app/support/qt_dialogs.h"
#include "app/support/widget_helpers.h"
#include "app/support/window_placement.h"

namespace lumivo::app {

Frm_reportset::Frm_reportset(StorageContext& storage, ReportSettings& settings, QWidget* parent)
    : QWidget(parent, Qt::Window), storage_(storage), settings_(settings) {
    KeepWindowPlace(this);
    setObjectName("Frm_reportset");
    setWindowTitle("User Defined Report");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Set Report Options:", this));

    report_options = new ReportOptionsPanel(
        std::vector<const char*>(reporting::ReportSetOutputCaptions().begin(),
                                 reporting::ReportSetOutputCaptions().end()),
        this);
    layout->addWidget(report_options);

    Chk_rawexport = Named(new QCheckBox("Export Raw", this), "Chk_rawexport");
    Chk_autofile = Named(new QCheckBox("Auto-Generate after measurement", this), "Chk_autofile");
    layout->addWidget(Chk_rawexport);
    layout->addWidget(Chk_autofile);

    Cmd_generate = Named(new QPushButton("Apply", this), "Cmd_generate");
    Cmd_cancel = Named(new QPushButton("Back to Default", this), "Cmd_cancel");
    layout->addLayout(ButtonRow({Cmd_generate, Cmd_cancel}));

    connect(Cmd_generate, &QPushButton::clicked, this, &Frm_reportset::Cmd_generate_Click);
    connect(Cmd_cancel, &QPushButton::clicked, this, &Frm_reportset::Cmd_cancel_Click);
}

void Frm_reportset::Form_Load() {
    reporting::ReportSetState w;
    reporting::LoadReportSetWindow(storage_, settings_, w);
    Show(w);
}

void Frm_reportset::Show(const reporting::ReportSetState& w) {
    report_options->Show(w);
    Chk_rawexport->setChecked(w.raw_export);
}

reporting::ReportSetState Frm_reportset::State() const {
    reporting::ReportSetState w;
    report_options->Take(w);
    w.raw_export = Chk_rawexport->isChecked();
    w.autofile = Chk_autofile->isChecked();
    return w;
}

void Frm_reportset::Option_output_Click() {
    report_options->OfferStatisticBoxes();
}

void Frm_reportset::Cmd_generate_Click() {
    bool checked = false;
    if (!reporting::ApplyUserReport(storage_, settings_, State(), checked)) return;
    if (SetUserBinChecked) SetUserBinChecked(checked);
    Leave();
}

void Frm_reportset::Cmd_cancel_Click() {
    bool checked = true;
    reporting::BackToDefaultReport(storage_, settings_, checked);
    if (SetUserBinChecked) SetUserBinChecked(checked);
    Leave();
}

void Frm_reportset::Leave() {
    hide();
    if (ShowMainWindow) ShowMainWindow();
}

}  // namespace lumivo::app
