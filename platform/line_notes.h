#pragma once
// Private to the platform layer: the phrases that configure() returns for
// settings the driver did not take as asked. A pure function, so that the
// rules are tested without a real UART (pseudo-terminals report nothing).

#include <string>
#include <vector>

#include "platform/line_settings.h"
#include "platform/termios2_config.h"

namespace ostrel::platform::detail {

// `requested` in the engine's codes; `applied` is the driver's read-back;
// `rtsToggle` tells whether RS-485 mode (RTS raised around each send) took.
std::vector<std::string> lineSettingNotes(const LineSettings& requested, const LineReadBack& applied,
                                          bool rtsToggle);

}  // namespace ostrel::platform::detail
