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
    std::vector<int> choosable;
    for (int i = 0; i < listing.count; ++i) {
        const platform::PortEntry* entry = ports.find(listing.table[static_cast<std::size_t>(i)]);
        if (!entry || !entry->console) choosable.push_back(i);
    }
    if (choosable.size() >= 2) {
        listing.dteSelection = choosable[0];
        listing.dceSelection = choosable[1];
    }
    return listing;
}

int FallbackPort(const platform::PortMap& ports, const PortNumberTable& table, std::size_t count) {
    const platform::PortEntry* com1 = ports.find(1);
    if (!com1 || !com1->console) return 0;
    for (std::size_t i = 0; i < count && i < table.size(); ++i) {
        const platform::PortEntry* entry = ports.find(table[i]);
        if (entry && !entry->console) return table[i];
    }
    return -1;
}

}  // namespace ostrel::engine
