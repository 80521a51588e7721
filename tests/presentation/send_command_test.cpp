// One send through a real engine and a pseudo-terminal: the bytes that reach
// the far end, the echo, the output flags and the report of a failed write.

#include "presentation/send_command.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <optional>

#include "engine/engine.h"
#include "platform/port_map.h"
#include "platform/pty_pair.h"
#include "presentation/capture_file.h"
#include "presentation/fake_window.h"
#include "presentation/traffic_formatter.h"

namespace ostrel::presentation {
namespace {

using testing::bytesOf;
using testing::FakeWindow;
using testing::readFile;
using testing::TempDir;

constexpr int kPortNumber = 3;
constexpr const char* kStamp = "[09:05:03:042]";

// Reads from the master until `count` bytes came or five seconds passed.
std::string readMaster(int fd, std::size_t count) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    char buffer[4096];
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

// Nothing more arrives at the master within a short while.
bool masterStaysQuiet(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 100) == 0;
}

class SendCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.ok());
        auto opened = platform::openPtyPair();
        ASSERT_TRUE(opened.ok()) << opened.error().describe();
        pty = std::move(opened).value();
        ASSERT_FALSE(ports.addExplicit(kPortNumber, pty->slavePath).has_value());
    }
    void TearDown() override { engine.ShutdownEngine(); }

    void openDteEmulation() {
        engine.InitEngine(window, formatter);
        engine::SessionConfig config;
        config.mode = engine::kDteEmulation;
        config.dte.side = engine::kDteSide;
        config.dte.portNumber = kPortNumber;
        ASSERT_EQ(engine.OpenSession(config), engine::kStatusOk) << window.text();
        window.clear();
    }
    std::string expectedEcho(std::string_view marker, std::string_view data) const {
        return "\r\n" + std::string(kStamp) + std::string(marker) + std::string(data);
    }

    TempDir dir;
    std::optional<platform::PtyPair> pty;
    platform::PortMap ports;
    FakeWindow window;
    CaptureFile capture;
    TrafficFormatter formatter{window, capture, [] { return platform::TimeOfDay{9, 5, 3, 42}; }};
    engine::Engine engine{ports};
};

TEST_F(SendCommandTest, HexSendReachesThePortAndEchoesAsOnePiece) {
    openDteEmulation();
    engine.channel(0).outputFlag = false;
    engine.channel(1).outputFlag = false;

    const std::vector<std::uint8_t> sent = OnSendText("12 34", engine, formatter, window);
    EXPECT_EQ(sent, (std::vector<std::uint8_t>{0x12, 0x34}));
    EXPECT_EQ(readMaster(pty->master.get(), 2), "\x12\x34");
    EXPECT_EQ(window.pieces(), std::vector<std::string>{expectedEcho(" DTE <<- ", "0x12 0x34 ")});
    EXPECT_TRUE(engine.channel(0).outputFlag.load());
    EXPECT_TRUE(engine.channel(1).outputFlag.load());
}

TEST_F(SendCommandTest, AsciiSendsTheTextAsTyped) {
    openDteEmulation();
    window.setFormat(engine::kDisplayAscii);
    const std::vector<std::uint8_t> sent = OnSendText("AT\r\n", engine, formatter, window);
    EXPECT_EQ(sent, bytesOf("AT\r\n"));
    EXPECT_EQ(readMaster(pty->master.get(), 4), "AT\r\n");
    EXPECT_EQ(window.pieces(), std::vector<std::string>{expectedEcho(" DTE <<- ", "AT\r\n")});
}

TEST_F(SendCommandTest, OffShowsTheLineWithoutDataAndCapturesTheBytes) {
    openDteEmulation();
    const std::string path = dir.file("sent.cap");
    ASSERT_TRUE(capture.Start(path, window));
    window.clear();
    window.setFormat(engine::kDisplayOff);
    OnSendText("12 zz", engine, formatter, window);
    EXPECT_EQ(readMaster(pty->master.get(), 5), "12 zz");
    EXPECT_EQ(window.pieces(), std::vector<std::string>{expectedEcho(" DTE <<- ", "")});
    capture.Stop(window);
    EXPECT_EQ(readFile(path), "12 zz");
}

TEST_F(SendCommandTest, HexWithoutDigitsShowsTheMarkerAndWritesNothing) {
    openDteEmulation();
    const std::vector<std::uint8_t> sent = OnSendText("xyz", engine, formatter, window);
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(window.pieces(), std::vector<std::string>{expectedEcho(" DTE <<- ", "")});
    EXPECT_TRUE(masterStaysQuiet(pty->master.get()));
}

TEST_F(SendCommandTest, SendToASideThatIsNotOpenIsReportedAfterTheEcho) {
    openDteEmulation();
    window.setTarget(engine::kToDce);
    OnSendText("41", engine, formatter, window);
    const std::vector<std::string> pieces = window.pieces();
    ASSERT_EQ(pieces.size(), 2u) << window.text();
    EXPECT_EQ(pieces[0], expectedEcho(" DCE <<- ", "0x41 "));
    EXPECT_EQ(pieces[1].rfind("\r\n*** Send failed: ", 0), 0u) << pieces[1];
    EXPECT_NE(pieces[1].find("is not open ***\r\n"), std::string::npos) << pieces[1];
    EXPECT_TRUE(masterStaysQuiet(pty->master.get()));
}

TEST_F(SendCommandTest, SendAfterCloseNamesThePort) {
    openDteEmulation();
    engine.CloseAllPorts();
    window.clear();
    OnSendText("41", engine, formatter, window);
    EXPECT_EQ(window.pieces(), (std::vector<std::string>{expectedEcho(" DTE <<- ", "0x41 "),
                                                         "\r\n*** Send failed: COM3 is not open ***\r\n"}));
}

TEST_F(SendCommandTest, EmptySendToAClosedSideIsNoFailure) {
    engine.InitEngine(window, formatter);
    window.setFormat(engine::kDisplayAscii);
    EXPECT_TRUE(OnSendText("", engine, formatter, window).empty());
    EXPECT_EQ(window.pieces(), std::vector<std::string>{expectedEcho(" DTE <<- ", "")});
}

TEST_F(SendCommandTest, SendWithoutAnyOpenPortIsReported) {
    engine.InitEngine(window, formatter);
    OnSendText("41", engine, formatter, window);
    const std::vector<std::string> pieces = window.pieces();
    ASSERT_EQ(pieces.size(), 2u) << window.text();
    EXPECT_EQ(pieces[1].rfind("\r\n*** Send failed: ", 0), 0u) << pieces[1];
}

TEST_F(SendCommandTest, SendBeforeTheEngineRunsIsReported) {
    OnSendText("41", engine, formatter, window);
    const std::vector<std::string> pieces = window.pieces();
    ASSERT_EQ(pieces.size(), 2u) << window.text();
    EXPECT_EQ(pieces[0], expectedEcho(" DTE <<- ", "0x41 "));
    EXPECT_EQ(pieces[1].rfind("\r\n*** Send failed: ", 0), 0u) << pieces[1];
}

TEST_F(SendCommandTest, LargeAsciiSendArrivesComplete) {
    openDteEmulation();
    window.setFormat(engine::kDisplayAscii);
    std::string text(100 * 1024, '\0');
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('!' + i % 90);
    OnSendText(text, engine, formatter, window);
    EXPECT_EQ(readMaster(pty->master.get(), text.size()), text);
    const std::vector<std::string> pieces = window.pieces();
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieces[0], expectedEcho(" DTE <<- ", text));
}

}  // namespace
}  // namespace ostrel::presentation
