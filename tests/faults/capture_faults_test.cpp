// The capture file under faults: a disk that fills (or fails) in the middle
// of a run, and a file that may not be written. The file keeps an exact
// prefix of the traffic, and the operator reads how much it holds. (A missing
// folder and files locked by another program are covered in
// tests/presentation/capture_file_test.cpp.)

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>

#include "engine/engine_test_support.h"
#include "platform/temp_dir.h"
#include "platform/unique_fd.h"
#include "presentation/capture_file.h"
#include "presentation/presentation_test_support.h"
#include "support/fault_seam.h"
#include "support/process_health.h"

namespace ostrel::faults {
namespace {

using presentation::CaptureFile;
using presentation::FakeWindow;
using presentation::readFile;
using Pieces = std::vector<std::string>;

class CaptureFaults : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.valid());
        // A sanitizer's runtime starts a helper thread of its own with the
        // process's first thread; that one is not the capture's to join.
        std::thread([] {}).join();
    }
    void TearDown() override { clearAll(); }
    platform::test::TempDir dir;
    FakeWindow window;
};

std::string textOf(const engine::testing::Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

TEST_F(CaptureFaults, ADiskThatFillsOrFailsMidRunEndsTheCaptureWithAnExactPrefixAndSaysHowMuch) {
    struct Case {
        int code;
        std::string words;
    };
    for (const Case& c : {Case{ENOSPC, "no space left on device"}, Case{EIO, "input/output error"}}) {
        SCOPED_TRACE(c.words);
        const HealthBaseline health;
        const std::string path = dir / ("capture-" + std::to_string(c.code) + ".bin");
        window.clear();
        {
            CaptureFile capture;
            ASSERT_TRUE(capture.Start(path, window));
            const auto first = engine::testing::randomBytes(10000, 51);
            const auto second = engine::testing::randomBytes(10000, 52);
            ASSERT_TRUE(capture.Write(first));
            ASSERT_TRUE(engine::testing::waitUntil([&] { return readFile(path).size() == first.size(); }));
            // The disk takes 300 bytes of the next write, then no more.
            shortenWrites(onFile(path), 1, 300);
            failNext(onFile(path), Call::Write, 1, c.code);
            ASSERT_TRUE(capture.Write(second));
            // The writer thread ends the capture, then shows why.
            ASSERT_TRUE(engine::testing::waitUntil([&] { return window.pieces().size() == 6; }));
            EXPECT_FALSE(capture.active());
            EXPECT_EQ(taken(onFile(path)), 2u);
            EXPECT_FALSE(capture.Write(second));  // no capture runs any more
            EXPECT_EQ(readFile(path), textOf(first) + textOf(second).substr(0, 300));
            EXPECT_EQ(window.pieces(), (Pieces{"*** Capturing to file: ", path, "\r\n",
                                               "\r\n*** Capturing data to file...\r\n",
                                               "\r\n*** Capture write failed: " + path + ": " + c.words +
                                                   "; 10300 bytes in the file ***\r\n",
                                               "\r\n*** Capture data ended...\r\n"}));
            // A Stop after the failure adds nothing.
            capture.Stop(window);
            EXPECT_EQ(window.pieces().size(), 6u);
        }
        clearAll();
        EXPECT_EQ(openFdCount(), health.fds);
        EXPECT_TRUE(engine::testing::waitUntil([&] { return threadCount() == health.threads; }));
    }
}

// Makes a file read-only for everyone, root included (the immutable flag),
// and takes the flag off again when it goes.
class ReadOnlyFile {
public:
    explicit ReadOnlyFile(const std::string& path) : path_(path) {
        platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        int flags = 0;
        if (fd.valid() && ::ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) == 0) {
            flags |= FS_IMMUTABLE_FL;
            set_ = ::ioctl(fd.get(), FS_IOC_SETFLAGS, &flags) == 0;
        }
        // Without the flag, a plain mode does for a user who is not root.
        if (!set_ && ::geteuid() != 0) set_ = ::chmod(path.c_str(), 0444) == 0;
    }
    ~ReadOnlyFile() {
        platform::UniqueFd fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
        int flags = 0;
        if (fd.valid() && ::ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_IMMUTABLE_FL)) {
            flags &= ~FS_IMMUTABLE_FL;
            (void)::ioctl(fd.get(), FS_IOC_SETFLAGS, &flags);
        }
    }
    bool set() const { return set_; }

private:
    std::string path_;
    bool set_ = false;
};

TEST_F(CaptureFaults, AReadOnlyFileIsInUseAndKeptAsItWas) {
    const std::string path = dir / "kept.bin";
    presentation::writeFile(path, "earlier capture");
    const ReadOnlyFile readOnly(path);
    if (!readOnly.set()) GTEST_SKIP() << "this file system cannot make a file read-only for root";
    const HealthBaseline health;
    CaptureFile capture;
    std::string problem;
    EXPECT_FALSE(capture.Start(path, window, &problem));
    EXPECT_EQ(problem, path + ": permission denied");
    EXPECT_EQ(window.pieces(), (Pieces{"*** Capturing to file: ", path, "\r\n", "\r\n*** File in use!!\r\n",
                                       "\r\n*** " + path + ": permission denied ***\r\n"}));
    EXPECT_EQ(readFile(path), "earlier capture");
    EXPECT_EQ(openFdCount(), health.fds);
}

}  // namespace
}  // namespace ostrel::faults
