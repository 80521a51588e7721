// The ostrel binary, headless, with ports by URL: a ser2net port between
// which and a local pty it intercedes, a ser2net that dies mid-stream, a
// scripted server's line error and refused setting, and the failed opens.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "child_process.h"
#include "platform/pty_test_support.h"
#include "platform/remote_test_support.h"
#include "platform/temp_dir.h"

namespace ostrel::headless::test {
namespace {

using namespace std::chrono_literals;
using platform::test::openBareMaster;
using platform::test::readFd;
using platform::test::readUntil;
using platform::test::ScriptedPeer;
using platform::test::Ser2net;
using platform::test::writeAll;

constexpr std::string_view kPortOn = "\r\n*** Port is ON  ***\r\n";
constexpr std::string_view kPortOff = "\r\n*** Port is OFF ***\r\n";

class RemoteRun : public ::testing::Test {
protected:
    std::unique_ptr<ChildProcess> start(std::vector<std::string> args) {
        args.insert(args.begin(), "--headless");
        auto child = std::make_unique<ChildProcess>(
            OSTREL_BINARY, args, std::vector<std::string>{"XDG_RUNTIME_DIR=" + dir_.path()});
        EXPECT_TRUE(child->started());
        return child;
    }
    platform::test::TempDir dir_;
};

class Ser2netRun : public RemoteRun {
protected:
    void SetUp() override {
        if (const std::string why = Ser2net::missing(); !why.empty()) GTEST_SKIP() << why;
        server_ = std::make_unique<Ser2net>("telnet(rfc2217),tcp");
        ASSERT_TRUE(server_->ready()) << server_->error();
    }
    std::unique_ptr<Ser2net> server_;
};

TEST_F(Ser2netRun, IntercedesBetweenALocalPtyAndTheRemotePort) {
    auto terminal = openBareMaster();
    ASSERT_TRUE(terminal.master.valid());
    auto child = start({"--port", "8=" + server_->url("rfc2217"), "COM8", terminal.slavePath, "--display",
                        "ascii", "--baud", "38400"});
    ASSERT_TRUE(child->waitForOutput(kPortOn)) << child->errors() << child->output();
    // What the far device sends reaches the local terminal, and the other way round.
    ASSERT_TRUE(writeAll(server_->master(), "RING\xff"));
    EXPECT_EQ(readUntil(terminal.master.get(), "RING\xff", 20s), "RING\xff");
    ASSERT_TRUE(writeAll(terminal.master.get(), "ATA\xff\xff"));
    EXPECT_EQ(readUntil(server_->master(), "ATA\xff\xff", 20s), "ATA\xff\xff");
    EXPECT_TRUE(child->waitForOutput(" DTE ->> ATA")) << child->output();
    EXPECT_NE(child->output().find(" DCE ->> RING"), std::string::npos) << child->output();
    child->signal(SIGTERM);
    EXPECT_EQ(child->waitExit(), 0);
    EXPECT_TRUE(child->output().ends_with(kPortOff)) << child->output();
}

TEST_F(Ser2netRun, AServerKilledMidStreamIsTheDisconnectLineAndExitThree) {
    auto child = start({"--port", "7=" + server_->url("rfc2217"), "--dte", "COM7", "--display", "hex"});
    ASSERT_TRUE(child->waitForOutput(kPortOn)) << child->errors() << child->output();
    // The far device keeps sending while its server dies.
    std::jthread device([&](std::stop_token stop) {
        const std::string line(256, 'U');
        while (!stop.stop_requested()) {
            writeAll(server_->master(), line);
            std::this_thread::sleep_for(2ms);
        }
    });
    ASSERT_TRUE(child->waitForOutput("0x55 0x55 0x55"));
    server_->kill();
    EXPECT_EQ(child->waitExit(10s), 3);
    const std::string out = child->output();
    const std::string ending = "\r\n*** COM7 disconnected ***\r\n" + std::string(kPortOff);
    EXPECT_TRUE(out.ends_with(ending)) << out.substr(out.size() > 300 ? out.size() - 300 : 0);
}

TEST_F(RemoteRun, AServersLineErrorAndRefusedSettingAreShownAsForAUart) {
    ScriptedPeer peer;
    peer.replyWith(1, {0x00, 0x00, 0x12, 0xC0});  // 4800 for the 9600 asked
    auto child =
        start({"--port", "9=" + peer.url(), "--dte", "COM9", "--display", "ascii", "--baud", "9600"});
    ASSERT_TRUE(child->waitForOutput(kPortOn)) << child->errors() << child->output();
    ASSERT_TRUE(child->waitForOutput("\r\n*** COM9: baud rate 9600 not accepted, using 4800 ***\r\n"))
        << child->output();
    ASSERT_TRUE(peer.send({'a', 'b'}));
    ASSERT_TRUE(child->waitForOutput(" DCE ->> ab")) << child->output();
    ASSERT_TRUE(peer.send(ScriptedPeer::comPort(106, {0x08})));  // a framing error
    EXPECT_TRUE(child->waitForOutput("ab\r\nReceived Comport Line Status ERROR\r\n")) << child->output();
    child->signal(SIGTERM);
    EXPECT_EQ(child->waitExit(), 0);
    // Close COM asked the server to purge its buffers.
    EXPECT_TRUE(peer.waitFor([](const ScriptedPeer::Received& got) {
        return std::find(got.commands.begin(), got.commands.end(),
                         std::pair{std::uint8_t{12}, std::vector<std::uint8_t>{3}}) != got.commands.end();
    }));
}

TEST_F(RemoteRun, FailedOpensGiveTheReasonAndBadUrlsAreBadOptions) {
    const std::string closed = "rfc2217://127.0.0.1:" + std::to_string(platform::test::freeTcpPort());
    auto refused = start({"--port", "9=" + closed, "--dte", "COM9"});
    EXPECT_EQ(refused->waitExit(), 1);
    EXPECT_NE(refused->output().find("COM9: " + closed + ": connection refused"), std::string::npos)
        << refused->output();

    // Listed as it is mapped: no connection is tried for the list.
    auto listed = start({"--port", "9=" + closed, "--list-ports"});
    EXPECT_EQ(listed->waitExit(), 0);
    EXPECT_NE(listed->output().find("COM9  " + closed + "  mapped with --port"), std::string::npos)
        << listed->output();

    auto bad = start({"--dte", "rfc2217://plant-pi"});
    EXPECT_EQ(bad->waitExit(), 2);
    EXPECT_NE(bad->errors().find("'rfc2217://plant-pi' is not a port URL"), std::string::npos)
        << bad->errors();
}

}  // namespace
}  // namespace ostrel::headless::test
