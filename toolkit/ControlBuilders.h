#pragma once
// The widgets of a dialog's controls, built from template rows: one builder
// per ControlKind makes the widget, styles it from the row's Style:: flags,
// places it and connects what the operator does to the dialog's commands.

#include "DialogTemplate.h"
#include "DialogUnits.h"

#include <QFont>

#include <functional>

class QWidget;

struct ControlContext {
    QWidget* parent = nullptr;  // the dialog: owns the widgets and their connections
    QFont font;                 // the dialog font
    DialogUnits units;
    // Receives (control id, notification code) when the operator clicks,
    // types or picks an entry.
    std::function<void(int id, int notifyCode)> notify;
};

// The widget for one row, child of context.parent, at the row's place.
QWidget* BuildControl(const ControlTemplate& row, const ControlContext& context);
