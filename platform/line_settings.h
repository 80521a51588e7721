#pragma once
// Line settings of one port in the engine's codes (baud in bit/s, data bits
// 7 or 8, parity 0 none / 1 odd / 2 even / 3 mark / 4 space, stop bits
// 0 one / 1 one and a half / 2 two, flow 0 none / 1 hardware / 2 xon-xoff).

#include <cstdint>

namespace ostrel::platform {

struct LineSettings {
    std::uint32_t baud = 9600;
    std::uint8_t dataBits = 8;
    std::uint8_t parity = 0;
    std::uint8_t stopBits = 0;
    std::uint8_t flow = 0;
};

}  // namespace ostrel::platform
