// The demo devices' behaviour in virtual time: the frames, a conversation of
// the two devices wired to each other, its pace and its determinism.

#include "headless/demo_script.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace ostrel::headless::demo {
namespace {

TEST(DemoFrame, RoundTripsAndEscapesFlagBytes) {
    const std::string payload(
        "\x7E\x7D\x00\xFF"
        "abc",
        7);
    const std::string frame = EncodeFrame(0x7E, payload);
    ASSERT_GE(frame.size(), 2u);
    EXPECT_EQ(frame.front(), '\x7E');
    EXPECT_EQ(frame.back(), '\x7E');
    // No flag inside: the frame can be found between its two flags.
    EXPECT_EQ(std::count(frame.begin(), frame.end(), '\x7E'), 2);

    std::uint8_t seq = 0;
    std::string decoded;
    ASSERT_TRUE(DecodeFrame(std::string_view(frame).substr(1, frame.size() - 2), seq, decoded));
    EXPECT_EQ(seq, 0x7E);
    EXPECT_EQ(decoded, payload);
}

TEST(DemoFrame, ACorruptedFrameIsRefused) {
    const std::string frame = EncodeFrame(3, "hello");
    std::string inner = frame.substr(1, frame.size() - 2);
    std::uint8_t seq = 0;
    std::string payload;
    inner[3] ^= 0x01;
    EXPECT_FALSE(DecodeFrame(inner, seq, payload));
    EXPECT_FALSE(DecodeFrame("", seq, payload));
    EXPECT_FALSE(DecodeFrame("\x01\x05", seq, payload));
}

// The two devices wired back to back, stepped in virtual time; what each
// sent is recorded in order.
struct Wire {
    SimulatedDte dte;
    SimulatedDce dce;
    std::string fromDte, fromDce;
    int linesFromDte = 0;

    Wire(int pace, std::uint32_t seed) : dte(pace, seed), dce(pace, seed + 1) {}

    void run(Millis until) {
        for (Millis now = 0; now <= until; ++now) {
            Step a = dte.step(now);
            if (!a.out.empty()) {
                fromDte += a.out;
                ++linesFromDte;
                dce.receive(a.out, now);
            }
            Step b = dce.step(now);
            if (!b.out.empty()) {
                fromDce += b.out;
                dte.receive(b.out, now);
            }
            EXPECT_GE(a.wakeAt, now);
            EXPECT_GE(b.wakeAt, now);
        }
    }
};

TEST(DemoConversation, RunsTheModemSessionInOrder) {
    Wire wire(100, 7);
    wire.run(60'000);
    const std::string& d = wire.fromDte;
    const auto at = [&](std::string_view text) { return d.find(text); };
    ASSERT_NE(at("ATZ\r"), std::string::npos);
    EXPECT_LT(at("ATZ\r"), at("ATE0\r"));
    EXPECT_LT(at("ATE0\r"), at("ATI\r"));
    EXPECT_LT(at("ATI\r"), at("AT+CSQ\r"));
    EXPECT_LT(at("AT+CSQ\r"), at("ATD5551234\r"));
    EXPECT_NE(at("GET /sensor/"), std::string::npos);
    EXPECT_NE(at("+++"), std::string::npos);
    EXPECT_NE(at("ATH\r"), std::string::npos);
    EXPECT_NE(at("\x7E"), std::string::npos) << "no binary frame in a minute";

    const std::string& m = wire.fromDce;
    EXPECT_NE(m.find("\r\nOK\r\n"), std::string::npos);
    EXPECT_NE(m.find("\r\nQuorvane Modem 56K\r\n"), std::string::npos);
    EXPECT_NE(m.find("\r\n+CSQ: 21,99\r\n"), std::string::npos);
    EXPECT_NE(m.find("\r\nCONNECT 9600\r\n"), std::string::npos);
    EXPECT_NE(m.find("SENSOR "), std::string::npos);
    EXPECT_NE(m.find("\x7E"), std::string::npos) << "frames are acknowledged";
    EXPECT_EQ(m.find("ERROR"), std::string::npos) << "the devices understand each other";
}

TEST(DemoConversation, TheModemEchoesUntilEchoIsTurnedOff) {
    SimulatedDce dce(10, 1);
    dce.receive("AT\r", 0);
    std::string out;
    for (Millis now = 0; now < 100; ++now) out += dce.step(now).out;
    EXPECT_EQ(out, "AT\r\r\nOK\r\n");

    dce.receive("ATE0\r", 100);
    for (Millis now = 100; now < 200; ++now) out += dce.step(now).out;
    dce.receive("ATI\r", 200);
    out.clear();
    for (Millis now = 200; now < 300; ++now) out += dce.step(now).out;
    EXPECT_EQ(out, "\r\nQuorvane Modem 56K\r\n\r\nOK\r\n");

    dce.receive("ATX9\r", 300);
    out.clear();
    for (Millis now = 300; now < 400; ++now) out += dce.step(now).out;
    EXPECT_EQ(out, "\r\nERROR\r\n");
}

TEST(DemoConversation, KeepsARealisticPace) {
    // With a pace of 300 ms the DTE sends a few lines per second, not a flood.
    Wire wire(300, 11);
    wire.run(60'000);
    const double perSecond = wire.linesFromDte / 60.0;
    EXPECT_GT(perSecond, 0.5);
    EXPECT_LT(perSecond, 5.0);
}

TEST(DemoConversation, IsTheSameForTheSameSeedAndDiffersForAnother) {
    Wire a(50, 42), b(50, 42), c(50, 43);
    a.run(30'000);
    b.run(30'000);
    c.run(30'000);
    EXPECT_EQ(a.fromDte, b.fromDte);
    EXPECT_EQ(a.fromDce, b.fromDce);
    EXPECT_NE(a.fromDce, c.fromDce);
}

TEST(DemoConversation, TheTerminalStartsOverWhenNobodyAnswers) {
    SimulatedDte dte(10, 3);
    std::string out;
    for (Millis now = 0; now < 1000; ++now) out += dte.step(now).out;
    // ATZ again and again, a few unanswered tries a second, nothing else.
    const auto tries = std::count(out.begin(), out.end(), '\r');
    EXPECT_GE(tries, 3);
    EXPECT_LE(tries, 20);
    EXPECT_EQ(out.find("AT\r"), std::string::npos);
}

}  // namespace
}  // namespace ostrel::headless::demo
