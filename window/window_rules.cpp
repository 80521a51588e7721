#include "window/window_rules.h"

#include <span>

#include "window/control_ids.h"

namespace ostrel::window {

using engine::OperatingMode;

namespace {

constexpr int kDisplayRadios[] = {id::kHex, id::kAscii, id::kOff};
constexpr int kSendTargetRadios[] = {id::kToDte, id::kToDce};
// The line settings and the mode button: locked while the ports are open.
constexpr int kSettingControls[] = {id::kBaudList,      id::kDteList,       id::kDceList,   id::kParityCombo,
                                    id::kDataBitsCombo, id::kStopBitsCombo, id::kFlowCombo, id::kModeButton};

// One radio of a group checked, then the others of the group unchecked.
ControlOps markOnly(int chosen, std::span<const int> group) {
    ControlOps ops{ControlOp::check(chosen)};
    for (const int radio : group)
        if (radio != chosen) ops.push_back(ControlOp::uncheck(radio));
    return ops;
}

}  // namespace

const std::vector<std::string>& BaudRateEntries() {
    static const std::vector<std::string> entries{"9600", "19200", "38400", "57600", "115200"};
    return entries;
}
const std::vector<std::string>& ParityEntries() {
    static const std::vector<std::string> entries{"None", "Even", "Odd", "Mark", "Space"};
    return entries;
}
const std::vector<std::string>& DataBitsEntries() {
    static const std::vector<std::string> entries{"8", "7"};
    return entries;
}
const std::vector<std::string>& StopBitsEntries() {
    static const std::vector<std::string> entries{"1", "1.5", "2"};
    return entries;
}
const std::vector<std::string>& FlowControlEntries() {
    static const std::vector<std::string> entries{"None", "Hardware", "Xon/Xoff"};
    return entries;
}

ControlOps InitDialogOps(const engine::PortListing& ports) {
    ControlOps ops;
    for (const std::string& name : ports.texts) {
        ops.push_back(ControlOp::addItem(id::kDteList, name));
        ops.push_back(ControlOp::addItem(id::kDceList, name));
    }
    if (ports.dteSelection >= 0) ops.push_back(ControlOp::select(id::kDteList, ports.dteSelection));
    if (ports.dceSelection >= 0) ops.push_back(ControlOp::select(id::kDceList, ports.dceSelection));

    const auto fill = [&ops](int control, const std::vector<std::string>& entries) {
        for (const std::string& entry : entries) ops.push_back(ControlOp::addItem(control, entry));
        ops.push_back(ControlOp::select(control, 0));
    };
    fill(id::kBaudList, BaudRateEntries());
    fill(id::kParityCombo, ParityEntries());
    fill(id::kDataBitsCombo, DataBitsEntries());
    fill(id::kStopBitsCombo, StopBitsEntries());
    fill(id::kFlowCombo, FlowControlEntries());

    ops.push_back(ControlOp::check(id::kHex));
    ops.push_back(ControlOp::check(id::kToDte));
    for (int control : {id::kDceList, id::kSendData, id::kSend, id::kToDte, id::kToDce})
        ops.push_back(ControlOp::disable(control));
    return ops;
}

std::optional<DisplayChoice> DisplayChoiceFor(int commandId) {
    switch (commandId) {
        case id::kHex:
            return DisplayChoice{markOnly(id::kHex, kDisplayRadios), engine::kDisplayHex};
        case id::kAscii:
            return DisplayChoice{markOnly(id::kAscii, kDisplayRadios), engine::kDisplayAscii};
        case id::kOff:
            return DisplayChoice{markOnly(id::kOff, kDisplayRadios), engine::kDisplayOff};
        case id::kDisplayNoneCommand:
            // Format 0 shows the same mark as OFF.
            return DisplayChoice{markOnly(id::kOff, kDisplayRadios), engine::kDisplayNone};
        default:
            return std::nullopt;
    }
}

std::optional<SendTargetChoice> SendTargetChoiceFor(int commandId) {
    switch (commandId) {
        case id::kToDte:
            return SendTargetChoice{markOnly(id::kToDte, kSendTargetRadios), engine::kToDte};
        case id::kToDce:
            return SendTargetChoice{markOnly(id::kToDce, kSendTargetRadios), engine::kToDce};
        default:
            return std::nullopt;
    }
}

int RadioForMode(OperatingMode mode) {
    switch (mode) {
        case engine::kDteEmulation:
            return id::kDteEmulationRadio;
        case engine::kDceEmulation:
            return id::kDceEmulationRadio;
        case engine::kIntercede:
            return id::kIntercedeRadio;
        case engine::kHalfDuplex:
            return id::kHalfDuplexRadio;
        case engine::kFullDuplex:
            return id::kFullDuplexRadio;
        default:
            return id::kIntercedeRadio;
    }
}

std::string ModeCaption(OperatingMode mode) {
    switch (mode) {
        case engine::kDteEmulation:
            return "DTE Emulation";
        case engine::kDceEmulation:
            return "DCE Emulation";
        case engine::kIntercede:
            return "Intercede";
        case engine::kHalfDuplex:
            return "Half Duplex";
        case engine::kFullDuplex:
            return "Full Duplex";
        default:
            return {};
    }
}

std::optional<ModeChoice> ModeChoiceFor(int radioId) {
    ModeChoice choice;
    ControlOps& main = choice.mainWindowOps;
    switch (radioId) {
        case id::kDteEmulationRadio:
            choice.mode = engine::kDteEmulation;
            choice.sendTarget = engine::kToDte;
            main = {ControlOp::enable(id::kDteList), ControlOp::disable(id::kDceList),
                    ControlOp::enable(id::kFlowCombo)};
            break;
        case id::kDceEmulationRadio:
            choice.mode = engine::kDceEmulation;
            choice.sendTarget = engine::kToDce;
            main = {ControlOp::enable(id::kDceList), ControlOp::disable(id::kDteList),
                    ControlOp::enable(id::kFlowCombo)};
            break;
        case id::kIntercedeRadio:
            choice.mode = engine::kIntercede;
            main = {ControlOp::enable(id::kDceList), ControlOp::enable(id::kDteList),
                    ControlOp::enable(id::kFlowCombo)};
            break;
        case id::kHalfDuplexRadio:
            choice.mode = engine::kHalfDuplex;
            main = {ControlOp::enable(id::kDteList), ControlOp::disable(id::kDceList),
                    ControlOp::disable(id::kToDte), ControlOp::disable(id::kToDce),
                    ControlOp::disable(id::kFlowCombo)};
            break;
        case id::kFullDuplexRadio:
            choice.mode = engine::kFullDuplex;
            main = {ControlOp::enable(id::kDceList),   ControlOp::enable(id::kDteList),
                    ControlOp::disable(id::kSendData), ControlOp::disable(id::kToDte),
                    ControlOp::disable(id::kToDce),    ControlOp::disable(id::kFlowCombo)};
            break;
        default:
            return std::nullopt;
    }
    for (int radio : {id::kHalfDuplexRadio, id::kDteEmulationRadio, id::kDceEmulationRadio,
                      id::kIntercedeRadio, id::kFullDuplexRadio})
        choice.modeWindowOps.push_back(radio == radioId ? ControlOp::check(radio)
                                                        : ControlOp::uncheck(radio));

    // The flow reset and the caption come before the enables.
    ControlOps before = OpenFlowResetOps(choice.mode);
    before.push_back(ControlOp::caption(id::kModeButton, ModeCaption(choice.mode)));
    main.insert(main.begin(), before.begin(), before.end());
    return choice;
}

ControlOps OpenFlowResetOps(OperatingMode mode) {
    if (engine::ListensOnly(mode)) return {ControlOp::select(id::kFlowCombo, 0)};
    return {};
}

ControlOps OpenSucceededOps(OperatingMode mode) {
    ControlOps ops{ControlOp::caption(id::kOpenClose, std::string(kCloseCaption))};
    for (const int control : kSettingControls) ops.push_back(ControlOp::disable(control));
    const auto enableAndMark = [&ops](int radio) {
        ops.push_back(ControlOp::enable(radio));
        const ControlOps marks = markOnly(radio, kSendTargetRadios);
        ops.insert(ops.end(), marks.begin(), marks.end());
    };
    switch (mode) {
        case engine::kDteEmulation:
            enableAndMark(id::kToDte);
            break;
        case engine::kDceEmulation:
            enableAndMark(id::kToDce);
            break;
        case engine::kIntercede:
            ops.insert(ops.end(), {ControlOp::enable(id::kToDte), ControlOp::enable(id::kToDce)});
            break;
        default:
            break;
    }
    if (!engine::ListensOnly(mode))
        ops.insert(ops.end(), {ControlOp::enable(id::kSendData), ControlOp::enable(id::kSend)});
    return ops;
}

ControlOps CloseComOps() {
    ControlOps ops{ControlOp::caption(id::kOpenClose, std::string(kOpenCaption))};
    for (const int control : kSettingControls) ops.push_back(ControlOp::enable(control));
    for (int control : {id::kToDte, id::kToDce, id::kSendData, id::kSend})
        ops.push_back(ControlOp::disable(control));
    return ops;
}

ControlOps ReceiveExitOps() {
    return {ControlOp::caption(id::kOpenClose, std::string(kOpenCaption))};
}

ControlOps ModeButtonPressedOps() {
    return {ControlOp::disable(id::kModeButton)};
}

ControlOps ModeWindowHiddenOps() {
    return {ControlOp::enable(id::kModeButton)};
}

}  // namespace ostrel::window
