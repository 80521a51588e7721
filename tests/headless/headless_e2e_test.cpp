// The real ostrel binary run headless over pseudo-terminals that the test
// makes: what it prints, what reaches the line, and its exit codes.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "child_process.h"
#include "platform/pty_test_support.h"
#include "platform/temp_dir.h"

namespace ostrel::headless::test {
namespace {

using namespace std::chrono_literals;
using platform::test::openBareMaster;
using platform::test::readFd;
using platform::test::TempDir;
using platform::test::writeAll;

constexpr std::string_view kPortOn = "\r\n*** Port is ON  ***\r\n";
constexpr std::string_view kPortOff = "\r\n*** Port is OFF ***\r\n";
constexpr std::string_view kOpenError = "\r\n*** Error opening COM Port !!! ***\r\n";
constexpr std::string_view kCheckSettings = "\r\n*** Check Port Settings !!! ***\r\n";

std::string asText(const std::vector<std::uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

bool isTimeStamp(std::string_view s) {
    if (s.size() != 14 || s[0] != '[' || s[13] != ']' || s[3] != ':' || s[6] != ':' || s[9] != ':')
        return false;
    for (int i : {1, 2, 4, 5, 7, 8, 10, 11, 12})
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}

// The output with every line-start time stamp "\r\n[hh:mm:ss:mmm]" turned
// into "\r\n[T]", so that traffic lines can be compared as plain text.
std::string withoutTimes(const std::string& out) {
    std::string result;
    std::size_t from = 0;
    for (auto pos = out.find("\r\n["); pos != std::string::npos; pos = out.find("\r\n[", pos + 1)) {
        if (!isTimeStamp(std::string_view(out).substr(pos + 2, 14))) continue;
        result.append(out, from, pos + 2 - from).append("[T]");
        from = pos + 16;
    }
    return result.append(out, from);
}

bool endsWith(const std::string& text, std::string_view tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Reads from a fd until `text` has arrived or the time-out passes.
std::string readUntil(int fd, std::string_view text, std::chrono::milliseconds timeout = 3s) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (got.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline)
        got += asText(readFd(fd, 1, 20ms));
    return got;
}

class HeadlessRun : public ::testing::Test {
protected:
    void SetUp() override {
        pty_ = openBareMaster();
        ASSERT_TRUE(pty_.master.valid()) << "no pseudo-terminal";
        ASSERT_TRUE(dir_.valid());
    }
    std::unique_ptr<ChildProcess> start(std::vector<std::string> args, std::vector<std::string> env = {}) {
        // The runtime directory is the test's own, so virtual-port links never meet another run's.
        env.push_back("XDG_RUNTIME_DIR=" + dir_.path());
        // Always headless, also in a build with the windows and a display at hand.
        args.insert(args.begin(), "--headless");
        auto child = std::make_unique<ChildProcess>(OSTREL_BINARY, args, env);
        EXPECT_TRUE(child->started());
        return child;
    }
    platform::test::BareMaster pty_;
    TempDir dir_;
};

TEST_F(HeadlessRun, ShowsReceivedTextBetweenTheStatusLinesAndStopsAfterTheDuration) {
    // The slave was never opened: it is in the kernel's cooked mode, and
    // ostrel has to make it raw itself.
    auto child = start({"--mode", "dte", "--dte", pty_.slavePath, "--display", "ascii", "--duration", "1"});
    ASSERT_TRUE(child->waitForOutput(kPortOn)) << child->errors();
    ASSERT_TRUE(writeAll(pty_.master.get(), "hello\x03\n"));
    EXPECT_EQ(child->waitExit(4s), 0) << child->errors();

    const std::string& out = child->output();
    EXPECT_EQ(out.rfind(kPortOn, 0), 0u) << out;
    EXPECT_NE(withoutTimes(out).find("\r\n[T] DCE ->> hello\x03\n"), std::string::npos) << out;
    EXPECT_TRUE(endsWith(out, kPortOff)) << out;
    EXPECT_LT(out.find("hello"), out.find(kPortOff));
    EXPECT_EQ(child->errors(), "");
}

TEST_F(HeadlessRun, SendReachesTheLineAndIsEchoed) {
    auto child = start({"--dte", pty_.slavePath, "--display", "ascii", "--send", "AT\\r", "--send", "ATI\r"});
    ASSERT_TRUE(child->waitForOutput(kPortOn)) << child->errors();
    const std::string line = readUntil(pty_.master.get(), "ATI\r");
    EXPECT_EQ(line, "AT\rATI\r");
    ASSERT_TRUE(child->waitForOutput(" DTE <<- ATI\r"));
    EXPECT_NE(withoutTimes(child->output()).find("\r\n[T] DTE <<- AT\r\r\n[T] DTE <<- ATI\r"),
              std::string::npos)
        << child->output();
    child->signal(SIGINT);
    EXPECT_EQ(child->waitExit(), 0);
}

TEST_F(HeadlessRun, HexDisplayReadsTheSendTextAsHexDigits) {
    auto child = start({"--dte", pty_.slavePath, "--send", "41 54 0d"});
    ASSERT_TRUE(child->waitForOutput(" DTE <<- 0x41 0x54 0x0D ")) << child->output() << child->errors();
    EXPECT_EQ(readUntil(pty_.master.get(), "AT\r"), "AT\r");
    child->signal(SIGTERM);
    EXPECT_EQ(child->waitExit(), 0);
}

TEST_F(HeadlessRun, SigtermClosesThePortAndExitsZero) {
    auto child = start({"--dte", pty_.slavePath});
    ASSERT_TRUE(child->waitForOutput(kPortOn)) << child->errors();
    child->signal(SIGTERM);
    EXPECT_EQ(child->waitExit(), 0);
    EXPECT_EQ(child->output(), std::string(kPortOn) + std::string(kPortOff));
    // The port is free again: another exclusive open succeeds.
    platform::UniqueFd again(::open(pty_.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    ASSERT_TRUE(again.valid());
    EXPECT_EQ(::flock(again.get(), LOCK_EX | LOCK_NB), 0);
}

TEST_F(HeadlessRun, StandardInputAtEndDoesNotEndTheSession) {
    auto child = start({"--dte", pty_.slavePath, "--display", "ascii", "--send-stdin"});
    ASSERT_TRUE(child->waitForOutput(kPortOn)) << child->errors();
    ASSERT_TRUE(writeAll(child->stdinFd(), "first\nsecond\r\nlast"));
    child->closeStdin();  // the unterminated last line is sent at the end of input
    EXPECT_EQ(readUntil(pty_.master.get(), "last"), "firstsecond\rlast");
    // Still running: what arrives on the line is shown.
    ASSERT_TRUE(writeAll(pty_.master.get(), "still here"));
    EXPECT_TRUE(child->waitForOutput("DCE ->> still here")) << child->output();
    child->signal(SIGINT);
    EXPECT_EQ(child->waitExit(), 0);
    EXPECT_TRUE(endsWith(child->output(), kPortOff));
}

TEST_F(HeadlessRun, ABusyPortGivesTheTwoErrorLinesAndExitCodeOne) {
    platform::UniqueFd holder(::open(pty_.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    ASSERT_TRUE(holder.valid());
    ASSERT_EQ(::flock(holder.get(), LOCK_EX | LOCK_NB), 0);

    auto child = start({"--port", "9=" + pty_.slavePath, "--dte", "COM9"});
    EXPECT_EQ(child->waitExit(), 1);
    EXPECT_EQ(child->output(), std::string(kOpenError) + std::string(kCheckSettings));
    EXPECT_NE(child->errors().find("COM9"), std::string::npos) << child->errors();
    EXPECT_NE(child->errors().find("busy"), std::string::npos) << child->errors();
}

TEST_F(HeadlessRun, AMissingDeviceGivesTheTwoErrorLinesAndExitCodeOne) {
    auto child = start({"--mode", "intercede", "--dte", pty_.slavePath, "--dce", dir_ / "no-such-device"});
    EXPECT_EQ(child->waitExit(), 1);
    EXPECT_EQ(child->output(), std::string(kOpenError) + std::string(kCheckSettings));
    EXPECT_NE(child->errors().find("no-such-device"), std::string::npos) << child->errors();
}

TEST_F(HeadlessRun, ABadOptionIsNamedAndGivesExitCodeTwo) {
    auto child = start({"--dte", pty_.slavePath, "--stop-bits", "3"});
    EXPECT_EQ(child->waitExit(), 2);
    EXPECT_EQ(child->output(), "");
    EXPECT_EQ(child->errors().rfind("ostrel: --stop-bits: ", 0), 0u) << child->errors();
    EXPECT_EQ(std::count(child->errors().begin(), child->errors().end(), '\n'), 1);
}

TEST_F(HeadlessRun, AHangUpEndsTheRunWithExitCodeThreeWithoutSpinning) {
    auto child = start({"--port", "7=" + pty_.slavePath, "--dte", "COM7", "--duration", "20"});
    ASSERT_TRUE(child->waitForOutput(kPortOn)) << child->errors();
    std::this_thread::sleep_for(300ms);  // a stretch of idle running, part of the CPU measure
    pty_.master.reset();                 // the other end goes away
    EXPECT_EQ(child->waitExit(3s), 3);
    EXPECT_EQ(child->output(),
              std::string(kPortOn) + "\r\n*** COM7 disconnected ***\r\n" + std::string(kPortOff));
    EXPECT_LT(child->cpuTime(), 400ms);
}

TEST_F(HeadlessRun, CaptureHoldsExactlyTheRawBytes) {
    const std::string file = dir_ / "capture.bin";
    auto child = start({"--dte", pty_.slavePath, "--capture", file});
    ASSERT_TRUE(child->waitForOutput(kPortOn)) << child->errors();
    const auto bytes = platform::test::allByteValues(3);
    ASSERT_TRUE(writeAll(pty_.master.get(), bytes));
    ASSERT_TRUE(platform::test::waitUntil([&] {
        std::error_code ec;
        return std::filesystem::file_size(file, ec) >= bytes.size();
    }));
    child->signal(SIGTERM);
    EXPECT_EQ(child->waitExit(), 0);

    std::ifstream in(file, std::ios::binary);
    const std::vector<std::uint8_t> captured{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(captured, bytes);
    const std::string expectedStart = "*** Capturing to file: " + file + "\r\n" +
                                      "\r\n*** Capturing data to file...\r\n" + std::string(kPortOn);
    EXPECT_EQ(child->output().rfind(expectedStart, 0), 0u) << child->output().substr(0, 200);
}

TEST_F(HeadlessRun, AnUnwritableCaptureFileStopsBeforeOpening) {
    const std::string file = dir_ / "missing-folder/capture.bin";
    auto child = start({"--dte", pty_.slavePath, "--capture", file});
    EXPECT_EQ(child->waitExit(), 1);
    EXPECT_EQ(child->output().rfind("*** Capturing to file: " + file + "\r\n\r\n*** File in use!!\r\n", 0),
              0u)
        << child->output();
    EXPECT_EQ(child->output().find(kPortOn), std::string::npos);
    EXPECT_EQ(child->errors().rfind("ostrel: --capture: ", 0), 0u) << child->errors();
}

TEST_F(HeadlessRun, VirtualPortCarriesTrafficBothWays) {
    const std::string link = dir_ / "xyz";
    auto child = start({"--virtual", "5=" + link, "--dte", "COM5", "--display", "ascii", "--send-stdin"});
    ASSERT_TRUE(child->waitForOutput(kPortOn)) << child->errors();

    // Another program opens the link as if it were a serial device.
    platform::UniqueFd device(::open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    ASSERT_TRUE(device.valid());
    ASSERT_TRUE(writeAll(device.get(), "ping"));
    EXPECT_TRUE(child->waitForOutput(" DCE ->> ping")) << child->output();
    ASSERT_TRUE(writeAll(child->stdinFd(), "pong\n"));
    EXPECT_EQ(readUntil(device.get(), "pong"), "pong");

    child->signal(SIGTERM);
    EXPECT_EQ(child->waitExit(), 0);
    struct stat st {};
    EXPECT_NE(::lstat(link.c_str(), &st), 0) << "the link outlived the run";
}

TEST_F(HeadlessRun, DemoLineShowsBothDirections) {
    auto child = start({"--demo", "--demo-pace", "8", "--display", "ascii", "--duration", "1.2"});
    EXPECT_EQ(child->waitExit(4s), 0) << child->errors();
    const std::string& out = child->output();
    EXPECT_EQ(out.rfind(kPortOn, 0), 0u) << out;
    // The terminal's commands read as the DTE's, the modem's answers as the DCE's.
    EXPECT_NE(out.find("] DTE ->> ATZ\r"), std::string::npos) << out;
    const std::size_t ok = out.find("\r\nOK\r\n");
    ASSERT_NE(ok, std::string::npos) << out;
    const std::size_t fromDce = out.rfind(" DCE ->> ", ok);
    const std::size_t fromDte = out.rfind(" DTE ->> ", ok);
    ASSERT_NE(fromDce, std::string::npos) << out;
    EXPECT_TRUE(fromDte == std::string::npos || fromDte < fromDce) << out;
    EXPECT_NE(out.find("CONNECT 9600"), std::string::npos) << out;
    EXPECT_TRUE(endsWith(out, kPortOff)) << out;
}

TEST_F(HeadlessRun, ListPortsNamesTheMappedPortsThatOpen) {
    auto child =
        start({"--port", "12=" + pty_.slavePath, "--virtual", "13=" + (dir_ / "v13"), "--list-ports"});
    EXPECT_EQ(child->waitExit(), 0);
    EXPECT_NE(child->output().find("COM12  " + pty_.slavePath + "  "), std::string::npos) << child->output();
    EXPECT_NE(child->output().find("COM13  " + (dir_ / "v13") + "  "), std::string::npos) << child->output();
    EXPECT_EQ(child->errors(), "");
}

}  // namespace
}  // namespace ostrel::headless::test
