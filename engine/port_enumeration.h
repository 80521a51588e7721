#pragma once
// Lists the ports that can be opened, once at start-up: every mapped COM
// number from 1 to 63 in ascending order is opened exclusively and closed at
// once; one that fails (missing, busy) is not listed.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/port_map.h"

namespace ostrel::engine {

// List position to COM port number; unused entries hold 1.
using PortNumberTable = std::array<std::uint8_t, 64>;

struct PortListing {
    PortNumberTable table;  // filled with 1, then the numbers found
    std::uint8_t count = 0;
    std::vector<std::string> texts;  // "COM%d", in list order
    int dteSelection = -1;           // 0 when at least two ports were found, else -1 (none)
    int dceSelection = -1;           // 1 when at least two ports were found, else -1
};

PortListing EnumeratePorts(const platform::PortMap& ports);

}  // namespace ostrel::engine
