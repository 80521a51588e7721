#pragma once
// What each event of the main window and the mode window does to the
// controls, by id and in order: the fill and the locks at initialisation, the
// display and send radios, the five mode choices, Open COM per mode, Close COM
// and the receive-exit notice. Pure functions; the commands apply the ops.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/port_enumeration.h"
#include "engine/session_types.h"
#include "window/control_model.h"

namespace ostrel::window {

inline constexpr std::string_view kOpenCaption = "Open COM";
inline constexpr std::string_view kCloseCaption = "Close COM";
inline constexpr std::string_view kCaptureCaption = "Capture";
inline constexpr std::string_view kStopCaptureCaption = "Stop Capture";

// Entries of the setting lists and combo boxes, in list order.
const std::vector<std::string>& BaudRateEntries();     // 205
const std::vector<std::string>& ParityEntries();       // 206
const std::vector<std::string>& DataBitsEntries();     // 207
const std::vector<std::string>& StopBitsEntries();     // 208
const std::vector<std::string>& FlowControlEntries();  // 209

// Initialisation: the port lists from the enumeration (each name to 203 then
// to 204, then their selections when two or more were found), 205 to 209
// filled and set to their first entry, 213 and 217 checked, then 204, 216,
// 212, 217 and 218 disabled.
ControlOps InitDialogOps(const engine::PortListing& ports);

// A display command (213, 214, 234 or 215): three check marks and the format.
struct DisplayChoice {
    ControlOps ops;
    engine::DisplayFormat format = engine::kDisplayHex;
};
std::optional<DisplayChoice> DisplayChoiceFor(int commandId);

// A send radio (217 or 218): two check marks and the target.
struct SendTargetChoice {
    ControlOps ops;
    engine::SendTarget target = engine::kToDte;
};
std::optional<SendTargetChoice> SendTargetChoiceFor(int commandId);

// A mode radio of the mode window (227 to 231).
struct ModeChoice {
    engine::OperatingMode mode = engine::kDteEmulation;
    std::optional<engine::SendTarget> sendTarget;  // stored by the two emulation modes only
    ControlOps modeWindowOps;                      // radio marks in the order 230, 227, 228, 229, 231
    ControlOps mainWindowOps;                      // flow reset (3, 4), caption of 202, enables
};
std::optional<ModeChoice> ModeChoiceFor(int radioId);

// The radio that the mode window checks when shown with `mode`: 227 to 231
// for modes 0 to 4, 229 for any other value.
int RadioForMode(engine::OperatingMode mode);
// "DTE Emulation", "DCE Emulation", "Intercede", "Half Duplex", "Full Duplex".
std::string ModeCaption(engine::OperatingMode mode);

// 209 back to "None" in Half and Full Duplex: at Open COM before the settings
// are read, and when one of those modes is chosen.
ControlOps OpenFlowResetOps(engine::OperatingMode mode);
// Open COM succeeded: caption "Close COM", the settings locked, the sending
// controls enabled as the mode allows.
ControlOps OpenSucceededOps(engine::OperatingMode mode);
// Close COM, and a hang-up of the open session.
ControlOps CloseComOps();
// The receive-exit notice of the session's own receive thread: the caption only.
ControlOps ReceiveExitOps();
// The mode button pressed, and the mode window hidden.
ControlOps ModeButtonPressedOps();
ControlOps ModeWindowHiddenOps();

}  // namespace ostrel::window
