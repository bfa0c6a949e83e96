// Helpers the windows build their controls with. Every control carries its kept name as its
// object name, so the tests and the user guide's pictures find it by that name.
#pragma once

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QVBoxLayout>
#include <QWidget>
#include <initializer_list>
#include <utility>

namespace lumivo::app {

template <typename W>
W* Named(W* widget, const QString& name) {
    widget->setObjectName(name);
    return widget;
}

// A column of fixed width beside a window's main area (its right-hand side): the column's
// widget, made a child of `parent`, and its vertical layout without margins.
inline std::pair<QWidget*, QVBoxLayout*> FixedColumn(QWidget* parent, int width) {
    auto* column = new QWidget(parent);
    column->setFixedWidth(width);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    return {column, layout};
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

// A caption in cell (row, column) of `grid` and `field` in the cell right of it.
inline void AddLabelled(QGridLayout* grid, int row, int column, const char* caption,
                        QWidget* field) {
    grid->addWidget(new QLabel(caption, grid->parentWidget()), row, column);
    grid->addWidget(field, row, column + 1);
}

// A row of buttons at the right end.
inline QHBoxLayout* ButtonRow(std::initializer_list<QWidget*> buttons) {
    auto* row = new QHBoxLayout;
    row->addStretch();
    for (QWidget* b : buttons) row->addWidget(b);
    return row;
}

// Connects each button's click to its handler, a member of `owner` taking no argument.
template <typename Owner>
void ConnectClicks(Owner* owner,
                   std::initializer_list<std::pair<QAbstractButton*, void (Owner::*)()>> handlers) {
    for (const auto& [button, handler] : handlers)
        QObject::connect(button, &QAbstractButton::clicked, owner, handler);
}

inline void SetAllEnabled(std::initializer_list<QWidget*> widgets, bool enabled) {
    for (QWidget* w : widgets) w->setEnabled(enabled);
}

}  // namespace lumivo::app
