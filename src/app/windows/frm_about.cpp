#include "app/windows/frm_about.h"

#include <QDialogButtonBox>
#include <QVBoxLayout>

#include "core/startup/startup.h"

namespace lumivo::app {

Frm_About::Frm_About(QWidget* parent) : QDialog(parent) {
    setObjectName("Frm_About");
    setWindowTitle("About Lumivo");
    auto* layout = new QVBoxLayout(this);
    auto* name = new QLabel("LUMIVO", this);
    QFont f = name->font();
    f.setPointSize(20);
    f.setBold(true);
    name->setFont(f);
    name->setAlignment(Qt::AlignCenter);
    layout->addWidget(name);
    auto* what = new QLabel("Activity monitor for small organisms in microplates", this);
    what->setAlignment(Qt::AlignCenter);
    layout->addWidget(what);
    Label_version_ = new QLabel(this);
    Label_version_->setObjectName("Label_version");
    Label_version_->setAlignment(Qt::AlignCenter);
    // The version label is set when the box loads.
    Label_version_->setText(kVersionText);
    layout->addWidget(Label_version_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

}  // namespace lumivo::app
