#include "platform/port_map.h"

#include <gtest/gtest.h>

#include "pty_test_support.h"
#include "temp_dir.h"

namespace ostrel::platform {
namespace {

SerialDevice device(const std::string& name) {
    return SerialDevice{name, "/dev/" + name, "drv", name + " desc"};
}

TEST(PortMap, ExplicitNumbersAreCheckedForRangeAndClashes) {
    PortMap map;
    EXPECT_EQ(map.addExplicit(1, "/dev/ttyUSB0"), std::nullopt);
    EXPECT_EQ(map.addExplicit(64, "/dev/ttyUSB1"), std::nullopt);
    EXPECT_EQ(map.addExplicit(0, "/dev/ttyUSB2"), "COM0 is out of range (COM1 to COM64)");
    EXPECT_EQ(map.addExplicit(65, "/dev/ttyUSB2"), "COM65 is out of range (COM1 to COM64)");
    EXPECT_EQ(map.addExplicit(1, "/dev/ttyUSB2"), "COM1 is already mapped to /dev/ttyUSB0");
    EXPECT_EQ(map.addExplicit(3, "/dev/ttyUSB0"), "/dev/ttyUSB0 is already mapped to COM1");
    ASSERT_NE(map.find(64), nullptr);
    EXPECT_EQ(map.find(64)->path, "/dev/ttyUSB1");
    EXPECT_EQ(map.find(2), nullptr);
    EXPECT_EQ(map.lowestFree(), 2);
}

TEST(PortMap, UartsKeepTheirNumbersAndTheRestTakeTheLowestFree) {
    PortMap map;
    ASSERT_EQ(map.addExplicit(2, "/dev/ttyACM7"), std::nullopt);
    ASSERT_EQ(map.addExplicit(9, "/dev/ttyS5"), std::nullopt);
    map.addDiscovered({device("ttyS0"), device("ttyS1"), device("ttyS3"), device("ttyS70"), device("ttyACM0"),
                       device("ttyUSB0"), device("ttyS5")});
    // ttyS0 -> COM1, ttyS3 -> COM4; ttyS1's COM2 is taken, ttyS70 has no COM71:
    // they and the others fill 3, 5, 6, 7 in the given order. ttyS5 keeps COM9.
    std::vector<std::pair<int, std::string>> got;
    for (const PortEntry& entry : map.entries()) got.emplace_back(entry.number, entry.path);
    const std::vector<std::pair<int, std::string>> expected = {
        {1, "/dev/ttyS0"},  {2, "/dev/ttyACM7"}, {3, "/dev/ttyS1"},   {4, "/dev/ttyS3"},
        {5, "/dev/ttyS70"}, {6, "/dev/ttyACM0"}, {7, "/dev/ttyUSB0"}, {9, "/dev/ttyS5"},
    };
    EXPECT_EQ(got, expected);
    EXPECT_EQ(map.find(6)->description, "ttyACM0 desc");
}

TEST(PortMap, PathsGetTheLowestFreeNumberOnceAndNothingWhenFull) {
    PortMap map;
    EXPECT_EQ(map.addPath("/dev/ttyUSB3"), 1);
    EXPECT_EQ(map.addPath("/dev/ttyUSB4", "adapter"), 2);
    EXPECT_EQ(map.addPath("/dev/ttyUSB3"), 1);
    EXPECT_EQ(map.find(2)->description, "adapter");
    EXPECT_EQ(map.numberOf("/dev/ttyUSB4"), 2);
    EXPECT_EQ(map.numberOf("/dev/ttyUSB9"), std::nullopt);
    for (int i = 3; i <= kMaxComNumber; ++i) ASSERT_EQ(map.addPath("/dev/x" + std::to_string(i)), i);
    EXPECT_EQ(map.lowestFree(), 0);
    EXPECT_EQ(map.addPath("/dev/one-too-many"), 0);
    EXPECT_EQ(map.numberOf("/dev/one-too-many"), std::nullopt);
}

TEST(PortMap, OpensDevicesByPathAndVirtualPortsByTheirMaster) {
    test::BareMaster pty = test::openBareMaster();
    ASSERT_TRUE(pty.master.valid());
    test::TempDir dir;
    ASSERT_TRUE(dir.valid());
    Result<std::shared_ptr<VirtualPort>> virtualPort = VirtualPort::create(12, dir / "com12");
    ASSERT_TRUE(virtualPort.ok()) << virtualPort.error().describe();

    PortMap map;
    ASSERT_EQ(map.addExplicit(3, pty.slavePath), std::nullopt);
    ASSERT_EQ(map.addVirtual(virtualPort.value()), std::nullopt);
    EXPECT_EQ(map.addVirtual(virtualPort.value()), "COM12 is already mapped to " + (dir / "com12"));
    EXPECT_EQ(map.find(12)->path, dir / "com12");
    EXPECT_EQ(map.find(12)->virtualPort, virtualPort.value());

    Result<TtyPort> device = map.open(3);
    ASSERT_TRUE(device.ok()) << device.error().describe();
    EXPECT_EQ(device.value().path(), pty.slavePath);
    EXPECT_TRUE(map.open(3).error().isBusy());

    Result<TtyPort> virtualOpen = map.open(12);
    ASSERT_TRUE(virtualOpen.ok()) << virtualOpen.error().describe();
    EXPECT_EQ(virtualOpen.value().path(), dir / "com12");
    EXPECT_TRUE(map.open(12).error().isBusy());
    EXPECT_EQ(map.open(7).error().describe(), "COM7 is not mapped to any device");
}

}  // namespace
}  // namespace ostrel::platform
