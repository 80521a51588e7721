#pragma once
// Checks on the ports a session is about to open, shared by Open COM in the
// window and the headless front end.

#include <string>

#include "engine/port_enumeration.h"
#include "engine/session_types.h"

namespace ostrel::frontend {

// The COM number that both sides of `config` would open, when its mode opens
// both; 0 otherwise. Port number 0 counts as COM1, as the engine takes it.
int PortChosenForBothSides(const engine::SessionConfig& config);

// The status line for it: "\r\n*** COMn: chosen for both sides ***\r\n".
std::string ChosenForBothSidesLine(int portNumber);

// Gives each side that the mode opens and that has port 0 (no selection) the
// fallback port (engine::FallbackPort). False when a side has none: COM1 is
// the kernel's console, which is opened only when chosen, and no other port
// is listed.
bool ApplyFallbackPorts(engine::SessionConfig& config, const platform::PortMap& ports,
                        const engine::PortNumberTable& table, std::size_t count);
// Why, in words.
inline constexpr const char* kConsoleNotChosen = "COM1: the kernel's console; opened only when chosen";

}  // namespace ostrel::frontend
