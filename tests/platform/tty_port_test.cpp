// TtyPort over real pseudo-terminals: the test holds the master, the port
// under test opens the slave by its path as it would open a device.

#include "platform/tty_port.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cstring>

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

std::string readText(TtyPort& port, std::size_t count) {
    const std::vector<std::uint8_t> got = readPort(port, count);
    return std::string(got.begin(), got.end());
}

int pendingInput(int fd) {
    int pending = -1;
    return ::ioctl(fd, FIONREAD, &pending) == 0 ? pending : -1;
}

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
    // The slave as another program opens it: no lock, settings untouched.
    UniqueFd openPlain() {
        return UniqueFd(::open(pty_.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    }

    test::BareMaster pty_;
};

TEST_F(TtyPortTest, EveryByteValueCrossesExactlyBothWays) {
    TtyPort port = openSlave();
    EXPECT_TRUE(port.isPseudoTerminal());
    EXPECT_EQ(port.path(), pty_.slavePath);
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

TEST_F(TtyPortTest, ASecondOpenIsBusyUntilTheFirstIsClosedOrReplaced) {
    {
        TtyPort first = openSlave();
        Result<TtyPort> second = TtyPort::open(pty_.slavePath);
        ASSERT_FALSE(second.ok());
        EXPECT_EQ(second.error().describe(), pty_.slavePath + ": port is busy (in use by another program)");
    }
    // Free again: the close released the lock and cleared the exclusive flag,
    // which outlives the fd that set it.
    EXPECT_TRUE(TtyPort::open(pty_.slavePath).ok());

    // Move assignment closes the port it replaces.
    TtyPort port = openSlave();
    test::BareMaster other = openBareMaster();
    ASSERT_TRUE(other.master.valid());
    Result<TtyPort> second = TtyPort::open(other.slavePath);
    ASSERT_TRUE(second.ok());
    port = std::move(second).value();
    EXPECT_EQ(port.path(), other.slavePath);
    EXPECT_TRUE(TtyPort::open(pty_.slavePath).ok());
    EXPECT_FALSE(TtyPort::open(other.slavePath).ok());
}

TEST(TtyPortOpen, ARegularFileOrAMissingPathIsRefused) {
    char path[] = "/tmp/ostrel-not-a-tty-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    Result<TtyPort> port = TtyPort::open(path);
    ::unlink(path);
    ASSERT_FALSE(port.ok());
    EXPECT_EQ(port.error().describe(), std::string(path) + ": not a serial device");
    EXPECT_EQ(TtyPort::open("/dev/ostrel-no-such-port").error().describe(),
              "/dev/ostrel-no-such-port: no such device");
}

TEST_F(TtyPortTest, ACookedTtyOpensRawWithTheInputThatWaitedDiscardedAndIsLeftAsItWasByProbeAndClose) {
    // Someone left the slave cooked, echoing, translating, with input waiting.
    UniqueFd plain = openPlain();
    ASSERT_TRUE(plain.valid());
    termios before{};
    ASSERT_EQ(::tcgetattr(plain.get(), &before), 0);
    before.c_iflag |= IUCLC | IXON | ICRNL;
    ASSERT_EQ(::tcsetattr(plain.get(), TCSANOW, &before), 0);
    ASSERT_TRUE((before.c_lflag & ICANON) && (before.c_lflag & ECHO));
    ASSERT_TRUE(writeAll(pty_.master.get(), std::string("kept\n")));
    ASSERT_TRUE(test::waitUntil([&] { return pendingInput(plain.get()) >= 5; }));

    EXPECT_TRUE(TtyPort::probe(pty_.slavePath).ok());
    termios after{};
    ASSERT_EQ(::tcgetattr(plain.get(), &after), 0);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(pendingInput(plain.get()), 5) << "the probe flushed input";

    ASSERT_TRUE(test::waitUntil([&] { return pendingInput(pty_.master.get()) >= 5; }));
    test::pendingText(pty_.master.get());  // the cooked tty's echo
    const std::optional<test::KernelRates> rates = test::kernelRates(plain.get());
    ASSERT_TRUE(rates.has_value());
    {
        TtyPort port = openSlave();
        // The waiting input is gone; no line buffering, CR translation, signals, case change or echo.
        const std::string text = "ab\rC\x03\x13\x04";
        ASSERT_TRUE(writeAll(pty_.master.get(), text));
        EXPECT_EQ(readText(port, text.size()), text);
        pollfd p{pty_.master.get(), POLLIN, 0};
        EXPECT_EQ(::poll(&p, 1, 100), 0) << "the port echoed: " << test::pendingText(pty_.master.get());
        port.configure(LineSettings{12345, 7, 2, 2, 2});
    }
    // Closed, the tty has its own settings back, the rate included.
    ASSERT_EQ(::tcgetattr(plain.get(), &after), 0);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(test::kernelRates(plain.get())->output, rates->output);
    EXPECT_EQ(test::kernelRates(plain.get())->input, rates->input);
}

TEST_F(TtyPortTest, PurgeDiscardsPendingInput) {
    TtyPort port = openSlave();
    ASSERT_TRUE(writeAll(pty_.master.get(), std::string("old")));
    ASSERT_TRUE(test::waitUntil([&] { return (port.wait(-1, true, 10) & TtyPort::Readable) != 0; }));
    port.purge();
    ASSERT_TRUE(writeAll(pty_.master.get(), std::string("new")));
    EXPECT_EQ(readText(port, 3), "new");
}

// On a pseudo-terminal what was written has reached the other program (it
// waits in the master's input), so a purge must not take it back: the kernel
// flushes the peer's pending input on an output flush of the slave.
TEST_F(TtyPortTest, PurgeOnAPseudoTerminalKeepsWhatWasWrittenForTheOtherEnd) {
    TtyPort port = openSlave();
    ASSERT_TRUE(port.isPseudoTerminal());
    std::vector<std::uint8_t> written;
    std::uint8_t value = 0;
    // Fill what the master holds unread, as a far program that lags does.
    for (;;) {
        std::vector<std::uint8_t> block(1024);
        for (std::uint8_t& byte : block) byte = value++;
        const ssize_t n = ::write(port.fd(), block.data(), block.size());
        if (n <= 0) break;
        written.insert(written.end(), block.begin(), block.begin() + n);
        if (written.size() > (1u << 20)) break;
    }
    ASSERT_GT(written.size(), 4096u);
    port.purge();
    EXPECT_EQ(readFd(pty_.master.get(), written.size()), written);
}

TEST_F(TtyPortTest, ConfigureSetsAnyRateAndTheFlowFlagsAndReportsNothingOnAPseudoTerminal) {
    TtyPort port = openSlave();
    // Ptys drop 7 bits and parity; that is not reported.
    EXPECT_TRUE(port.configure(LineSettings{9600, 7, 3, 1, 1}).empty());
    EXPECT_TRUE(port.configure(LineSettings{12345, 8, 2, 2, 2}).empty());
    EXPECT_FALSE(port.takeCountedLineErrors());
    termios t{};
    ASSERT_EQ(::tcgetattr(port.fd(), &t), 0);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), unsigned(IXON | IXOFF));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_FALSE(t.c_cflag & CRTSCTS);
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
    // Seen even by a wait that does not ask for input.
    const unsigned notReading = port.wait(-1, false, 1000);
    EXPECT_TRUE(notReading & TtyPort::HangUp);
    EXPECT_FALSE(notReading & TtyPort::TimedOut);

    // The receive loop as the engine runs it: after HangUp it reads what is
    // pending and stops. Level-triggered POLLHUP would spin a loop that waits again.
    int iterations = 0;
    bool hungUp = false;
    std::uint8_t buffer[256];
    while (!hungUp && iterations++ < 1000) {
        const unsigned flags = port.wait(wake.fd(), true, 1000);
        if (flags & (TtyPort::Readable | TtyPort::HangUp)) hungUp = port.read(buffer).hungUp;
        if (flags & TtyPort::HangUp) break;
    }
    EXPECT_TRUE(hungUp);
    EXPECT_LE(iterations, 2);
}

TEST_F(TtyPortTest, WaitEndsPromptlyOnTheWakeFdAndReportsInputOnlyWhenAskedFor) {
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

    ASSERT_TRUE(writeAll(pty_.master.get(), std::string("x")));
    ASSERT_TRUE(test::waitUntil([&] { return (port.wait(-1, true, 10) & TtyPort::Readable) != 0; }));
    EXPECT_EQ(port.wait(-1, false, 0), TtyPort::TimedOut);
}

}  // namespace
}  // namespace ostrel::platform
