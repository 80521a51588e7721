#pragma once
// The main window's commands, without any toolkit: what Open COM, Close COM,
// the display and send radios, the mode choices, Capture, Send, Exit and the
// two notices do to the session, the engine, the traffic window and the
// controls (by id, through the ControlModel). Cmainwin routes its widgets'
// clicks here and mirrors the ControlModel onto its widgets.
//
// Threading: UI thread only. The engine's threads reach the window through
// the WindowLink, never through this class.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "engine/engine.h"
#include "engine/window_link.h"
#include "window/control_model.h"
#include "window/main_window_state.h"

namespace ostrel::window {

// Choices the command line made for the start (ports, mode, line settings,
// display, time stamps). Unset fields keep the window's own defaults.
struct StartChoices {
    std::optional<engine::OperatingMode> mode;
    int dtePort = 0;  // COM numbers; 0 keeps the list's selection
    int dcePort = 0;
    std::optional<std::uint32_t> baudRate;
    std::optional<std::uint8_t> parity;
    std::optional<std::uint8_t> dataBits;
    std::optional<std::uint8_t> stopBits;
    std::optional<std::uint8_t> flowControl;
    std::optional<engine::DisplayFormat> display;
    std::optional<engine::StampFormat> stamp;  // handed to the traffic presenter
};

class MainWindowCommands {
public:
    // `window` is the traffic window's sink and the link the engine was made
    // ready with; `presenter` formats sent data for the echo.
    MainWindowCommands(MainWindowState& state, ControlModel& controls, engine::Engine& engine,
                       engine::WindowLink& window, engine::TrafficPresenter& presenter);

    // Enumerates the ports, then fills and sets the controls.
    void InitDialog();

    // Selects what `choices` names in the lists and combo boxes, and applies
    // the mode as its radio in the mode window would. A value the lists do
    // not offer (a port that did not open, a rate not in the list) is skipped.
    void ApplyStartChoices(const StartChoices& choices, ControlModel& modeWindow);

    // Button 211: Close COM when the session is open, Open COM otherwise.
    void OpenClose();
    void OpenCom();
    void CloseCom();

    // The receive-exit notice. A notice from a thread that is not the current
    // session's (it ended with an earlier session) changes nothing. From the
    // current session: a hang-up or a lack of memory closes the session as
    // Close COM does; any other ending closes the channels and sets the
    // caption "Open COM".
    // Returns true when the notice was acted on.
    bool ReceiveExit(const engine::ReceiveExitNotice& notice);

    // 213, 214, 234 and 215.
    void DisplayCommand(int commandId);
    // 217 and 218.
    void SendTargetCommand(int commandId);

    // Button 202 pressed; the mode window is then asked to show itself.
    void ModeButton();
    // The mode window hid itself.
    void ModeWindowHidden();
    // A mode radio (227 to 231) was clicked in the mode window, whose
    // controls are `modeWindow`.
    void ChooseMode(int radioId, ControlModel& modeWindow);

    // Button 219. `askFileName` shows the save dialog and returns the chosen
    // name, or an empty text when the operator cancelled.
    void Capture(const std::function<std::string()>& askFileName);
    // The capture ended by itself (a failed write): the button reads "Capture"
    // again, and the next press starts a new capture.
    void CaptureEnded();

    // Button 212 with the send box's text (Latin-1, line breaks as CR LF).
    void Send(std::string_view text);

    // "Exit" and the close box: both close the open ports.
    void Exit();

private:
    engine::SessionConfig configFromControls(engine::OperatingMode mode) const;
    std::uint32_t baudRateFromList() const;

    MainWindowState& state_;
    ControlModel& controls_;
    engine::Engine& engine_;
    engine::WindowLink& window_;
    engine::TrafficPresenter& presenter_;
};

}  // namespace ostrel::window
