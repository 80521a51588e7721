// The run's input and output: standard input cut into lines, the writer to standard output with a slow reader
// that holds up only the writer, and a reader that went away in a whole run.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <thread>

#include "headless/headless_frontend.h"
#include "headless/line_splitter.h"
#include "headless/output_writer.h"
#include "platform/pty_test_support.h"
#include "platform/temp_dir.h"
#include "platform/unique_fd.h"

namespace ostrel::headless {
namespace {

using frontend::kExitOpenFailed;
using frontend::Options;
using frontend::PortEnvironment;

using namespace std::chrono_literals;

struct SplitCase {
    std::vector<std::string> chunks;
    std::vector<std::string> lines;  // including the one finish() gives
};

class Lines : public ::testing::TestWithParam<SplitCase> {};

TEST_P(Lines, AreCutAtNewlines) {
    LineSplitter splitter;
    std::vector<std::string> lines;
    for (const auto& chunk : GetParam().chunks) {
        for (auto& line : splitter.feed(chunk)) lines.push_back(std::move(line));
    }
    if (auto last = splitter.finish()) lines.push_back(*last);
    EXPECT_EQ(lines, GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(Table, Lines,
                         ::testing::Values(SplitCase{{"AT\n"}, {"AT"}}, SplitCase{{"A", "T", "\n"}, {"AT"}},
                                           SplitCase{{"one\ntwo\n"}, {"one", "two"}},
                                           SplitCase{{"one\ntw", "o\nthree"}, {"one", "two", "three"}},
                                           SplitCase{{"\n\n"}, {"", ""}}, SplitCase{{"keep\r\n"}, {"keep\r"}},
                                           SplitCase{{}, {}}, SplitCase{{""}, {}},
                                           SplitCase{{std::string("a\0b\n", 4)}, {std::string("a\0b", 3)}}));

struct Pipe {
    platform::UniqueFd read, write;
    explicit Pipe(int flags = 0) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | flags) == 0) {
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

TEST(OutputWriter, ASlowReaderHoldsUpOnlyTheWriterAndGetsEverythingInOrder) {
    Pipe pipe;
    ASSERT_TRUE(pipe.read.valid());
    engine::DisplayQueue queue(64u << 20);
    OutputWriter writer(queue, pipe.write.get());
    // Nobody reads the pipe: its 64 KiB fill up and the writer blocks, but
    // 8 MiB of appends still return at once.
    std::string expected;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 2048; ++i) {
        const std::string piece = std::to_string(i) + std::string(4090, static_cast<char>('a' + i % 26));
        queue.append(piece);
        expected += piece;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_GT(queue.backlog(), 4u << 20);
    // Once the reader comes, everything arrives, in order.
    std::string got;
    std::thread reader([&] { got = drain(pipe.read.get(), expected.size()); });
    writer.finish();
    reader.join();
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
    EXPECT_EQ(writer.failure(), 0);
}

TEST(HeadlessRun, AnOutputThatWentAwayIsReportedAndEndsTheRun) {
    auto pty = platform::test::openBareMaster();
    platform::test::TempDir dir;
    Pipe out(O_NONBLOCK), err(O_NONBLOCK);
    ASSERT_TRUE(pty.master.valid() && dir.valid() && out.read.valid() && err.read.valid());
    out.read.reset();  // nobody will ever read the traffic text
    PortEnvironment env;
    env.sysfsRoot = dir / "no-sysfs";
    env.runtimeDir = dir.path();
    Options options;
    options.dte = pty.slavePath;
    options.durationSeconds = 5;
    options.sends = {"AT"};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunHeadless(options, RunIo{out.write.get(), err.write.get(), -1}, env), kExitOpenFailed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << "the run went on writing to nowhere";
    EXPECT_EQ(platform::test::pendingText(err.read.get()), "ostrel: standard output: Broken pipe\n");
}

}  // namespace
}  // namespace ostrel::headless
