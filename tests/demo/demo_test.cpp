// The demo devices: a conversation of the two wired to each other in virtual
// time, and the modem answering on a real pseudo-terminal.

#include <gtest/gtest.h>
#include <termios.h>

#include "demo/demo_devices.h"
#include "demo/demo_script.h"
#include "platform/pty_test_support.h"

namespace ostrel::demo {
namespace {

using platform::test::readFd;

TEST(DemoConversation, RunsTheModemSessionInOrder) {
    demo::SimulatedDte dte(100, 7);
    demo::SimulatedDce dce(100, 8);
    std::string fromDte, fromDce;
    for (demo::Millis now = 0; now <= 60'000; ++now) {
        const demo::Step a = dte.step(now);
        fromDte += a.out;
        if (!a.out.empty()) dce.receive(a.out, now);
        const demo::Step b = dce.step(now);
        fromDce += b.out;
        if (!b.out.empty()) dte.receive(b.out, now);
        ASSERT_GE(a.wakeAt, now);
        ASSERT_GE(b.wakeAt, now);
    }
    const auto at = [&](std::string_view text) { return fromDte.find(text); };
    ASSERT_NE(at("ATZ\r"), std::string::npos);
    EXPECT_LT(at("ATZ\r"), at("ATE0\r"));
    EXPECT_LT(at("ATE0\r"), at("ATI\r"));
    EXPECT_LT(at("ATI\r"), at("AT+CSQ\r"));
    EXPECT_LT(at("AT+CSQ\r"), at("ATD5551234\r"));
    EXPECT_NE(at("GET /sensor/"), std::string::npos);
    EXPECT_NE(at("+++"), std::string::npos);
    EXPECT_NE(at("ATH\r"), std::string::npos);
    EXPECT_NE(at("\x7E"), std::string::npos) << "no binary frame in a minute";

    EXPECT_NE(fromDce.find("\r\nOK\r\n"), std::string::npos);
    EXPECT_NE(fromDce.find("\r\nQuorvane Modem 56K\r\n"), std::string::npos);
    EXPECT_NE(fromDce.find("\r\n+CSQ: 21,99\r\n"), std::string::npos);
    EXPECT_NE(fromDce.find("\r\nCONNECT 9600\r\n"), std::string::npos);
    EXPECT_NE(fromDce.find("SENSOR "), std::string::npos);
    EXPECT_NE(fromDce.find("\x7E"), std::string::npos) << "frames are acknowledged";
    EXPECT_EQ(fromDce.find("ERROR"), std::string::npos) << "the devices understand each other";
}

TEST(SimulatedDevice, TheModemAnswersOnACookedLineMadeRaw) {
    // The slave starts in the kernel's cooked mode; the device makes it raw,
    // so "AT\r" is not turned into "AT\n" and nothing extra is echoed.
    auto pty = platform::test::openBareMaster();
    ASSERT_TRUE(pty.master.valid());
    SimulatedDevice modem(pty.slavePath, std::make_unique<demo::SimulatedDce>(5, 1));
    // Master and slave share one termios: raw there means the device has the line.
    ASSERT_TRUE(platform::test::waitUntil([&] {
        termios t{};
        return ::tcgetattr(pty.master.get(), &t) == 0 && (t.c_lflag & ICANON) == 0;
    }));
    ASSERT_TRUE(platform::test::writeAll(pty.master.get(), "AT\r"));
    const auto answer = readFd(pty.master.get(), 9, std::chrono::seconds(3));
    EXPECT_EQ(std::string(answer.begin(), answer.end()), "AT\r\r\nOK\r\n");
    EXPECT_EQ(modem.bytesReceived(), 3u);
}

}  // namespace
}  // namespace ostrel::demo
