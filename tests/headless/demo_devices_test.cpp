// The simulated devices at work on real pseudo-terminals: they open a path
// the way another program would, answer on the line, wait for a path that is
// not there yet, come back after a hang-up, and stop at once.

#include "headless/demo_devices.h"

#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include "platform/pty_pair.h"
#include "platform/pty_test_support.h"
#include "platform/temp_dir.h"

namespace ostrel::headless {
namespace {

using namespace std::chrono_literals;
using platform::test::openBareMaster;
using platform::test::readFd;
using platform::test::writeAll;

std::string readUntil(int fd, std::string_view text, std::chrono::milliseconds timeout = 3s) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (got.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        const auto bytes = readFd(fd, 1, 20ms);
        got.append(bytes.begin(), bytes.end());
    }
    return got;
}

TEST(SimulatedDevice, TheModemAnswersOnACookedLineMadeRaw) {
    // The slave starts in the kernel's cooked mode; the device makes it raw,
    // so "AT\r" is not turned into "AT\n" and nothing extra is echoed.
    auto pty = openBareMaster();
    ASSERT_TRUE(pty.master.valid());
    SimulatedDevice modem(pty.slavePath, std::make_unique<demo::SimulatedDce>(5, 1));
    // Master and slave share one termios: raw there means the device has the line.
    ASSERT_TRUE(platform::test::waitUntil([&] {
        termios t{};
        return ::tcgetattr(pty.master.get(), &t) == 0 && (t.c_lflag & ICANON) == 0;
    }));
    ASSERT_TRUE(writeAll(pty.master.get(), "AT\r"));
    EXPECT_EQ(readUntil(pty.master.get(), "OK\r\n"), "AT\r\r\nOK\r\n");
    EXPECT_EQ(modem.bytesReceived(), 3u);
}

TEST(SimulatedDevice, WaitsForAPathThatIsNotThereYet) {
    platform::test::TempDir dir;
    ASSERT_TRUE(dir.valid());
    auto pty = openBareMaster();
    ASSERT_TRUE(pty.master.valid());
    const std::string link = dir / "later";
    SimulatedDevice terminal(link, std::make_unique<demo::SimulatedDte>(5, 1));
    ASSERT_EQ(::symlink(pty.slavePath.c_str(), link.c_str()), 0);
    EXPECT_NE(readUntil(pty.master.get(), "ATZ\r"), "");
    EXPECT_TRUE(platform::test::waitUntil([&] { return terminal.bytesSent() >= 4; }));
}

TEST(SimulatedDevice, ComesBackAfterTheLineHungUp) {
    platform::test::TempDir dir;
    ASSERT_TRUE(dir.valid());
    const std::string link = dir / "line";
    auto first = openBareMaster();
    ASSERT_TRUE(first.master.valid());
    ASSERT_EQ(::symlink(first.slavePath.c_str(), link.c_str()), 0);
    SimulatedDevice terminal(link, std::make_unique<demo::SimulatedDte>(5, 1));
    ASSERT_NE(readUntil(first.master.get(), "ATZ\r").find("ATZ\r"), std::string::npos);

    // The line goes away and another takes its place under the same path.
    auto second = openBareMaster();
    ASSERT_TRUE(second.master.valid());
    ASSERT_EQ(::unlink(link.c_str()), 0);
    ASSERT_EQ(::symlink(second.slavePath.c_str(), link.c_str()), 0);
    first.master.reset();
    EXPECT_NE(readUntil(second.master.get(), "ATZ\r").find("ATZ\r"), std::string::npos);
}

TEST(SimulatedDevice, StopsPromptlyWhileWaitingOnTheLine) {
    auto pty = openBareMaster();
    ASSERT_TRUE(pty.master.valid());
    auto device =
        std::make_unique<SimulatedDevice>(pty.slavePath, std::make_unique<demo::SimulatedDce>(60'000, 1));
    ASSERT_TRUE(writeAll(pty.master.get(), "AT"));
    ASSERT_TRUE(platform::test::waitUntil([&] { return device->bytesReceived() > 0; }));
    const auto start = std::chrono::steady_clock::now();
    device.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 200ms);
}

TEST(DemoLine, TheTwoDevicesTalkThroughARelay) {
    // Two pty pairs whose slaves are raw and held open, as a virtual port's
    // are, and a little relay between their masters, standing in for Ostrel
    // in Intercede.
    auto pairA = platform::openPtyPair();
    auto pairB = platform::openPtyPair();
    ASSERT_TRUE(pairA && pairB);
    platform::PtyPair& a = pairA.value();
    platform::PtyPair& b = pairB.value();
    DemoLine line(a.slavePath, b.slavePath, 10, 9);
    std::string dteSaid, dceSaid;
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (dceSaid.find("CONNECT 9600") == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        const auto fromDte = readFd(a.master.get(), 4096, 5ms);
        const auto fromDce = readFd(b.master.get(), 4096, 5ms);
        dteSaid.append(fromDte.begin(), fromDte.end());
        dceSaid.append(fromDce.begin(), fromDce.end());
        if (!fromDte.empty()) {
            ASSERT_TRUE(writeAll(b.master.get(), fromDte));
        }
        if (!fromDce.empty()) {
            ASSERT_TRUE(writeAll(a.master.get(), fromDce));
        }
    }
    EXPECT_NE(dteSaid.find("ATD5551234\r"), std::string::npos) << dteSaid;
    EXPECT_NE(dceSaid.find("CONNECT 9600"), std::string::npos) << dceSaid;
    EXPECT_GT(line.dte().bytesSent(), 0u);
    EXPECT_GT(line.dce().bytesSent(), 0u);
}

}  // namespace
}  // namespace ostrel::headless
