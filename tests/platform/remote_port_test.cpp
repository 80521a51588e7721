// Ports by URL: the COM port client against a real serial port server
// (ser2net over a pty pair), a raw TCP port, and a scripted server for what
// a pty cannot make (line errors, modem lines, flow-control suspends).

#include <gtest/gtest.h>
#include <termios.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <stdexcept>
#include <thread>

#include "platform/transmitter.h"
#include "platform/tty_port.h"
#include "pty_test_support.h"
#include "remote_test_support.h"
#include "termios2_probe.h"

namespace ostrel::platform::test {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// Random bytes with runs of 0xFF and whole telnet commands in them, the
// bytes an escaping fault would garble.
Bytes trickyBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    Bytes bytes;
    bytes.reserve(size);
    const Bytes sequences[] = {
        {0xFF, 0xFF, 0xFF, 0xFF, 0xFF},        // a run of IAC
        {0xFF, 0xFA, 0x2C, 0x01, 0xFF, 0xF0},  // a COM port sub-negotiation
        {0xFF, 0xFB, 0x00},                    // IAC WILL BINARY
        {0xFF, 0xFD, 0x2C},                    // IAC DO COM-PORT
        {0x0D, 0x00, 0x0D, 0x0A, 0xFF},        // CR NUL, CR LF (non-binary telnet changes them)
    };
    while (bytes.size() < size) {
        if (random() % 16 == 0) {
            const Bytes& run = sequences[random() % std::size(sequences)];
            bytes.insert(bytes.end(), run.begin(), run.end());
        } else {
            bytes.push_back(static_cast<std::uint8_t>(random()));
        }
    }
    bytes.resize(size);
    return bytes;
}

// Reads `count` bytes from a pty master (non-blocking) with a deadline.
Bytes readMaster(int fd, std::size_t count) {
    return readFd(fd, count, 20s);
}

// ser2net with a telnet COM port accepter, or a raw one.
template <bool Raw>
class Ser2netServed : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string why = Ser2net::missing(); !why.empty()) GTEST_SKIP() << why;
        server_ = std::make_unique<Ser2net>(Raw ? "tcp" : "telnet(rfc2217),tcp");
        ASSERT_TRUE(server_->ready()) << server_->error();
    }
    std::unique_ptr<Ser2net> server_;
};
using Ser2netPort = Ser2netServed<false>;
using Ser2netRawPort = Ser2netServed<true>;

TEST_F(Ser2netPort, SettingsReachTheFarTtyAndEveryByteValuePassesBothWays) {
    Result<TtyPort> opened = TtyPort::openRemote(server_->url("rfc2217"), 5000);
    ASSERT_TRUE(opened) << opened.error().describe();
    TtyPort port = std::move(opened).value();
    EXPECT_EQ(port.path(), server_->url("rfc2217"));

    // 115200 with two stop bits, read back on the far tty by TCGETS2.
    EXPECT_TRUE(port.configure({115200, 8, 0, 2, 0}).empty());
    ASSERT_TRUE(waitUntil([&] {
        const auto rates = kernelRates(server_->slave());
        termios t{};
        return rates && rates->output == 115200 && ::tcgetattr(server_->slave(), &t) == 0 &&
               (t.c_cflag & CSTOPB);
    })) << "the far tty did not take 115200 and 2 stop bits";
    // Data bits and parity: a pty keeps CS8 and no parity whatever it is
    // told, so the server's replies are what tells (no refused-setting note).
    EXPECT_TRUE(port.configure({9600, 7, 2, 0, 0}).empty());
    ASSERT_TRUE(waitUntil([&] {
        const auto rates = kernelRates(server_->slave());
        return rates && rates->output == 9600;
    }));
    EXPECT_TRUE(port.configure({57600, 8, 0, 0, 0}).empty());
    port.purge();

    const std::size_t size = 1u << 20;
    const Bytes out = trickyBytes(size, 1);
    const Bytes in = trickyBytes(size, 2);
    Transmitter transmitter(port.fd());
    ASSERT_TRUE(transmitter.enqueue(out));
    // The far tty's answer goes the other way at the same time.
    std::jthread farWriter([&] { EXPECT_TRUE(writeAll(server_->master(), in, 60s)); });
    const Bytes atFar = readFd(server_->master(), size, 60s);
    const Bytes atUs = readPort(port, size, nullptr, 60s);
    ASSERT_EQ(atFar.size(), size);
    EXPECT_TRUE(atFar == out) << "bytes sent were changed on the way";
    ASSERT_EQ(atUs.size(), size);
    EXPECT_TRUE(atUs == in) << "bytes received were changed on the way";
    EXPECT_FALSE(transmitter.failed());
}

TEST_F(Ser2netPort, AServerKilledMidStreamIsAHangUp) {
    Result<TtyPort> opened = TtyPort::openRemote(server_->url("rfc2217"), 5000);
    ASSERT_TRUE(opened) << opened.error().describe();
    TtyPort port = std::move(opened).value();
    EXPECT_TRUE(port.configure({9600, 8, 0, 0, 0}).empty());
    const Bytes burst(4096, 'x');
    ASSERT_TRUE(writeAll(server_->master(), burst));
    EXPECT_FALSE(readPort(port, 1, nullptr, 20s).empty());
    server_->kill();
    bool hungUp = false;
    std::uint8_t buffer[4096];
    ASSERT_TRUE(waitUntil([&] {
        if (port.wait(-1, true, 10) & (TtyPort::Readable | TtyPort::HangUp))
            hungUp = port.read(buffer).hungUp;
        return hungUp;
    }));
}

TEST_F(Ser2netRawPort, CarriesEveryByteValueAndTakesNoSettings) {
    Result<TtyPort> opened = TtyPort::openRemote(server_->url("tcp"), 5000);
    ASSERT_TRUE(opened) << opened.error().describe();
    TtyPort port = std::move(opened).value();
    EXPECT_TRUE(port.configure({115200, 7, 1, 2, 1}).empty());
    EXPECT_FALSE(port.modemLines().has_value());
    const Bytes out = trickyBytes(256 * 1024, 3);
    const Bytes in = trickyBytes(256 * 1024, 4);
    Transmitter transmitter(port.fd());
    ASSERT_TRUE(transmitter.enqueue(out));
    std::jthread farWriter([&] { EXPECT_TRUE(writeAll(server_->master(), in, 60s)); });
    EXPECT_TRUE(readMaster(server_->master(), out.size()) == out);
    EXPECT_TRUE(readPort(port, in.size(), nullptr, 20s) == in);
}

class ScriptedServer : public ::testing::Test {
protected:
    TtyPort open(int waitMs = 5000) {
        Result<TtyPort> opened = TtyPort::openRemote(peer_.url(), waitMs);
        EXPECT_TRUE(opened) << opened.error().describe();
        if (!opened) throw std::runtime_error("open failed");
        return std::move(opened).value();
    }
    ScriptedPeer peer_;
};

TEST_F(ScriptedServer, TheClientNegotiatesRefusesEchoAndSendsTheSettingsAsAsked) {
    TtyPort port = open();
    const LineSettings settings{115200, 7, 2, 2, 1};  // 7E2, RTS/CTS
    EXPECT_TRUE(port.configure(settings).empty());
    const ScriptedPeer::Received got = peer_.received();
    const auto has = [&](std::uint8_t verb, std::uint8_t option) {
        return std::find(got.negotiations.begin(), got.negotiations.end(), std::pair{verb, option}) !=
               got.negotiations.end();
    };
    EXPECT_TRUE(has(251, 0) && has(253, 0)) << "binary both ways";
    EXPECT_TRUE(has(251, 3) && has(253, 3)) << "suppress go-ahead";
    EXPECT_TRUE(has(251, 44)) << "COM port option";
    EXPECT_TRUE(has(254, 1)) << "the server's echo refused";
    const auto value = [&](std::uint8_t command) {
        for (const auto& [c, v] : got.commands)
            if (c == command) return v;
        return Bytes{};
    };
    EXPECT_EQ(value(1), (Bytes{0x00, 0x01, 0xC2, 0x00}));  // 115200, big-endian
    EXPECT_EQ(value(2), Bytes{7});
    EXPECT_EQ(value(3), Bytes{3});      // even
    EXPECT_EQ(value(4), Bytes{2});      // two stop bits
    EXPECT_EQ(value(5), Bytes{3});      // hardware flow control
    EXPECT_EQ(value(10), Bytes{0x1E});  // line errors notified
}

TEST_F(ScriptedServer, AReplyThatDiffersGivesExactlyItsRefusedSettingNote) {
    peer_.replyWith(1, {0x00, 0x00, 0x25, 0x80});  // 9600
    peer_.replyWith(4, {3});                       // 1.5 stop bits
    TtyPort port = open();
    EXPECT_EQ(port.configure({115200, 8, 0, 2, 0}),
              (std::vector<std::string>{"baud rate 115200 not accepted, using 9600",
                                        "2 stop bits not accepted, using 1.5 stop bits"}));
}

TEST_F(ScriptedServer, LineErrorsAndModemLinesAreWhatTheServerNotifies) {
    TtyPort port = open();
    EXPECT_TRUE(port.configure({9600, 8, 0, 0, 0}).empty());
    EXPECT_FALSE(port.modemLines().has_value());
    EXPECT_FALSE(port.takeCountedLineErrors());
    // Data ready and the transmitter-empty bits are not errors.
    ASSERT_TRUE(peer_.send(ScriptedPeer::comPort(106, {0x61})));
    ASSERT_TRUE(peer_.send({'a'}));
    EXPECT_EQ(readPort(port, 1), Bytes{'a'});
    EXPECT_FALSE(port.takeCountedLineErrors());
    for (const std::uint8_t error : {0x02, 0x04, 0x08, 0x10}) {  // overrun, parity, framing, break
        ASSERT_TRUE(peer_.send(ScriptedPeer::comPort(106, {error})));
        EXPECT_TRUE(waitUntil([&] { return port.takeCountedLineErrors(); })) << int(error);
        EXPECT_FALSE(port.takeCountedLineErrors());
    }
    ASSERT_TRUE(peer_.send(ScriptedPeer::comPort(107, {0x30})));  // CTS and DSR on
    ASSERT_TRUE(waitUntil([&] { return port.modemLines().has_value(); }));
    EXPECT_TRUE(port.modemLines()->cts);
    EXPECT_TRUE(port.modemLines()->dsr);
    EXPECT_FALSE(port.modemLines()->dcd);
    EXPECT_FALSE(port.modemLines()->ri);
    ASSERT_TRUE(peer_.send(ScriptedPeer::comPort(107, {0xC0})));  // DCD and RI on
    ASSERT_TRUE(waitUntil([&] { return port.modemLines()->dcd; }));
    EXPECT_TRUE(port.modemLines()->ri);
    EXPECT_FALSE(port.modemLines()->cts);
}

TEST_F(ScriptedServer, AFlowControlSuspendHoldsTheSendingUntilTheResume) {
    TtyPort port = open();
    EXPECT_TRUE(port.configure({9600, 8, 0, 0, 0}).empty());
    Transmitter transmitter(port.fd());
    // The marker byte after the suspend tells the test that the client has read it.
    ASSERT_TRUE(peer_.send(ScriptedPeer::comPort(108, {})));
    ASSERT_TRUE(peer_.send({'S'}));
    ASSERT_EQ(readPort(port, 1), Bytes{'S'});
    const Bytes data = trickyBytes(512 * 1024, 5);
    ASSERT_TRUE(transmitter.enqueue(data));
    // Held: the local buffers fill and the transmitter stops taking bytes.
    std::size_t before = 0;
    ASSERT_TRUE(waitUntil([&] {
        const std::size_t now = transmitter.queued();
        const bool settled = now > 0 && now == before;
        before = now;
        if (!settled) std::this_thread::sleep_for(50ms);
        return settled;
    }));
    EXPECT_TRUE(peer_.received().data.empty()) << "data went out while the server had suspended it";
    ASSERT_TRUE(peer_.send(ScriptedPeer::comPort(109, {})));
    EXPECT_TRUE(
        peer_.waitFor([&](const ScriptedPeer::Received& got) { return got.data.size() >= data.size(); }));
    EXPECT_TRUE(peer_.received().data == data);
}

TEST_F(ScriptedServer, PurgeAsksTheServerToPurgeBothBuffers) {
    TtyPort port = open();
    EXPECT_TRUE(port.configure({9600, 8, 0, 0, 0}).empty());
    port.purge();
    EXPECT_TRUE(peer_.waitFor([](const ScriptedPeer::Received& got) {
        return std::find(got.commands.begin(), got.commands.end(), std::pair{std::uint8_t{12}, Bytes{3}}) !=
               got.commands.end();
    }));
}

TEST_F(ScriptedServer, TheServerClosingIsAHangUpAfterTheLastBytes) {
    TtyPort port = open();
    EXPECT_TRUE(port.configure({9600, 8, 0, 0, 0}).empty());
    ASSERT_TRUE(peer_.send({'b', 'y', 'e', 0xFF, 0xFF}));
    peer_.disconnect();
    Bytes got;
    bool hungUp = false;
    std::uint8_t buffer[64];
    ASSERT_TRUE(waitUntil([&] {
        if (port.wait(-1, true, 10) & (TtyPort::Readable | TtyPort::HangUp)) {
            const ReadOutcome outcome = port.read(buffer);
            got.insert(got.end(), buffer, buffer + outcome.count);
            hungUp = outcome.hungUp;
        }
        return hungUp;
    }));
    EXPECT_EQ(got, (Bytes{'b', 'y', 'e', 0xFF}));
}

TEST_F(ScriptedServer, CloseReturnsWithinOneSecondWhenTheServerTakesNothing) {
    std::optional<TtyPort> port(open());
    EXPECT_TRUE(port->configure({9600, 8, 0, 0, 0}).empty());
    peer_.setReading(false);
    auto transmitter = std::make_unique<Transmitter>(port->fd());
    ASSERT_TRUE(transmitter->enqueue(Bytes(16u << 20, 'z')));
    // Until every buffer on the way is full.
    std::size_t before = 0;
    ASSERT_TRUE(waitUntil([&] {
        const std::size_t now = transmitter->queued();
        const bool settled = now > 0 && now == before;
        before = now;
        if (!settled) std::this_thread::sleep_for(100ms);
        return settled;
    }));
    // As Close COM does it: the transmitter stopped, the port purged and closed.
    const auto start = std::chrono::steady_clock::now();
    transmitter.reset();
    port->purge();
    port.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST(RemotePortOpen, FailuresNameTheirReason) {
    const std::uint16_t closed = freeTcpPort();
    Result<TtyPort> refused = TtyPort::openRemote("rfc2217://127.0.0.1:" + std::to_string(closed), 3000);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().describe(),
              "rfc2217://127.0.0.1:" + std::to_string(closed) + ": connection refused");

    Result<TtyPort> unknown = TtyPort::openRemote("tcp://no-such-host.invalid:4001", 3000);
    ASSERT_FALSE(unknown);
    EXPECT_EQ(unknown.error().describe(), "tcp://no-such-host.invalid:4001: unknown host");

    // A server that accepts the connection and then says nothing.
    ScriptedPeer silent;
    silent.setAnswering(false);
    const auto start = std::chrono::steady_clock::now();
    Result<TtyPort> timedOut = TtyPort::openRemote(silent.url(), 300);
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_FALSE(timedOut);
    EXPECT_EQ(timedOut.error().describe(), silent.url() + ": no answer within 300 ms");
    EXPECT_GE(took, 300ms);
    EXPECT_LT(took, 2s);
}

}  // namespace
}  // namespace ostrel::platform::test
