// TtyPort over real pseudo-terminals: the test holds the master, the port
// under test opens the slave by its path as it would open a device.

#include "platform/tty_port.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/event.h"
#include "pty_test_support.h"
#include "termios2_probe.h"

namespace ostrel::platform {
namespace {

using test::allByteValues;
using test::openBareMaster;
using test::readFd;
using test::readPort;
using test::writeAll;

class TtyPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        pty_ = openBareMaster();
        ASSERT_TRUE(pty_.master.valid()) << "cannot open a pseudo-terminal: " << std::strerror(errno);
    }

    TtyPort openSlave() {
        Result<TtyPort> port = TtyPort::open(pty_.slavePath);
        if (!port) ADD_FAILURE() << port.error().describe();
        return std::move(port).value();
    }

    test::BareMaster pty_;
};

TEST_F(TtyPortTest, OpensASlaveAsAPseudoTerminalWithMarkingOn) {
    TtyPort port = openSlave();
    EXPECT_TRUE(port.isPseudoTerminal());
    EXPECT_EQ(port.path(), pty_.slavePath);
    termios t{};
    ASSERT_EQ(::tcgetattr(port.fd(), &t), 0);
    EXPECT_TRUE(t.c_iflag & PARMRK);
    EXPECT_FALSE(t.c_iflag & (ISTRIP | IXON | IXOFF | ICRNL));
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(t.c_cflag & HUPCL);
    EXPECT_EQ(t.c_cc[VMIN], 1);
}

TEST_F(TtyPortTest, EveryByteValueCrossesExactlyBothWays) {
    TtyPort port = openSlave();
    EXPECT_TRUE(port.configure(LineSettings{115200, 8, 0, 0, 0}).empty());

    // 0xFF arrives doubled under PARMRK and comes out single; 0x11 and 0x13
    // are data with flow control off.
    const std::vector<std::uint8_t> bytes = allByteValues(4);
    ASSERT_TRUE(writeAll(pty_.master.get(), bytes));
    bool lineError = false;
    EXPECT_EQ(readPort(port, bytes.size(), &lineError), bytes);
    EXPECT_FALSE(lineError);

    ASSERT_TRUE(writeAll(port.fd(), bytes));
    EXPECT_EQ(readFd(pty_.master.get(), bytes.size()), bytes);
}

TEST_F(TtyPortTest, AnFFSplitAcrossReadsIsStillUndone) {
    TtyPort port = openSlave();
    const std::vector<std::uint8_t> bytes = {0x41, 0xFF, 0x42, 0xFF, 0xFF, 0x43};
    ASSERT_TRUE(writeAll(pty_.master.get(), bytes));
    // One raw byte per read: every escape is cut in two.
    std::vector<std::uint8_t> got;
    std::uint8_t one[1];
    ASSERT_TRUE(test::waitUntil([&] {
        const ReadOutcome outcome = port.read(one);
        got.insert(got.end(), one, one + outcome.count);
        return got.size() >= bytes.size() || outcome.hungUp;
    }));
    EXPECT_EQ(got, bytes);
}

TEST_F(TtyPortTest, SecondOpenOfTheSamePathIsBusy) {
    TtyPort first = openSlave();
    Result<TtyPort> second = TtyPort::open(pty_.slavePath);
    ASSERT_FALSE(second.ok());
    EXPECT_TRUE(second.error().isBusy()) << second.error().describe();
    EXPECT_EQ(second.error().describe(), pty_.slavePath + ": port is busy (in use by another program)");
}

TEST_F(TtyPortTest, ClosingReleasesTheLockAndTheExclusiveFlag) {
    {
        TtyPort first = openSlave();
        int exclusive = 0;
        ASSERT_EQ(::ioctl(first.fd(), TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 1);
    }
    // The flag outlives the fd that set it unless cleared before the close.
    UniqueFd plain(::open(pty_.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    ASSERT_TRUE(plain.valid()) << std::strerror(errno);
    int exclusive = -1;
    ASSERT_EQ(::ioctl(plain.get(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    EXPECT_EQ(::flock(plain.get(), LOCK_EX | LOCK_NB), 0);
    plain.reset();
    EXPECT_TRUE(TtyPort::open(pty_.slavePath).ok());
}

TEST_F(TtyPortTest, MoveAssignmentClosesThePortItReplaces) {
    TtyPort port = openSlave();
    test::BareMaster other = openBareMaster();
    ASSERT_TRUE(other.master.valid());
    Result<TtyPort> second = TtyPort::open(other.slavePath);
    ASSERT_TRUE(second.ok());
    port = std::move(second).value();
    EXPECT_EQ(port.path(), other.slavePath);
    EXPECT_TRUE(TtyPort::open(pty_.slavePath).ok());  // the first slave is free again
    EXPECT_FALSE(TtyPort::open(other.slavePath).ok());
}

TEST(TtyPortOpen, ARegularFileIsNotASerialDevice) {
    char path[] = "/tmp/ostrel-not-a-tty-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    Result<TtyPort> port = TtyPort::open(path);
    ::unlink(path);
    ASSERT_FALSE(port.ok());
    EXPECT_EQ(port.error().code, ENOTTY);
    EXPECT_FALSE(port.error().isBusy());
    EXPECT_EQ(port.error().describe(), std::string(path) + ": not a serial device");
}

TEST(TtyPortOpen, AMissingPathSaysNoSuchDevice) {
    Result<TtyPort> port = TtyPort::open("/dev/ostrel-no-such-port");
    ASSERT_FALSE(port.ok());
    EXPECT_EQ(port.error().describe(), "/dev/ostrel-no-such-port: no such device");
}

TEST_F(TtyPortTest, ATtyLeftCookedBehavesRaw) {
    {
        // Precondition: a slave nobody configured is cooked and echoes.
        UniqueFd plain(::open(pty_.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
        ASSERT_TRUE(plain.valid());
        termios t{};
        ASSERT_EQ(::tcgetattr(plain.get(), &t), 0);
        t.c_iflag |= IUCLC | IXON | ICRNL;
        ASSERT_EQ(::tcsetattr(plain.get(), TCSANOW, &t), 0);
        ASSERT_TRUE((t.c_lflag & ICANON) && (t.c_lflag & ECHO));
    }
    TtyPort port = openSlave();
    // No line buffering, no CR translation, no signals, no case change, no echo.
    const std::string text = "ab\rC\x03\x13\x04";
    ASSERT_TRUE(writeAll(pty_.master.get(), text));
    const std::vector<std::uint8_t> got = readPort(port, text.size());
    EXPECT_EQ(std::string(got.begin(), got.end()), text);
    pollfd p{pty_.master.get(), POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 100), 0) << "the port echoed: " << test::pendingText(pty_.master.get());
}

TEST_F(TtyPortTest, InputWaitingBeforeTheOpenIsDiscarded) {
    {
        UniqueFd plain(::open(pty_.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
        ASSERT_TRUE(plain.valid());
        ASSERT_TRUE(writeAll(pty_.master.get(), std::string("stale")));
        // The cooked slave holds "stale" in its line buffer once it arrived.
        ASSERT_TRUE(test::waitUntil([&] {
            int pending = 0;
            return ::ioctl(pty_.master.get(), FIONREAD, &pending) == 0 && pending >= 5;  // its echo
        }));
        TtyPort port = openSlave();
        ASSERT_TRUE(writeAll(pty_.master.get(), std::string("new")));
        const std::vector<std::uint8_t> got = readPort(port, 3);
        EXPECT_EQ(std::string(got.begin(), got.end()), "new");
    }
}

TEST_F(TtyPortTest, ProbeLeavesTheDeviceAsItWasAndSeesAHolder) {
    // A slave that someone left cooked with input waiting must stay so.
    UniqueFd plain(::open(pty_.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    ASSERT_TRUE(plain.valid());
    termios before{};
    ASSERT_EQ(::tcgetattr(plain.get(), &before), 0);
    ASSERT_TRUE(writeAll(pty_.master.get(), std::string("kept\n")));
    ASSERT_TRUE(test::waitUntil([&] {
        int pending = 0;
        return ::ioctl(plain.get(), FIONREAD, &pending) == 0 && pending >= 5;
    }));

    EXPECT_FALSE(TtyPort::probe(pty_.slavePath).has_value());

    termios after{};
    ASSERT_EQ(::tcgetattr(plain.get(), &after), 0);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    int pending = 0;
    ASSERT_EQ(::ioctl(plain.get(), FIONREAD, &pending), 0);
    EXPECT_EQ(pending, 5) << "the probe flushed input";

    // While a port holds the device, the probe reports it busy; after, free.
    {
        TtyPort holder = openSlave();
        const std::optional<SysError> busy = TtyPort::probe(pty_.slavePath);
        ASSERT_TRUE(busy.has_value());
        EXPECT_TRUE(busy->isBusy()) << busy->describe();
    }
    EXPECT_FALSE(TtyPort::probe(pty_.slavePath).has_value());
    EXPECT_TRUE(TtyPort::probe("/dev/null").has_value());
}

TEST_F(TtyPortTest, ConfigureOnAPseudoTerminalReportsNothing) {
    TtyPort port = openSlave();
    // Ptys drop 7 bits and parity; that is not reported.
    EXPECT_TRUE(port.configure(LineSettings{9600, 7, 3, 1, 1}).empty());
    EXPECT_TRUE(port.configure(LineSettings{12345, 8, 2, 2, 2}).empty());
    EXPECT_FALSE(port.takeCountedLineErrors());
}

TEST_F(TtyPortTest, ConfigureSetsAnyRateAndTheFlowFlags) {
    TtyPort port = openSlave();
    port.configure(LineSettings{12345, 8, 0, 2, 2});
    termios t{};
    ASSERT_EQ(::tcgetattr(port.fd(), &t), 0);
    EXPECT_TRUE(t.c_iflag & IXON);
    EXPECT_TRUE(t.c_iflag & IXOFF);
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_FALSE(t.c_cflag & CRTSCTS);
    EXPECT_TRUE(t.c_iflag & PARMRK);
    const std::optional<test::KernelRates> rates = test::kernelRates(port.fd());
    ASSERT_TRUE(rates.has_value());
    EXPECT_EQ(rates->output, 12345u);
    EXPECT_EQ(rates->input, 12345u);

    port.configure(LineSettings{115200, 8, 0, 0, 1});
    ASSERT_EQ(::tcgetattr(port.fd(), &t), 0);
    EXPECT_EQ(test::kernelRates(port.fd()).value_or(test::KernelRates{}).output, 115200u);
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF));
    EXPECT_FALSE(t.c_cflag & CSTOPB);
}

TEST_F(TtyPortTest, HangUpIsReportedOnceAndTheLoopStops) {
    TtyPort port = openSlave();
    WakeFd wake;
    ASSERT_TRUE(writeAll(pty_.master.get(), std::string("bye")));
    ASSERT_EQ(readPort(port, 3).size(), 3u);
    pty_.master.reset();

    // The receive loop as the engine runs it: after HangUp it reads what is
    // pending and stops. Level-triggered POLLHUP would spin a loop that waits again.
    int iterations = 0;
    bool hungUp = false;
    std::uint8_t buffer[256];
    while (iterations < 1000 && !hungUp) {
        ++iterations;
        const unsigned flags = port.wait(wake.fd(), true, 1000);
        if (flags & (TtyPort::Readable | TtyPort::HangUp)) {
            const ReadOutcome outcome = port.read(buffer);
            hungUp = outcome.hungUp;
        }
        if (flags & TtyPort::HangUp) {
            EXPECT_TRUE(hungUp);
            break;
        }
    }
    EXPECT_TRUE(hungUp);
    EXPECT_LE(iterations, 2);
}

TEST_F(TtyPortTest, HangUpIsSeenWhileNotReading) {
    TtyPort port = openSlave();
    pty_.master.reset();
    const unsigned flags = port.wait(-1, false, 1000);
    EXPECT_TRUE(flags & TtyPort::HangUp);
    EXPECT_FALSE(flags & TtyPort::TimedOut);
}

TEST_F(TtyPortTest, WakeFdEndsAWaitPromptlyAndStaysSetUntilDrained) {
    TtyPort port = openSlave();
    WakeFd wake;
    EXPECT_EQ(port.wait(wake.fd(), true, 0), TtyPort::TimedOut);

    const std::int64_t start = steadyMillis();
    std::jthread waker([&] { wake.signal(); });
    const unsigned flags = port.wait(wake.fd(), true, 5000);
    EXPECT_TRUE(flags & TtyPort::Woken);
    EXPECT_LT(steadyMillis() - start, 1000);
    waker.join();

    EXPECT_TRUE(port.wait(wake.fd(), true, 0) & TtyPort::Woken);
    wake.drain();
    EXPECT_EQ(port.wait(wake.fd(), true, 0), TtyPort::TimedOut);
}

TEST_F(TtyPortTest, ReadableOnlyWhenAskedFor) {
    TtyPort port = openSlave();
    ASSERT_TRUE(writeAll(pty_.master.get(), std::string("x")));
    ASSERT_TRUE(test::waitUntil([&] { return (port.wait(-1, true, 10) & TtyPort::Readable) != 0; }));
    EXPECT_EQ(port.wait(-1, false, 0), TtyPort::TimedOut);
}

TEST_F(TtyPortTest, ReadWithNothingPendingGivesZeroAndNoHangUp) {
    TtyPort port = openSlave();
    std::uint8_t buffer[16];
    const ReadOutcome outcome = port.read(buffer);
    EXPECT_EQ(outcome.count, 0u);
    EXPECT_FALSE(outcome.hungUp);
}

TEST_F(TtyPortTest, PurgeDiscardsPendingInput) {
    TtyPort port = openSlave();
    ASSERT_TRUE(writeAll(pty_.master.get(), std::string("old")));
    ASSERT_TRUE(test::waitUntil([&] { return (port.wait(-1, true, 10) & TtyPort::Readable) != 0; }));
    port.purge();
    ASSERT_TRUE(writeAll(pty_.master.get(), std::string("new")));
    const std::vector<std::uint8_t> got = readPort(port, 3);
    EXPECT_EQ(std::string(got.begin(), got.end()), "new");
}

}  // namespace
}  // namespace ostrel::platform
