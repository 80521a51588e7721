#pragma once
// The thin Qt skin over a window::ControlModel: it declares each control of a built
// dialog in the model, shows every op the model applies on the widget with
// that id, and records the operator's picks in lists and combo boxes.
//
// Radio buttons show the model's check mark: a click first toggles the
// widget, the command then sets the marks in the model, and syncChecks()
// puts every radio back to the model's mark.

#include <QMetaObject>
#include <QWidget>
#include <map>
#include <vector>

#include "window/control_model.h"

namespace ostrel::ui {

class ControlSkin {
public:
    ControlSkin(window::ControlModel& model, std::map<int, QWidget*> widgets);
    ControlSkin(const ControlSkin&) = delete;
    ControlSkin& operator=(const ControlSkin&) = delete;
    ~ControlSkin();

    QWidget* widget(int id) const;
    void syncChecks();

private:
    void show(const window::ControlOp& op);

    window::ControlModel& model_;
    std::map<int, QWidget*> widgets_;
    // Cut in the destructor: widgets may signal while they are torn down.
    std::vector<QMetaObject::Connection> connections_;
};

}  // namespace ostrel::ui
