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
    // The default selections: the first and second listed port that is not
    // the kernel's console, when there are two such ports; else -1 (none).
    int dteSelection = -1;
    int dceSelection = -1;
};

PortListing EnumeratePorts(const platform::PortMap& ports);

// The port a side opens when its list has no selection: 0, which the engine
// takes as COM1, unless COM1 is the kernel's console; then the first listed
// port that is not, or -1 when there is none.
int FallbackPort(const platform::PortMap& ports, const PortNumberTable& table, std::size_t count);

}  // namespace ostrel::engine
