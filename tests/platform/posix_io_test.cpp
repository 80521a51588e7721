// The I/O wrappers over real pipes, real threads and real signals: partial
// writes carried on, EAGAIN handled as the caller chose, and a signal that
// interrupts a blocked call (a handler without SA_RESTART) retried.

#include "platform/posix_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/unique_fd.h"
#include "pty_test_support.h"

namespace ostrel::platform {
namespace {

using test::waitUntil;

struct Pipe {
    UniqueFd read;
    UniqueFd write;
};

Pipe openPipe(int flags) {
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC | flags) != 0) return {};
    return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

std::vector<std::uint8_t> pattern(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 13 + i / 241);
    return bytes;
}

// The scheduler state of a thread of this process ('S' while blocked in a
// system call that sleeps).
char threadState(pid_t tid) {
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    return close == std::string::npos || close + 2 >= line.size() ? '?' : line[close + 2];
}

std::atomic<int> handled{0};
void countSignal(int) {
    handled.fetch_add(1);
}

// SIGUSR1 handled by a no-op without SA_RESTART, so that a blocked read,
// write or poll fails with EINTR; the previous action is put back after.
class InterruptingSignal {
public:
    InterruptingSignal() {
        struct sigaction action {};
        action.sa_handler = countSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        ::sigaction(SIGUSR1, &action, &previous_);
        handled.store(0);
    }
    ~InterruptingSignal() { ::sigaction(SIGUSR1, &previous_, nullptr); }
    InterruptingSignal(const InterruptingSignal&) = delete;
    InterruptingSignal& operator=(const InterruptingSignal&) = delete;

    // Waits until `tid` sleeps in the kernel, then interrupts it once.
    static bool interruptWhenBlocked(pthread_t thread, const std::atomic<pid_t>& tid) {
        if (!waitUntil([&] { return tid.load() != 0 && threadState(tid.load()) == 'S'; })) return false;
        const int before = handled.load();
        ::pthread_kill(thread, SIGUSR1);
        return waitUntil([&] { return handled.load() > before; });
    }

private:
    struct sigaction previous_ {};
};

TEST(PosixIo, WriteAllCarriesOnThroughPartialWritesToASlowReader) {
    Pipe pipe = openPipe(O_NONBLOCK);
    ASSERT_TRUE(pipe.read.valid());
    ::fcntl(pipe.write.get(), F_SETPIPE_SZ, 4096);  // many short writes
    const std::vector<std::uint8_t> data = pattern(512 * 1024);

    std::vector<std::uint8_t> received;
    std::jthread reader([&] {
        std::uint8_t chunk[1000];
        while (received.size() < data.size()) {
            pollfd in{pipe.read.get(), POLLIN, 0};
            if (::poll(&in, 1, 20000) <= 0) return;
            const ssize_t n = ::read(pipe.read.get(), chunk, sizeof chunk);
            if (n <= 0) return;
            received.insert(received.end(), chunk, chunk + n);
        }
    });
    std::size_t written = 0;
    const Status status =
        io::writeAll(pipe.write.get(), data, {io::WhenFull::WaitWritable, 100, ENOSPC}, &written);
    reader.join();
    EXPECT_TRUE(status.ok()) << status.error().describe();
    EXPECT_EQ(written, data.size());
    EXPECT_EQ(received, data);
}

TEST(PosixIo, WriteAllThatMayNotWaitStopsAtAFullPipeAndTellsHowMuchWentOut) {
    Pipe pipe = openPipe(O_NONBLOCK);
    ASSERT_TRUE(pipe.read.valid());
    const int capacity = ::fcntl(pipe.write.get(), F_SETPIPE_SZ, 4096);
    ASSERT_GT(capacity, 0);
    const std::vector<std::uint8_t> data = pattern(static_cast<std::size_t>(capacity) * 3);

    std::size_t written = 0;
    const Status status = io::writeAll(pipe.write.get(), data, {}, &written);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().code, EAGAIN);
    EXPECT_EQ(written, static_cast<std::size_t>(capacity));

    std::vector<std::uint8_t> back(data.size());
    const Result<std::size_t> n = io::readSome(pipe.read.get(), back);
    ASSERT_TRUE(n.ok());
    ASSERT_EQ(n.value(), written);
    back.resize(written);
    EXPECT_TRUE(std::equal(back.begin(), back.end(), data.begin()));
    // The pipe is empty now: a non-blocking read says so as EAGAIN.
    const Result<std::size_t> empty = io::readSome(pipe.read.get(), back);
    ASSERT_FALSE(empty.ok());
    EXPECT_EQ(empty.error().code, EAGAIN);
}

TEST(PosixIo, AClosedReaderEndsWriteAllWithEpipeAndReadGivesEndOfFile) {
    ::signal(SIGPIPE, SIG_IGN);
    Pipe pipe = openPipe(O_NONBLOCK);
    ASSERT_TRUE(pipe.read.valid());
    pipe.read.reset();
    const std::vector<std::uint8_t> data = pattern(100);
    const Status status = io::writeAll(pipe.write.get(), data, {io::WhenFull::WaitWritable, 100, EIO});
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().code, EPIPE);

    Pipe other = openPipe(0);
    other.write.reset();
    std::uint8_t byte = 0;
    const Result<std::size_t> n = io::readSome(other.read.get(), {&byte, 1});
    ASSERT_TRUE(n.ok());
    EXPECT_EQ(n.value(), 0u);
}

TEST(PosixIo, ASignalDuringABlockedPollIsRetried) {
    InterruptingSignal signal;
    Pipe pipe = openPipe(0);
    ASSERT_TRUE(pipe.read.valid());

    std::atomic<pid_t> tid{0};
    std::atomic<bool> returned{false};
    Result<int> ready = 0;
    std::jthread blocked([&] {
        tid.store(static_cast<pid_t>(::syscall(SYS_gettid)));
        pollfd in{pipe.read.get(), POLLIN, 0};
        ready = io::poll(&in, 1, -1);
        returned.store(true);
    });
    const bool interrupted = InterruptingSignal::interruptWhenBlocked(blocked.native_handle(), tid);
    const bool stillWaiting = !returned.load();
    const std::uint8_t byte = 'A';
    const ssize_t sent = ::write(pipe.write.get(), &byte, 1);
    blocked.join();
    ASSERT_EQ(sent, 1);
    ASSERT_TRUE(interrupted);
    EXPECT_TRUE(stillWaiting);
    ASSERT_TRUE(ready.ok()) << ready.error().describe();
    EXPECT_EQ(ready.value(), 1);
}

TEST(PosixIo, ASignalDuringABlockedReadIsRetried) {
    InterruptingSignal signal;
    Pipe pipe = openPipe(0);
    ASSERT_TRUE(pipe.read.valid());

    std::atomic<pid_t> tid{0};
    std::atomic<bool> returned{false};
    Result<std::size_t> got = SysError{"read", "", 0};
    std::uint8_t buffer[16] = {};
    std::jthread blocked([&] {
        tid.store(static_cast<pid_t>(::syscall(SYS_gettid)));
        got = io::readSome(pipe.read.get(), buffer);
        returned.store(true);
    });
    const bool interrupted = InterruptingSignal::interruptWhenBlocked(blocked.native_handle(), tid);
    const bool stillWaiting = !returned.load();
    const std::uint8_t byte = 'z';
    const ssize_t sent = ::write(pipe.write.get(), &byte, 1);
    blocked.join();
    ASSERT_EQ(sent, 1);
    ASSERT_TRUE(interrupted);
    EXPECT_TRUE(stillWaiting);
    ASSERT_TRUE(got.ok()) << got.error().describe();
    EXPECT_EQ(got.value(), 1u);
    EXPECT_EQ(buffer[0], 'z');
}

TEST(PosixIo, SignalsDuringABlockedWriteAllLoseNoByte) {
    InterruptingSignal signal;
    Pipe pipe = openPipe(0);
    ASSERT_TRUE(pipe.read.valid());
    const int capacity = ::fcntl(pipe.write.get(), F_SETPIPE_SZ, 4096);
    ASSERT_GT(capacity, 0);
    const std::vector<std::uint8_t> data = pattern(static_cast<std::size_t>(capacity) * 8);

    std::atomic<pid_t> tid{0};
    Status status;
    std::size_t written = 0;
    std::jthread writer([&] {
        tid.store(static_cast<pid_t>(::syscall(SYS_gettid)));
        status = io::writeAll(pipe.write.get(), data, {}, &written);
    });
    // The first write fills the pipe and blocks: the signal ends it with a
    // short count. The next write blocks before taking anything: the second
    // signal ends it with EINTR.
    const bool first = InterruptingSignal::interruptWhenBlocked(writer.native_handle(), tid);
    const bool second = first && InterruptingSignal::interruptWhenBlocked(writer.native_handle(), tid);
    std::vector<std::uint8_t> received;
    std::uint8_t chunk[4096];
    while (received.size() < data.size()) {
        // A writer that gave up early sends nothing more: the deadline ends the loop.
        pollfd in{pipe.read.get(), POLLIN, 0};
        if (::poll(&in, 1, 20000) <= 0) break;
        const ssize_t n = ::read(pipe.read.get(), chunk, sizeof chunk);
        if (n <= 0) break;
        received.insert(received.end(), chunk, chunk + n);
    }
    writer.join();
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(status.ok()) << status.error().describe();
    EXPECT_EQ(written, data.size());
    EXPECT_EQ(received, data);
}

TEST(PosixIo, TheOnceCallsHandASignalBackAsEintr) {
    InterruptingSignal signal;
    Pipe pipe = openPipe(0);
    ASSERT_TRUE(pipe.read.valid());
    const int capacity = ::fcntl(pipe.write.get(), F_SETPIPE_SZ, 4096);
    ASSERT_GT(capacity, 0);
    const std::vector<std::uint8_t> fill = pattern(static_cast<std::size_t>(capacity));
    ASSERT_TRUE(io::writeAll(pipe.write.get(), fill).ok());

    std::atomic<pid_t> tid{0};
    Result<std::size_t> wrote = std::size_t{0};
    Result<int> polled = 0;
    std::jthread blocked([&] {
        tid.store(static_cast<pid_t>(::syscall(SYS_gettid)));
        const std::uint8_t byte = 'x';
        wrote = io::writeSomeOnce(pipe.write.get(), {&byte, 1});  // the pipe is full
        pollfd out{pipe.write.get(), POLLOUT, 0};
        polled = io::pollOnce(&out, 1, -1);
    });
    const bool first = InterruptingSignal::interruptWhenBlocked(blocked.native_handle(), tid);
    const bool second = first && InterruptingSignal::interruptWhenBlocked(blocked.native_handle(), tid);
    if (!second) {
        // Free the thread whatever happened, so that the join below ends.
        std::vector<std::uint8_t> drain(fill.size());
        (void)io::readSome(pipe.read.get(), drain);
    }
    blocked.join();
    ASSERT_TRUE(first && second);
    ASSERT_FALSE(wrote.ok());
    EXPECT_EQ(wrote.error().code, EINTR);
    ASSERT_FALSE(polled.ok());
    EXPECT_EQ(polled.error().code, EINTR);
}

TEST(SysErrorWords, OneTableSpeaksOfPortsOrOfFiles) {
    EXPECT_EQ(SysError({"open", "/dev/ttyUSB0", EBUSY}).describe(),
              "/dev/ttyUSB0: port is busy (in use by another program)");
    EXPECT_EQ(SysError({"open", "/dev/ttyUSB0", EWOULDBLOCK}).describe(),
              "/dev/ttyUSB0: port is busy (in use by another program)");
    EXPECT_EQ(SysError({"open", "/dev/ttyUSB9", ENXIO}).describe(), "/dev/ttyUSB9: no such device");
    EXPECT_EQ(SysError({"open", "/dev/ttyS1", EIO}).describe(), "/dev/ttyS1: device gone");
    EXPECT_EQ(SysError({"", "", 0}).describe(), "failed");
    EXPECT_EQ(SysError({"eventfd", "", EMFILE}).describe(), "eventfd: Too many open files");

    EXPECT_EQ(describeFileError("log.txt", ENOENT), "log.txt: no such file or folder");
    EXPECT_EQ(describeFileError("log.txt", EACCES), "log.txt: permission denied");
    EXPECT_EQ(describeFileError("log.txt", EWOULDBLOCK), "log.txt: locked by another program");
    EXPECT_EQ(describeFileError("fifo", ENXIO), "fifo: no program reads this pipe");
    EXPECT_EQ(describeFileError("log.txt", ENOSPC), "log.txt: no space left on device");
    EXPECT_EQ(describeFileError("log.txt", EIO), "log.txt: input/output error");
}

}  // namespace
}  // namespace ostrel::platform
