// The real ostrel program with its windows on a virtual X server: the demo
// line opened in Intercede shows traffic, the windows are shown and grabbed,
// "Exit" and SIGTERM end the run with code 0, "/RegServer" and "-unregserver" act after
// the window has closed, and a display that cannot be reached falls back to
// the headless front end.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QImage>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "headless/child_process.h"
#include "platform/pty_pair.h"
#include "platform/pty_test_support.h"
#include "platform/temp_dir.h"

namespace ostrel::ui {
namespace {

using headless::test::ChildProcess;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr const char* kXvfb = "/usr/bin/Xvfb";

class WindowProgram : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.valid()); }
    void TearDown() override {
        if (server) {
            server->signal(SIGTERM);
            server->waitExit(5s);
        }
    }
    // Starts Xvfb on a free display; its number is written to standard output when it is ready.
    bool startServer() {
        if (::access(kXvfb, X_OK) != 0) return false;
        server = std::make_unique<ChildProcess>(
            kXvfb, std::vector<std::string>{"-displayfd", "1", "-nolisten", "tcp", "-noreset", "-screen", "0",
                                            "1600x1000x24"});
        if (!server->waitForOutput("\n", 10s)) return false;
        display = ":" + server->output().substr(0, server->output().find('\n'));
        return true;
    }
    std::vector<std::string> environment(std::vector<std::string> extra = {}) const {
        extra.push_back("DISPLAY=" + display);
        extra.push_back("XDG_DATA_HOME=" + (dir / "data"));
        extra.push_back("XDG_RUNTIME_DIR=" + dir.path());
        extra.push_back("QT_QPA_PLATFORM=xcb");
        return extra;
    }
    fs::path entry() const { return dir / "data/applications/ostrel.desktop"; }

    platform::test::TempDir dir;
    std::string display;
    std::unique_ptr<ChildProcess> server;
};

TEST_F(WindowProgram, RunsTheDemoInTheWindowsAndRegistersAfterTheWindowCloses) {
    if (!startServer()) GTEST_SKIP() << "no virtual X server (" << kXvfb << ") to show the windows on";
    const std::string shots = dir / "shots";
    ChildProcess program(OSTREL_BINARY, {"--demo", "--demo-pace", "40", "/RegServer"},
                         environment({"OSTREL_AUTO_OPEN=1", "OSTREL_SCREENSHOT_DIR=" + shots,
                                      "OSTREL_SCREENSHOT_DELAY_MS=700"}));
    ASSERT_TRUE(program.started());
    EXPECT_EQ(program.waitExit(15s), 0) << program.errors();
    // The window front end ran: nothing went to standard output.
    EXPECT_EQ(program.output(), "");
    for (const char* name : {"main-window.png", "mode-window.png", "about-window.png", "desktop.png"}) {
        const QImage image(QString::fromStdString(shots + "/" + name));
        EXPECT_FALSE(image.isNull()) << name;
        EXPECT_GT(image.width(), 300) << name;
    }
    std::ifstream in(entry());
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("X-Ostrel-AppID={D43054EE-D6CE-475F-88CD-2A283E9E3649}"), std::string::npos);

    ChildProcess again(OSTREL_BINARY, {"--demo", "--duration", "0.5", "-unregserver"}, environment());
    EXPECT_EQ(again.waitExit(15s), 0) << again.errors();
    EXPECT_FALSE(fs::exists(entry()));
}

TEST_F(WindowProgram, SigtermEndsTheRunAsExitDoesAndLeavesThePortAsItWas) {
    if (!startServer()) GTEST_SKIP() << "no virtual X server (" << kXvfb << ") to show the windows on";
    platform::Result<platform::PtyPair> opened = platform::openPtyPair();
    ASSERT_TRUE(opened.ok());
    platform::PtyPair pty = std::move(opened).value();
    // The port is found cooked, as a terminal line is.
    termios cooked{};
    ASSERT_EQ(::tcgetattr(pty.slave.get(), &cooked), 0);
    cooked.c_lflag |= ICANON | ECHO;
    ASSERT_EQ(::tcsetattr(pty.slave.get(), TCSANOW, &cooked), 0);
    pty.slave.reset();

    const std::string capture = dir / "capture.bin";
    ChildProcess program(OSTREL_BINARY,
                         {"--port", "7=" + pty.slavePath, "--dte", "COM7", "--capture", capture},
                         environment({"OSTREL_AUTO_OPEN=1"}));
    ASSERT_TRUE(program.started());
    // Once the port is open the bytes reach the capture file.
    ASSERT_TRUE(platform::test::waitUntil([&] {
        platform::test::writeAll(pty.master.get(), std::string("ping"));
        std::error_code ec;
        return fs::file_size(capture, ec) >= 4 && !ec;
    })) << program.errors();
    program.signal(SIGTERM);
    EXPECT_EQ(program.waitExit(15s), 0) << program.errors();

    platform::UniqueFd slave(::open(pty.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
    ASSERT_TRUE(slave.valid());
    termios after{};
    ASSERT_EQ(::tcgetattr(slave.get(), &after), 0);
    EXPECT_EQ(after.c_lflag, cooked.c_lflag) << "the port was left raw";
    EXPECT_EQ(after.c_iflag, cooked.c_iflag);
}

TEST_F(WindowProgram, ACaptureIntoAPipeWhoseReaderLeavesDoesNotEndTheProgram) {
    if (!startServer()) GTEST_SKIP() << "no virtual X server (" << kXvfb << ") to show the windows on";
    platform::Result<platform::PtyPair> opened = platform::openPtyPair();
    ASSERT_TRUE(opened.ok());
    platform::PtyPair pty = std::move(opened).value();
    const std::string pipe = dir / "capture.pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    platform::UniqueFd reader(::open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    ASSERT_TRUE(reader.valid());

    ChildProcess program(OSTREL_BINARY, {"--port", "7=" + pty.slavePath, "--dte", "COM7", "--capture", pipe},
                         environment({"OSTREL_AUTO_OPEN=1"}));
    ASSERT_TRUE(program.started());
    std::string captured;
    ASSERT_TRUE(platform::test::waitUntil([&] {
        platform::test::writeAll(pty.master.get(), std::string("ping"));
        captured += platform::test::pendingText(reader.get());
        return captured.find("ping") != std::string::npos;
    })) << program.errors();
    reader.reset();  // the reader goes; the next capture write meets a pipe without one
    for (int i = 0; i < 20; ++i) {
        platform::test::writeAll(pty.master.get(), std::string("pong"));
        std::this_thread::sleep_for(10ms);
    }
    program.signal(SIGTERM);
    EXPECT_EQ(program.waitExit(15s), 0) << program.errors();
}

// Every option of --help, each value as a separate argument: none of them
// reaches the toolkit (which would take "--display hex" as an X display).
TEST_F(WindowProgram, EveryOptionWithItsValueAsASeparateArgumentRunsTheWindows) {
    if (!startServer()) GTEST_SKIP() << "no virtual X server (" << kXvfb << ") to show the windows on";
    const std::string capture = dir / "capture.bin";
    ChildProcess demo(
        OSTREL_BINARY,
        {"--demo", "--display",   "hex", "--mode",      "intercede", "--baud",     "19200", "--parity",
         "even",   "--data-bits", "7",   "--stop-bits", "2",         "--flow",     "none",  "--capture",
         capture,  "--demo-pace", "20",  "--demo-seed", "3",         "--duration", "1.5"},
        environment({"OSTREL_AUTO_OPEN=1"}));
    ASSERT_TRUE(demo.started());
    EXPECT_EQ(demo.waitExit(20s), 0) << demo.errors();
    EXPECT_EQ(demo.output(), "");  // the windows ran, not the headless front end
    EXPECT_TRUE(fs::exists(capture)) << demo.errors();

    platform::Result<platform::PtyPair> opened = platform::openPtyPair();
    ASSERT_TRUE(opened.ok());
    platform::PtyPair pty = std::move(opened).value();
    ChildProcess ports(OSTREL_BINARY,
                       {"--port", "7=" + pty.slavePath, "--dte", "COM7", "--dce", "COM9", "--mode", "dte",
                        "--display", "ascii", "--virtual", "9", "--duration", "1"},
                       environment({"OSTREL_AUTO_OPEN=1"}));
    ASSERT_TRUE(ports.started());
    EXPECT_EQ(ports.waitExit(20s), 0) << ports.errors();
    EXPECT_EQ(ports.output(), "");
    // The equals form, as before.
    ChildProcess equals(OSTREL_BINARY, {"--demo", "--display=off", "--duration=0.5"}, environment());
    EXPECT_EQ(equals.waitExit(20s), 0) << equals.errors();
    EXPECT_EQ(equals.output(), "");
}

TEST_F(WindowProgram, ADisplayThatCannotBeReachedFallsBackToHeadless) {
    display = ":4093";  // nothing listens there
    ChildProcess program(OSTREL_BINARY, {"--demo", "--duration", "0.5"}, environment());
    EXPECT_EQ(program.waitExit(15s), 0) << program.errors();
    EXPECT_NE(program.output().find("*** Port is ON  ***"), std::string::npos) << program.output();
}

}  // namespace
}  // namespace ostrel::ui
