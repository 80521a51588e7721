#include "engine/port_enumeration.h"

#include <gtest/gtest.h>

#include "engine_test_support.h"
#include "platform/tty_port.h"

namespace ostrel::engine::testing {
namespace {

TEST(PortEnumeration, ListsOpenablePortsInAscendingOrder) {
    FarEnd com1, com3, com12, com64, busy;
    platform::PortMap ports;
    ASSERT_FALSE(ports.addExplicit(12, com12.path()));
    ASSERT_FALSE(ports.addExplicit(1, com1.path()));
    ASSERT_FALSE(ports.addExplicit(3, com3.path()));
    ASSERT_FALSE(ports.addExplicit(64, com64.path()));  // never listed
    ASSERT_FALSE(ports.addExplicit(5, busy.path()));
    ASSERT_FALSE(ports.addExplicit(7, "/nonexistent/ostrel-test-port"));
    auto holder = platform::TtyPort::open(busy.path());  // COM5 is held by another
    ASSERT_TRUE(holder.ok()) << holder.error().describe();

    const PortListing listing = EnumeratePorts(ports);
    EXPECT_EQ(listing.count, 3);
    EXPECT_EQ(listing.texts, (std::vector<std::string>{"COM1", "COM3", "COM12"}));
    EXPECT_EQ(listing.table[0], 1);
    EXPECT_EQ(listing.table[1], 3);
    EXPECT_EQ(listing.table[2], 12);
    for (std::size_t i = 3; i < listing.table.size(); ++i) EXPECT_EQ(listing.table[i], 1) << i;
    EXPECT_EQ(listing.dteSelection, 0);
    EXPECT_EQ(listing.dceSelection, 1);

    // The probe left every port closed.
    EXPECT_TRUE(platform::TtyPort::open(com1.path()).ok());
    EXPECT_TRUE(platform::TtyPort::open(com12.path()).ok());
}

TEST(PortEnumeration, TheKernelsConsoleIsListedButNeverChosenByDefault) {
    FarEnd ttyS0, ttyS1, ttyS2;
    const auto device = [](const FarEnd& end, const char* name, bool console) {
        return platform::SerialDevice{name, end.path(), "serial", "16550A UART", console};
    };
    platform::PortMap three, two, alone;
    three.addDiscovered(
        {device(ttyS0, "ttyS0", true), device(ttyS1, "ttyS1", false), device(ttyS2, "ttyS2", false)});
    const PortListing listing = EnumeratePorts(three);
    EXPECT_EQ(listing.texts, (std::vector<std::string>{"COM1", "COM2", "COM3"}));
    EXPECT_EQ(listing.dteSelection, 1);
    EXPECT_EQ(listing.dceSelection, 2);
    EXPECT_EQ(FallbackPort(three, listing.table, listing.count), 2);

    // With one other port there are no selections, and the fallback is not COM1.
    two.addDiscovered({device(ttyS0, "ttyS0", true), device(ttyS2, "ttyS2", false)});
    const PortListing twoListing = EnumeratePorts(two);
    EXPECT_EQ(twoListing.count, 2);
    EXPECT_EQ(twoListing.dteSelection, -1);
    EXPECT_EQ(twoListing.dceSelection, -1);
    EXPECT_EQ(FallbackPort(two, twoListing.table, twoListing.count), 3);

    alone.addDiscovered({device(ttyS0, "ttyS0", true)});
    const PortListing aloneListing = EnumeratePorts(alone);
    EXPECT_EQ(FallbackPort(alone, aloneListing.table, aloneListing.count), -1);
    // COM1 that is not the console stays the fallback, as port 0.
    platform::PortMap plain;
    plain.addDiscovered({device(ttyS0, "ttyS0", false)});
    const PortListing plainListing = EnumeratePorts(plain);
    EXPECT_EQ(FallbackPort(plain, plainListing.table, plainListing.count), 0);
}

TEST(PortEnumeration, OneOrNoPortIsNotSelected) {
    FarEnd only;
    platform::PortMap one, none;
    ASSERT_FALSE(one.addExplicit(4, only.path()));
    const PortListing listing = EnumeratePorts(one);
    EXPECT_EQ(listing.count, 1);
    EXPECT_EQ(listing.texts, std::vector<std::string>{"COM4"});
    EXPECT_EQ(listing.table[0], 4);
    EXPECT_EQ(listing.dteSelection, -1);
    EXPECT_EQ(listing.dceSelection, -1);

    const PortListing empty = EnumeratePorts(none);
    EXPECT_EQ(empty.count, 0);
    EXPECT_TRUE(empty.texts.empty());
    EXPECT_EQ(empty.table[0], 1);
    EXPECT_EQ(empty.dteSelection, -1);
}

}  // namespace
}  // namespace ostrel::engine::testing
