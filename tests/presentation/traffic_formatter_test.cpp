// The traffic formatter: text forms, time stamps, formats, suppression and
// the capture file's share of each chunk.

#include "presentation/traffic_formatter.h"

#include <gtest/gtest.h>

#include <numeric>
#include <optional>
#include <vector>

#include "engine/session_types.h"
#include "presentation/capture_file.h"
#include "presentation/presentation_test_support.h"

namespace ostrel::presentation {
namespace {

using Pieces = std::vector<std::string>;

std::vector<std::uint8_t> rampBytes(std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return bytes;
}

TEST(TextForms, HexTokensAreUpperCaseWithATrailingSpace) {
    EXPECT_EQ(FormatHex({}), "");
    EXPECT_EQ(FormatHex(std::vector<std::uint8_t>{0x00, 0x0A, 0xab, 0xFF}), "0x00 0x0A 0xAB 0xFF ");
    std::vector<std::uint8_t> all(256);
    std::iota(all.begin(), all.end(), 0);
    const std::string text = FormatHex(all);
    ASSERT_EQ(text.size(), 256u * 5);
    EXPECT_EQ(text.substr(0x9C * 5, 5), "0x9C ");
    EXPECT_EQ(text.substr(255 * 5), "0xFF ");
}

TEST(TextForms, AsciiLeavesOutZeroBytesButDoesNotEndAtThem) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {std::string("AB\0CD", 5), "ABCD"},
        {std::string("\0\0", 2), ""},
        {std::string("AT\r\n", 4), "AT\r\n"},
        {std::string("\xE9\xFF", 2), "\xE9\xFF"},  // Latin-1 bytes pass as they are
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(FormatAscii(bytesOf(in)), out);
}

TEST(TextForms, TimeStampsHaveTwoDigitFieldsAndThreeDigitMillisAndNoImpossibleTime) {
    const std::vector<std::pair<std::optional<platform::TimeOfDay>, std::string>> cases = {
        {platform::TimeOfDay{0, 0, 0, 7}, "[00:00:00:007]"},
        {platform::TimeOfDay{23, 59, 59, 999}, "[23:59:59:999]"},
        {platform::TimeOfDay{12, 30, 60, 100}, "[12:30:60:100]"},  // a leap second
        // No time, or an impossible one, leaves the buffer as it was.
        {std::nullopt, "[01:02:03:004]"},
        {platform::TimeOfDay{24, 0, 0, 0}, "[01:02:03:004]"},
        {platform::TimeOfDay{1, 0, 0, 1000}, "[01:02:03:004]"},
        {platform::TimeOfDay{-1, 0, 0, 0}, "[01:02:03:004]"},
    };
    for (const auto& [time, text] : cases) {
        char buffer[16] = "[01:02:03:004]";
        EXPECT_EQ(FormatTimeStamp(buffer, time), 1);
        EXPECT_EQ(std::string(buffer), text);
    }
}

TEST(TextForms, StampFormatsAddTheDateOrMicrosecondsAndTimeIsTheShortOneByteForByte) {
    const platform::TimeOfDay t{14, 3, 7, 123, 2026, 12, 9, 123456};
    const std::pair<engine::StampFormat, std::string> cases[] = {
        {engine::StampFormat::Time, "[14:03:07:123]"},
        {engine::StampFormat::Date, "[2026-12-09 14:03:07:123]"},
        {engine::StampFormat::Micros, "[14:03:07:123456]"},
    };
    for (const auto& [format, text] : cases) {
        char buffer[kStampBufferSize] = "unchanged";
        EXPECT_EQ(FormatTimeStamp(buffer, t, format), 1);
        EXPECT_EQ(std::string(buffer), text);
    }
    char shortForm[16] = {};
    FormatTimeStamp(shortForm, t);
    EXPECT_EQ(std::string(shortForm), cases[0].second);
    // A date or fraction out of range counts as no time: the buffer stays.
    for (const auto& [bad, format] :
         {std::pair{platform::TimeOfDay{1, 2, 3, 4, 2026, 13, 1, 0}, engine::StampFormat::Date},
          std::pair{platform::TimeOfDay{1, 2, 3, 4, 2026, 1, 0, 0}, engine::StampFormat::Date},
          std::pair{platform::TimeOfDay{1, 2, 3, 4, 0, 0, 0, 1000000}, engine::StampFormat::Micros}}) {
        char buffer[kStampBufferSize] = "[kept]";
        FormatTimeStamp(buffer, bad, format);
        EXPECT_EQ(std::string(buffer), "[kept]");
    }
}

class TrafficFormatterTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.valid()); }

    void show(const std::vector<std::uint8_t>& bytes) {
        formatter.ShowTraffic(window, bytes.data(), static_cast<std::int32_t>(bytes.size()));
    }
    void startCapture() {
        ASSERT_TRUE(capture.Start(capturePath, window));
        window.clear();
    }
    // The file's content once the capture has ended (its writer has written everything).
    std::string stopAndRead() {
        capture.Stop(window);
        return readFile(capturePath);
    }

    TempDir dir;
    std::string capturePath = dir / "capture.txt";
    FakeWindow window;
    CaptureFile capture;
    std::optional<platform::TimeOfDay> now = platform::TimeOfDay{9, 5, 3, 42};
    TrafficFormatter formatter{window, capture, [this] { return now; }};
};

TEST_F(TrafficFormatterTest, LinesBeginWithABreakAndAStampAndChunksContinueThemInTheCurrentFormat) {
    formatter.BeginTrafficLine(window);
    show({0x00, 0x0A, 0xFF});
    show(bytesOf("AB"));
    window.setFormat(engine::kDisplayAscii);
    show(bytesOf("OK\r\n"));
    formatter.BeginTrafficLine(window);
    EXPECT_EQ(window.pieces(), (Pieces{"\r\n", "[09:05:03:042]", "0x00 0x0A 0xFF ", "0x41 0x42 ", "OK\r\n",
                                       "\r\n", "[09:05:03:042]"}));
}

TEST_F(TrafficFormatterTest, TheStampFormatSetTakesEffectFromTheNextLine) {
    now = platform::TimeOfDay{9, 5, 3, 42, 2026, 12, 9, 42017};
    formatter.BeginTrafficLine(window);
    formatter.SetStampFormat(engine::StampFormat::Date);
    formatter.BeginTrafficLine(window);
    formatter.SetStampFormat(engine::StampFormat::Micros);
    formatter.BeginTrafficLine(window);
    EXPECT_EQ(window.pieces(), (Pieces{"\r\n", "[09:05:03:042]", "\r\n", "[2026-12-09 09:05:03:042]", "\r\n",
                                       "[09:05:03:042017]"}));
}

TEST_F(TrafficFormatterTest, FailedClockKeepsThePreviousStamp) {
    now = std::nullopt;
    formatter.BeginTrafficLine(window);  // nothing before it: an empty stamp
    now = platform::TimeOfDay{10, 11, 12, 13};
    formatter.BeginTrafficLine(window);
    now = std::nullopt;
    formatter.BeginTrafficLine(window);
    EXPECT_EQ(window.pieces(), (Pieces{"\r\n", "", "\r\n", "[10:11:12:013]", "\r\n", "[10:11:12:013]"}));
}

TEST_F(TrafficFormatterTest, WhileCapturingChunksPast512AreSuppressedButCaptured) {
    startCapture();
    const std::vector<std::uint8_t> full = rampBytes(512), over = rampBytes(513), large = rampBytes(2048);
    show(full);
    show(over);
    show(large);
    const Pieces pieces = window.pieces();
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0].size(), 2560u);
    EXPECT_EQ(pieces[0], FormatHex(full));
    EXPECT_EQ(pieces[1], "<suppressing display>");
    EXPECT_EQ(pieces[2], "<suppressing display>");
    EXPECT_EQ(stopAndRead(), asString(full) + asString(over) + asString(large));

    // Without a capture, a chunk of 2048 is shown in full.
    capture.Stop(window);
    window.clear();
    show(large);
    EXPECT_EQ(window.text().size(), 10240u);
    EXPECT_EQ(window.text(), FormatHex(large));
}

TEST_F(TrafficFormatterTest, AsciiShowsWhatFollowsAZeroAndCapturesAllFive) {
    window.setFormat(engine::kDisplayAscii);
    startCapture();
    show({0x41, 0x42, 0x00, 0x43, 0x44});
    EXPECT_EQ(window.text(), "ABCD");
    EXPECT_EQ(stopAndRead(), std::string("AB\0CD", 5));
}

TEST_F(TrafficFormatterTest, OffWhileCapturingFillsTheFileOnlyAndNoneDoesNothingAtAll) {
    window.setFormat(engine::kDisplayOff);
    startCapture();
    show(bytesOf("first"));
    show(rampBytes(1000));
    for (engine::DisplayFormat format :
         {engine::kDisplayNone, engine::DisplayFormat{4}, engine::DisplayFormat{-1}}) {
        window.setFormat(format);
        show(bytesOf("abc"));
    }
    EXPECT_TRUE(window.pieces().empty());
    EXPECT_EQ(stopAndRead(), "first" + asString(rampBytes(1000)));
}

TEST_F(TrafficFormatterTest, CountZeroAppendsAnEmptyTextAndANegativeCountNothing) {
    formatter.ShowTraffic(window, nullptr, 0);
    window.setFormat(engine::kDisplayAscii);
    formatter.ShowTraffic(window, nullptr, 0);
    const std::uint8_t byte = 0x41;
    formatter.ShowTraffic(window, &byte, -1);
    EXPECT_EQ(window.pieces(), (Pieces{"", ""}));
}

}  // namespace
}  // namespace ostrel::presentation
