#include "window/main_window_commands.h"

#include <charconv>
#include <string>

#include "engine/port_enumeration.h"
#include "engine/status_text.h"
#include "frontend/port_choice.h"
#include "presentation/send_command.h"
#include "window/control_ids.h"
#include "window/window_rules.h"

namespace ostrel::window {

namespace {

// The value at a list position; position 0's value when nothing valid is selected.
template <class Table>
auto valueAt(const Table& table, int position) {
    if (position < 0 || position >= static_cast<int>(table.size())) position = 0;
    return table[static_cast<std::size_t>(position)];
}

}  // namespace

MainWindowCommands::MainWindowCommands(MainWindowState& state, ControlModel& controls, engine::Engine& engine,
                                       engine::WindowLink& window, engine::TrafficPresenter& presenter)
    : state_(state), controls_(controls), engine_(engine), window_(window), presenter_(presenter) {}

void MainWindowCommands::InitDialog() {
    const engine::PortListing ports = engine::EnumeratePorts(engine_.ports());
    state_.portNumbers = ports.table;
    state_.portCount = ports.count;
    controls_.apply(InitDialogOps(ports));
}

namespace {

// The first position in `table` (of at most `count` entries) holding `value`, or -1.
template <class Table, class Value>
int positionOf(const Table& table, std::size_t count, Value value) {
    for (std::size_t i = 0; i < count && i < table.size(); ++i)
        if (table[i] == value) return static_cast<int>(i);
    return -1;
}

}  // namespace

void MainWindowCommands::ApplyStartChoices(const StartChoices& choices, ControlModel& modeWindow) {
    const auto selectValue = [this](int control, int position) {
        if (position >= 0) controls_.apply(ControlOp::select(control, position));
    };
    const std::size_t ports = static_cast<std::size_t>(state_.portCount);
    if (choices.dtePort > 0)
        selectValue(id::kDteList, positionOf(state_.portNumbers, ports, choices.dtePort));
    if (choices.dcePort > 0)
        selectValue(id::kDceList, positionOf(state_.portNumbers, ports, choices.dcePort));
    // The list offers the first five rates of the table; any other start
    // rate gets an entry of its own.
    if (choices.baudRate) {
        int position = positionOf(engine::kBaudRateTable, BaudRateEntries().size(), *choices.baudRate);
        if (position < 0) {
            controls_.apply(ControlOp::addItem(id::kBaudList, std::to_string(*choices.baudRate)));
            position = static_cast<int>(controls_.state(id::kBaudList).items.size()) - 1;
        }
        selectValue(id::kBaudList, position);
    }
    if (choices.parity)
        selectValue(id::kParityCombo,
                    positionOf(engine::kParityTable, engine::kParityTable.size(), *choices.parity));
    if (choices.dataBits)
        selectValue(id::kDataBitsCombo,
                    positionOf(engine::kDataBitsTable, engine::kDataBitsTable.size(), *choices.dataBits));
    if (choices.stopBits)
        selectValue(id::kStopBitsCombo,
                    positionOf(engine::kStopBitsTable, engine::kStopBitsTable.size(), *choices.stopBits));
    if (choices.flowControl)
        selectValue(id::kFlowCombo, positionOf(engine::kFlowControlTable, engine::kFlowControlTable.size(),
                                               *choices.flowControl));
    if (choices.mode && *choices.mode >= engine::kDteEmulation && *choices.mode <= engine::kFullDuplex)
        ChooseMode(RadioForMode(*choices.mode), modeWindow);
    if (choices.stamp) presenter_.SetStampFormat(*choices.stamp);
    if (choices.display) {
        switch (*choices.display) {
            case engine::kDisplayHex:
                DisplayCommand(id::kHex);
                break;
            case engine::kDisplayAscii:
                DisplayCommand(id::kAscii);
                break;
            case engine::kDisplayOff:
                DisplayCommand(id::kOff);
                break;
            case engine::kDisplayNone:
                DisplayCommand(id::kDisplayNoneCommand);
                break;
            default:
                break;
        }
    }
}

void MainWindowCommands::OpenClose() {
    if (state_.portOpen)
        CloseCom();
    else
        OpenCom();
}

// The rate the selected baud entry names: an entry added for a start rate
// has no slot in the value table, so the entry's text is the rate.
std::uint32_t MainWindowCommands::baudRateFromList() const {
    const ControlState& list = controls_.state(id::kBaudList);
    if (list.selection >= static_cast<int>(BaudRateEntries().size()) &&
        list.selection < static_cast<int>(list.items.size())) {
        const std::string& text = list.items[static_cast<std::size_t>(list.selection)];
        std::uint32_t rate = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), rate);
        if (error == std::errc() && end == text.data() + text.size() && rate > 0) return rate;
    }
    return valueAt(engine::kBaudRateTable, list.selection);
}

engine::SessionConfig MainWindowCommands::configFromControls(engine::OperatingMode mode) const {
    const auto portAt = [this](int list) -> std::uint8_t {
        const int position = controls_.selection(list);
        if (position < 0 || position >= static_cast<int>(state_.portNumbers.size())) return 0;
        return state_.portNumbers[static_cast<std::size_t>(position)];
    };
    engine::PortSettings line;
    line.baudRate = baudRateFromList();
    line.parity = valueAt(engine::kParityTable, controls_.selection(id::kParityCombo));
    line.dataBits = valueAt(engine::kDataBitsTable, controls_.selection(id::kDataBitsCombo));
    line.stopBits = valueAt(engine::kStopBitsTable, controls_.selection(id::kStopBitsCombo));
    line.flowControl = valueAt(engine::kFlowControlTable, controls_.selection(id::kFlowCombo));
    return engine::MakeSessionConfig(mode, line, portAt(id::kDteList), portAt(id::kDceList));
}

void MainWindowCommands::OpenCom() {
    const engine::OperatingMode mode = state_.mode.load();
    controls_.apply(OpenFlowResetOps(mode));
    state_.config = configFromControls(mode);
    // A list without a selection opens COM1, unless that is the kernel's console.
    if (!frontend::ApplyFallbackPorts(state_.config, engine_.ports(), state_.portNumbers,
                                      static_cast<std::size_t>(state_.portCount))) {
        window_.appendText(engine::text::kOpenError);
        window_.appendText(engine::text::kCheckSettings);
        window_.appendText(engine::text::statusLine(frontend::kConsoleNotChosen));
        return;
    }

    // Both lists on one port: the open would find it busy, held by this very
    // session; say what is wrong instead.
    if (const int same = frontend::PortChosenForBothSides(state_.config)) {
        window_.appendText(engine::text::kOpenError);
        window_.appendText(engine::text::kCheckSettings);
        window_.appendText(frontend::ChosenForBothSidesLine(same));
        return;
    }
    if (engine_.OpenSession(state_.config) != engine::kStatusOk) {
        window_.appendText(engine::text::kOpenError);
        window_.appendText(engine::text::kCheckSettings);
        // Why each port failed, in words ("COM3: ... port is busy ...").
        for (const std::string& reason : engine_.openErrors())
            window_.appendText(engine::text::statusLine(reason));
        engine_.CloseAllPorts();
        return;
    }
    state_.portOpen = true;
    window_.appendText(engine::text::kPortOn);
    for (const std::string& note : engine_.openNotes()) window_.appendText(note);
    controls_.apply(OpenSucceededOps(mode));
}

void MainWindowCommands::CloseCom() {
    engine_.CloseAllPorts();
    state_.portOpen = false;
    window_.appendText(engine::text::kPortOff);
    controls_.apply(CloseComOps());
}

bool MainWindowCommands::ReceiveExit(const engine::ReceiveExitNotice& notice) {
    if (!engine_.IsCurrentReceiveThread(notice.threadId)) return false;
    if (notice.hungUp || notice.outOfMemory) {
        // The engine has shown "COMn disconnected" or "Out of memory"; the
        // session ends as Close COM ends it, so the settings are free again.
        CloseCom();
        return true;
    }
    engine_.CloseAllPorts();
    state_.portOpen = false;
    controls_.apply(ReceiveExitOps());
    return true;
}

void MainWindowCommands::DisplayCommand(int commandId) {
    const auto choice = DisplayChoiceFor(commandId);
    if (!choice) return;
    controls_.apply(choice->ops);
    state_.displayFormat.store(choice->format);
}

void MainWindowCommands::SendTargetCommand(int commandId) {
    const auto choice = SendTargetChoiceFor(commandId);
    if (!choice) return;
    controls_.apply(choice->ops);
    state_.sendTarget.store(choice->target);
}

void MainWindowCommands::ModeButton() {
    controls_.apply(ModeButtonPressedOps());
}

void MainWindowCommands::ModeWindowHidden() {
    controls_.apply(ModeWindowHiddenOps());
}

void MainWindowCommands::ChooseMode(int radioId, ControlModel& modeWindow) {
    const auto choice = ModeChoiceFor(radioId);
    if (!choice) return;
    state_.mode.store(choice->mode);
    if (choice->sendTarget) state_.sendTarget.store(*choice->sendTarget);
    modeWindow.apply(choice->modeWindowOps);
    controls_.apply(choice->mainWindowOps);
}

void MainWindowCommands::Capture(const std::function<std::string()>& askFileName) {
    if (state_.capture.active()) {
        state_.capture.Stop(window_);
        controls_.apply(ControlOp::caption(id::kCapture, std::string(kCaptureCaption)));
        return;
    }
    const std::string name = askFileName ? askFileName() : std::string();
    if (name.empty()) return;  // cancelled: nothing shown, nothing changed
    if (state_.capture.Start(name, window_))
        controls_.apply(ControlOp::caption(id::kCapture, std::string(kStopCaptureCaption)));
}

void MainWindowCommands::CaptureEnded() {
    if (!state_.capture.active())
        controls_.apply(ControlOp::caption(id::kCapture, std::string(kCaptureCaption)));
}

void MainWindowCommands::Send(std::string_view text) {
    presentation::OnSendText(text, engine_, presenter_, window_);
}

void MainWindowCommands::Exit() {
    engine_.CloseAllPorts();
    state_.portOpen = false;
}

}  // namespace ostrel::window
