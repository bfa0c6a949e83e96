// Helpers the windows build their controls with. Every control carries its kept name as its
// object name, so the tests and the user guide's pictures find it by that name.
#pragma once

#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QWidget>

namespace lumivo::app {

template <typename W>
W* Named(W* widget, const QString& name) {
    widget->setObjectName(name);
    return widget;
}

// A right-aligned box for a number, at most `width` pixels wide.
inline QLineEdit* NumberBox(QWidget* parent, const char* name, int width) {
    auto* box = Named(new QLineEdit(parent), name);
    box->setMaximumWidth(width);
    box->setAlignment(Qt::AlignRight);
    return box;
}

// A box that shows a value the user does not edit (at most `width` pixels wide when given).
inline QLineEdit* ReadOnlyBox(QWidget* parent, const char* name, int width = 0) {
    auto* box = Named(new QLineEdit(parent), name);
    box->setReadOnly(true);
    if (width > 0) box->setMaximumWidth(width);
    return box;
}

inline QPushButton* Button(QWidget* parent, const char* name, const char* caption,
                           bool enabled = true) {
    auto* b = Named(new QPushButton(caption, parent), name);
    b->setEnabled(enabled);
    return b;
}

}  // namespace lumivo::app
