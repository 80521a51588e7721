#pragma once
// The lines written to standard error at the start of a headless run: each
// open side with its COM number, device path and line settings, and how to
// stop. Only written when standard error is a terminal (someone reads it).

#include <string>

#include "engine/session_types.h"
#include "platform/port_map.h"

namespace ostrel::headless {

// "ostrel: DTE side: COM3 /dev/ttyUSB0, 9600 8N1, flow none\n" for each side
// the mode opens, then "ostrel: Ctrl-C to stop\n" (Ctrl-X with `interactive`).
std::string StartBanner(const engine::SessionConfig& config, const platform::PortMap& ports,
                        bool interactive);

// "9600 8N1, flow none"; 1.5 stop bits read "8N1.5".
std::string LineSettingsText(const engine::PortSettings& line);

}  // namespace ostrel::headless
