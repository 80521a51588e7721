// The capture file: creation, locking, the status lines, writes after stop,
// a writer racing a stop, and a failing write.

#include "presentation/capture_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "platform/unique_fd.h"
#include "presentation/presentation_test_support.h"
#include "presentation/traffic_formatter.h"

namespace ostrel::presentation {
namespace {

using Pieces = std::vector<std::string>;

class CaptureFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.valid()); }

    TempDir dir;
    FakeWindow window;
    CaptureFile capture;
};

TEST_F(CaptureFileTest, StartAndStopShowTheirLinesOnceAndNothingIsWrittenAfterTheStop) {
    EXPECT_FALSE(capture.Start("", window));  // no name: nothing happens
    EXPECT_TRUE(window.pieces().empty());

    const std::string path = dir / "log.txt";
    ASSERT_TRUE(capture.Start(path, window));
    EXPECT_TRUE(capture.active());
    EXPECT_EQ(capture.fileName(), path);
    EXPECT_TRUE(capture.Write(bytesOf("kept")));
    capture.Stop(window);
    capture.Stop(window);
    EXPECT_FALSE(capture.active());
    EXPECT_EQ(window.pieces(),
              (Pieces{"*** Capturing to file: ", path, "\r\n", "\r\n*** Capturing data to file...\r\n",
                      "\r\n*** Capture data ended...\r\n"}));
    EXPECT_FALSE(capture.Write(bytesOf("late")));
    EXPECT_EQ(readFile(path), "kept");
}

TEST_F(CaptureFileTest, AnExistingFileIsEmptiedAtEachStart) {
    const std::string path = dir / "old.txt";
    writeFile(path, "old content that must go");
    ASSERT_TRUE(capture.Start(path, window));
    EXPECT_EQ(readFile(path), "");
    EXPECT_TRUE(capture.Write(bytesOf("one")));
    capture.Stop(window);
    ASSERT_TRUE(capture.Start(path, window));
    EXPECT_TRUE(capture.Write(bytesOf("two")));
    capture.Stop(window);
    EXPECT_EQ(readFile(path), "two");
}

TEST_F(CaptureFileTest, AFileLockedElsewhereOrInAMissingFolderIsInUseAndNothingIsTouched) {
    const std::string locked = dir / "locked.txt";
    writeFile(locked, "precious");
    platform::UniqueFd other(::open(locked.c_str(), O_RDWR | O_CLOEXEC));
    ASSERT_TRUE(other.valid());
    ASSERT_EQ(::flock(other.get(), LOCK_EX | LOCK_NB), 0);
    for (const std::string& path : {locked, dir / "missing/capture.txt"}) {
        window.clear();
        EXPECT_FALSE(capture.Start(path, window));
        EXPECT_FALSE(capture.active());
        const Pieces pieces = window.pieces();
        ASSERT_EQ(pieces.size(), 5u);
        EXPECT_EQ(pieces[0], "*** Capturing to file: ");
        EXPECT_EQ(pieces[1], path);
        EXPECT_EQ(pieces[3], "\r\n*** File in use!!\r\n");
        // The second line gives the system's reason and names the file.
        EXPECT_EQ(pieces[4].rfind("\r\n*** ", 0), 0u);
        EXPECT_NE(pieces[4].find(path), std::string::npos) << pieces[4];
        EXPECT_FALSE(capture.Write(bytesOf("x")));
    }
    EXPECT_EQ(readFile(locked), "precious");
    EXPECT_FALSE(std::filesystem::exists(dir / "missing/capture.txt"));
}

// Another process holding `path` with one kind of lock until it is destroyed.
class LockHolder {
public:
    enum class Kind { Flock, PosixWrite, PosixRead, Lockf, OpenFileDescription };

    LockHolder(const std::string& path, Kind kind) {
        int ready[2], release[2];
        if (::pipe2(ready, O_CLOEXEC) != 0) return;
        if (::pipe2(release, O_CLOEXEC) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            // Only async-signal-safe calls from here on.
            ::close(ready[0]);
            ::close(release[1]);
            const int fd = ::open(path.c_str(), O_RDWR);
            struct flock whole {};
            whole.l_type = kind == Kind::PosixRead ? F_RDLCK : F_WRLCK;
            whole.l_whence = SEEK_SET;
            bool locked = false;
            switch (kind) {
                case Kind::Flock:
                    locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
                    break;
                case Kind::PosixWrite:
                case Kind::PosixRead:
                    locked = ::fcntl(fd, F_SETLK, &whole) == 0;
                    break;
                case Kind::Lockf:
                    locked = ::lockf(fd, F_TLOCK, 0) == 0;
                    break;
                case Kind::OpenFileDescription:
                    locked = ::fcntl(fd, F_OFD_SETLK, &whole) == 0;
                    break;
            }
            const char answer = locked ? 'y' : 'n';
            (void)!::write(ready[1], &answer, 1);
            char ignored;
            (void)!::read(release[0], &ignored, 1);  // until the parent closes its end
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        release_.reset(release[1]);
        char answer = 0;
        locked_ = pid_ > 0 && ::read(ready[0], &answer, 1) == 1 && answer == 'y';
        ::close(ready[0]);
    }
    ~LockHolder() {
        release_.reset();
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    }
    bool locked() const { return locked_; }

private:
    pid_t pid_ = -1;
    platform::UniqueFd release_;
    bool locked_ = false;
};

TEST_F(CaptureFileTest, AFileThatAnotherProcessHoldsWithAnyKindOfLockIsInUseAndKeptWhole) {
    using Kind = LockHolder::Kind;
    const std::string path = dir / "held.txt";
    for (const Kind kind :
         {Kind::Flock, Kind::PosixWrite, Kind::PosixRead, Kind::Lockf, Kind::OpenFileDescription}) {
        SCOPED_TRACE(static_cast<int>(kind));
        writeFile(path, "precious");
        {
            LockHolder holder(path, kind);
            ASSERT_TRUE(holder.locked());
            window.clear();
            EXPECT_FALSE(capture.Start(path, window));
            EXPECT_FALSE(capture.active());
            EXPECT_EQ(window.pieces(),
                      (Pieces{"*** Capturing to file: ", path, "\r\n", "\r\n*** File in use!!\r\n",
                              "\r\n*** " + path + ": locked by another program ***\r\n"}));
            EXPECT_EQ(readFile(path), "precious");
        }
        // Once the other process has let go, the capture takes the file.
        ASSERT_TRUE(capture.Start(path, window));
        EXPECT_EQ(readFile(path), "");
        capture.Stop(window);
    }
}

TEST_F(CaptureFileTest, FileHoldsExactlyTheShownTrafficOfBothDirections) {
    const std::string path = dir / "both.txt";
    TrafficFormatter formatter(window, capture, [] { return platform::TimeOfDay{1, 2, 3, 4}; });
    ASSERT_TRUE(capture.Start(path, window));
    const std::vector<std::uint8_t> received = {0x10, 0x00, 0x0D, 0x0A};
    const std::vector<std::uint8_t> sent = bytesOf("AT\r\n");
    formatter.BeginTrafficLine(window);
    window.appendText(" DCE ->> ");
    formatter.ShowTraffic(window, received.data(), 4);
    window.setFormat(engine::kDisplayAscii);
    formatter.BeginTrafficLine(window);
    window.appendText(" DTE <<- ");
    formatter.ShowTraffic(window, sent.data(), 4);
    capture.Stop(window);
    EXPECT_EQ(readFile(path), std::string("\x10\x00\x0D\x0A"
                                          "AT\r\n",
                                          8));
}

TEST_F(CaptureFileTest, WriterRacingStopNeverWritesAfterIt) {
    const std::string path = dir / "race.bin";
    ASSERT_TRUE(capture.Start(path, window));
    constexpr std::size_t kChunk = 97;
    auto chunkOf = [](std::size_t index) {
        return std::vector<std::uint8_t>(kChunk, static_cast<std::uint8_t>(index % 251 + 1));
    };
    std::atomic<std::size_t> written{0};
    std::atomic<bool> sawStopped{false};
    std::jthread writer([&](std::stop_token stop) {
        for (std::size_t i = 0; !stop.stop_requested(); ++i) {
            if (!capture.Write(chunkOf(i))) {
                sawStopped = true;
                return;
            }
            written = i + 1;
        }
    });
    ASSERT_TRUE(waitUntil([&] { return written.load() >= 200; }));
    capture.Stop(window);
    ASSERT_TRUE(waitUntil([&] { return sawStopped.load(); }));
    writer.join();

    const std::string content = readFile(path);
    ASSERT_EQ(content.size() % kChunk, 0u);
    ASSERT_GE(content.size() / kChunk, 200u);
    for (std::size_t i = 0; i * kChunk < content.size(); ++i) {
        ASSERT_EQ(content.compare(i * kChunk, kChunk, asString(chunkOf(i))), 0) << "chunk " << i;
    }
    EXPECT_EQ(window.text().find("Capture write failed"), std::string::npos);
}

TEST_F(CaptureFileTest, DestructionDuringCaptureClosesSilentlyAndReleasesTheLock) {
    const std::string path = dir / "end.txt";
    {
        CaptureFile running;
        ASSERT_TRUE(running.Start(path, window));
        EXPECT_TRUE(running.Write(bytesOf("abc")));
        window.clear();
    }
    EXPECT_TRUE(window.pieces().empty());
    EXPECT_EQ(readFile(path), "abc");
    ASSERT_TRUE(capture.Start(path, window));
    capture.Stop(window);
}

}  // namespace
}  // namespace ostrel::presentation
