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
