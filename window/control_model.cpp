#include "window/control_model.h"

namespace ostrel::window {

namespace {

// `index` when it names one of the control's entries, else -1 (no selection).
int validSelection(const ControlState& control, int index) {
    return index >= 0 && index < static_cast<int>(control.items.size()) ? index : -1;
}

}  // namespace

std::string Describe(const ControlOp& op) {
    const std::string id = std::to_string(op.id);
    switch (op.kind) {
        case ControlOp::Kind::Enable:
            return "enable " + id;
        case ControlOp::Kind::Disable:
            return "disable " + id;
        case ControlOp::Kind::Check:
            return "check " + id;
        case ControlOp::Kind::Uncheck:
            return "uncheck " + id;
        case ControlOp::Kind::SetCaption:
            return "caption " + id + " \"" + op.text + "\"";
        case ControlOp::Kind::AddItem:
            return "add to " + id + " \"" + op.text + "\"";
        case ControlOp::Kind::Select:
            return "select " + id + " #" + std::to_string(op.index);
    }
    return "?";
}

void ControlModel::declare(int id) {
    controls_[id] = ControlState{};
}

const ControlState& ControlModel::state(int id) const {
    static const ControlState none;
    const auto it = controls_.find(id);
    return it == controls_.end() ? none : it->second;
}

void ControlModel::apply(const ControlOp& op) {
    const auto it = controls_.find(op.id);
    if (it == controls_.end()) return;
    ControlState& s = it->second;
    switch (op.kind) {
        case ControlOp::Kind::Enable:
        case ControlOp::Kind::Disable:
        case ControlOp::Kind::SetCaption:
            break;  // the widget alone shows these
        case ControlOp::Kind::Check:
            s.checked = true;
            break;
        case ControlOp::Kind::Uncheck:
            s.checked = false;
            break;
        case ControlOp::Kind::AddItem:
            s.items.push_back(op.text);
            break;
        case ControlOp::Kind::Select:
            s.selection = validSelection(s, op.index);
            break;
    }
    if (observer_) observer_(op);
}

void ControlModel::apply(const ControlOps& ops) {
    for (const ControlOp& op : ops) apply(op);
}

void ControlModel::selectFromOperator(int id, int index) {
    const auto it = controls_.find(id);
    if (it == controls_.end()) return;
    it->second.selection = validSelection(it->second, index);
}

}  // namespace ostrel::window
