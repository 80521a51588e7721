// The writer between the display queue and standard output: order, a slow
// reader that holds up only the writer, and a reader that went away.

#include "headless/output_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <thread>

#include "platform/pty_test_support.h"
#include "platform/unique_fd.h"

namespace ostrel::headless {
namespace {

using namespace std::chrono_literals;

struct Pipe {
    platform::UniqueFd read, write;
    Pipe() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) == 0) {
            read.reset(fds[0]);
            write.reset(fds[1]);
        }
    }
};

std::string drain(int fd, std::size_t count) {
    std::string got;
    char buffer[65536];
    while (got.size() < count) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

TEST(OutputWriter, WritesEverythingInOrderFromSeveralThreads) {
    Pipe pipe;
    ASSERT_TRUE(pipe.read.valid());
    engine::DisplayQueue queue;
    std::string expected;
    std::string got;
    std::thread reader([&] { got = drain(pipe.read.get(), 2 * 5000 * 7); });
    {
        OutputWriter writer(queue, pipe.write.get());
        std::thread other([&] {
            for (int i = 0; i < 5000; ++i) queue.append("b" + std::to_string(1000000 + i).substr(1));
        });
        for (int i = 0; i < 5000; ++i) queue.append("a" + std::to_string(1000000 + i).substr(1));
        other.join();
        writer.finish();
        EXPECT_EQ(writer.failure(), 0);
    }
    reader.join();
    ASSERT_EQ(got.size(), 2u * 5000 * 7);
    // Each thread's pieces come out in the order it appended them.
    for (char who : {'a', 'b'}) {
        int next = 0;
        for (std::size_t i = 0; i < got.size(); i += 7) {
            if (got[i] != who) continue;
            EXPECT_EQ(std::stoi(got.substr(i + 1, 6)), next++);
        }
        EXPECT_EQ(next, 5000);
    }
}

TEST(OutputWriter, ASlowReaderDoesNotHoldUpTheAppenders) {
    Pipe pipe;
    ASSERT_TRUE(pipe.read.valid());
    engine::DisplayQueue queue(64u << 20);
    OutputWriter writer(queue, pipe.write.get());
    // Nobody reads the pipe: its 64 KiB fill up and the writer blocks, but
    // 8 MiB of appends still return at once.
    const std::string piece(4096, 'x');
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 2048; ++i) queue.append(piece);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_GT(queue.backlog(), 4u << 20);
    // Once the reader comes, everything arrives.
    std::string got;
    std::thread reader([&] { got = drain(pipe.read.get(), 2048u * 4096); });
    writer.finish();
    reader.join();
    EXPECT_EQ(got.size(), 2048u * 4096);
}

TEST(OutputWriter, AReaderThatWentAwayIsReportedOnceAndAppendsGoOn) {
    Pipe pipe;
    ASSERT_TRUE(pipe.read.valid());
    std::signal(SIGPIPE, SIG_IGN);
    pipe.read.reset();
    engine::DisplayQueue queue(1u << 16);  // a small bound: appenders would wait if nothing were taken
    std::atomic<int> reports{0};
    std::atomic<int> error{0};
    OutputWriter writer(queue, pipe.write.get(), [&](int e) {
        ++reports;
        error = e;
    });
    const std::string piece(4096, 'y');
    for (int i = 0; i < 256; ++i) queue.append(piece);  // 1 MiB through a 64 KiB bound
    writer.finish();
    EXPECT_EQ(reports.load(), 1);
    EXPECT_EQ(error.load(), EPIPE);
    EXPECT_EQ(writer.failure(), EPIPE);
    EXPECT_EQ(queue.backlog(), 0u);
}

}  // namespace
}  // namespace ostrel::headless
