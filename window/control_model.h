#pragma once
// The controls of a window by id, without any toolkit. Every change that a
// command makes (enable, disable, check, caption, entries, selection) is a
// ControlOp; a window applies a command's ops in order and its skin mirrors
// each applied op onto the widget with that id. The model keeps what the
// commands read back: check marks, list or combo entries and selections.
//
// Threading: used on the UI thread only.

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace ostrel::window {

struct ControlState {
    bool checked = false;
    std::vector<std::string> items;
    int selection = -1;  // -1: no selection
};

struct ControlOp {
    enum class Kind { Enable, Disable, Check, Uncheck, SetCaption, AddItem, Select };
    Kind kind = Kind::Enable;
    int id = 0;
    std::string text;  // SetCaption, AddItem
    int index = -1;    // Select

    bool operator==(const ControlOp&) const = default;

    static ControlOp enable(int id) { return {Kind::Enable, id, {}, -1}; }
    static ControlOp disable(int id) { return {Kind::Disable, id, {}, -1}; }
    static ControlOp check(int id) { return {Kind::Check, id, {}, -1}; }
    static ControlOp uncheck(int id) { return {Kind::Uncheck, id, {}, -1}; }
    static ControlOp caption(int id, std::string text) { return {Kind::SetCaption, id, std::move(text), -1}; }
    static ControlOp addItem(int id, std::string text) { return {Kind::AddItem, id, std::move(text), -1}; }
    static ControlOp select(int id, int index) { return {Kind::Select, id, {}, index}; }
};

using ControlOps = std::vector<ControlOp>;

// "disable 204" and the like, for test messages.
std::string Describe(const ControlOp& op);

class ControlModel {
public:
    using Observer = std::function<void(const ControlOp&)>;

    // Makes `id` known: unchecked, no entries, no selection.
    void declare(int id);
    bool has(int id) const { return controls_.count(id) != 0; }
    // The state of a declared control; a default state for any other id.
    const ControlState& state(int id) const;
    bool checked(int id) const { return state(id).checked; }
    int selection(int id) const { return state(id).selection; }

    // Applies ops in order. An op on an id that no control carries does
    // nothing (the commands may name such ids). A selection outside the
    // entries clears the selection.
    void apply(const ControlOp& op);
    void apply(const ControlOps& ops);

    // The operator picked entry `index` in a list or combo box. Recorded
    // without telling the observer (the widget already shows it).
    void selectFromOperator(int id, int index);

    // Called after each applied op on a declared control.
    void setObserver(Observer observer) { observer_ = std::move(observer); }

private:
    std::map<int, ControlState> controls_;
    Observer observer_;
};

}  // namespace ostrel::window
