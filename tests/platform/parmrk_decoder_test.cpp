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

struct Case {
    const char* name;
    Bytes in;
    Bytes expected;
    bool lineError;
};

class ParmrkTable : public ::testing::TestWithParam<Case> {};

TEST_P(ParmrkTable, DecodesInOneCall) {
    ParmrkDecoder decoder;
    const Decoded got = decodeAll(decoder, GetParam().in);
    EXPECT_EQ(got.data, GetParam().expected);
    EXPECT_EQ(got.lineError, GetParam().lineError);
}

TEST_P(ParmrkTable, DecodesInPlace) {
    ParmrkDecoder decoder;
    Bytes buffer = GetParam().in;
    const ParmrkDecoder::Result result = decoder.decode(buffer, buffer);
    buffer.resize(result.count);
    EXPECT_EQ(buffer, GetParam().expected);
    EXPECT_EQ(result.lineError, GetParam().lineError);
}

TEST_P(ParmrkTable, DecodesTheSameWhereverTheInputIsCut) {
    const Bytes& in = GetParam().in;
    for (std::size_t cut = 0; cut <= in.size(); ++cut) {
        ParmrkDecoder decoder;
        const Decoded first = decodeAll(decoder, Bytes(in.begin(), in.begin() + cut));
        const Decoded second = decodeAll(decoder, Bytes(in.begin() + cut, in.end()));
        Bytes joined = first.data;
        joined.insert(joined.end(), second.data.begin(), second.data.end());
        EXPECT_EQ(joined, GetParam().expected) << "cut at " << cut;
        EXPECT_EQ(first.lineError || second.lineError, GetParam().lineError) << "cut at " << cut;
    }
}

TEST_P(ParmrkTable, DecodesOneByteAtATime) {
    ParmrkDecoder decoder;
    Bytes joined;
    bool lineError = false;
    for (std::uint8_t byte : GetParam().in) {
        const Decoded got = decodeAll(decoder, Bytes{byte});
        joined.insert(joined.end(), got.data.begin(), got.data.end());
        lineError = lineError || got.lineError;
    }
    EXPECT_EQ(joined, GetParam().expected);
    EXPECT_EQ(lineError, GetParam().lineError);
}

INSTANTIATE_TEST_SUITE_P(
    Marks, ParmrkTable,
    ::testing::Values(Case{"empty", {}, {}, false},
                      Case{"plain", {0x41, 0x00, 0x42}, {0x41, 0x00, 0x42}, false},
                      Case{"doubled_ff", {0xFF, 0xFF}, {0xFF}, false},
                      Case{"ff_between", {0x41, 0xFF, 0xFF, 0x42}, {0x41, 0xFF, 0x42}, false},
                      Case{"many_ff", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF}, false},
                      Case{"framing_error", {0x41, 0xFF, 0x00, 0x42, 0x43}, {0x41, 0x42, 0x43}, true},
                      Case{"break", {0xFF, 0x00, 0x00}, {0x00}, true},
                      Case{"error_on_ff", {0xFF, 0x00, 0xFF}, {0xFF}, true},
                      Case{"ff_then_zero_data", {0xFF, 0xFF, 0x00}, {0xFF, 0x00}, false},
                      Case{"lone_ff", {0xFF, 0x41}, {0xFF, 0x41}, false},
                      Case{"lone_ff_inside", {0x30, 0xFF, 0x31, 0x32}, {0x30, 0xFF, 0x31, 0x32}, false}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(ParmrkDecoder, MarkSpanningCallsFlagsTheCallThatCompletesIt) {
    ParmrkDecoder decoder;
    Decoded first = decodeAll(decoder, Bytes{0x41, 0xFF});
    EXPECT_EQ(first.data, Bytes{0x41});
    EXPECT_FALSE(first.lineError);
    EXPECT_TRUE(decoder.pendingEscape());
    Decoded second = decodeAll(decoder, Bytes{0x00});
    EXPECT_TRUE(second.data.empty());
    EXPECT_FALSE(decoder.pendingEscape());
    Decoded third = decodeAll(decoder, Bytes{0x7E, 0x42});
    EXPECT_EQ(third.data, (Bytes{0x7E, 0x42}));
    EXPECT_TRUE(third.lineError);
}

TEST(ParmrkDecoder, ALoneFFFromThePreviousCallIsKeptWhenThereIsRoomAhead) {
    ParmrkDecoder decoder;
    decodeAll(decoder, Bytes{0xFF});
    // The new input sits one byte into the buffer, as TtyPort::read places it.
    Bytes buffer = {0x00, 0x41, 0x42};
    const ParmrkDecoder::Result result =
        decoder.decode(std::span<const std::uint8_t>(buffer).subspan(1), std::span<std::uint8_t>(buffer));
    buffer.resize(result.count);
    EXPECT_EQ(buffer, (Bytes{0xFF, 0x41, 0x42}));
    EXPECT_FALSE(result.lineError);
}

TEST(ParmrkDecoder, ALoneFFWithoutRoomIsFlaggedNotHidden) {
    ParmrkDecoder decoder;
    decodeAll(decoder, Bytes{0xFF});
    Bytes buffer = {0x41};
    const ParmrkDecoder::Result result = decoder.decode(buffer, buffer);
    EXPECT_EQ(result.count, 1u);
    EXPECT_EQ(buffer[0], 0x41);
    EXPECT_TRUE(result.lineError);
}

TEST(ParmrkDecoder, ResetForgetsAHalfMark) {
    ParmrkDecoder decoder;
    decodeAll(decoder, Bytes{0xFF, 0x00});
    decoder.reset();
    const Decoded got = decodeAll(decoder, Bytes{0x41});
    EXPECT_EQ(got.data, Bytes{0x41});
    EXPECT_FALSE(got.lineError);
}

}  // namespace
}  // namespace ostrel::platform
