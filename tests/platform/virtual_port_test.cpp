#include "platform/virtual_port.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "pty_test_support.h"
#include "temp_dir.h"

namespace ostrel::platform {
namespace {

namespace fs = std::filesystem;
using test::readFd;
using test::readPort;
using test::writeAll;

class VirtualPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.valid());
        Result<std::shared_ptr<VirtualPort>> created = VirtualPort::create(5, dir_ / "link");
        ASSERT_TRUE(created.ok()) << created.error().describe();
        virtual_ = created.value();
    }
    // The other program: opens the link as a device.
    UniqueFd openPeer() {
        return UniqueFd(::open((dir_ / "link").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    }
    std::string readText(TtyPort& port, std::size_t count) {
        const std::vector<std::uint8_t> got = readPort(port, count);
        return std::string(got.begin(), got.end());
    }

    test::TempDir dir_;
    std::shared_ptr<VirtualPort> virtual_;
};

TEST_F(VirtualPortTest, BytesCrossExactlyBetweenThePeerAndThePortAndNeitherSideCooksOrEchoes) {
    EXPECT_EQ(virtual_->comNumber(), 5);
    EXPECT_EQ(fs::read_symlink(dir_ / "link").string(), virtual_->slavePath());
    Result<TtyPort> opened = virtual_->openPort();
    ASSERT_TRUE(opened.ok()) << opened.error().describe();
    TtyPort& port = opened.value();
    EXPECT_TRUE(port.isPseudoTerminal());
    EXPECT_EQ(port.path(), dir_ / "link");
    // Settings on a virtual port mean nothing and leave the peer's line alone.
    EXPECT_TRUE(port.configure(LineSettings{300, 7, 2, 2, 2}).empty());

    // Written before the peer opens: not cooked, not echoed back.
    ASSERT_TRUE(writeAll(port.fd(), std::string("AT\r")));
    UniqueFd peer = openPeer();
    ASSERT_TRUE(peer.valid());
    EXPECT_EQ(readFd(peer.get(), 3), (std::vector<std::uint8_t>{'A', 'T', '\r'}));
    EXPECT_EQ(port.wait(-1, true, 50), TtyPort::TimedOut);

    const std::vector<std::uint8_t> bytes = test::allByteValues(2);
    ASSERT_TRUE(writeAll(peer.get(), bytes));
    EXPECT_EQ(readPort(port, bytes.size()), bytes);
    ASSERT_TRUE(writeAll(port.fd(), bytes));
    EXPECT_EQ(readFd(peer.get(), bytes.size()), bytes);  // FF single: no marking on the peer's side
    termios t{};
    ASSERT_EQ(::tcgetattr(peer.get(), &t), 0);
    EXPECT_FALSE(t.c_iflag & (PARMRK | IXON));
}

TEST_F(VirtualPortTest, ASecondOpenIsBusyUntilTheFirstCloses) {
    {
        Result<TtyPort> first = virtual_->openPort();
        ASSERT_TRUE(first.ok());
        EXPECT_TRUE(virtual_->inUse());
        EXPECT_TRUE(virtual_->openPort().error().isBusy());
    }
    EXPECT_FALSE(virtual_->inUse());
    EXPECT_TRUE(virtual_->openPort().ok());
}

TEST_F(VirtualPortTest, ThePeerClosingAndReopeningIsNotAHangUp) {
    Result<TtyPort> port = virtual_->openPort();
    ASSERT_TRUE(port.ok());
    {
        UniqueFd peer = openPeer();
        ASSERT_TRUE(peer.valid());
        ASSERT_TRUE(writeAll(peer.get(), std::string("one")));
        EXPECT_EQ(readText(port.value(), 3), "one");
    }
    EXPECT_EQ(port.value().wait(-1, true, 100), TtyPort::TimedOut);
    std::uint8_t buffer[16];
    EXPECT_FALSE(port.value().read(buffer).hungUp);

    UniqueFd peer = openPeer();
    ASSERT_TRUE(peer.valid());
    ASSERT_TRUE(writeAll(peer.get(), std::string("two")));
    EXPECT_EQ(readText(port.value(), 3), "two");
}

TEST_F(VirtualPortTest, TheLinkGoesWithTheLastOwnerOfThePort) {
    Result<TtyPort> port = virtual_->openPort();
    ASSERT_TRUE(port.ok());
    virtual_.reset();
    EXPECT_TRUE(fs::is_symlink(dir_ / "link"));
    UniqueFd peer = openPeer();
    ASSERT_TRUE(peer.valid());
    ASSERT_TRUE(writeAll(peer.get(), std::string("x")));
    EXPECT_EQ(readText(port.value(), 1), "x");
    port = SysError{};  // closes the port, the last owner
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "link")));
}

TEST_F(VirtualPortTest, OnlyALeftoverLinkIsReplacedAndOnlyOurOwnLinkIsRemoved) {
    // A dangling link into /dev/pts is what a run that ended leaves behind.
    fs::create_symlink("/dev/pts/999999", dir_ / "leftover");
    Result<std::shared_ptr<VirtualPort>> other = VirtualPort::create(6, dir_ / "leftover");
    ASSERT_TRUE(other.ok()) << other.error().describe();
    EXPECT_EQ(fs::read_symlink(dir_ / "leftover").string(), other.value()->slavePath());
    // Someone else took the path over: the destructor must not remove theirs.
    fs::remove(dir_ / "leftover");
    fs::create_symlink("/dev/null", dir_ / "leftover");
    other = SysError{};
    EXPECT_EQ(fs::read_symlink(dir_ / "leftover").string(), "/dev/null");

    // A user's own link, one that dangles elsewhere, and a file stay as they are.
    EXPECT_EQ(VirtualPort::create(6, dir_ / "leftover").error().describe(),
              (dir_ / "leftover") + ": a symbolic link to /dev/null is in the way (not replaced)");
    EXPECT_EQ(fs::read_symlink(dir_ / "leftover").string(), "/dev/null");
    fs::create_symlink(dir_ / "notes.txt", dir_ / "dangling");
    EXPECT_FALSE(VirtualPort::create(6, dir_ / "dangling").ok());
    EXPECT_EQ(fs::read_symlink(dir_ / "dangling").string(), dir_ / "notes.txt");
    { std::ofstream(dir_ / "file") << "keep me"; }
    EXPECT_EQ(VirtualPort::create(6, dir_ / "file").error().describe(),
              (dir_ / "file") + ": a file that is not a symbolic link is in the way (not replaced)");
    std::string content;
    std::getline(std::ifstream(dir_ / "file"), content);
    EXPECT_EQ(content, "keep me");
}

TEST_F(VirtualPortTest, ASecondRunDoesNotTakeOverALiveLink) {
    const std::string slave = virtual_->slavePath();
    Result<std::shared_ptr<VirtualPort>> second = VirtualPort::create(9, dir_ / "link");
    ASSERT_FALSE(second.ok());
    EXPECT_EQ(second.error().describe(),
              (dir_ / "link") + ": a symbolic link to " + slave + " is in the way (not replaced)");
    EXPECT_EQ(fs::read_symlink(dir_ / "link").string(), slave);
    // Nothing but the link was ever made in the folder (no temporary names).
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator{}), 1);
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

TEST(RuntimeDirectoryTest, WithoutXdgRuntimeDirTheLinksGoToAPrivateFolderThatIsChecked) {
    test::TempDir tmp;
    ASSERT_TRUE(tmp.valid());
    const std::string own = tmp / ("ostrel-" + std::to_string(::geteuid()));
    EXPECT_EQ(runtimeDirectory("/run/user/1000", tmp.path()).value(), "/run/user/1000");
    Result<std::string> made = runtimeDirectory("", tmp.path());
    ASSERT_TRUE(made.ok()) << made.error().describe();
    EXPECT_EQ(made.value(), own);
    struct stat info {};
    ASSERT_EQ(::lstat(own.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_TRUE(runtimeDirectory(nullptr, tmp.path()).ok());  // ours already: used again

    // What another user could have put there first is refused, and left alone.
    ASSERT_EQ(::chmod(own.c_str(), 0777), 0);
    EXPECT_EQ(runtimeDirectory(nullptr, tmp.path()).error().describe(),
              own + ": not a private folder (mode 0777, open to other users); not used");
    ASSERT_EQ(::chmod(own.c_str(), 0700), 0);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(own.c_str(), 65534, 65534), 0);
        EXPECT_EQ(runtimeDirectory(nullptr, tmp.path()).error().describe(),
                  own + ": not a private folder (owned by uid 65534); not used");
    }
    fs::remove(own);
    ASSERT_EQ(::mkdir((tmp / "elsewhere").c_str(), 0700), 0);
    fs::create_symlink(tmp / "elsewhere", own);
    EXPECT_EQ(runtimeDirectory(nullptr, tmp.path()).error().describe(),
              own + ": not a private folder (a symbolic link); not used");
    EXPECT_TRUE(fs::is_symlink(own));
}

}  // namespace
}  // namespace ostrel::platform
