// The real ostrel binary run headless over pseudo-terminals that the test
// makes: what it prints, what reaches the line, and its exit codes.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "child_process.h"
#include "json_reader.h"
#include "platform/pty_test_support.h"
#include "platform/temp_dir.h"

namespace ostrel::headless::test {
namespace {

using namespace std::chrono_literals;
using platform::test::openBareMaster;
using platform::test::readFd;
using platform::test::readUntil;
using platform::test::TempDir;
using platform::test::writeAll;

constexpr std::string_view kPortOn = "\r\n*** Port is ON  ***\r\n";
constexpr std::string_view kPortOff = "\r\n*** Port is OFF ***\r\n";
constexpr std::string_view kOpenError = "\r\n*** Error opening COM Port !!! ***\r\n";
constexpr std::string_view kCheckSettings = "\r\n*** Check Port Settings !!! ***\r\n";

// The output with every line-start time stamp "\r\n[hh:mm:ss:mmm]" turned
// into "\r\n[T]", so that traffic lines can be compared as plain text.
std::string withoutTimes(const std::string& out) {
    constexpr std::string_view shape = "\r\n[00:00:00:000]";  // 0 stands for any digit
    std::string result;
    std::size_t i = 0;
    while (i < out.size()) {
        const bool stamp = out.size() - i >= shape.size() &&
                           std::equal(shape.begin(), shape.end(),
                                      out.begin() + static_cast<std::ptrdiff_t>(i), [](char want, char got) {
                                          return want == '0'
                                                     ? std::isdigit(static_cast<unsigned char>(got)) != 0
                                                     : want == got;
                                      });
        if (stamp) {
            result += "\r\n[T]";
            i += shape.size();
        } else {
            result += out[i++];
        }
    }
    return result;
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
    EXPECT_TRUE(out.ends_with(kPortOff)) << out;
    EXPECT_LT(out.find("hello"), out.find(kPortOff));
    EXPECT_EQ(child->errors(), "");
}

TEST_F(HeadlessRun, SendReachesTheLineAndIsEchoed) {
    // In the HEX display the send text is read as hex digits, as in the window.
    auto child = start({"--dte", pty_.slavePath, "--send", "41 54 0d", "--send", "41 54 49 0D"});
    ASSERT_TRUE(child->waitForOutput(kPortOn)) << child->errors();
    EXPECT_EQ(readUntil(pty_.master.get(), "ATI\r"), "AT\rATI\r");
    ASSERT_TRUE(child->waitForOutput(" DTE <<- 0x41 0x54 0x49 0x0D ")) << child->output();
    EXPECT_NE(withoutTimes(child->output())
                  .find("\r\n[T] DTE <<- 0x41 0x54 0x0D \r\n[T] DTE <<- 0x41 0x54 0x49 0x0D "),
              std::string::npos)
        << child->output();
    child->signal(SIGINT);
    EXPECT_EQ(child->waitExit(), 0);
}

TEST_F(HeadlessRun, TerminationSignalsCloseThePortAndExitZero) {
    for (const int signo : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(::strsignal(signo));
        auto child = start({"--dte", pty_.slavePath});
        ASSERT_TRUE(child->waitForOutput(kPortOn)) << child->errors();
        child->signal(signo);
        EXPECT_EQ(child->waitExit(), 0);
        EXPECT_EQ(child->output(), std::string(kPortOn) + std::string(kPortOff));
        // The port is free again: another exclusive open succeeds.
        platform::UniqueFd again(::open(pty_.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
        ASSERT_TRUE(again.valid());
        EXPECT_EQ(::flock(again.get(), LOCK_EX | LOCK_NB), 0);
    }
}

TEST_F(HeadlessRun, StandardInputAtEndDoesNotEndTheSession) {
    auto child = start({"--dte", pty_.slavePath, "--display", "ascii", "--send-stdin"});
    ASSERT_TRUE(child->waitForOutput(kPortOn)) << child->errors();
    ASSERT_TRUE(writeAll(child->stdinFd(), "first\nsecond\r\nlast"));
    child->closeStdin();  // the unterminated last line is sent at the end of input, without an ending
    EXPECT_EQ(readUntil(pty_.master.get(), "last"), "first\rsecond\rlast");
    // Still running: what arrives on the line is shown.
    ASSERT_TRUE(writeAll(pty_.master.get(), "still here"));
    EXPECT_TRUE(child->waitForOutput("DCE ->> still here")) << child->output();
    child->signal(SIGINT);
    EXPECT_EQ(child->waitExit(), 0);
    EXPECT_TRUE(child->output().ends_with(kPortOff));
}

TEST_F(HeadlessRun, FailedStartsPrintTheirLinesAndExitCodes) {
    // Named relative, shown with its full path as the window's file dialog gives it.
    const std::string capture = std::filesystem::current_path() / "missing-folder/capture.bin";
    const std::string openFailed = std::string(kOpenError) + std::string(kCheckSettings);
    const std::string noFile = "*** Capturing to file: " + capture + "\r\n\r\n*** File in use!!\r\n\r\n*** " +
                               capture + ": no such file or folder ***\r\n";
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string output;      // all of standard output
        std::string errorStart;  // of standard error
        std::string errorHas;
    };
    const std::string nothing = dir_ / "nothing";
    const std::string fifo = dir_ / "unread.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string noReader = "*** Capturing to file: " + fifo + "\r\n\r\n*** File in use!!\r\n\r\n*** " +
                                 fifo + ": no program reads this pipe ***\r\n";
    const std::string twice = "ostrel: --port: COM2 is already mapped to /dev/a\n";
    const Case table[] = {
        {{"--port", "9=" + pty_.slavePath, "--dte", "COM9"}, 1, openFailed, "ostrel: COM9: ", "busy"},
        {{"--mode", "intercede", "--dte", pty_.slavePath, "--dce", nothing}, 1, openFailed, "", nothing},
        {{"--dte", pty_.slavePath, "--stop-bits", "3"}, 2, "", "ostrel: --stop-bits: ", ""},
        {{"--port", "2=/dev/a", "--port", "2=/dev/b"}, 2, "", twice, ""},
        // The capture file is opened before the port, which then stays closed.
        {{"--dte", pty_.slavePath, "--capture", "missing-folder/capture.bin"},
         1,
         noFile,
         "ostrel: --capture: ",
         ""},
        {{"--mode", "intercede", "--dte", pty_.slavePath, "--dce", pty_.slavePath},
         2,
         "",
         "ostrel: --dte and --dce name the same port (COM",
         ")\n"},
        {{"--virtual", "5", "--virtual", "5"}, 2, "", "ostrel: --virtual: COM5 is named twice\n", ""},
        {{"--duration", "0x10"}, 2, "", "ostrel: --duration: ", ""},
        // A pipe that nobody reads must not hang the start.
        {{"--dte", pty_.slavePath, "--capture", fifo},
         1,
         noReader,
         "ostrel: --capture: ",
         "no program reads"},
    };
    for (const Case& c : table) {
        SCOPED_TRACE(c.args.back());
        platform::UniqueFd holder;  // another program holding the port
        if (c.errorHas == "busy") {
            holder.reset(::open(pty_.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
            ASSERT_TRUE(holder.valid());
            ASSERT_EQ(::flock(holder.get(), LOCK_EX | LOCK_NB), 0);
        }
        auto child = start(c.args);
        EXPECT_EQ(child->waitExit(), c.exitCode);
        const std::string& errors = child->errors();
        if (c.output == openFailed) {
            // Each port's reason follows, as the window shows it (and as standard error says it).
            ASSERT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
            EXPECT_EQ(child->output(),
                      openFailed + "\r\n*** " + errors.substr(8, errors.size() - 9) + " ***\r\n");
        } else {
            EXPECT_EQ(child->output(), c.output);
        }
        EXPECT_EQ(errors.rfind(c.errorStart, 0), 0u) << errors;
        EXPECT_NE(errors.find(c.errorHas), std::string::npos) << errors;
        if (c.exitCode == 2) {
            EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
        }
    }
}

// Fills the child's standard output pipe, which the test does not read: the
// pty's bytes come back as five times as much hex text.
void fillStandardOutput(ChildProcess& child, int master) {
    child.holdStdout(true);
    ASSERT_TRUE(writeAll(master, std::vector<std::uint8_t>(64 * 1024, 'x')));
    ASSERT_TRUE(platform::test::waitUntil([&] {
        int pending = 0;
        return ::ioctl(child.stdoutFd(), FIONREAD, &pending) == 0 && pending >= 60000;
    }));
}

TEST_F(HeadlessRun, ASignalEndsTheRunWithinTwoSecondsWhileStandardOutputIsNotRead) {
    for (const bool twice : {false, true}) {
        SCOPED_TRACE(twice ? "two signals" : "one signal");
        auto child = start({"--dte", pty_.slavePath});
        ASSERT_TRUE(child->waitForOutput(kPortOn)) << child->errors();
        fillStandardOutput(*child, pty_.master.get());
        const auto start = std::chrono::steady_clock::now();
        child->signal(SIGTERM);
        if (twice) child->signal(SIGQUIT);  // a second signal ends it at once
        EXPECT_EQ(child->waitExit(10s), 0);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took, twice ? 1000ms : 2000ms);
        const std::string& errors = child->errors();
        const std::string tail = " bytes of traffic text not written: standard output blocked\n";
        ASSERT_TRUE(errors.starts_with("ostrel: ") && errors.ends_with(tail)) << errors;
        EXPECT_GT(std::stoull(errors.substr(8)), 0u) << errors;
        // The port was closed all the same.
        platform::UniqueFd again(::open(pty_.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
        ASSERT_TRUE(again.valid());
        EXPECT_EQ(::flock(again.get(), LOCK_EX | LOCK_NB), 0);
        platform::test::readFd(pty_.master.get(), 1 << 20, 20ms);
    }
}

TEST_F(HeadlessRun, AReaderThatGoesAwayEndsTheRunQuietly) {
    auto child = start({"--demo", "--demo-pace", "5", "--display", "ascii"});
    ASSERT_TRUE(child->waitForOutput(kPortOn)) << child->errors();
    child->closeStdout();  // as `| head -4` does once it has its lines
    EXPECT_EQ(child->waitExit(), 0);
    EXPECT_EQ(child->errors(), "");
}

TEST_F(HeadlessRun, ClosedStandardDescriptorsAreNeverTakenByAPort) {
    // The port's pty would take fd 1, and the traffic text would go into the line.
    const std::string link = dir_ / "v5";
    ChildProcess child("/bin/sh",
                       {"-c", "exec \"$0\" \"$@\" <&- >&-", OSTREL_BINARY, "--headless", "--virtual",
                        "5=" + link, "--dte", "COM5", "--display", "ascii", "--duration", "3"},
                       {"XDG_RUNTIME_DIR=" + dir_.path()});
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(platform::test::waitUntil([&] {
        struct stat st {};
        return ::lstat(link.c_str(), &st) == 0;
    }));
    platform::UniqueFd device(::open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    ASSERT_TRUE(device.valid());
    ASSERT_TRUE(writeAll(device.get(), "ping"));
    // Read while the run goes on: the status line of the open would be there already.
    EXPECT_EQ(readUntil(device.get(), "***", 1s), "");
    EXPECT_EQ(child.waitExit(), 0) << child.errors();
    // Only where the virtual port is, on standard error.
    EXPECT_EQ(child.errors(), "ostrel: COM5 is the virtual port at " + link + "\n");
}

TEST_F(HeadlessRun, StandardInputWaitsWhileThePortTakesNothingAndLongLinesGoInPieces) {
    const std::string link = dir_ / "unread";
    auto child = start({"--virtual", "5=" + link, "--dte", "COM5", "--display", "ascii", "--send-stdin"});
    ASSERT_TRUE(child->waitForOutput(kPortOn)) << child->errors();
    // An endless line into a port that nobody reads: the child stops taking
    // standard input once the port's queue is full.
    ASSERT_EQ(::fcntl(child->stdinFd(), F_SETFL, O_NONBLOCK), 0);
    const std::string block(65536, 'y');
    std::size_t given = 0;
    while (given < (64u << 20)) {
        pollfd out{child->stdinFd(), POLLOUT, 0};
        if (::poll(&out, 1, 1000) != 1) break;  // a second without taking anything
        const ssize_t n = ::write(child->stdinFd(), block.data(), block.size());
        if (n > 0) given += static_cast<std::size_t>(n);
    }
    EXPECT_LT(given, 4u << 20) << "standard input was read on while the port took nothing";
    // Each piece was sent, and echoed, as a send of its own.
    ASSERT_TRUE(child->waitForOutput("y\r\n[")) << child->errors();
    const std::string out = withoutTimes(child->output());
    const std::size_t first = out.find("\r\n[T] DTE <<- ");
    ASSERT_NE(first, std::string::npos);
    const std::size_t second = out.find("\r\n[T] DTE <<- ", first + 1);
    ASSERT_NE(second, std::string::npos) << out.size();
    EXPECT_EQ(second - first - std::string_view("\r\n[T] DTE <<- ").size(), 65536u);
    child->signal(SIGTERM);
    EXPECT_EQ(child->waitExit(), 0);
}

TEST_F(HeadlessRun, ATerminalSeesTheLinesControlBytesAsTheirPictures) {
    for (const char* locale : {"C.UTF-8", "C"}) {
        SCOPED_TRACE(locale);
        auto terminal = openBareMaster();
        ASSERT_TRUE(terminal.master.valid());
        platform::UniqueFd screen(::open(terminal.slavePath.c_str(), O_RDWR | O_NOCTTY));
        ASSERT_TRUE(screen.valid());
        termios raw{};
        ASSERT_EQ(::tcgetattr(screen.get(), &raw), 0);
        ::cfmakeraw(&raw);
        ASSERT_EQ(::tcsetattr(screen.get(), TCSANOW, &raw), 0);
        ChildProcess child(OSTREL_BINARY, {"--headless", "--dte", pty_.slavePath, "--display", "ascii"},
                           {"XDG_RUNTIME_DIR=" + dir_.path(), "LC_ALL=" + std::string(locale)}, screen.get());
        ASSERT_TRUE(child.started());
        std::string seen = readUntil(terminal.master.get(), kPortOn, 20s);
        ASSERT_NE(seen.find(kPortOn), std::string::npos) << seen;
        ASSERT_TRUE(writeAll(pty_.master.get(), "a\x1b]0;title\x07\xe9\x85z\t\r\n"));
        seen += readUntil(terminal.master.get(), "z\t\r\n", 20s);
        const std::string want = std::string(locale) == "C" ? "DCE ->> a.]0;title...z\t\r\n"
                                                            : "DCE ->> a\u241b]0;title\u2407\u00e9.z\t\r\n";
        EXPECT_NE(seen.find(want), std::string::npos) << seen;
        child.signal(SIGTERM);
        EXPECT_EQ(child.waitExit(), 0);
        seen += readUntil(terminal.master.get(), kPortOff);
        EXPECT_TRUE(seen.ends_with(kPortOff)) << seen;
    }
}

TEST_F(HeadlessRun, AHangUpEndsTheRunWithExitCodeThreeWithoutSpinning) {
    auto child = start({"--port", "7=" + pty_.slavePath, "--dte", "COM7", "--duration", "20"});
    ASSERT_TRUE(child->waitForOutput(kPortOn)) << child->errors();
    std::this_thread::sleep_for(300ms);  // a stretch of idle running, part of the CPU measure
    pty_.master.reset();                 // the other end goes away
    EXPECT_EQ(child->waitExit(10s), 3);
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

TEST_F(HeadlessRun, ACaptureIntoAFifoWhoseReaderStartsLateLosesNothing) {
    const std::string fifo = dir_ / "late.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    platform::UniqueFd reader(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    ASSERT_TRUE(reader.valid());
    auto child = start({"--dte", pty_.slavePath, "--capture", fifo, "--display", "off"});
    ASSERT_TRUE(child->waitForOutput(kPortOn)) << child->errors();
    const auto bytes = platform::test::allByteValues(4096);  // 1 MiB
    ASSERT_TRUE(writeAll(pty_.master.get(), bytes));
    std::this_thread::sleep_for(2s);  // the reader is late (not a wait for a condition)
    const auto got = readFd(reader.get(), bytes.size(), 20s);
    child->signal(SIGTERM);
    EXPECT_EQ(child->waitExit(), 0);
    EXPECT_EQ(got.size(), bytes.size());
    EXPECT_TRUE(got == bytes);
    EXPECT_EQ(child->output().find("Capture write failed"), std::string::npos) << child->output();
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
    EXPECT_TRUE(out.ends_with(kPortOff)) << out;
}

TEST_F(HeadlessRun, ListPortsNamesTheMappedPortsThatOpen) {
    auto child = start({"--port", "12=" + pty_.slavePath, "--virtual", "13=" + (dir_ / "v13"), "--port",
                        "14=" + (dir_ / "not-a-device"), "--list-ports"});
    EXPECT_EQ(child->waitExit(), 0);
    EXPECT_EQ(child->output().find("COM14"), std::string::npos) << child->output();
    EXPECT_NE(child->output().find("COM12  " + pty_.slavePath + "  "), std::string::npos) << child->output();
    EXPECT_NE(child->output().find("COM13  " + (dir_ / "v13") + "  "), std::string::npos) << child->output();
    EXPECT_EQ(child->errors(), "");
}

TEST_F(HeadlessRun, SendStdinLinesDecodeEscapesAndEndAsEolSays) {
    const std::pair<const char*, std::string> table[] = {
        {"cr", "aA\r\\b\r"}, {"lf", "aA\n\\b\n"}, {"crlf", "aA\r\n\\b\r\n"}, {"none", "aA\\b"}};
    for (const auto& [eol, wire] : table) {
        SCOPED_TRACE(eol);
        auto child = start({"--dte", pty_.slavePath, "--display", "ascii", "--send-stdin", "--eol", eol});
        ASSERT_TRUE(child->waitForOutput(kPortOn)) << child->errors();
        // A CR LF line ends as --eol says too; a bad escape is reported and not sent.
        ASSERT_TRUE(writeAll(child->stdinFd(), "a\\x41\r\nbad\\q\n\\\\b\n"));
        EXPECT_EQ(readUntil(pty_.master.get(), wire), wire);
        child->signal(SIGINT);
        EXPECT_EQ(child->waitExit(), 0);
        EXPECT_EQ(child->errors(),
                  "ostrel: standard input line 2: unknown escape \\q (use \\r \\n \\t \\0 \\\\ or \\xHH); "
                  "not sent\n");
    }
}

TEST_F(HeadlessRun, OnePortNamedAloneIsWatchedInDteModeAndTwoAreIntercededBetween) {
    auto child = start({pty_.slavePath, "--display", "ascii"});
    ASSERT_TRUE(child->waitForOutput(kPortOn)) << child->errors();
    ASSERT_TRUE(writeAll(pty_.master.get(), "OK"));
    EXPECT_TRUE(child->waitForOutput(" DCE ->> OK")) << child->output();
    child->signal(SIGINT);
    EXPECT_EQ(child->waitExit(), 0);

    auto terminal = openBareMaster();
    ASSERT_TRUE(terminal.master.valid());
    auto both = start({pty_.slavePath, terminal.slavePath, "--display", "ascii"});
    ASSERT_TRUE(both->waitForOutput(kPortOn)) << both->errors();
    // Intercede: what the modem sends reaches the terminal, and the other way round.
    ASSERT_TRUE(writeAll(pty_.master.get(), "RING"));
    EXPECT_EQ(readUntil(terminal.master.get(), "RING"), "RING");
    ASSERT_TRUE(writeAll(terminal.master.get(), "ATA"));
    EXPECT_EQ(readUntil(pty_.master.get(), "ATA"), "ATA");
    EXPECT_TRUE(both->waitForOutput(" DTE ->> ATA")) << both->output();
    EXPECT_NE(both->output().find(" DCE ->> RING"), std::string::npos) << both->output();
    both->signal(SIGINT);
    EXPECT_EQ(both->waitExit(), 0);

    auto clash = start({pty_.slavePath, "--dte", terminal.slavePath});
    EXPECT_EQ(clash->waitExit(), 2);
    EXPECT_NE(clash->errors().find("a port is named both as an argument and with --dte"), std::string::npos)
        << clash->errors();
}

// A terminal for the child's standard input (or error): the slave, opened.
struct TestTerminal {
    platform::test::BareMaster pty = openBareMaster();
    platform::UniqueFd slave{pty.master.valid() ? ::open(pty.slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)
                                                : -1};
    bool valid() const { return slave.valid(); }
};

bool sameTermios(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

TEST_F(HeadlessRun, InteractiveSendsEachKeyAndPutsTheTerminalBack) {
    TestTerminal keyboard;
    ASSERT_TRUE(keyboard.valid());
    termios before{};
    ASSERT_EQ(::tcgetattr(keyboard.slave.get(), &before), 0);
    ASSERT_NE(before.c_lflag & ICANON, 0u) << "a new terminal starts cooked";

    struct Run {
        std::vector<std::string> args;
        std::string typed, wire;
        bool byCtrlX;  // else by SIGTERM
    };
    const Run runs[] = {
        // Ctrl-C is a key like any other; Ctrl-X ends the run after what came before it.
        {{"-i"}, "AT\r\x03z\x18", "AT\r\x03z", true},
        {{"--interactive", "--eol", "crlf", "-d", "hex"}, "AT\r", "AT\r\n", false},
        {{"-i", "--eol", "none"}, "a\rb", "ab", false},
    };
    for (const Run& run : runs) {
        SCOPED_TRACE(run.typed);
        std::vector<std::string> args = {"--headless", "--dte", pty_.slavePath};
        args.insert(args.end(), run.args.begin(), run.args.end());
        ChildProcess child(OSTREL_BINARY, args, {"XDG_RUNTIME_DIR=" + dir_.path()}, -1, keyboard.slave.get());
        ASSERT_TRUE(child.waitForOutput(kPortOn)) << child.errors();
        ASSERT_TRUE(platform::test::waitUntil([&] {
            termios now{};
            return ::tcgetattr(keyboard.slave.get(), &now) == 0 &&
                   (now.c_lflag & (ICANON | ECHO | ISIG)) == 0;
        })) << "the terminal was not made raw";
        ASSERT_TRUE(writeAll(keyboard.pty.master.get(), run.typed));
        EXPECT_EQ(readUntil(pty_.master.get(), run.wire), run.wire);
        if (!run.byCtrlX) child.signal(SIGTERM);
        EXPECT_EQ(child.waitExit(), 0) << child.errors();
        EXPECT_TRUE(child.output().ends_with(kPortOff)) << child.output();
        termios after{};
        ASSERT_EQ(::tcgetattr(keyboard.slave.get(), &after), 0);
        EXPECT_TRUE(sameTermios(before, after)) << "the terminal was not put back";
        platform::test::readFd(keyboard.pty.master.get(), 1 << 16, 20ms);
    }

    // Not from a terminal: a clear line, exit 2, and the port never opened.
    auto piped = start({"--dte", pty_.slavePath, "--interactive"});
    EXPECT_EQ(piped->waitExit(), 2);
    EXPECT_EQ(piped->errors().rfind("ostrel: --interactive: standard input is not a terminal", 0), 0u)
        << piped->errors();
    EXPECT_EQ(piped->output(), "");
}

TEST_F(HeadlessRun, ABannerGoesToAStandardErrorThatIsATerminal) {
    TestTerminal console;
    ASSERT_TRUE(console.valid());
    for (const bool interactive : {false, true}) {
        std::vector<std::string> args = {"--headless", "--dte", pty_.slavePath, "-b", "19200"};
        if (interactive) args.push_back("-i");
        ChildProcess child(OSTREL_BINARY, args, {"XDG_RUNTIME_DIR=" + dir_.path()}, -1,
                           interactive ? console.slave.get() : -1, console.slave.get());
        const std::string stop = interactive ? "Ctrl-X to stop" : "Ctrl-C to stop";
        const std::string banner = readUntil(console.pty.master.get(), stop, 20s);
        EXPECT_NE(banner.find("ostrel: DTE side: COM"), std::string::npos) << banner;
        EXPECT_NE(banner.find(" " + pty_.slavePath + ", 19200 8N1, flow none"), std::string::npos) << banner;
        EXPECT_NE(banner.find("ostrel: " + stop), std::string::npos) << banner;
        EXPECT_EQ(banner.find("DCE side"), std::string::npos) << banner;
        child.signal(SIGTERM);
        EXPECT_EQ(child.waitExit(), 0);
    }
    // Without a terminal only the virtual port's line is written.
    const std::string link = dir_ / "v7";
    auto piped = start({"--dte", pty_.slavePath, "--virtual", "7=" + link, "--duration", "0.2"});
    EXPECT_EQ(piped->waitExit(), 0);
    EXPECT_EQ(piped->errors(), "ostrel: COM7 is the virtual port at " + link + "\n");
}

TEST_F(HeadlessRun, StampsCarryTheDateOrMicrosecondsWhenAsked) {
    // '#' stands for a digit. (Matched by hand: std::regex trips a false
    // maybe-uninitialized warning in the sanitizer builds.)
    const std::pair<const char*, const char*> table[] = {
        {"date", "\r\n[####-##-## ##:##:##:###] DCE ->> hi"},
        {"us", "\r\n[##:##:##:######] DCE ->> hi"},
        {"time", "\r\n[##:##:##:###] DCE ->> hi"},
    };
    const auto find = [](const std::string& text, std::string_view shape) -> std::size_t {
        for (std::size_t at = 0; at + shape.size() <= text.size(); ++at) {
            std::size_t i = 0;
            while (i < shape.size() &&
                   (shape[i] == '#' ? std::isdigit(static_cast<unsigned char>(text[at + i])) != 0
                                    : text[at + i] == shape[i]))
                ++i;
            if (i == shape.size()) return at;
        }
        return std::string::npos;
    };
    for (const auto& [stamp, shape] : table) {
        SCOPED_TRACE(stamp);
        const auto today = [] {
            const std::time_t now = std::time(nullptr);
            std::tm utc{};
            ::gmtime_r(&now, &utc);
            char text[16];
            std::strftime(text, sizeof text, "%Y-%m-%d", &utc);
            return std::string(text);
        };
        const std::string dayBefore = today();
        auto child = start({"--dte", pty_.slavePath, "--display", "ascii", "--stamp", stamp}, {"TZ=UTC"});
        ASSERT_TRUE(child->waitForOutput(kPortOn)) << child->errors();
        ASSERT_TRUE(writeAll(pty_.master.get(), "hi"));
        ASSERT_TRUE(child->waitForOutput(" DCE ->> hi")) << child->output();
        const std::string dayAfter = today();
        child->signal(SIGINT);
        EXPECT_EQ(child->waitExit(), 0);
        const std::string out = child->output();
        const std::size_t at = find(out, shape);
        ASSERT_NE(at, std::string::npos) << out;
        if (std::string(stamp) == "date") {
            const std::string day = out.substr(at + 3, 10);
            EXPECT_TRUE(day == dayBefore || day == dayAfter) << day << " in UTC";
        }
    }
}

TEST_F(HeadlessRun, ListPortsAsJsonNamesEachPortAndWhoHoldsABusyOne) {
    auto busy = openBareMaster();
    ASSERT_TRUE(busy.master.valid());
    platform::UniqueFd holder(::open(busy.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    ASSERT_TRUE(holder.valid());
    ASSERT_EQ(::flock(holder.get(), LOCK_EX | LOCK_NB), 0);
    auto child = start({"--port", "12=" + pty_.slavePath, "--virtual", "13=" + (dir_ / "v13"), "--port",
                        "14=" + busy.slavePath, "--port", "15=" + (dir_ / "not-a-device"), "-l", "--json"});
    EXPECT_EQ(child->waitExit(), 0);
    const std::optional<JsonValue> list = JsonReader::parse(child->output());
    ASSERT_TRUE(list && list->kind == JsonValue::Kind::Array) << child->output();
    std::map<int, const JsonValue*> byNumber;
    for (const JsonValue& port : list->items) {
        ASSERT_EQ(port.kind, JsonValue::Kind::Object);
        for (const char* key :
             {"number", "path", "by_id", "description", "driver", "usb", "console", "busy", "holder"})
            ASSERT_NE(port.member(key), nullptr) << key;
        byNumber[static_cast<int>(port.member("number")->number)] = &port;
    }
    ASSERT_TRUE(byNumber.count(12) && byNumber.count(13) && byNumber.count(14)) << child->output();
    EXPECT_EQ(byNumber.count(15), 0u) << "a path that is no device is not listed";
    EXPECT_EQ(byNumber[12]->member("path")->text, pty_.slavePath);
    EXPECT_FALSE(byNumber[12]->member("busy")->boolean);
    EXPECT_EQ(byNumber[12]->member("holder")->kind, JsonValue::Kind::Null);
    EXPECT_EQ(byNumber[13]->member("path")->text, dir_ / "v13");
    const JsonValue& held = *byNumber[14];
    EXPECT_TRUE(held.member("busy")->boolean);
    ASSERT_EQ(held.member("holder")->kind, JsonValue::Kind::Object) << child->output();
    EXPECT_EQ(held.member("holder")->member("pid")->number, static_cast<double>(::getpid()));
    std::ifstream comm("/proc/self/comm");
    std::string ownName;
    std::getline(comm, ownName);
    EXPECT_EQ(held.member("holder")->member("name")->text, ownName);

    // The same as text.
    auto text = start({"--port", "14=" + busy.slavePath, "--list-ports"});
    EXPECT_EQ(text->waitExit(), 0);
    EXPECT_NE(text->output().find("COM14  " + busy.slavePath + "  mapped with --port  busy (held by " +
                                  ownName + ", pid " + std::to_string(::getpid()) + ")\n"),
              std::string::npos)
        << text->output();
}

}  // namespace
}  // namespace ostrel::headless::test
