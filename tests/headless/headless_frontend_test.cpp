// RunHeadless in process, with its output, error and input on fds the test
// owns: the cases that a child process cannot easily show.

#include "headless/headless_frontend.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>

#include "platform/pty_test_support.h"
#include "platform/temp_dir.h"
#include "platform/unique_fd.h"

namespace ostrel::headless {
namespace {

using namespace std::chrono_literals;

struct Pipe {
    platform::UniqueFd read, write;
    Pipe() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
            read.reset(fds[0]);
            write.reset(fds[1]);
        }
    }
};

std::string pending(const platform::UniqueFd& fd) {
    return platform::test::pendingText(fd.get());
}

class FrontEnd : public ::testing::Test {
protected:
    void SetUp() override {
        pty_ = platform::test::openBareMaster();
        ASSERT_TRUE(pty_.master.valid());
        ASSERT_TRUE(dir_.valid());
        env_.sysfsRoot = dir_ / "no-sysfs";
        env_.runtimeDir = dir_.path();
        options_.dte = pty_.slavePath;
        options_.durationSeconds = 0.3;
    }
    platform::test::BareMaster pty_;
    platform::test::TempDir dir_;
    PortEnvironment env_;
    Options options_;
};

TEST_F(FrontEnd, StandardInputAtItsEndLeavesTheSessionRunningUntilTheDuration) {
    Pipe out, err;
    platform::UniqueFd null(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(out.read.valid() && err.read.valid() && null.valid());
    options_.sendStdin = true;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunHeadless(options_, RunIo{out.write.get(), err.write.get(), null.get()}, env_), kExitOk);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 290ms);
    EXPECT_EQ(pending(out.read), "\r\n*** Port is ON  ***\r\n\r\n*** Port is OFF ***\r\n");
    EXPECT_EQ(pending(err.read), "");
}

TEST_F(FrontEnd, AnOutputThatWentAwayIsReportedAndEndsTheRun) {
    Pipe out, err;
    ASSERT_TRUE(out.read.valid() && err.read.valid());
    out.read.reset();  // nobody will ever read the traffic text
    options_.durationSeconds = 5;
    options_.sends = {"AT"};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunHeadless(options_, RunIo{out.write.get(), err.write.get(), -1}, env_), kExitOpenFailed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << "the run went on writing to nowhere";
    EXPECT_EQ(pending(err.read), "ostrel: standard output: Broken pipe\n");
}

TEST_F(FrontEnd, ListPortsShowsOnlyPortsThatOpen) {
    Pipe out, err;
    ASSERT_TRUE(out.read.valid() && err.read.valid());
    options_ = Options{};
    options_.listPorts = true;
    options_.portMappings = {{2, pty_.slavePath}, {3, dir_ / "not-a-device"}};
    EXPECT_EQ(RunHeadless(options_, RunIo{out.write.get(), err.write.get(), -1}, env_), kExitOk);
    EXPECT_EQ(pending(out.read), "COM2  " + pty_.slavePath + "  mapped with --port\n");
}

TEST_F(FrontEnd, ASetupErrorIsOneLineAndNothingIsShown) {
    Pipe out, err;
    ASSERT_TRUE(out.read.valid() && err.read.valid());
    options_.portMappings = {{2, "/dev/a"}, {2, "/dev/b"}};
    EXPECT_EQ(RunHeadless(options_, RunIo{out.write.get(), err.write.get(), -1}, env_), kExitBadOption);
    EXPECT_EQ(pending(out.read), "");
    EXPECT_EQ(pending(err.read), "ostrel: --port: COM2 is already mapped to /dev/a\n");
}

}  // namespace
}  // namespace ostrel::headless
