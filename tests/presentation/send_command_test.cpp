// One send through a real engine and a pseudo-terminal: the bytes that reach
// the far end, the echo, the output flags and the report of a failed write.

#include "presentation/send_command.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <optional>

#include "engine/engine.h"
#include "engine/engine_test_access.h"
#include "platform/port_map.h"
#include "platform/pty_pair.h"
#include "presentation/capture_file.h"
#include "presentation/presentation_test_support.h"
#include "presentation/traffic_formatter.h"

namespace ostrel::presentation {
namespace {

using Pieces = std::vector<std::string>;

constexpr int kPortNumber = 3;
constexpr const char* kStamp = "[09:05:03:042]";

// Reads from the master until `count` bytes came or five seconds passed.
std::string readMaster(int fd, std::size_t count) {
    return asString(platform::test::readFd(fd, count));
}

// Nothing more arrives at the master within a short while.
bool masterStaysQuiet(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 100) == 0;
}

class SendCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.valid());
        auto opened = platform::openPtyPair();
        ASSERT_TRUE(opened.ok()) << opened.error().describe();
        pty = std::move(opened).value();
        ASSERT_FALSE(ports.addExplicit(kPortNumber, pty->slavePath).has_value());
    }
    void TearDown() override { engine.ShutdownEngine(); }

    static engine::SessionConfig dteEmulation() {
        engine::SessionConfig config;
        config.mode = engine::kDteEmulation;
        config.dte.side = engine::kDteSide;
        config.dte.portNumber = kPortNumber;
        return config;
    }
    void openDteEmulation() {
        engine.InitEngine(window, formatter);
        ASSERT_EQ(engine.OpenSession(dteEmulation()), engine::kStatusOk) << window.text();
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
    engine::EngineTestAccess::channel(engine, 0).outputFlag = false;
    engine::EngineTestAccess::channel(engine, 1).outputFlag = false;

    const std::vector<std::uint8_t> sent = OnSendText("12 34", engine, formatter, window);
    EXPECT_EQ(sent, (std::vector<std::uint8_t>{0x12, 0x34}));
    EXPECT_EQ(readMaster(pty->master.get(), 2), "\x12\x34");
    EXPECT_EQ(window.pieces(), Pieces{expectedEcho(" DTE <<- ", "0x12 0x34 ")});
    EXPECT_TRUE(engine::EngineTestAccess::channel(engine, 0).outputFlag.load());
    EXPECT_TRUE(engine::EngineTestAccess::channel(engine, 1).outputFlag.load());
}

TEST_F(SendCommandTest, AsciiSendsTheTextAsTyped) {
    openDteEmulation();
    window.setFormat(engine::kDisplayAscii);
    const std::vector<std::uint8_t> sent = OnSendText("AT\r\n", engine, formatter, window);
    EXPECT_EQ(sent, bytesOf("AT\r\n"));
    EXPECT_EQ(readMaster(pty->master.get(), 4), "AT\r\n");
    EXPECT_EQ(window.pieces(), Pieces{expectedEcho(" DTE <<- ", "AT\r\n")});
}

TEST_F(SendCommandTest, OffShowsTheLineWithoutDataAndCapturesTheBytes) {
    openDteEmulation();
    const std::string path = dir / "sent.cap";
    ASSERT_TRUE(capture.Start(path, window));
    window.clear();
    window.setFormat(engine::kDisplayOff);
    OnSendText("12 zz", engine, formatter, window);
    EXPECT_EQ(readMaster(pty->master.get(), 5), "12 zz");
    EXPECT_EQ(window.pieces(), Pieces{expectedEcho(" DTE <<- ", "")});
    capture.Stop(window);
    EXPECT_EQ(readFile(path), "12 zz");
}

TEST_F(SendCommandTest, AFailedSendIsReportedAfterTheEchoAndNothingToSendIsNoFailure) {
    enum Setup { NotRunning, NothingOpen, PortOpen, PortClosed };
    const struct {
        Setup setup;
        engine::SendTarget target;
        const char* text;
        const char* echoed;   // the data in the echo line
        const char* failure;  // "" when nothing is reported
    } cases[] = {
        {NotRunning, engine::kToDte, "41", "0x41 ", "the serial engine is not running"},
        {NothingOpen, engine::kToDte, "41", "0x41 ", "the DTE side is not open"},
        {PortOpen, engine::kToDce, "41", "0x41 ", "the DCE side is not open"},
        {PortClosed, engine::kToDte, "41", "0x41 ", "COM3 is not open"},
        {NothingOpen, engine::kToDte, "", "", ""},
        {PortOpen, engine::kToDte, "xyz", "", ""},  // no hex digits: nothing written
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "setup " << c.setup << ", text \"" << c.text << "\"");
        engine::Engine local(ports);
        if (c.setup != NotRunning) local.InitEngine(window, formatter);
        if (c.setup == PortOpen || c.setup == PortClosed) {
            ASSERT_EQ(local.OpenSession(dteEmulation()), engine::kStatusOk) << window.text();
        }
        if (c.setup == PortClosed) local.CloseAllPorts();
        window.clear();
        window.setTarget(c.target);
        OnSendText(c.text, local, formatter, window);
        Pieces expected{expectedEcho(c.target == engine::kToDte ? " DTE <<- " : " DCE <<- ", c.echoed)};
        if (*c.failure) expected.push_back("\r\n*** Send failed: " + std::string(c.failure) + " ***\r\n");
        EXPECT_EQ(window.pieces(), expected);
        if (c.setup == PortOpen) {
            EXPECT_TRUE(masterStaysQuiet(pty->master.get()));
        }
        local.ShutdownEngine();
    }
}

}  // namespace
}  // namespace ostrel::presentation
