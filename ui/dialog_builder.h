#pragma once
// Builds a window's controls from its dialog template: one widget per
// control, placed by converting dialog units with the dialog font's metrics.
// When a caption would not fit at those units, both units grow by the same
// factor, so the layout keeps the template's proportions and no caption is cut.
//
// The widgets are children of the window (Qt's parent ownership).

#include <QWidget>
#include <functional>
#include <map>
#include <vector>

#include "ui/dialog_template.h"
#include "ui/dialog_units.h"

namespace ostrel::ui {

struct BuiltDialog {
    std::map<int, QWidget*> byId;   // the controls that have an id
    std::vector<QWidget*> widgets;  // every control, in template order
    DialogUnits units;              // the units the layout used
};

// Makes the widget of a control itself, or returns null for the default one.
using WidgetMaker = std::function<QWidget*(const ControlTemplate&, QWidget* parent)>;

// The default widget for each kind: push buttons, QPlainTextEdit, QLabel,
// QGroupBox, QListWidget, QComboBox, QRadioButton (its mark set only by the
// program: not auto-exclusive), a push button showing its picture, and a
// label showing its picture.
QWidget* MakeDefaultWidget(const ControlTemplate& control, QWidget* parent);

// Creates the controls, sets the title and the fixed size of `window` and
// its title-bar flags (a close box only; always on top with WS_EX_TOPMOST).
BuiltDialog BuildDialog(QWidget& window, const DialogTemplate& dialog, const WidgetMaker& maker = {});

// Calls onClick(id) each time a button of `built` that has an id is clicked;
// the connections end with `receiver`.
void ConnectButtonClicks(const BuiltDialog& built, QObject& receiver,
                         const std::function<void(int)>& onClick);

// The factor by which the font's units must grow so that every caption of
// `dialog` fits its control (1 when all fit).
double CaptionFitFactor(const DialogTemplate& dialog, const BuiltDialog& built, const DialogUnits& units);

// DS_CENTER: the window in the middle of its screen's available area.
void CenterOnScreen(QWidget& window);

}  // namespace ostrel::ui
