#include "engine/port_enumeration.h"

namespace ostrel::engine {

namespace {
constexpr int kHighestListedPort = 63;
}

PortListing EnumeratePorts(const platform::PortMap& ports) {
    PortListing listing;
    listing.table.fill(1);
    // entries() is in ascending COM order, so list position, table index and
    // port number agree.
    for (const platform::PortEntry& entry : ports.entries()) {
        if (entry.number < 1 || entry.number > kHighestListedPort) continue;
        // Opened and closed again at once, with nothing configured: a
        // missing port and one held by someone else are both left out.
        if (!ports.probe(entry.number)) continue;
        listing.table[listing.count] = static_cast<std::uint8_t>(entry.number);
        ++listing.count;
        listing.texts.push_back(platform::comName(entry.number));
    }
    if (listing.count >= 2) {
        listing.dteSelection = 0;
        listing.dceSelection = 1;
    }
    return listing;
}

}  // namespace ostrel::engine
