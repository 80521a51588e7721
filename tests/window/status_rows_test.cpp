// The status bar's rows: parts stay whole, joined while they fit.

#include "window/status_rows.h"

#include <gtest/gtest.h>

namespace ostrel::window {
namespace {

int length(const std::string& text) {
    return static_cast<int>(text.size());
}

TEST(StatusRows, PartsShareARowWhileTheyFitAndTheLastRowTakesTheRest) {
    const std::vector<std::string> parts{"Intercede", "DTE COM1 9600 8N1: 5 bytes in",
                                         "DCE COM2 9600 8N1: 0 bytes in", "capture /tmp/a.cap (5 bytes)"};
    // Everything fits on one row.
    EXPECT_EQ(StatusRows(parts, 200, 2, length), std::vector<std::string>{StatusJoined(parts)});
    // 50 cells: the mode and the first side, then the second side and the capture
    // (which would need a third row, so the last row takes it).
    EXPECT_EQ(StatusRows(parts, 50, 2, length),
              (std::vector<std::string>{"Intercede | DTE COM1 9600 8N1: 5 bytes in",
                                        "DCE COM2 9600 8N1: 0 bytes in | capture /tmp/a.cap (5 bytes)"}));
    // With three rows the capture gets its own.
    EXPECT_EQ(StatusRows(parts, 50, 3, length).size(), 3u);
    // A part longer than a row stays whole on a row of its own.
    EXPECT_EQ(StatusRows({"Full Duplex", std::string(80, 'x')}, 40, 2, length),
              (std::vector<std::string>{"Full Duplex", std::string(80, 'x')}));
    EXPECT_TRUE(StatusRows({}, 40, 2, length).empty());
}

}  // namespace
}  // namespace ostrel::window
