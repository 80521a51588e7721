#include "platform/virtual_port.h"

#include <gtest/gtest.h>
#include <termios.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "pty_test_support.h"
#include "temp_dir.h"

namespace ostrel::platform {
namespace {

namespace fs = std::filesystem;
using test::allByteValues;
using test::readFd;
using test::readPort;
using test::writeAll;

class VirtualPortTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.valid()); }

    std::shared_ptr<VirtualPort> create(int number = 5) {
        Result<std::shared_ptr<VirtualPort>> port = VirtualPort::create(number, dir_ / "link");
        if (!port) {
            ADD_FAILURE() << port.error().describe();
            return nullptr;
        }
        return port.value();
    }

    // The other program: opens the link as a device.
    UniqueFd openPeer(const std::string& path) {
        return UniqueFd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    }

    test::TempDir dir_;
};

TEST_F(VirtualPortTest, TheLinkPointsAtTheSlave) {
    std::shared_ptr<VirtualPort> port = create();
    ASSERT_TRUE(port);
    EXPECT_EQ(port->linkPath(), dir_ / "link");
    EXPECT_EQ(port->comNumber(), 5);
    EXPECT_EQ(fs::read_symlink(port->linkPath()).string(), port->slavePath());
    EXPECT_FALSE(port->inUse());
}

TEST_F(VirtualPortTest, BytesCrossExactlyBetweenThePeerAndThePort) {
    std::shared_ptr<VirtualPort> virtualPort = create();
    ASSERT_TRUE(virtualPort);
    Result<TtyPort> port = virtualPort->openPort();
    ASSERT_TRUE(port.ok()) << port.error().describe();
    EXPECT_TRUE(port.value().isPseudoTerminal());
    EXPECT_EQ(port.value().path(), virtualPort->linkPath());
    // Settings on a virtual port mean nothing and leave the peer's line alone.
    EXPECT_TRUE(port.value().configure(LineSettings{300, 7, 2, 2, 2}).empty());

    UniqueFd peer = openPeer(virtualPort->linkPath());
    ASSERT_TRUE(peer.valid());
    const std::vector<std::uint8_t> bytes = allByteValues(2);
    ASSERT_TRUE(writeAll(peer.get(), bytes));
    EXPECT_EQ(readPort(port.value(), bytes.size()), bytes);
    ASSERT_TRUE(writeAll(port.value().fd(), bytes));
    EXPECT_EQ(readFd(peer.get(), bytes.size()), bytes);  // FF single: no marking on the peer's side
    termios t{};
    ASSERT_EQ(::tcgetattr(peer.get(), &t), 0);
    EXPECT_FALSE(t.c_iflag & (PARMRK | IXON));
}

TEST_F(VirtualPortTest, BytesWrittenBeforeThePeerOpensAreNotCookedOrEchoed) {
    std::shared_ptr<VirtualPort> virtualPort = create();
    ASSERT_TRUE(virtualPort);
    Result<TtyPort> port = virtualPort->openPort();
    ASSERT_TRUE(port.ok());
    ASSERT_TRUE(writeAll(port.value().fd(), std::string("AT\r")));
    UniqueFd peer = openPeer(virtualPort->linkPath());
    ASSERT_TRUE(peer.valid());
    EXPECT_EQ(readFd(peer.get(), 3), (std::vector<std::uint8_t>{'A', 'T', '\r'}));
    EXPECT_EQ(port.value().wait(-1, true, 50), TtyPort::TimedOut);  // no echo came back
}

TEST_F(VirtualPortTest, ASecondOpenIsBusyUntilTheFirstCloses) {
    std::shared_ptr<VirtualPort> virtualPort = create();
    ASSERT_TRUE(virtualPort);
    {
        Result<TtyPort> first = virtualPort->openPort();
        ASSERT_TRUE(first.ok());
        EXPECT_TRUE(virtualPort->inUse());
        Result<TtyPort> second = virtualPort->openPort();
        ASSERT_FALSE(second.ok());
        EXPECT_TRUE(second.error().isBusy());
    }
    EXPECT_FALSE(virtualPort->inUse());
    EXPECT_TRUE(virtualPort->openPort().ok());
}

TEST_F(VirtualPortTest, ThePeerClosingAndReopeningIsNotAHangUp) {
    std::shared_ptr<VirtualPort> virtualPort = create();
    ASSERT_TRUE(virtualPort);
    Result<TtyPort> port = virtualPort->openPort();
    ASSERT_TRUE(port.ok());
    {
        UniqueFd peer = openPeer(virtualPort->linkPath());
        ASSERT_TRUE(peer.valid());
        ASSERT_TRUE(writeAll(peer.get(), std::string("one")));
        EXPECT_EQ(readPort(port.value(), 3).size(), 3u);
    }
    EXPECT_EQ(port.value().wait(-1, true, 100), TtyPort::TimedOut);
    std::uint8_t buffer[16];
    EXPECT_FALSE(port.value().read(buffer).hungUp);

    UniqueFd peer = openPeer(virtualPort->linkPath());
    ASSERT_TRUE(peer.valid());
    ASSERT_TRUE(writeAll(peer.get(), std::string("two")));
    const std::vector<std::uint8_t> got = readPort(port.value(), 3);
    EXPECT_EQ(std::string(got.begin(), got.end()), "two");
}

TEST_F(VirtualPortTest, TheLinkGoesWithThePort) {
    std::string link;
    {
        std::shared_ptr<VirtualPort> virtualPort = create();
        ASSERT_TRUE(virtualPort);
        link = virtualPort->linkPath();
        ASSERT_TRUE(fs::is_symlink(link));
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST_F(VirtualPortTest, AnOpenPortKeepsTheVirtualPortAlive) {
    std::shared_ptr<VirtualPort> virtualPort = create();
    ASSERT_TRUE(virtualPort);
    const std::string link = virtualPort->linkPath();
    Result<TtyPort> port = virtualPort->openPort();
    ASSERT_TRUE(port.ok());
    virtualPort.reset();
    EXPECT_TRUE(fs::is_symlink(link));
    UniqueFd peer = openPeer(link);
    ASSERT_TRUE(peer.valid());
    ASSERT_TRUE(writeAll(peer.get(), std::string("x")));
    EXPECT_EQ(readPort(port.value(), 1).size(), 1u);
    port = SysError{};  // closes the port, the last owner
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST_F(VirtualPortTest, AStaleLinkIsReplacedAndAForeignLinkIsLeftAlone) {
    fs::create_symlink("/dev/null", dir_ / "link");
    std::shared_ptr<VirtualPort> virtualPort = create();
    ASSERT_TRUE(virtualPort);
    EXPECT_EQ(fs::read_symlink(dir_ / "link").string(), virtualPort->slavePath());
    // Someone else took the path over: the destructor must not remove theirs.
    fs::remove(dir_ / "link");
    fs::create_symlink("/dev/null", dir_ / "link");
    virtualPort.reset();
    EXPECT_TRUE(fs::is_symlink(dir_ / "link"));
}

TEST_F(VirtualPortTest, ARegularFileInTheWayIsRefused) {
    { std::ofstream(dir_ / "link") << "keep me"; }
    Result<std::shared_ptr<VirtualPort>> port = VirtualPort::create(5, dir_ / "link");
    ASSERT_FALSE(port.ok());
    EXPECT_NE(port.error().describe().find(dir_ / "link"), std::string::npos);
    EXPECT_NE(port.error().describe().find("not a symbolic link"), std::string::npos);
    std::ifstream in(dir_ / "link");
    std::string content;
    std::getline(in, content);
    EXPECT_EQ(content, "keep me");
}

TEST_F(VirtualPortTest, TheDefaultLinkIsInTheRuntimeDirectory) {
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = old != nullptr ? old : "";
    ::setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
    Result<std::shared_ptr<VirtualPort>> port = VirtualPort::create(7);
    if (old != nullptr) {
        ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    } else {
        ::unsetenv("XDG_RUNTIME_DIR");
    }
    ASSERT_TRUE(port.ok()) << port.error().describe();
    EXPECT_EQ(port.value()->linkPath(), dir_ / "ostrel-COM7");
    EXPECT_TRUE(fs::is_symlink(dir_ / "ostrel-COM7"));
}

}  // namespace
}  // namespace ostrel::platform
