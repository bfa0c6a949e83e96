#include "app/frm_reportset.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "app/qt_dialogs.h"
#include "app/widget_helpers.h"
#include "app/window_placement.h"

namespace lumivo::app {

Frm_reportset::Frm_reportset(StorageContext& storage, ReportSettings& settings, QWidget* parent)
    : QWidget(parent, Qt::Window), storage_(storage), settings_(settings) {
    KeepWindowPlace(this);
    setObjectName("Frm_reportset");
    setWindowTitle("User Defined Report");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Set Report Options:", this));

    auto* options = new QGridLayout;
    auto* format_box = new QGroupBox("Output format:", this);
    auto* format_layout = new QVBoxLayout(format_box);
    auto* format_group = new QButtonGroup(this);
    for (std::size_t i = 0; i < Option_output.size(); ++i) {
        Option_output[i] =
            Named(new QRadioButton(reporting::ReportSetOutputCaptions()[i], format_box),
                  QString("Option_output_%1").arg(i));
        format_group->addButton(Option_output[i]);
        format_layout->addWidget(Option_output[i]);
        connect(Option_output[i], &QRadioButton::toggled, this, [this](bool on) {
            if (on) Option_output_Click();
        });
    }
    options->addWidget(format_box, 0, 0, 2, 1);

    auto* type_box = new QGroupBox(this);
    auto* type_layout = new QVBoxLayout(type_box);
    auto* type_group = new QButtonGroup(this);
    const char* const types[] = {"Excel [.csv]", "Text [.txt]"};
    for (std::size_t i = 0; i < Option_report.size(); ++i) {
        Option_report[i] =
            Named(new QRadioButton(types[i], type_box), QString("Option_report_%1").arg(i));
        type_group->addButton(Option_report[i]);
        type_layout->addWidget(Option_report[i]);
    }
    auto* spacer_row = new QHBoxLayout;
    spacer_row->addWidget(new QLabel("spacer =", type_box));
    txt_customspacer = Named(new QLineEdit(type_box), "txt_customspacer");
    txt_customspacer->setMaximumWidth(40);
    spacer_row->addWidget(txt_customspacer);
    type_layout->addLayout(spacer_row);
    options->addWidget(type_box, 0, 1);

    auto* bin_row = new QHBoxLayout;
    bin_row->addWidget(new QLabel("Bin size (min):", this));
    Cmb_binsize = Named(new QComboBox(this), "Cmb_binsize");
    Cmb_binsize->setEditable(true);
    Cmb_binsize->setCompleter(nullptr);  // a number box: "1" must not become "15"
    bin_row->addWidget(Cmb_binsize);
    options->addLayout(bin_row, 1, 1);

    auto* stats_box = new QGroupBox("Group Statistics:", this);
    auto* stats_layout = new QVBoxLayout(stats_box);
    for (std::size_t i = 0; i < Chk_statistic.size(); ++i) {
        Chk_statistic[i] = Named(new QCheckBox(reporting::StatisticCaptions()[i], stats_box),
                                 QString("Chk_statistic_%1").arg(i));
        stats_layout->addWidget(Chk_statistic[i]);
    }
    options->addWidget(stats_box, 0, 2, 2, 1);
    layout->addLayout(options);

    Chk_rawexport = Named(new QCheckBox("Export Raw", this), "Chk_rawexport");
    Chk_autofile = Named(new QCheckBox("Auto-Generate after measurement", this), "Chk_autofile");
    layout->addWidget(Chk_rawexport);
    layout->addWidget(Chk_autofile);

    auto* buttons = new QHBoxLayout;
    Cmd_generate = Named(new QPushButton("Apply", this), "Cmd_generate");
    Cmd_cancel = Named(new QPushButton("Back to Default", this), "Cmd_cancel");
    buttons->addStretch();
    buttons->addWidget(Cmd_generate);
    buttons->addWidget(Cmd_cancel);
    layout->addLayout(buttons);

    connect(Cmd_generate, &QPushButton::clicked, this, &Frm_reportset::Cmd_generate_Click);
    connect(Cmd_cancel, &QPushButton::clicked, this, &Frm_reportset::Cmd_cancel_Click);
}

void Frm_reportset::Form_Load() {
    reporting::ReportSetState w;
    reporting::LoadReportSetWindow(storage_, settings_, w);
    Show(w);
}

void Frm_reportset::Show(const reporting::ReportSetState& w) {
    Cmb_binsize->clear();
    for (const auto& item : w.bin_items) Cmb_binsize->addItem(ToQ(item));
    Cmb_binsize->setCurrentIndex(Cmb_binsize->count() - 1);
    Cmb_binsize->setCurrentText(ToQ(w.bin_text));
    Option_report[static_cast<std::size_t>(w.filetype == 1 ? 1 : 0)]->setChecked(true);
    txt_customspacer->setText(ToQ(w.spacer));
    Option_output[static_cast<std::size_t>(std::clamp(w.output, 0, 3))]->setChecked(true);
    for (std::size_t i = 0; i < Chk_statistic.size(); ++i)
        Chk_statistic[i]->setChecked(w.statistic[i]);
    Chk_rawexport->setChecked(w.raw_export);
}

reporting::ReportSetState Frm_reportset::State() const {
    reporting::ReportSetState w;
    w.bin_text = FromQ(Cmb_binsize->currentText());
    w.filetype = Option_report[1]->isChecked() ? 1 : 0;
    w.spacer = FromQ(txt_customspacer->text());
    for (std::size_t i = 0; i < Option_output.size(); ++i)
        if (Option_output[i]->isChecked()) w.output = static_cast<int>(i);
    for (std::size_t i = 0; i < Chk_statistic.size(); ++i)
        w.statistic[i] = Chk_statistic[i]->isChecked();
    w.raw_export = Chk_rawexport->isChecked();
    w.autofile = Chk_autofile->isChecked();
    return w;
}

void Frm_reportset::Option_output_Click() {
    OfferStatisticBoxes(Option_output, Chk_statistic);
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
