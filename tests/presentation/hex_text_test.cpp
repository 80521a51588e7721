// The send box's hexadecimal digits: pairs from the start, everything else skipped.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "presentation/send_command.h"

namespace ostrel::presentation {
namespace {

struct ParseCase {
    std::string text;
    std::vector<std::uint8_t> bytes;
};

TEST(ParseHexTextTest, Table) {
    const std::vector<ParseCase> cases = {
        {"12 34", {0x12, 0x34}},
        {"1 2 3 4", {0x12, 0x34}},
        {"ABC", {0xAB, 0xC0}},
        {"0x41", {0x04, 0x10}},
        {"de,AD", {0xDE, 0xAD}},
        {"hello", {0xE0}},
        {"", {}},
        {"xyz \r\n,;", {}},
        {"0a\r\n0B", {0x0A, 0x0B}},
        {"9:A", {0x9A}},  // ':' sits right after '9' and is no digit
        {"@G`g/", {}},    // neighbours of the digit ranges
        {std::string{'1', '\x80', '2', '\xC1', '\xFF', '3'}, {0x12, 0x30}},  // high bytes are skipped
        {std::string{'4', '\0', '5'}, {0x45}},
    };
    for (const ParseCase& c : cases) EXPECT_EQ(ParseHexText(c.text), c.bytes) << "text: " << c.text;
}

TEST(ParseHexTextTest, NoLengthLimit) {
    std::string text;
    for (int i = 0; i < 5000; ++i) text += "0F, ";
    text += "7";
    const std::vector<std::uint8_t> bytes = ParseHexText(text);
    ASSERT_EQ(bytes.size(), 5001u);
    EXPECT_EQ(bytes[4999], 0x0F);
    EXPECT_EQ(bytes[5000], 0x70);
}

}  // namespace
}  // namespace ostrel::presentation
