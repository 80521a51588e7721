// Who keeps a port busy, over real pseudo-terminals and real processes: a
// holder named from /proc, an exclusive flag left by a killed process, and
// UUCP lock files with live and dead pids.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "child_process.h"
#include "platform/tty_port.h"
#include "platform/uucp_lock.h"
#include "pty_test_support.h"
#include "temp_dir.h"

namespace ostrel::platform {
namespace {

namespace fs = std::filesystem;
using test::ChildProcess;

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

class PortBusyTest : public ::testing::Test {
protected:
    void SetUp() override {
        pty_ = test::openBareMaster();
        ASSERT_TRUE(pty_.master.valid()) << "cannot open a pseudo-terminal: " << std::strerror(errno);
        ASSERT_TRUE(locks_.valid());
    }
    // The slave as another program opens it.
    int openPlain() const { return ::open(pty_.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK); }
    // The same from a forked child, which first lets go of the master it
    // inherited (a process holding both ends is the pair's owner).
    int openInChild() const {
        ::close(pty_.master.get());
        return ::open(pty_.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    }
    bool exclusiveFlag() const {
        const UniqueFd fd(openPlain());
        int exclusive = 0;
        return fd.valid() && ::ioctl(fd.get(), TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
    }
    // A process that holds both ends of the pair, as socat does: the far end
    // of the line, which keeps the slave open without using it as a port.
    std::unique_ptr<ChildProcess> startPairOwner() {
        return std::make_unique<ChildProcess>("pairowner", [&] { return openPlain() >= 0; });
    }
    std::string lockPath() const { return locks_ / uucpLockName(pty_.slavePath); }

    test::BareMaster pty_;
    test::TempDir locks_;
};

TEST_F(PortBusyTest, APortHeldByAnotherProgramNamesItsHolder) {
    const std::unique_ptr<ChildProcess> pairOwner = startPairOwner();
    ASSERT_TRUE(pairOwner->ready());
    // With a flock, as programs that lock do.
    {
        ChildProcess holder("holder", [&] {
            const int fd = openInChild();
            return fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        });
        ASSERT_TRUE(holder.ready());
        const Result<TtyPort> port = TtyPort::open(pty_.slavePath, locks_.path());
        ASSERT_FALSE(port.ok());
        EXPECT_TRUE(port.error().isBusy());
        EXPECT_EQ(port.error().describe(), pty_.slavePath + ": port is busy (held by holder, pid " +
                                               std::to_string(holder.pid()) + ")");
        EXPECT_FALSE(TtyPort::probe(pty_.slavePath, locks_.path()).ok());
    }
    // With the exclusive flag alone, which root gets past: still busy.
    ChildProcess holder("exclusive", [&] {
        const int fd = openInChild();
        return fd >= 0 && ::ioctl(fd, TIOCEXCL) == 0;
    });
    ASSERT_TRUE(holder.ready());
    const Result<TtyPort> port = TtyPort::open(pty_.slavePath, locks_.path());
    ASSERT_FALSE(port.ok());
    EXPECT_EQ(port.error().describe(), pty_.slavePath + ": port is busy (held by exclusive, pid " +
                                           std::to_string(holder.pid()) + ")");
    EXPECT_TRUE(exclusiveFlag());  // left as the holder set it
}

TEST_F(PortBusyTest, AnExclusiveFlagLeftByAKilledProcessIsClearedAndThePortOpens) {
    if (::geteuid() != 0) GTEST_SKIP() << "clearing another process's exclusive flag needs root";
    const std::unique_ptr<ChildProcess> pairOwner = startPairOwner();
    ASSERT_TRUE(pairOwner->ready());
    ChildProcess holder("crashed", [&] {
        const int fd = openInChild();
        return fd >= 0 && ::ioctl(fd, TIOCEXCL) == 0;
    });
    ASSERT_TRUE(holder.ready());
    holder.kill();
    ASSERT_TRUE(exclusiveFlag());  // the flag outlives the process that set it

    // Another user cannot open it at all; the reason says why.
    ASSERT_EQ(::chmod(pty_.slavePath.c_str(), 0666), 0);
    int words[2];
    ASSERT_EQ(::pipe(words), 0);
    const pid_t other = ::fork();
    if (other == 0) {
        ::close(words[0]);
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(1);
        const Result<TtyPort> port = TtyPort::open(pty_.slavePath, "/nonexistent-lock-folder");
        const std::string text = port.ok() ? "opened" : port.error().describe();
        ::_exit(::write(words[1], text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : 1);
    }
    ::close(words[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(words[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    ::close(words[0]);
    int status = 0;
    ::waitpid(other, &status, 0);
    EXPECT_EQ(text, pty_.slavePath +
                        ": port is busy (exclusive flag left by a process that has ended or that this user "
                        "cannot see)");

    // Root sees every process, finds no holder and clears the flag.
    EXPECT_TRUE(TtyPort::probe(pty_.slavePath, locks_.path()).ok());
    {
        const Result<TtyPort> port = TtyPort::open(pty_.slavePath, locks_.path());
        ASSERT_TRUE(port.ok()) << port.error().describe();
        EXPECT_TRUE(exclusiveFlag());  // ours now, root gets past it to look
    }
    EXPECT_FALSE(exclusiveFlag());  // and cleared at close
}

TEST_F(PortBusyTest, AUucpLockOfALiveProcessMakesThePortBusyAndOneOfADeadProcessIsTakenOver) {
    EXPECT_EQ(uucpLockName("/dev/ostrel-gone/ttyUSB0"), "LCK..ostrel-gone_ttyUSB0");
    EXPECT_EQ(uucpLockName("/tmp/ostrel-gone/ttyUSB0"), "LCK..ttyUSB0");
    EXPECT_EQ(uucpLockName(pty_.slavePath), "LCK..pts_" + fs::path(pty_.slavePath).filename().string());
    EXPECT_EQ(uucpLockText(1234), "      1234\n");

    ChildProcess live("locker", [] { return true; });
    ASSERT_TRUE(live.ready());
    writeFile(lockPath(), uucpLockText(live.pid()));
    Result<TtyPort> port = TtyPort::open(pty_.slavePath, locks_.path());
    ASSERT_FALSE(port.ok());
    EXPECT_EQ(port.error().describe(),
              pty_.slavePath + ": port is busy (held by locker, pid " + std::to_string(live.pid()) + ")");
    EXPECT_EQ(TtyPort::probe(pty_.slavePath, locks_.path()).error().describe(), port.error().describe());
    EXPECT_EQ(fileText(lockPath()), uucpLockText(live.pid()));
    EXPECT_FALSE(exclusiveFlag());  // the refused open left nothing behind

    // A lock whose owner ended is stale: taken over, ours while open, gone at close.
    const int dead = test::deadPid();
    writeFile(lockPath(), uucpLockText(dead));
    EXPECT_TRUE(TtyPort::probe(pty_.slavePath, locks_.path()).ok());
    EXPECT_EQ(fileText(lockPath()), uucpLockText(dead));  // a probe changes nothing
    port = TtyPort::open(pty_.slavePath, locks_.path());
    ASSERT_TRUE(port.ok()) << port.error().describe();
    EXPECT_EQ(fileText(lockPath()), uucpLockText(::getpid()));
    struct stat info {};
    ASSERT_EQ(::stat(lockPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
    port = SysError{};
    EXPECT_FALSE(fs::exists(lockPath()));
    EXPECT_EQ(std::distance(fs::directory_iterator(locks_.path()), fs::directory_iterator{}), 0);

    // A lock that someone else put in place of ours meanwhile is theirs.
    port = TtyPort::open(pty_.slavePath, locks_.path());
    ASSERT_TRUE(port.ok());
    writeFile(lockPath(), uucpLockText(live.pid()));
    port = SysError{};
    EXPECT_EQ(fileText(lockPath()), uucpLockText(live.pid()));
}

TEST_F(PortBusyTest, WithoutAUsableLockFolderThePortOpensWithoutALockFile) {
    const Result<TtyPort> port = TtyPort::open(pty_.slavePath, locks_ / "missing");
    ASSERT_TRUE(port.ok()) << port.error().describe();
    EXPECT_FALSE(fs::exists(locks_ / "missing"));
}

}  // namespace
}  // namespace ostrel::platform
