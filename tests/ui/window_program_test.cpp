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
#include <map>
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
    bool startServer(const std::string& screen = "1600x1000x24", const std::string& dpi = "96") {
        if (::access(kXvfb, X_OK) != 0) return false;
        server = std::make_unique<ChildProcess>(
            kXvfb, std::vector<std::string>{"-displayfd", "1", "-nolisten", "tcp", "-noreset", "-screen", "0",
                                            screen, "-dpi", dpi});
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

struct Box {
    int x = 0, y = 0, w = 0, h = 0;
    bool inside(const Box& outer) const {
        return x >= outer.x && y >= outer.y && x + w <= outer.x + outer.w && y + h <= outer.y + outer.h;
    }
};

// On a 1366x768 screen at 120 dots per inch the template's size does not fit:
// the window opens at the screen's height with every control on the screen,
// and maximised it fills the screen.
TEST_F(WindowProgram, OnASmallScreenEveryControlIsOnTheScreenAndMaximisedTheWindowFillsIt) {
    if (!startServer("1366x768x24", "120"))
        GTEST_SKIP() << "no virtual X server (" << kXvfb << ") to show the windows on";
    const std::string shots = dir / "shots";
    ChildProcess program(OSTREL_BINARY, {"--demo", "--demo-pace", "30"},
                         environment({"OSTREL_AUTO_OPEN=1", "OSTREL_SCREENSHOT_DIR=" + shots,
                                      "OSTREL_SCREENSHOT_DELAY_MS=700", "QT_FONT_DPI=120"}));
    ASSERT_TRUE(program.started());
    EXPECT_EQ(program.waitExit(30s), 0) << program.errors();

    std::ifstream layout(shots + "/layout.txt");
    ASSERT_TRUE(layout) << "no layout.txt: " << program.errors();
    Box available, frame;
    std::map<int, Box> controls;
    std::string kind;
    while (layout >> kind) {
        int id = 0;
        if (kind == "control") layout >> id;
        Box box;
        layout >> box.x >> box.y >> box.w >> box.h;
        if (kind == "available") available = box;
        if (kind == "frame") frame = box;
        if (kind == "control") controls[id] = box;
    }
    ASSERT_GT(available.h, 0);
    EXPECT_LE(available.h, 768);
    EXPECT_TRUE(frame.inside(available)) << frame.x << "," << frame.y << " " << frame.w << "x" << frame.h;
    EXPECT_EQ(controls.size(), 20u);  // every control that has an id
    for (const auto& [id, box] : controls)
        EXPECT_TRUE(box.inside(available))
            << "control " << id << " at " << box.x << "," << box.y << " " << box.w << "x" << box.h;
    // The traffic window keeps at least eight rows: much more than a text line high.
    ASSERT_TRUE(controls.count(201));
    EXPECT_GE(controls.at(201).h, 8 * 12);

    // The pictures are in the screen's pixels, the layout in Qt's (scaled) ones.
    const QImage desktop(QString::fromStdString(shots + "/desktop.png"));
    ASSERT_FALSE(desktop.isNull());
    const double scale = desktop.width() / 1366.0 * 1366.0 / (available.x + available.w);
    const QImage maximised(QString::fromStdString(shots + "/main-window-maximised.png"));
    ASSERT_FALSE(maximised.isNull());
    EXPECT_GE(maximised.height(), available.h * scale * 0.9);
    EXPECT_GE(maximised.width(), available.w * scale * 0.9);
    EXPECT_FALSE(QImage(QString::fromStdString(shots + "/context-menu.png")).isNull());
    EXPECT_FALSE(QImage(QString::fromStdString(shots + "/find-bar.png")).isNull());
}

TEST_F(WindowProgram, ADisplayThatCannotBeReachedFallsBackToHeadless) {
    display = ":4093";  // nothing listens there
    ChildProcess program(OSTREL_BINARY, {"--demo", "--duration", "0.5"}, environment());
    EXPECT_EQ(program.waitExit(15s), 0) << program.errors();
    EXPECT_NE(program.output().find("*** Port is ON  ***"), std::string::npos) << program.output();
}

}  // namespace
}  // namespace ostrel::ui
