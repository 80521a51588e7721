// The checks on the ports of a session before it opens: a side without a
// selection and the kernel's console, and one port for both sides.

#include "frontend/port_choice.h"

#include <gtest/gtest.h>

#include "platform/pty_test_support.h"

namespace ostrel::frontend {
namespace {

engine::SessionConfig sessionOn(engine::OperatingMode mode, int dte, int dce) {
    return engine::MakeSessionConfig(mode, engine::PortSettings{}, static_cast<std::uint8_t>(dte),
                                     static_cast<std::uint8_t>(dce));
}

TEST(PortChoice, ASideWithoutASelectionNeverFallsBackOnTheConsole) {
    auto console = platform::test::openBareMaster();
    auto other = platform::test::openBareMaster();
    ASSERT_TRUE(console.master.valid() && other.master.valid());
    platform::PortMap map;
    map.addDiscovered(
        {{"ttyS0", console.slavePath, "serial", "", true}, {"ttyS4", other.slavePath, "serial", "", false}});
    const engine::PortListing listing = engine::EnumeratePorts(map);
    ASSERT_EQ(listing.count, 2);

    // DTE mode opens one side: it gets the other port, COM5.
    engine::SessionConfig dteOnly = sessionOn(engine::kDteEmulation, 0, 0);
    ASSERT_TRUE(ApplyFallbackPorts(dteOnly, map, listing.table, listing.count));
    EXPECT_EQ(dteOnly.dte.portNumber, 5);
    EXPECT_EQ(PortChosenForBothSides(dteOnly), 0);
    // Two sides falling back on one port are caught before the open.
    engine::SessionConfig both = sessionOn(engine::kIntercede, 0, 0);
    ASSERT_TRUE(ApplyFallbackPorts(both, map, listing.table, listing.count));
    EXPECT_EQ(PortChosenForBothSides(both), 5);
    EXPECT_EQ(ChosenForBothSidesLine(5), "\r\n*** COM5: chosen for both sides ***\r\n");
    // Chosen, the console opens like any port.
    engine::SessionConfig named = sessionOn(engine::kIntercede, 1, 5);
    ASSERT_TRUE(ApplyFallbackPorts(named, map, listing.table, listing.count));
    EXPECT_EQ(named.dte.portNumber, 1);
    EXPECT_EQ(PortChosenForBothSides(named), 0);

    // Only the console: no side is given it.
    platform::PortMap alone;
    alone.addDiscovered({{"ttyS0", console.slavePath, "serial", "", true}});
    const engine::PortListing single = engine::EnumeratePorts(alone);
    engine::SessionConfig none = sessionOn(engine::kDteEmulation, 0, 0);
    EXPECT_FALSE(ApplyFallbackPorts(none, alone, single.table, single.count));
    // Without a console COM1 stays the fallback, as port 0.
    platform::PortMap plain;
    plain.addDiscovered({{"ttyS0", console.slavePath, "serial", "", false}});
    const engine::PortListing plainListing = engine::EnumeratePorts(plain);
    engine::SessionConfig zero = sessionOn(engine::kDteEmulation, 0, 0);
    ASSERT_TRUE(ApplyFallbackPorts(zero, plain, plainListing.table, plainListing.count));
    EXPECT_EQ(zero.dte.portNumber, 0);
}

}  // namespace
}  // namespace ostrel::frontend
