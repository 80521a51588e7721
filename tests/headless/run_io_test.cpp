// The run's input and output: standard input cut into lines, the writer to standard output with a slow reader
// that holds up only the writer, and a reader that went away in a whole run.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "headless/headless_frontend.h"
#include "headless/line_splitter.h"
#include "headless/output_writer.h"
#include "headless/terminal_text.h"
#include "platform/pty_test_support.h"
#include "platform/temp_dir.h"
#include "platform/unique_fd.h"

namespace ostrel::headless {
namespace {

using frontend::kExitOk;
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

TEST(LongLines, ComeInPiecesOf64KiBSoThatNothingGrowsWithTheInput) {
    constexpr std::size_t piece = LineSplitter::kMaxPiece;
    LineSplitter splitter;
    // An endless line: what is held stays bounded, whatever size the input comes in.
    std::vector<std::string> lines;
    for (int i = 0; i < 100; ++i)
        for (auto& line : splitter.feed(std::string(10000, 'z'))) lines.push_back(std::move(line));
    ASSERT_EQ(lines.size(), 1'000'000 / piece);
    for (const auto& line : lines) EXPECT_EQ(line, std::string(piece, 'z'));
    EXPECT_EQ(splitter.finish(), std::string(1'000'000 % piece, 'z'));
    // A line of exactly one piece is one line, with no empty one after it.
    EXPECT_EQ(splitter.feed(std::string(piece, 'a') + "\nb\n"),
              (std::vector<std::string>{std::string(piece, 'a'), "b"}));
    EXPECT_EQ(splitter.feed(std::string(piece + 1, 'c') + "\n"),
              (std::vector<std::string>{std::string(piece, 'c'), "c"}));
}

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
    // 8 MiB of appends still return (an append that waited for the reader
    // would never return here), and most of it is still queued.
    std::string expected;
    for (int i = 0; i < 2048; ++i) {
        const std::string piece = std::to_string(i) + std::string(4090, static_cast<char>('a' + i % 26));
        queue.append(piece);
        expected += piece;
    }
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

TEST(OutputWriter, ATrickleOfSmallAppendsIsWrittenInFewWritesAndInOrder) {
    // A packet socket keeps each write() apart, so the reader counts them.
    int ends[2] = {-1, -1};
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends), 0);
    platform::UniqueFd reading(ends[0]), writing(ends[1]);
    engine::DisplayQueue queue(64u << 20);
    OutputWriter writer(queue, writing.get());
    constexpr int kAppends = 200;
    std::string expected;
    for (int i = 0; i < kAppends; ++i)
        expected += std::to_string(i) + std::string(96, static_cast<char>('a' + i % 26));

    std::string got;
    int writes = 0;
    std::thread reader([&] {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        std::vector<char> packet(1 << 20);
        while (got.size() < expected.size() && std::chrono::steady_clock::now() < deadline) {
            pollfd p{reading.get(), POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            const ssize_t n = ::recv(reading.get(), packet.data(), packet.size(), 0);
            if (n <= 0) break;
            got.append(packet.data(), static_cast<std::size_t>(n));
            ++writes;
        }
    });
    // One chunk's text a millisecond, as a steady line gives them.
    for (std::size_t at = 0, i = 0; at < expected.size(); ++i) {
        const std::size_t n = std::to_string(i).size() + 96;
        queue.append(std::string_view(expected).substr(at, n));
        at += n;
        std::this_thread::sleep_for(1ms);
    }
    reader.join();
    EXPECT_TRUE(got == expected) << got.size() << " of " << expected.size() << " bytes";
    // Without the writer's nap each append would be a write of its own.
    EXPECT_LT(writes, kAppends / 4);
    writer.finish();
    EXPECT_EQ(writer.failure(), 0);
}

TEST(OutputWriter, AbandonBreaksOffAWriteThatWaitsForAReaderAndCountsWhatItDrops) {
    Pipe pipe;
    ASSERT_TRUE(pipe.read.valid());
    engine::DisplayQueue queue(64u << 20);
    OutputWriter writer(queue, pipe.write.get());
    const std::string text(1 << 20, 't');
    queue.append(text);
    // The writer fills the pipe (64 KiB) and then waits in write() for ever.
    ASSERT_TRUE(platform::test::waitUntil([&] {
        int pending = 0;
        return ::ioctl(pipe.read.get(), FIONREAD, &pending) == 0 && pending >= 65536;
    }));
    writer.requestFinish();
    EXPECT_FALSE(writer.waitFinished(50ms));
    const auto start = std::chrono::steady_clock::now();
    writer.abandon();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    int written = 0;
    ASSERT_EQ(::ioctl(pipe.read.get(), FIONREAD, &written), 0);
    EXPECT_EQ(writer.dropped() + static_cast<std::uint64_t>(written), text.size());
    EXPECT_EQ(writer.failure(), 0);
}

TEST(TerminalText, ShowsTheLinesControlBytesInsteadOfPassingThemOn) {
    const std::string line("a\x1b[2Jb\x07\x7f\x85\xe9\xa0\t\r\n");
    // U+241B, U+2407, U+2421 for ESC, BEL and DEL; Latin-1 e acute and no-break space in UTF-8.
    EXPECT_EQ(ForTerminal(line, true), "a\u241b[2Jb\u2407\u2421.\u00e9\u00a0\t\r\n");
    EXPECT_EQ(ForTerminal(line, false), "a.[2Jb.....\t\r\n");
    EXPECT_EQ(ForTerminal(std::string("\0\x1f", 2), true), "\u2400\u241f");
    const std::string printable = "\r\n*** Port is ON  ***\r\n[12:00:00:000] DTE <<- 0x1B ~";
    EXPECT_EQ(ForTerminal(printable, true), printable);
    EXPECT_EQ(ForTerminal(printable, false), printable);
}

TEST(ListPorts, MarksTheKernelsConsole) {
    auto console = platform::test::openBareMaster();
    auto other = platform::test::openBareMaster();
    ASSERT_TRUE(console.master.valid() && other.master.valid());
    platform::PortMap map;
    map.addDiscovered({{"ttyS0", console.slavePath, "serial", "16550A UART", true},
                       {"ttyS1", other.slavePath, "serial", "16550A UART", false}});
    Pipe out(O_NONBLOCK);
    ASSERT_EQ(ListPorts(map, out.write.get()), kExitOk);
    EXPECT_EQ(platform::test::pendingText(out.read.get()), "COM1  " + console.slavePath +
                                                               "  16550A UART  console\nCOM2  " +
                                                               other.slavePath + "  16550A UART\n");
}

TEST(ListPorts, AddsDriverByIdNamesAndSaysWhenThereIsNoPort) {
    auto usb = platform::test::openBareMaster();
    ASSERT_TRUE(usb.master.valid());
    platform::PortMap map;
    platform::SerialDevice adapter{"ttyUSB0", usb.slavePath, "ftdi_sio", "FTDI FT232R USB UART (0403:6001)"};
    adapter.byId = {"/dev/serial/by-id/usb-FTDI_FT232R-if00-port0"};
    adapter.usbVendor = "0403";
    adapter.usbProduct = "6001";
    map.addDiscovered({adapter});
    Pipe out(O_NONBLOCK), err(O_NONBLOCK);
    ListPortsDetails details;
    details.errFd = err.write.get();
    details.devices = {adapter};
    ASSERT_EQ(ListPorts(map, out.write.get(), details), kExitOk);
    EXPECT_EQ(platform::test::pendingText(out.read.get()),
              "COM1  " + usb.slavePath +
                  "  FTDI FT232R USB UART (0403:6001)  driver ftdi_sio  by-id "
                  "/dev/serial/by-id/usb-FTDI_FT232R-if00-port0\n");
    details.json = true;
    ASSERT_EQ(ListPorts(map, out.write.get(), details), kExitOk);
    EXPECT_EQ(
        platform::test::pendingText(out.read.get()),
        "[\n  {\"number\": 1, \"path\": \"" + usb.slavePath +
            "\", \"by_id\": \"/dev/serial/by-id/usb-FTDI_FT232R-if00-port0\", \"description\": \"FTDI "
            "FT232R USB UART (0403:6001)\", \"driver\": \"ftdi_sio\", \"usb\": {\"vendor\": \"0403\", "
            "\"product\": \"6001\", \"serial\": null}, \"console\": false, \"busy\": false, \"holder\": "
            "null}\n]\n");
    EXPECT_EQ(platform::test::pendingText(err.read.get()), "");

    // No port at all: a line on standard error, and for --json an empty array.
    const platform::PortMap none;
    details.json = false;
    ASSERT_EQ(ListPorts(none, out.write.get(), details), kExitOk);
    EXPECT_EQ(platform::test::pendingText(out.read.get()), "");
    EXPECT_EQ(platform::test::pendingText(err.read.get()), "ostrel: no serial ports found\n");
    details.json = true;
    ASSERT_EQ(ListPorts(none, out.write.get(), details), kExitOk);
    EXPECT_EQ(platform::test::pendingText(out.read.get()), "[]\n");
}

TEST(HeadlessRun, AnOutputThatWentAwayEndsTheRunQuietlyAndOtherWriteFailuresAreReported) {
    auto pty = platform::test::openBareMaster();
    platform::test::TempDir dir;
    Pipe out(O_NONBLOCK), err(O_NONBLOCK);
    ASSERT_TRUE(pty.master.valid() && dir.valid() && out.read.valid() && err.read.valid());
    out.read.reset();  // nobody will ever read the traffic text
    platform::UniqueFd full(::open("/dev/full", O_WRONLY | O_CLOEXEC));
    ASSERT_TRUE(full.valid());
    PortEnvironment env;
    env.sysfsRoot = dir / "no-sysfs";
    env.runtimeDir = dir.path();
    Options options;
    options.dte = pty.slavePath;
    options.durationSeconds = 5;
    options.sends = {"AT"};
    const struct {
        int out;
        int exitCode;
        std::string error;
    } table[] = {{out.write.get(), kExitOk, ""},
                 {full.get(), kExitOpenFailed, "ostrel: standard output: No space left on device\n"}};
    for (const auto& c : table) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(RunHeadless(options, RunIo{c.out, err.write.get(), -1}, env), c.exitCode);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << "the run went on writing to nowhere";
        EXPECT_EQ(platform::test::pendingText(err.read.get()), c.error);
    }
}

}  // namespace
}  // namespace ostrel::headless
