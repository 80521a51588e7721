#include "platform/parmrk_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ostrel::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Decoded {
    Bytes data;
    bool lineError = false;
};

// Separate output with one spare byte, room for a lone FF left from the previous call.
Decoded decodeAll(ParmrkDecoder& decoder, const Bytes& in) {
    Bytes out(in.size() + 1);
    const ParmrkDecoder::Result result = decoder.decode(in, out);
    out.resize(result.count);
    return {out, result.lineError};
}

// Decodes `parts` one call each with one decoder, joining the results.
Decoded decodeParts(const std::vector<Bytes>& parts) {
    ParmrkDecoder decoder;
    Decoded all;
    for (const Bytes& part : parts) {
        const Decoded got = decodeAll(decoder, part);
        all.data.insert(all.data.end(), got.data.begin(), got.data.end());
        all.lineError = all.lineError || got.lineError;
    }
    return all;
}

TEST(ParmrkDecoder, DecodesTheSameInPlaceWhereverTheInputIsCutAndByteByByte) {
    const struct {
        Bytes in, expected;
        bool lineError;
    } cases[] = {
        {{}, {}, false},
        {{0x41, 0x00, 0x42}, {0x41, 0x00, 0x42}, false},
        {{0x41, 0xFF, 0xFF, 0x42, 0xFF, 0xFF, 0xFF, 0xFF}, {0x41, 0xFF, 0x42, 0xFF, 0xFF}, false},
        {{0x41, 0xFF, 0x00, 0x42, 0x43}, {0x41, 0x42, 0x43}, true},  // framing error
        {{0xFF, 0x00, 0x00}, {0x00}, true},                          // break
        {{0xFF, 0x00, 0xFF}, {0xFF}, true},                          // error on an FF
        {{0xFF, 0xFF, 0x00}, {0xFF, 0x00}, false},
        {{0x30, 0xFF, 0x31, 0x32}, {0x30, 0xFF, 0x31, 0x32}, false},  // a lone FF is data
    };
    for (const auto& c : cases) {
        const std::string trace = ::testing::PrintToString(c.in);
        Bytes buffer = c.in;
        ParmrkDecoder inPlace;
        const ParmrkDecoder::Result result = inPlace.decode(buffer, buffer);
        buffer.resize(result.count);
        EXPECT_EQ(buffer, c.expected) << trace;
        EXPECT_EQ(result.lineError, c.lineError) << trace;

        for (std::size_t cut = 0; cut <= c.in.size(); ++cut) {
            const Decoded got =
                decodeParts({Bytes(c.in.begin(), c.in.begin() + cut), Bytes(c.in.begin() + cut, c.in.end())});
            EXPECT_EQ(got.data, c.expected) << trace << " cut at " << cut;
            EXPECT_EQ(got.lineError, c.lineError) << trace << " cut at " << cut;
        }
        std::vector<Bytes> single;
        for (std::uint8_t byte : c.in) single.push_back({byte});
        const Decoded got = decodeParts(single);
        EXPECT_EQ(got.data, c.expected) << trace << " byte by byte";
        EXPECT_EQ(got.lineError, c.lineError) << trace << " byte by byte";
    }
}

TEST(ParmrkDecoder, ALoneFFFromThePreviousCallIsKeptWithRoomAheadAndFlaggedWithout) {
    ParmrkDecoder decoder;
    decodeAll(decoder, Bytes{0xFF});
    // The new input sits one byte into the buffer, as TtyPort::read places it.
    Bytes buffer = {0x00, 0x41, 0x42};
    ParmrkDecoder::Result result =
        decoder.decode(std::span<const std::uint8_t>(buffer).subspan(1), std::span<std::uint8_t>(buffer));
    buffer.resize(result.count);
    EXPECT_EQ(buffer, (Bytes{0xFF, 0x41, 0x42}));
    EXPECT_FALSE(result.lineError);

    decodeAll(decoder, Bytes{0xFF});
    buffer = {0x41};
    result = decoder.decode(buffer, buffer);
    EXPECT_EQ(result.count, 1u);
    EXPECT_EQ(buffer[0], 0x41);
    EXPECT_TRUE(result.lineError);
}

}  // namespace
}  // namespace ostrel::platform
