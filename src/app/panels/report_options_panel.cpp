#include "app/panels/report_options_panel.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <algorithm>

#include "app/support/qt_dialogs.h"
#include "app/support/widget_helpers.h"

namespace lumivo::app {

ReportOptionsPanel::ReportOptionsPanel(const std::vector<const char*>& output_captions,
                                       QWidget* parent)
    : QWidget(parent) {
    setObjectName("report_options");
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);

    auto* output_box = new QGroupBox("Output format:", this);
    auto* output_layout = new QVBoxLayout(output_box);
    auto* output_group = new QButtonGroup(this);
    for (std::size_t i = 0; i < output_captions.size(); ++i) {
        auto* option = Named(new QRadioButton(output_captions[i], output_box),
                             QString("Option_output_%1").arg(i));
        Option_output.push_back(option);
        output_group->addButton(option);
        output_layout->addWidget(option);
        connect(option, &QRadioButton::toggled, this, [this](bool on) {
            if (on) OfferStatisticBoxes();
        });
    }
    grid->addWidget(output_box, 0, 0, 2, 1);

    auto* type_box = new QGroupBox(this);
    auto* type_layout = new QVBoxLayout(type_box);
    auto* type_group = new QButtonGroup(this);
    const char* const types[] = {"Excel [.csv]", "Text [.txt]"};
    for (std::size_t i = 0; i < Option_report.size(); ++i) {
        Option_report[i] =
            Named(new QRadioButton(types[i], type_box), QString("Option_report_%1").arg(i));
        type_group->addButton(Option_report[i]);
        type_layout->addWidget(Option_report[i]);
        connect(Option_report[i], &QRadioButton::clicked, this,
                [this, i] { emit fileTypeClicked(static_cast<int>(i)); });
    }
    auto* spacer_row = new QHBoxLayout;
    spacer_row->addWidget(new QLabel("spacer =", type_box));
    txt_customspacer = Named(new QLineEdit(type_box), "txt_customspacer");
    txt_customspacer->setMaximumWidth(40);
    spacer_row->addWidget(txt_customspacer);
    type_layout->addLayout(spacer_row);
    grid->addWidget(type_box, 0, 1);

    auto* bin_row = new QHBoxLayout;
    bin_row->addWidget(new QLabel("Bin size (min):", this));
    Cmb_binsize = Named(new QComboBox(this), "Cmb_binsize");
    Cmb_binsize->setEditable(true);
    Cmb_binsize->setCompleter(nullptr);  // a number box: "1" must not become "15"
    bin_row->addWidget(Cmb_binsize);
    grid->addLayout(bin_row, 1, 1);

    auto* stats_box = new QGroupBox("Group Statistics:", this);
    auto* stats_layout = new QVBoxLayout(stats_box);
    for (std::size_t i = 0; i < Chk_statistic.size(); ++i) {
        Chk_statistic[i] = Named(new QCheckBox(reporting::StatisticCaptions()[i], stats_box),
                                 QString("Chk_statistic_%1").arg(i));
        stats_layout->addWidget(Chk_statistic[i]);
    }
    grid->addWidget(stats_box, 0, 2, 2, 1);
}

void ReportOptionsPanel::Show(const reporting::ReportOptionsState& w) {
    Cmb_binsize->clear();
    for (const auto& item : w.bin_items) Cmb_binsize->addItem(ToQ(item));
    Cmb_binsize->setCurrentText(ToQ(w.bin_text));
    const int last = static_cast<int>(Option_output.size()) - 1;
    Option_output[static_cast<std::size_t>(std::clamp(w.output, 0, last))]->setChecked(true);
    Option_report[static_cast<std::size_t>(w.filetype == 1 ? 1 : 0)]->setChecked(true);
    txt_customspacer->setText(ToQ(w.spacer));
    for (std::size_t i = 0; i < Chk_statistic.size(); ++i)
        Chk_statistic[i]->setChecked(w.statistic[i]);
}

void ReportOptionsPanel::Take(reporting::ReportOptionsState& w) const {
    w.bin_items.clear();
    for (int i = 0; i < Cmb_binsize->count(); ++i)
        w.bin_items.push_back(FromQ(Cmb_binsize->itemText(i)));
    w.bin_text = FromQ(Cmb_binsize->currentText());
    for (std::size_t i = 0; i < Option_output.size(); ++i)
        if (Option_output[i]->isChecked()) w.output = static_cast<int>(i);
    w.filetype = Option_report[1]->isChecked() ? 1 : 0;
    w.spacer = FromQ(txt_customspacer->text());
    for (std::size_t i = 0; i < Chk_statistic.size(); ++i)
        w.statistic[i] = Chk_statistic[i]->isChecked();
}

void ReportOptionsPanel::SetOutputOffered(int index, bool offered) {
    Option_output.at(static_cast<std::size_t>(index))->setVisible(offered);
}

bool ReportOptionsPanel::OutputOffered(int index) const {
    return !Option_output.at(static_cast<std::size_t>(index))->isHidden();
}

void ReportOptionsPanel::SetSpacer(const std::string& text) {
    txt_customspacer->setText(ToQ(text));
}

void ReportOptionsPanel::SetBinText(const std::string& text) {
    Cmb_binsize->setCurrentText(ToQ(text));
}

void ReportOptionsPanel::OfferStatisticBoxes() {
    int output = 0;
    for (std::size_t i = 0; i < Option_output.size(); ++i)
        if (Option_output[i]->isChecked()) output = static_cast<int>(i);
    for (std::size_t i = 0; i < Chk_statistic.size(); ++i)
        Chk_statistic[i]->setEnabled(reporting::StatisticBoxEnabled(output, static_cast<int>(i)));
}

}  // namespace lumivo::app
