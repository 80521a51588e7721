// The capture's writer thread with real FIFOs and files: a slow or late
// reader loses nothing, the pump waits only past the queue's bound, an ending
// capture never hangs on a reader that does not read, and the first failed
// write ends the capture with the file an exact prefix of the traffic.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "presentation/capture_file.h"
#include "presentation/fifo_reader.h"
#include "presentation/presentation_test_support.h"

namespace ostrel::presentation {
namespace {

using namespace std::chrono_literals;
using Pieces = std::vector<std::string>;

constexpr std::size_t kTotal = 1u << 20;
constexpr std::size_t kChunk = 1024;

// The traffic: byte i is i % 251, so any gap or repeat shows.
std::string traffic(std::size_t size = kTotal) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i % 251);
    return bytes;
}

std::span<const std::uint8_t> spanOf(const std::string& bytes, std::size_t offset, std::size_t size) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.data()) + offset, size};
}

// Writes `bytes` in chunks from a thread of its own, as the pump does;
// `pushed` counts what the capture took.
class PumpThread {
public:
    PumpThread(CaptureFile& capture, const std::string& bytes)
        : thread_([&capture, &bytes, this] {
              for (std::size_t offset = 0; offset < bytes.size(); offset += kChunk) {
                  if (!capture.Write(spanOf(bytes, offset, std::min(kChunk, bytes.size() - offset)))) break;
                  pushed_ = std::min(offset + kChunk, bytes.size());
              }
              done_ = true;
          }) {}
    std::size_t pushed() const { return pushed_.load(); }
    bool done() const { return done_.load(); }

private:
    std::atomic<std::size_t> pushed_{0};
    std::atomic<bool> done_{false};
    std::jthread thread_;
};

// The number N in "...; N bytes in the file ***\r\n".
std::size_t bytesInFile(const std::string& line) {
    const std::size_t end = line.rfind(" bytes in the file ***\r\n");
    const std::size_t start = line.rfind("; ", end);
    if (end == std::string::npos || start == std::string::npos) return SIZE_MAX;
    return std::stoull(line.substr(start + 2, end - start - 2));
}

class CapturePipeTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.valid()); }
    TempDir dir;
    FakeWindow window;
};

TEST_F(CapturePipeTest, AReaderThatStartsTwoSecondsLateGetsEveryByte) {
    const std::string path = dir / "late.fifo";
    FifoReader reader(path);
    ASSERT_TRUE(reader.valid());
    CaptureFile capture;
    ASSERT_TRUE(capture.Start(path, window));
    const std::string bytes = traffic();
    PumpThread pump(capture, bytes);
    std::this_thread::sleep_for(2s);  // the reader is late (not a wait for a condition)
    reader.startReading();
    ASSERT_TRUE(waitUntil([&] { return reader.count() >= kTotal; })) << reader.count();
    ASSERT_TRUE(waitUntil([&] { return pump.done(); }));
    capture.Stop(window);
    ASSERT_TRUE(waitUntil([&] { return reader.ended(); }));
    std::printf("bytes that reached a reader starting 2 s late: %zu of %zu\n", reader.count(), kTotal);
    EXPECT_EQ(reader.count(), kTotal);
    EXPECT_TRUE(reader.bytes() == bytes);
    const std::string text = window.text();
    EXPECT_EQ(text.find("failed"), std::string::npos) << text;
    EXPECT_EQ(text.find("locked"), std::string::npos) << text;
    EXPECT_TRUE(text.ends_with(kCaptureEnded)) << text;
}

TEST_F(CapturePipeTest, ThePumpWaitsPastTheBoundButTheStartingThreadNever) {
    const std::string path = dir / "bound.fifo";
    FifoReader reader(path);
    ASSERT_TRUE(reader.valid());
    constexpr std::size_t kBound = 64 * 1024;
    CaptureFile capture({.stall = 5s, .shutdown = 5s, .queueBound = kBound});
    ASSERT_TRUE(capture.Start(path, window));
    const std::string bytes = traffic();
    PumpThread pump(capture, bytes);
    ASSERT_TRUE(waitUntil([&] { return pump.pushed() >= kBound; }));
    std::this_thread::sleep_for(300ms);  // room for an overshoot to show
    // Queue, one batch in the writer's hands, the pipe's buffer and a chunk.
    const std::size_t most = kBound + 256 * 1024 + reader.pipeSize() + kChunk;
    ASSERT_LT(most, kTotal);
    EXPECT_LE(pump.pushed(), most);
    EXPECT_FALSE(pump.done());
    // This thread started the capture (the UI thread): its writes never wait.
    const std::string echo = "echo";
    EXPECT_TRUE(capture.Write(spanOf(echo, 0, echo.size())));

    reader.startReading();
    ASSERT_TRUE(waitUntil([&] { return pump.done(); }));
    EXPECT_EQ(pump.pushed(), kTotal);
    ASSERT_TRUE(waitUntil([&] { return reader.count() >= kTotal + echo.size(); }));
    capture.Stop(window);
    // Every byte arrived once; the echo went in among the pump's chunks.
    std::string got = reader.bytes();
    const std::size_t at = got.find(echo);
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(at % kChunk, 0u);
    got.erase(at, echo.size());
    EXPECT_TRUE(got == bytes);
}

TEST_F(CapturePipeTest, StopAndCloseGiveUpOnAReaderThatNeverReadsAndSayHowMuchWasLost) {
    const std::string path = dir / "stuck.fifo";
    const CaptureLimits limits{.stall = 200ms, .shutdown = 300ms, .queueBound = kCaptureQueueBound};
    for (const bool byStop : {true, false}) {
        SCOPED_TRACE(byStop ? "Stop" : "Close");
        std::filesystem::remove(path);
        FifoReader reader(path);
        ASSERT_TRUE(reader.valid());
        CaptureFile capture(limits);
        ASSERT_TRUE(capture.Start(path, window));
        window.clear();
        const std::string bytes = traffic();
        {
            PumpThread pump(capture, bytes);
            ASSERT_TRUE(waitUntil([&] { return pump.done(); }));
            EXPECT_EQ(pump.pushed(), kTotal);
        }
        const auto start = std::chrono::steady_clock::now();
        if (byStop)
            capture.Stop(window);
        else
            capture.Close(window);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
        EXPECT_FALSE(capture.active());

        const Pieces pieces = window.pieces();
        ASSERT_EQ(pieces.size(), 2u);
        EXPECT_EQ(pieces[0].rfind("\r\n*** Capture write failed: " + path + ": ", 0), 0u) << pieces[0];
        const std::size_t lostAt = pieces[0].find(" bytes not written, the reader took too long; ");
        ASSERT_NE(lostAt, std::string::npos) << pieces[0];
        const std::size_t nameEnd = ("\r\n*** Capture write failed: " + path + ": ").size();
        const std::size_t lost = std::stoull(pieces[0].substr(nameEnd, lostAt - nameEnd));
        const std::size_t inFile = bytesInFile(pieces[0]);
        EXPECT_EQ(lost + inFile, kTotal) << pieces[0];
        EXPECT_GT(lost, 0u);
        EXPECT_EQ(pieces[1], kCaptureEnded);

        // The FIFO holds exactly the bytes counted as in the file, the traffic's start.
        reader.startReading();
        ASSERT_TRUE(waitUntil([&] { return reader.ended(); }));
        EXPECT_EQ(reader.count(), inFile);
        EXPECT_TRUE(reader.bytes() == bytes.substr(0, inFile));
        window.clear();
    }
}

TEST_F(CapturePipeTest, ReleasingTheWaitsFreesAPumpHeldAtTheBound) {
    const std::string path = dir / "held.fifo";
    FifoReader reader(path);
    ASSERT_TRUE(reader.valid());
    constexpr std::size_t kBound = 64 * 1024;
    CaptureFile capture({.stall = 200ms, .shutdown = 200ms, .queueBound = kBound});
    ASSERT_TRUE(capture.Start(path, window));
    const std::string bytes = traffic();
    PumpThread pump(capture, bytes);
    ASSERT_TRUE(waitUntil([&] { return pump.pushed() >= kBound; }));
    EXPECT_FALSE(pump.done());
    capture.ReleaseWaits();  // as at shutdown, before the pump is joined
    ASSERT_TRUE(waitUntil([&] { return pump.done(); }));
    EXPECT_EQ(pump.pushed(), kTotal);
    window.clear();
    capture.Close(window);
    ASSERT_EQ(window.pieces().size(), 2u);
    EXPECT_NE(window.pieces()[0].find(" bytes not written"), std::string::npos);
}

TEST_F(CapturePipeTest, AFinishedCaptureClosesSilentlyAtProgramEnd) {
    const std::string path = dir / "done.bin";
    CaptureFile capture;
    ASSERT_TRUE(capture.Start(path, window));
    const std::string bytes = traffic(300'000);
    { PumpThread pump(capture, bytes); }
    window.clear();
    capture.Close(window);
    EXPECT_TRUE(window.pieces().empty());
    EXPECT_TRUE(readFile(path) == bytes);
}

TEST_F(CapturePipeTest, TheFirstFailedWriteEndsTheCapture) {
    if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full is not writable here";
    CaptureFile capture;
    std::atomic<int> ended{0};
    capture.setEndedNotify([&] { ++ended; });
    ASSERT_TRUE(capture.Start("/dev/full", window));
    window.clear();
    EXPECT_TRUE(capture.Write(bytesOf("data")));
    ASSERT_TRUE(waitUntil([&] { return !capture.active(); }));
    ASSERT_TRUE(waitUntil([&] { return ended.load() == 1; }));
    EXPECT_FALSE(capture.Write(bytesOf("more")));
    capture.Stop(window);  // nothing runs any more: no second end line
    EXPECT_EQ(
        window.pieces(),
        (Pieces{
            "\r\n*** Capture write failed: /dev/full: no space left on device; 0 bytes in the file ***\r\n",
            "\r\n*** Capture data ended...\r\n"}));
    EXPECT_EQ(ended.load(), 1);

    // A new capture starts afresh and reports its own failure.
    ASSERT_TRUE(capture.Start("/dev/full", window));
    EXPECT_TRUE(capture.Write(bytesOf("x")));
    ASSERT_TRUE(waitUntil([&] { return ended.load() == 2; }));
    EXPECT_FALSE(capture.active());
}

TEST_F(CapturePipeTest, AFileThatRanOutOfRoomKeepsAnExactPrefixWhenRoomComesBack) {
    // The file size limit stands in for a full disk: past it, writes fail
    // with EFBIG; raising it again is the room coming back.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max < 65536) GTEST_SKIP() << "file size limit too low";
    struct Restore {
        rlimit limit;
        sighandler_t handler;
        ~Restore() {
            ::setrlimit(RLIMIT_FSIZE, &limit);
            ::signal(SIGXFSZ, handler);
        }
    } restore{saved, ::signal(SIGXFSZ, SIG_IGN)};

    const std::string path = dir / "full.bin";
    CaptureFile capture;
    ASSERT_TRUE(capture.Start(path, window));
    window.clear();
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string bytes = traffic(12288);
    EXPECT_TRUE(capture.Write(spanOf(bytes, 0, 4096)));
    ASSERT_TRUE(waitUntil([&] {
        std::error_code ec;
        return std::filesystem::file_size(path, ec) == 4096;
    }));
    capture.Write(spanOf(bytes, 4096, 4096));  // no room
    ASSERT_TRUE(waitUntil([&] { return !capture.active(); }));
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &saved), 0);  // room again
    EXPECT_FALSE(capture.Write(spanOf(bytes, 8192, 4096)));
    capture.Stop(window);

    EXPECT_TRUE(readFile(path) == bytes.substr(0, 4096));
    EXPECT_EQ(window.pieces(), (Pieces{"\r\n*** Capture write failed: " + path +
                                           ": file too large; 4096 bytes in the file ***\r\n",
                                       "\r\n*** Capture data ended...\r\n"}));
}

TEST_F(CapturePipeTest, AReaderThatGoesAwayEndsTheCaptureWithWhatThePipeTook) {
    const std::string path = dir / "gone.fifo";
    FifoReader reader(path);
    ASSERT_TRUE(reader.valid());
    CaptureFile capture;
    std::atomic<int> ended{0};
    capture.setEndedNotify([&] { ++ended; });
    ASSERT_TRUE(capture.Start(path, window));
    window.clear();
    reader.startReading(100'000);  // reads this much, then closes its end
    const std::string bytes = traffic();
    PumpThread pump(capture, bytes);
    ASSERT_TRUE(waitUntil([&] { return ended.load() == 1; }));
    ASSERT_TRUE(waitUntil([&] { return pump.done(); }));
    EXPECT_FALSE(capture.active());
    EXPECT_TRUE(reader.bytes() == bytes.substr(0, 100'000));
    const Pieces pieces = window.pieces();
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].rfind("\r\n*** Capture write failed: " + path + ": broken pipe; ", 0), 0u)
        << pieces[0];
    EXPECT_GE(bytesInFile(pieces[0]), 100'000u) << pieces[0];
    EXPECT_LE(bytesInFile(pieces[0]), kTotal) << pieces[0];
    EXPECT_EQ(pieces[1], kCaptureEnded);
}

}  // namespace
}  // namespace ostrel::presentation
