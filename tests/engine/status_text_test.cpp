#include "engine/status_text.h"

#include <gtest/gtest.h>

namespace ostrel::engine {
namespace {

TEST(StatusText, DisconnectedNamesThePort) {
    const struct {
        int port;
        const char* text;
    } cases[] = {
        {1, "\r\n*** COM1 disconnected ***\r\n"},
        {12, "\r\n*** COM12 disconnected ***\r\n"},
        {64, "\r\n*** COM64 disconnected ***\r\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(text::disconnected(c.port), c.text);
}

TEST(StatusText, SettingNoteFramesThePhrase) {
    EXPECT_EQ(text::settingNote(3, "1.5 stop bits not supported here, using 2"),
              "\r\n*** COM3: 1.5 stop bits not supported here, using 2 ***\r\n");
    EXPECT_EQ(text::settingNote(7, ""), "\r\n*** COM7:  ***\r\n");
}

TEST(StatusText, MarkersAreNineCharactersFramedBySpaces) {
    for (auto marker : {text::kFromDteMarker, text::kFromDceMarker, text::kToDteMarker, text::kToDceMarker}) {
        EXPECT_EQ(marker.size(), 9u);
        EXPECT_EQ(marker.front(), ' ');
        EXPECT_EQ(marker.back(), ' ');
    }
}

}  // namespace
}  // namespace ostrel::engine
