// platform::TtyPort on a real 8250 UART (/dev/ttyS0) in loopback: the
// settings a pseudo-terminal cannot hold, byte-exact data with PARMRK on,
// the driver's counters, the modem lines at open and RTS/CTS flow control.

#include <gtest/gtest.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/modem_lines.h"
#include "platform/pty_test_support.h"
#include "platform/tty_port.h"
#include "uart_loopback.h"
#include "uart_termios2.h"

namespace ostrel::uart::test {
namespace {

using namespace std::chrono_literals;
using platform::LineSettings;
using platform::TtyPort;
using platform::test::readPort;
using platform::test::writeAll;

std::string joined(const std::vector<std::string>& notes) {
    std::string text;
    for (const std::string& note : notes) text += "[" + note + "] ";
    return text;
}

std::optional<serial_icounter_struct> counters(int fd) {
    serial_icounter_struct icount{};
    if (::ioctl(fd, TIOCGICOUNT, &icount) != 0) return std::nullopt;
    return icount;
}

// Bytes waiting in the port's output queue.
int outputQueued(int fd) {
    int queued = -1;
    return ::ioctl(fd, TIOCOUTQ, &queued) == 0 ? queued : -1;
}

std::string text(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

class UartTest : public ::testing::Test {
protected:
    void SetUp() override {
        loop_ = std::make_unique<UartLoopback>();
        if (!loop_->ready()) GTEST_SKIP() << loop_->skipReason();
    }

    // Other tests' port lists probe every port, this one too, holding its
    // flock for a moment: a busy port is tried again for a while.
    TtyPort openPort() {
        platform::Result<TtyPort> port = TtyPort::open(uartPath(), "");
        platform::test::waitUntil([&] {
            if (port || !port.error().isBusy()) return true;
            port = TtyPort::open(uartPath(), "");
            return false;
        });
        if (!port) ADD_FAILURE() << port.error().describe();
        return std::move(port).value();
    }

    std::unique_ptr<UartLoopback> loop_;
};

TEST_F(UartTest, SettingsAPseudoTerminalDropsAreAppliedReadBackAndCarryData) {
    TtyPort port = openPort();
    ASSERT_FALSE(port.isPseudoTerminal());
    struct Case {
        LineSettings settings;
        bool parity, odd, stick;
    };
    // Parity codes: 1 odd, 2 even, 3 mark, 4 space; stop bits: 0 one, 2 two.
    const Case cases[] = {
        {{9600, 7, 2, 2, 0}, true, false, false},     // 7E2
        {{31250, 7, 1, 0, 0}, true, true, false},     // 7O1 at a rate of no standard
        {{12345, 8, 3, 2, 0}, true, true, true},      // 8M2
        {{1200, 8, 4, 0, 0}, true, false, true},      // 8S1
        {{115200, 7, 0, 2, 0}, false, false, false},  // 7N2
        {{57600, 8, 0, 0, 0}, false, false, false},   // 8N1
    };
    for (const Case& c : cases) {
        const LineSettings& s = c.settings;
        SCOPED_TRACE(std::to_string(s.baud) + " " + std::to_string(s.dataBits) + " data bits, parity " +
                     std::to_string(s.parity) + ", stop code " + std::to_string(s.stopBits));
        const std::vector<std::string> notes = port.configure(s);
        EXPECT_TRUE(notes.empty()) << "applied settings reported as refused: " << joined(notes);

        const std::optional<LineState> state = readLineState(port.fd());
        ASSERT_TRUE(state);
        EXPECT_EQ(state->dataBits, s.dataBits);
        EXPECT_EQ(state->parity, c.parity);
        EXPECT_EQ(state->odd, c.odd);
        EXPECT_EQ(state->stick, c.stick);
        EXPECT_EQ(state->twoStopBits, s.stopBits == 2);
        EXPECT_EQ(state->outputRate, s.baud);
        EXPECT_EQ(state->inputRate, s.baud);
        EXPECT_FALSE(state->rtsCts);
        EXPECT_TRUE(state->parityMarks);

        // Seven-bit text crosses the loop unchanged in every one of them.
        const std::string sent = "Loop " + std::to_string(s.baud) + "\r\n";
        ASSERT_TRUE(writeAll(port.fd(), sent));
        bool lineError = false;
        EXPECT_EQ(text(readPort(port, sent.size(), &lineError)), sent);
        EXPECT_FALSE(lineError);
        EXPECT_FALSE(port.takeCountedLineErrors());
    }
}

TEST_F(UartTest, WhatTheUartDoesNotTakeIsReportedAsItReadsBack) {
    TtyPort port = openPort();
    // 1.5 stop bits have no termios flag: two are used, and said so.
    std::vector<std::string> notes = port.configure(LineSettings{9600, 8, 0, 1, 0});
    EXPECT_EQ(notes, std::vector<std::string>{"1.5 stop bits not supported here, using 2"});
    EXPECT_TRUE(readLineState(port.fd())->twoStopBits);

    // A rate far beyond a 16550's clock: whatever the driver keeps is what
    // the note names, and a rate it keeps is not reported.
    notes = port.configure(LineSettings{4000000, 8, 0, 0, 0});
    const std::uint32_t kept = readLineState(port.fd())->outputRate;
    if (kept == 4000000) {
        EXPECT_TRUE(notes.empty()) << joined(notes);
    } else {
        EXPECT_EQ(notes,
                  std::vector<std::string>{"baud rate 4000000 not accepted, using " + std::to_string(kept)});
    }
}

TEST_F(UartTest, EveryByteValueLoopsBackExactlyWithMarkingOnAndNoFalseLineError) {
    TtyPort port = openPort();
    ASSERT_TRUE(port.configure(LineSettings{115200, 8, 0, 0, 0}).empty());
    ASSERT_TRUE(readLineState(port.fd())->parityMarks);
    const std::optional<serial_icounter_struct> before = counters(port.fd());
    ASSERT_TRUE(before) << "the 8250 driver has counters";

    // 0xFF comes back from the driver doubled (PARMRK) and out of the port single.
    const std::vector<std::uint8_t> bytes = platform::test::allByteValues(4);
    ASSERT_TRUE(writeAll(port.fd(), bytes));
    bool lineError = false;
    EXPECT_EQ(readPort(port, bytes.size(), &lineError, 20s), bytes);
    EXPECT_FALSE(lineError);
    EXPECT_FALSE(port.takeCountedLineErrors());

    const std::optional<serial_icounter_struct> after = counters(port.fd());
    ASSERT_TRUE(after);
    EXPECT_EQ(after->tx - before->tx, static_cast<int>(bytes.size()));
    EXPECT_EQ(after->rx - before->rx, static_cast<int>(bytes.size()));
    EXPECT_EQ(after->frame, before->frame);
    EXPECT_EQ(after->parity, before->parity);
    EXPECT_EQ(after->overrun, before->overrun);
    EXPECT_EQ(after->brk, before->brk);
    EXPECT_EQ(after->buf_overrun, before->buf_overrun);
}

TEST_F(UartTest, DtrAndRtsAreDroppedAtOpenAndDsrAndCtsFollowThem) {
    // Both raised first, as Linux raises them on open; the loop shows them as DSR and CTS.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ASSERT_EQ(::ioctl(loop_->fd(), TIOCMBIS, &lines), 0);
    ASSERT_TRUE(platform::test::waitUntil([&] {
        const int bits = modemBits(loop_->fd());
        return bits >= 0 && (bits & TIOCM_DSR) && (bits & TIOCM_CTS);
    })) << "DSR and CTS do not follow DTR and RTS in loopback";

    TtyPort port = openPort();
    int bits = modemBits(loop_->fd());
    EXPECT_FALSE(bits & TIOCM_DTR);
    EXPECT_FALSE(bits & TIOCM_RTS);
    const std::optional<platform::ModemLines> seen = platform::readModemLines(port.fd());
    ASSERT_TRUE(seen);
    EXPECT_FALSE(seen->dsr);
    EXPECT_FALSE(seen->cts);

    // Settings without a handshake keep both off.
    EXPECT_TRUE(port.configure(LineSettings{19200, 8, 0, 0, 0}).empty());
    bits = modemBits(loop_->fd());
    EXPECT_FALSE(bits & (TIOCM_DTR | TIOCM_RTS | TIOCM_DSR | TIOCM_CTS)) << std::hex << bits;

    // And the lines the port reads are live: DTR raised shows as DSR.
    lines = TIOCM_DTR;
    ASSERT_EQ(::ioctl(loop_->fd(), TIOCMBIS, &lines), 0);
    EXPECT_TRUE(platform::test::waitUntil([&] {
        const std::optional<platform::ModemLines> now = platform::readModemLines(port.fd());
        return now && now->dsr && !now->cts;
    }));
}

TEST_F(UartTest, RtsCtsFlowControlHoldsAndReleasesTheTransmitter) {
    TtyPort port = openPort();
    const std::vector<std::string> notes = port.configure(LineSettings{115200, 8, 0, 0, 1});
    ASSERT_TRUE(readLineState(port.fd())->rtsCts);
    // This UART has no RS-485 mode: the handshake is used, and both
    // things it cannot do are said.
    EXPECT_EQ(notes, (std::vector<std::string>{"RTS toggle not supported here, using RTS/CTS handshake",
                                               "DSR sensitivity not supported here"}));
    // Under the handshake RTS says "ready to receive", so it is up (the
    // driver lowers it while its buffer is full); in loopback it is our CTS,
    // and what is sent comes back.
    EXPECT_TRUE(modemBits(loop_->fd()) & TIOCM_RTS);
    EXPECT_FALSE(modemBits(loop_->fd()) & TIOCM_DTR);
    ASSERT_TRUE(writeAll(port.fd(), "ready"));
    EXPECT_EQ(text(readPort(port, 5, nullptr, 20s)), "ready");

    // The driver learns of a CTS change from the UART's modem-status
    // interrupt (counted in TIOCGICOUNT's cts). An emulated 16550 may raise
    // none in loopback; the driver then samples CTS at each change of the
    // termios, so the test changes the rate and back to let the driver look.
    const auto setRts = [&](bool on) {
        const int before = counters(port.fd())->cts;
        int rts = TIOCM_RTS;
        ASSERT_EQ(::ioctl(loop_->fd(), on ? TIOCMBIS : TIOCMBIC, &rts), 0);
        ASSERT_TRUE(
            platform::test::waitUntil([&] { return ((modemBits(loop_->fd()) & TIOCM_CTS) != 0) == on; }));
        if (counters(port.fd())->cts == before) {
            ASSERT_TRUE(changeRateAndBack(loop_->fd()));
        }
    };
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        setRts(false);
        // CTS low: the bytes stay queued. Nothing can show that they never
        // leave but a while without them.
        const std::string sent = "held " + std::to_string(round);
        ASSERT_TRUE(writeAll(port.fd(), sent));
        pollfd p{port.fd(), POLLIN, 0};
        EXPECT_EQ(::poll(&p, 1, 300), 0) << "bytes left while CTS was low";
        EXPECT_EQ(outputQueued(port.fd()), static_cast<int>(sent.size()));

        // CTS high: they go.
        setRts(true);
        EXPECT_EQ(text(readPort(port, sent.size(), nullptr, 20s)), sent);
        EXPECT_TRUE(platform::test::waitUntil([&] { return outputQueued(port.fd()) == 0; }));
    }
}

}  // namespace
}  // namespace ostrel::uart::test
