// The seam itself: the product's posix_io.cpp, linked as in the program,
// meets the faults a test schedules. Each case would fail if the calls did
// not pass through the seam (the real system never gives these results on a
// pipe or a pseudo-terminal).

#include "support/fault_seam.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/posix_io.h"
#include "platform/pty_pair.h"
#include "platform/tty_port.h"
#include "platform/unique_fd.h"

namespace ostrel::faults {
namespace {

using platform::UniqueFd;
namespace io = platform::io;

struct Pipe {
    UniqueFd in, out;
    Pipe() {
        int fds[2];
        EXPECT_EQ(::pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
        in.reset(fds[0]);
        out.reset(fds[1]);
    }
};

class FaultSeam : public ::testing::Test {
protected:
    void TearDown() override { clearAll(); }
};

std::span<const std::uint8_t> bytes(const char* text) {
    return {reinterpret_cast<const std::uint8_t*>(text), std::strlen(text)};
}

TEST_F(FaultSeam, WritesFailWithTheScheduledErrorsThenPassAgain) {
    Pipe pipe;
    failNext(onFd(pipe.out.get()), Call::Write, 1, EIO);
    failNext(onFd(pipe.out.get()), Call::Write, 1, ENOSPC);
    const auto first = io::writeSome(pipe.out.get(), bytes("abc"));
    ASSERT_FALSE(first.ok());
    EXPECT_EQ(first.error().code, EIO);
    std::size_t written = 0;
    const auto all = io::writeAll(pipe.out.get(), bytes("abc"), {}, &written);
    ASSERT_FALSE(all.ok());
    EXPECT_EQ(all.error().code, ENOSPC);
    EXPECT_EQ(written, 0u);
    const auto third = io::writeSome(pipe.out.get(), bytes("abc"));
    ASSERT_TRUE(third.ok());
    EXPECT_EQ(third.value(), 3u);
    EXPECT_EQ(taken(onFd(pipe.out.get())), 2u);
}

TEST_F(FaultSeam, InterruptedCallsAreRetriedWhereTheProductRetriesAndHandedBackWhereItDoesNot) {
    Pipe pipe;
    failNext(onFd(pipe.out.get()), Call::Write, 3, EINTR);
    const auto retried = io::writeSome(pipe.out.get(), bytes("xy"));
    ASSERT_TRUE(retried.ok());
    EXPECT_EQ(retried.value(), 2u);
    EXPECT_EQ(taken(onFd(pipe.out.get())), 3u);

    failNext(onFd(pipe.out.get()), Call::Write, 1, EINTR);
    const auto once = io::writeSomeOnce(pipe.out.get(), bytes("z"));
    ASSERT_FALSE(once.ok());
    EXPECT_EQ(once.error().code, EINTR);

    failNext(onFd(pipe.in.get()), Call::Poll, 1, EINTR);
    pollfd p{pipe.in.get(), POLLIN, 0};
    const auto polled = io::pollOnce(&p, 1, 0);
    ASSERT_FALSE(polled.ok());
    EXPECT_EQ(polled.error().code, EINTR);
}

TEST_F(FaultSeam, ShortWritesAreCarriedOnByWriteAll) {
    Pipe pipe;
    shortenWrites(onFd(pipe.out.get()), 4, 1);
    std::size_t written = 0;
    ASSERT_TRUE(io::writeAll(pipe.out.get(), bytes("hello"), {}, &written).ok());
    EXPECT_EQ(written, 5u);
    EXPECT_EQ(taken(onFd(pipe.out.get())), 4u);
    std::array<std::uint8_t, 16> back{};
    const auto n = io::readSome(pipe.in.get(), back);
    ASSERT_TRUE(n.ok());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(back.data()), n.value()), "hello");
}

TEST_F(FaultSeam, APseudoTerminalPortReadsMarksAndCountersAsAUartDelivers) {
    auto pair = platform::openPtyPair();
    ASSERT_TRUE(pair.ok());
    const Target line = onFile(pair.value().slavePath);
    emulateCounters(line);
    auto port = platform::TtyPort::open(pair.value().slavePath, "");
    ASSERT_TRUE(port.ok()) << port.error().describe();
    EXPECT_FALSE(port.value().takeCountedLineErrors());

    std::vector<std::uint8_t> raw = escapeData({'a', 0xFF});
    const auto mark = markedByte('b');
    raw.insert(raw.end(), mark.begin(), mark.end());
    deliver(line, raw);
    // The wait sees the fed bytes as readable, as poll() does on a UART.
    EXPECT_TRUE(port.value().wait(-1, true, 5000) & platform::TtyPort::Readable);
    std::array<std::uint8_t, 16> out{};
    const platform::ReadOutcome got = port.value().read(out);
    EXPECT_TRUE(got.lineError);
    ASSERT_EQ(got.count, 3u);
    EXPECT_EQ(out[0], 'a');
    EXPECT_EQ(out[1], 0xFF);
    EXPECT_EQ(out[2], 'b');

    addCounts(line, LineCounts{.overrun = 1});
    EXPECT_TRUE(port.value().takeCountedLineErrors());
    EXPECT_FALSE(port.value().takeCountedLineErrors());
}

TEST_F(FaultSeam, IoctlFaultsCanBeLimitedToOneRequest) {
    auto pair = platform::openPtyPair();
    ASSERT_TRUE(pair.ok());
    const int fd = pair.value().slave.get();
    failNext(onFd(fd), Call::Ioctl, 1, ENXIO, TIOCEXCL);
    int queued = 0;
    EXPECT_TRUE(io::ioctl(fd, TIOCOUTQ, &queued).ok());
    const auto exclusive = io::ioctl(fd, TIOCEXCL);
    ASSERT_FALSE(exclusive.ok());
    EXPECT_EQ(exclusive.error().code, ENXIO);
    EXPECT_TRUE(io::ioctl(fd, TIOCNXCL).ok());
}

}  // namespace
}  // namespace ostrel::faults
