// The real ostrel binary, headless, on a real 8250 UART (/dev/ttyS0) in
// loopback: what it sends comes back as received traffic, is shown and
// captured, settings a pseudo-terminal cannot hold are taken without a note,
// and the port's settings are put back at the end.

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "headless/child_process.h"
#include "platform/pty_test_support.h"
#include "platform/temp_dir.h"
#include "uart_loopback.h"
#include "uart_termios2.h"

namespace ostrel::uart::test {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view kPortOn = "\r\n*** Port is ON  ***\r\n";
constexpr std::string_view kPortOff = "\r\n*** Port is OFF ***\r\n";

std::size_t occurrences(const std::string& text, std::string_view what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

// Starts the headless program. Other tests' port lists probe every port,
// this one too, holding its flock for a moment: a run that found the port
// busy is made again.
std::unique_ptr<headless::test::ChildProcess> startOnUart(const std::vector<std::string>& args,
                                                          const platform::test::TempDir& dir) {
    std::unique_ptr<headless::test::ChildProcess> child;
    for (int attempt = 0; attempt < 20; ++attempt) {
        child = std::make_unique<headless::test::ChildProcess>(
            OSTREL_BINARY, args, std::vector<std::string>{"XDG_RUNTIME_DIR=" + dir.path()});
        if (!child->started() || child->waitForOutput(kPortOn)) break;
        if (child->waitExit() != 1 ||
            (child->output() + child->errors()).find("port is busy") == std::string::npos)
            break;
        std::this_thread::sleep_for(100ms);  // a pause before the next try, not a wait for a condition
    }
    return child;
}

TEST(HeadlessUart, SendsComeBackThroughTheLoopAreShownCapturedAndTheSettingsArePutBack) {
    UartLoopback loop;
    if (!loop.ready()) GTEST_SKIP() << loop.skipReason();
    platform::test::TempDir dir;
    ASSERT_TRUE(dir.valid());
    const std::optional<LineState> found = readLineState(loop.fd());
    ASSERT_TRUE(found);

    const std::string capture = dir / "capture.bin";
    const std::vector<std::string> args = {"--headless",
                                           "--dte",
                                           uartPath(),
                                           "--baud",
                                           "31250",
                                           "--data-bits",
                                           "7",
                                           "--parity",
                                           "even",
                                           "--stop-bits",
                                           "2",
                                           "--display",
                                           "hex",
                                           "--capture",
                                           capture,
                                           "--send",
                                           "48 65 6C 6C 6F 0D 0A",
                                           "--send",
                                           "7F 00 41"};
    std::unique_ptr<headless::test::ChildProcess> child = startOnUart(args, dir);
    ASSERT_TRUE(child->started());
    // Each send is echoed as sent (" DTE <<- ") and comes back as received
    // traffic (" DCE ->> "): ten bytes each way.
    ASSERT_TRUE(child->waitForOutput("0x7F 0x00 0x41 ")) << child->output() << child->errors();
    ASSERT_TRUE(platform::test::waitUntil([&] {
        std::error_code ec;
        return std::filesystem::file_size(capture, ec) >= 20;
    })) << child->output();
    child->signal(SIGTERM);
    EXPECT_EQ(child->waitExit(), 0) << child->errors();

    const std::string& out = child->output();
    EXPECT_NE(out.find(kPortOn), std::string::npos) << out;
    EXPECT_TRUE(out.ends_with(kPortOff)) << out;
    EXPECT_NE(out.find(" DCE ->> "), std::string::npos) << out;
    EXPECT_EQ(occurrences(out, "0x48 0x65 0x6C 0x6C 0x6F 0x0D 0x0A "), 2u) << out;
    EXPECT_EQ(occurrences(out, "0x7F 0x00 0x41 "), 2u) << out;
    // Nothing said refused: the UART holds 7E2 at 31250 bit/s.
    EXPECT_EQ(out.find("not accepted"), std::string::npos) << out;
    EXPECT_EQ(out.find("not supported"), std::string::npos) << out;
    EXPECT_EQ(child->errors(), "");

    std::ifstream in(capture, std::ios::binary);
    const std::string captured{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(occurrences(captured, "Hello\r\n"), 2u);
    EXPECT_EQ(captured.size(), 20u);

    // The port has the settings it had before the run.
    const std::optional<LineState> after = readLineState(loop.fd());
    ASSERT_TRUE(after);
    EXPECT_EQ(after->dataBits, found->dataBits);
    EXPECT_EQ(after->parity, found->parity);
    EXPECT_EQ(after->twoStopBits, found->twoStopBits);
    EXPECT_EQ(after->outputRate, found->outputRate);
}

TEST(HeadlessUart, WithHardwareFlowControlTheSendsComeBackAndWhatCannotBeDoneIsSaid) {
    UartLoopback loop;
    if (!loop.ready()) GTEST_SKIP() << loop.skipReason();
    platform::test::TempDir dir;
    ASSERT_TRUE(dir.valid());
    // The handshake's RTS is our own CTS in loopback: the sends leave only
    // while RTS says "ready to receive".
    auto child =
        startOnUart({"--headless", "--dte", uartPath(), "--flow", "hardware", "--send", "41 42 43"}, dir);
    ASSERT_TRUE(child->started());
    ASSERT_TRUE(child->waitForOutput(" DCE ->> 0x41 0x42 0x43 ")) << child->output() << child->errors();
    child->signal(SIGTERM);
    EXPECT_EQ(child->waitExit(), 0) << child->errors();
    const std::string& out = child->output();
    EXPECT_NE(out.find(": RTS toggle not supported here, using RTS/CTS handshake ***\r\n"), std::string::npos)
        << out;
    EXPECT_NE(out.find(": DSR sensitivity not supported here ***\r\n"), std::string::npos) << out;
    EXPECT_EQ(occurrences(out, "0x41 0x42 0x43 "), 2u) << out;
}

}  // namespace
}  // namespace ostrel::uart::test
