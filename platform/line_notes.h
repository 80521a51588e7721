#pragma once
// Private to the platform layer: the phrases that configure() returns for
// settings the driver did not take as asked. A pure function, so that the
// rules are tested without a real UART (pseudo-terminals report nothing).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/line_settings.h"
#include "platform/termios2_config.h"

namespace ostrel::platform::detail {

// `requested` in the engine's codes; `applied` is the driver's read-back;
// `rtsToggle` tells whether RS-485 mode (RTS raised around each send) took.
std::vector<std::string> lineSettingNotes(const LineSettings& requested, const LineReadBack& applied,
                                          bool rtsToggle);

// Line settings in the codes of the telnet COM port option (parity 1 none ..
// 5 space, stop size 1 one / 2 two / 3 one and a half, control 1 none /
// 2 XON/XOFF / 3 hardware): what a client asks for, or what a server's
// replies said (a setting it did not answer stays empty).
struct ComPortSettings {
    std::optional<std::uint32_t> baud;
    std::optional<std::uint8_t> dataSize;
    std::optional<std::uint8_t> parity;
    std::optional<std::uint8_t> stopSize;
    std::optional<std::uint8_t> control;
};

// The request for `settings` (the engine's codes) in the option's codes.
ComPortSettings comPortRequest(const LineSettings& settings);
// One phrase for each reply that differs from the request, in the words of
// lineSettingNotes ("baud rate 115200 not accepted, using 9600"); a missing
// reply is "... not confirmed by the port server".
std::vector<std::string> comPortSettingNotes(const LineSettings& requested, const ComPortSettings& replies);

}  // namespace ostrel::platform::detail
