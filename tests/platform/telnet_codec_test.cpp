// The telnet framing of ports by URL, and their URLs.

#include "platform/telnet_codec.h"

#include <gtest/gtest.h>

#include "platform/line_notes.h"
#include "platform/remote_url.h"

namespace ostrel::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(TelnetCodec, EveryByteValueSurvivesEscapingWhereverTheStreamIsSplit) {
    Bytes plain;
    for (int repeat = 0; repeat < 3; ++repeat)
        for (int value = 0; value < 256; ++value) plain.push_back(static_cast<std::uint8_t>(value));
    plain.insert(plain.end(), {0xFF, 0xFF, 0xFF, 0xFA, 0x2C, 0xFF, 0xF0});
    Bytes wire;
    telnet::appendEscaped(plain, wire);
    EXPECT_EQ(wire.size(), plain.size() + 3 + 4);  // each 0xFF doubled
    for (std::size_t split = 0; split <= wire.size(); ++split) {
        telnet::Decoder decoder;
        Bytes data;
        std::vector<telnet::Event> events;
        decoder.decode(std::span(wire).first(split), data, events);
        decoder.decode(std::span(wire).subspan(split), data, events);
        ASSERT_EQ(data, plain) << "split at " << split;
        ASSERT_TRUE(events.empty());
    }
}

TEST(TelnetCodec, NegotiationsAndComPortCommandsAreEventsBetweenTheData) {
    Bytes wire{'a', 0xFF, 0xFB, 0x00, 'b', 0xFF, 0xF1 /* NOP */, 'c'};
    telnet::appendComPort(101, Bytes{0x00, 0x00, 0xFF, 0x00}, wire);  // a value holding 0xFF
    wire.insert(wire.end(), {0xFF, 0xFA, 0x18, 0x01, 0xFF, 0xF0});    // another option's: ignored
    wire.push_back('d');
    telnet::Decoder decoder;
    Bytes data;
    std::vector<telnet::Event> events;
    for (const std::uint8_t byte : wire) decoder.decode(std::span(&byte, 1), data, events);
    EXPECT_EQ(data, (Bytes{'a', 'b', 'c', 'd'}));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, telnet::Event::Kind::Negotiation);
    EXPECT_EQ(events[0].verb, telnet::kWill);
    EXPECT_EQ(events[0].option, telnet::kBinary);
    EXPECT_EQ(events[1].kind, telnet::Event::Kind::ComPort);
    EXPECT_EQ(events[1].command, 101);
    EXPECT_EQ(events[1].value, (Bytes{0x00, 0x00, 0xFF, 0x00}));
}

TEST(TelnetCodec, CommandsAreFramedAsTheOptionWantsThem) {
    Bytes wire;
    telnet::appendComPort(telnet::kSetBaudRate, Bytes{0x00, 0x01, 0xC2, 0x00}, wire);
    telnet::appendNegotiation(telnet::kDo, telnet::kComPort, wire);
    EXPECT_EQ(wire, (Bytes{0xFF, 0xFA, 0x2C, 0x01, 0x00, 0x01, 0xC2, 0x00, 0xFF, 0xF0, 0xFF, 0xFD, 0x2C}));
}

TEST(RemoteUrl, HostAndPortOfBothSchemes) {
    const auto server = parseRemoteUrl("rfc2217://plant-pi.local:4001");
    ASSERT_TRUE(server);
    EXPECT_EQ(server->kind, RemoteUrl::Kind::ComPortServer);
    EXPECT_EQ(server->host, "plant-pi.local");
    EXPECT_EQ(server->port, 4001);
    const auto raw = parseRemoteUrl("tcp://[::1]:7000/");
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->kind, RemoteUrl::Kind::RawTcp);
    EXPECT_EQ(raw->host, "::1");
    EXPECT_EQ(raw->port, 7000);
    for (const char* bad : {"rfc2217://host", "rfc2217://:4001", "tcp://host:0", "tcp://host:65536",
                            "tcp://host:40x1", "tcp://::1:7000", "telnet://host:23", "rfc2217://a/b:1"}) {
        EXPECT_FALSE(parseRemoteUrl(bad)) << bad;
    }
    EXPECT_TRUE(looksLikeUrl("telnet://host:23"));
    EXPECT_FALSE(looksLikeUrl("/dev/ttyUSB0"));
    EXPECT_FALSE(looksLikeUrl("./odd://name"));
}

TEST(ComPortNotes, RequestCodesAndOneNoteForEachReplyThatDiffers) {
    const LineSettings asked{19200, 7, 2, 1, 2};  // 7E1.5, XON/XOFF
    const detail::ComPortSettings request = detail::comPortRequest(asked);
    EXPECT_EQ(request.baud, 19200u);
    EXPECT_EQ(request.dataSize, 7);
    EXPECT_EQ(request.parity, 3);
    EXPECT_EQ(request.stopSize, 3);
    EXPECT_EQ(request.control, 2);
    EXPECT_TRUE(detail::comPortSettingNotes(asked, request).empty());

    detail::ComPortSettings replies = request;
    replies.baud = 9600;
    replies.parity = 1;
    replies.control = std::nullopt;
    EXPECT_EQ(detail::comPortSettingNotes(asked, replies),
              (std::vector<std::string>{"baud rate 19200 not accepted, using 9600",
                                        "even parity not accepted, using no parity",
                                        "XON/XOFF flow control not confirmed by the port server"}));
    replies = request;
    replies.dataSize = 8;
    replies.stopSize = 1;
    replies.parity = 9;
    EXPECT_EQ(detail::comPortSettingNotes(asked, replies),
              (std::vector<std::string>{"7 data bits not accepted, using 8",
                                        "even parity not accepted, using parity code 9",
                                        "1.5 stop bits not accepted, using 1 stop bit"}));
}

}  // namespace
}  // namespace ostrel::platform
