// The traffic formatter: text forms, time stamps, formats, suppression and
// the capture file's share of each chunk.

#include "presentation/traffic_formatter.h"

#include <gtest/gtest.h>

#include <numeric>
#include <optional>
#include <vector>

#include "engine/session_types.h"
#include "presentation/capture_file.h"
#include "presentation/fake_window.h"

namespace ostrel::presentation {
namespace {

using testing::bytesOf;
using testing::FakeWindow;
using testing::readFile;
using testing::TempDir;

std::vector<std::uint8_t> rampBytes(std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return bytes;
}

std::string asString(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// --- Text forms -----------------------------------------------------------

struct HexCase {
    std::vector<std::uint8_t> bytes;
    std::string text;
};

TEST(FormatHexTest, TokensUpperCaseWithTrailingSpace) {
    const std::vector<HexCase> cases = {
        {{}, ""},
        {{0x00, 0x0A, 0xFF}, "0x00 0x0A 0xFF "},
        {{0x41, 0x42}, "0x41 0x42 "},
        {{0xab, 0xcd, 0x10}, "0xAB 0xCD 0x10 "},
    };
    for (const HexCase& c : cases) EXPECT_EQ(FormatHex(c.bytes), c.text);
}

TEST(FormatHexTest, EveryByteValue) {
    std::vector<std::uint8_t> all(256);
    std::iota(all.begin(), all.end(), 0);
    const std::string text = FormatHex(all);
    ASSERT_EQ(text.size(), 256u * 5);
    EXPECT_EQ(text.substr(0, 5), "0x00 ");
    EXPECT_EQ(text.substr(0x9C * 5, 5), "0x9C ");
    EXPECT_EQ(text.substr(255 * 5), "0xFF ");
}

TEST(FormatAsciiTest, ZeroBytesAreLeftOutButDoNotEndTheText) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {std::string("AB\0CD", 5), "ABCD"},
        {std::string("\0\0", 2), ""},
        {std::string("AT\r\n", 4), "AT\r\n"},
        {std::string("\xE9\xFF", 2), "\xE9\xFF"},  // Latin-1 bytes pass as they are
        {"", ""},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(FormatAscii(bytesOf(in)), out);
}

TEST(FormatTimeStampTest, TwoDigitFieldsAndThreeDigitMillis) {
    const std::vector<std::pair<platform::TimeOfDay, std::string>> cases = {
        {{0, 0, 0, 7}, "[00:00:00:007]"},
        {{23, 59, 59, 999}, "[23:59:59:999]"},
        {{9, 5, 3, 42}, "[09:05:03:042]"},
        {{12, 30, 60, 100}, "[12:30:60:100]"},  // a leap second
    };
    for (const auto& [time, text] : cases) {
        char buffer[16] = {};
        EXPECT_EQ(FormatTimeStamp(buffer, time), 1);
        EXPECT_EQ(std::string(buffer), text);
        EXPECT_EQ(buffer[14], '\0');
    }
}

TEST(FormatTimeStampTest, NoTimeOrImpossibleTimeLeavesTheBuffer) {
    char buffer[16] = "[01:02:03:004]";
    EXPECT_EQ(FormatTimeStamp(buffer, std::nullopt), 1);
    EXPECT_EQ(std::string(buffer), "[01:02:03:004]");
    EXPECT_EQ(FormatTimeStamp(buffer, platform::TimeOfDay{24, 0, 0, 0}), 1);
    EXPECT_EQ(FormatTimeStamp(buffer, platform::TimeOfDay{1, 0, 0, 1000}), 1);
    EXPECT_EQ(FormatTimeStamp(buffer, platform::TimeOfDay{-1, 0, 0, 0}), 1);
    EXPECT_EQ(std::string(buffer), "[01:02:03:004]");
}

// --- The formatter ----------------------------------------------------------

class TrafficFormatterTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.ok()); }

    void show(const std::vector<std::uint8_t>& bytes) {
        formatter.ShowTraffic(window, bytes.data(), static_cast<std::int32_t>(bytes.size()));
    }
    void startCapture() {
        ASSERT_TRUE(capture.Start(capturePath, window));
        window.clear();
    }

    TempDir dir;
    std::string capturePath = dir.file("capture.txt");
    FakeWindow window;
    CaptureFile capture;
    std::optional<platform::TimeOfDay> now = platform::TimeOfDay{9, 5, 3, 42};
    TrafficFormatter formatter{window, capture, [this] { return now; }};
};

TEST_F(TrafficFormatterTest, HexChunksContinueTheLineDirectly) {
    show({0x00, 0x0A, 0xFF});
    show({0x41});
    EXPECT_EQ(window.pieces(), (std::vector<std::string>{"0x00 0x0A 0xFF ", "0x41 "}));
}

TEST_F(TrafficFormatterTest, BeginTrafficLineAppendsBreakThenStamp) {
    formatter.BeginTrafficLine(window);
    EXPECT_EQ(window.pieces(), (std::vector<std::string>{"\r\n", "[09:05:03:042]"}));
}

TEST_F(TrafficFormatterTest, StampsOfMidnightAndEndOfDay) {
    now = platform::TimeOfDay{0, 0, 0, 7};
    formatter.BeginTrafficLine(window);
    now = platform::TimeOfDay{23, 59, 59, 999};
    formatter.BeginTrafficLine(window);
    EXPECT_EQ(window.text(), "\r\n[00:00:00:007]\r\n[23:59:59:999]");
}

TEST_F(TrafficFormatterTest, FailedClockKeepsThePreviousStamp) {
    now = std::nullopt;
    formatter.BeginTrafficLine(window);  // nothing before it: an empty stamp
    now = platform::TimeOfDay{10, 11, 12, 13};
    formatter.BeginTrafficLine(window);
    now = std::nullopt;
    formatter.BeginTrafficLine(window);
    EXPECT_EQ(window.pieces(),
              (std::vector<std::string>{"\r\n", "", "\r\n", "[10:11:12:013]", "\r\n", "[10:11:12:013]"}));
}

TEST_F(TrafficFormatterTest, FiveHundredTwelveShownInFullWhileCapturing) {
    startCapture();
    const std::vector<std::uint8_t> chunk = rampBytes(512);
    show(chunk);
    const std::vector<std::string> pieces = window.pieces();
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieces[0].size(), 2560u);
    EXPECT_EQ(pieces[0], FormatHex(chunk));
    EXPECT_EQ(readFile(capturePath), asString(chunk));
}

TEST_F(TrafficFormatterTest, FiveHundredThirteenSuppressedWhileCapturingButCaptured) {
    startCapture();
    const std::vector<std::uint8_t> chunk = rampBytes(513);
    show(chunk);
    EXPECT_EQ(window.pieces(), std::vector<std::string>{"<suppressing display>"});
    EXPECT_EQ(readFile(capturePath), asString(chunk));
}

TEST_F(TrafficFormatterTest, TwoLargeChunksGiveTheNoticeTwice) {
    startCapture();
    const std::vector<std::uint8_t> first = rampBytes(2048);
    const std::vector<std::uint8_t> second = rampBytes(600);
    show(first);
    show(second);
    EXPECT_EQ(window.text(), "<suppressing display><suppressing display>");
    EXPECT_EQ(readFile(capturePath), asString(first) + asString(second));
}

TEST_F(TrafficFormatterTest, LargeChunkWithoutCaptureShownInFull) {
    const std::vector<std::uint8_t> chunk = rampBytes(2048);
    show(chunk);
    const std::string text = window.text();
    EXPECT_EQ(text.size(), 10240u);
    EXPECT_EQ(text, FormatHex(chunk));
}

TEST_F(TrafficFormatterTest, AsciiShowsWhatFollowsAZeroAndCapturesAllFive) {
    window.setFormat(engine::kDisplayAscii);
    startCapture();
    show({0x41, 0x42, 0x00, 0x43, 0x44});
    EXPECT_EQ(window.text(), "ABCD");
    EXPECT_EQ(readFile(capturePath), std::string("AB\0CD", 5));
}

TEST_F(TrafficFormatterTest, AsciiLineEndsPassAndTheNextLineHasItsOwnBreak) {
    window.setFormat(engine::kDisplayAscii);
    show(bytesOf("OK\r\n"));
    show(bytesOf("more"));
    formatter.BeginTrafficLine(window);
    EXPECT_EQ(window.text(), "OK\r\nmore\r\n[09:05:03:042]");
}

TEST_F(TrafficFormatterTest, OffWhileCapturingFillsTheFileOnly) {
    window.setFormat(engine::kDisplayOff);
    startCapture();
    show(bytesOf("first"));
    show(rampBytes(1000));
    EXPECT_TRUE(window.pieces().empty());
    EXPECT_EQ(readFile(capturePath), "first" + asString(rampBytes(1000)));
}

TEST_F(TrafficFormatterTest, NoneDoesNothingAtAll) {
    startCapture();
    for (engine::DisplayFormat format :
         {engine::kDisplayNone, engine::DisplayFormat{4}, engine::DisplayFormat{-1}}) {
        window.setFormat(format);
        show(bytesOf("abc"));
    }
    EXPECT_TRUE(window.pieces().empty());
    EXPECT_EQ(readFile(capturePath), "");
}

TEST_F(TrafficFormatterTest, CountZeroAppendsAnEmptyText) {
    formatter.ShowTraffic(window, nullptr, 0);
    window.setFormat(engine::kDisplayAscii);
    formatter.ShowTraffic(window, nullptr, 0);
    EXPECT_EQ(window.pieces(), (std::vector<std::string>{"", ""}));
}

TEST_F(TrafficFormatterTest, NegativeCountIsIgnored) {
    const std::uint8_t byte = 0x41;
    formatter.ShowTraffic(window, &byte, -1);
    EXPECT_TRUE(window.pieces().empty());
}

TEST_F(TrafficFormatterTest, FormatSwitchMidLineMixesBothForms) {
    formatter.BeginTrafficLine(window);
    show(bytesOf("AB"));
    window.setFormat(engine::kDisplayAscii);
    show(bytesOf("CD"));
    EXPECT_EQ(window.text(), "\r\n[09:05:03:042]0x41 0x42 CD");
}

TEST_F(TrafficFormatterTest, CaptureWriteFailureFollowsTheChunkText) {
    ASSERT_TRUE(capture.Start("/dev/full", window));
    window.clear();
    show(bytesOf("A"));
    show(bytesOf("B"));
    const std::vector<std::string> pieces = window.pieces();
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0], "0x41 ");
    EXPECT_EQ(pieces[1].rfind("\r\n*** Capture write failed: ", 0), 0u) << pieces[1];
    EXPECT_EQ(pieces[2], "0x42 ");
}

}  // namespace
}  // namespace ostrel::presentation
