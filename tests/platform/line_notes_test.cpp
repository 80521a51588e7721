#include "platform/line_notes.h"

#include <gtest/gtest.h>

namespace ostrel::platform::detail {
namespace {

using Notes = std::vector<std::string>;

// The read-back of a driver that set the line as `s` says.
LineReadBack readBackOf(const LineSettings& s) {
    LineReadBack back;
    back.baud = s.baud;
    back.dataBits = s.dataBits;
    back.parity = s.parity;
    back.twoStopBits = s.stopBits != 0;
    back.rtsCts = s.flow == 1;
    back.xon = back.xoff = s.flow == 2;
    back.parityMarks = true;
    return back;
}

TEST(LineNotes, ReportWhatTheDriverDidNotTake) {
    const struct {
        LineSettings requested, took;  // {baud, data bits, parity, stop bits, flow}
        bool rtsToggle;
        Notes expected;
    } cases[] = {
        {{115200, 8, 0, 0, 0}, {115200, 8, 0, 0, 0}, false, {}},
        {{12345, 7, 2, 2, 2}, {12345, 7, 2, 2, 2}, false, {}},
        {{12345, 8, 0, 0, 0}, {9600, 8, 0, 0, 0}, false, {"baud rate 12345 not accepted, using 9600"}},
        {{9600, 7, 0, 0, 0}, {9600, 8, 0, 0, 0}, false, {"7 data bits not accepted, using 8"}},
        {{9600, 5, 0, 0, 0}, {9600, 8, 0, 0, 0}, false, {"5 data bits not supported here, using 8"}},
        {{9600, 8, 2, 0, 0}, {9600, 8, 0, 0, 0}, false, {"even parity not accepted, using no parity"}},
        {{9600, 8, 3, 0, 0}, {9600, 8, 4, 0, 0}, false, {"mark parity not accepted, using space parity"}},
        {{9600, 8, 9, 0, 0},
         {9600, 8, 0, 0, 0},
         false,
         {"parity code 9 not supported here, using no parity"}},
        {{9600, 8, 0, 1, 0}, {9600, 8, 0, 1, 0}, false, {"1.5 stop bits not supported here, using 2"}},
        {{9600, 8, 0, 2, 0}, {9600, 8, 0, 0, 0}, false, {"2 stop bits not accepted, using 1 stop bit"}},
        {{9600, 8, 0, 0, 1}, {9600, 8, 0, 0, 1}, true, {"DSR sensitivity not supported here"}},
        {{9600, 8, 0, 0, 1},
         {9600, 8, 0, 0, 1},
         false,
         {"RTS toggle not supported here, using RTS/CTS handshake", "DSR sensitivity not supported here"}},
        {{9600, 8, 0, 0, 1},
         {9600, 8, 0, 0, 0},
         false,
         {"RTS/CTS handshake not accepted", "RTS toggle not supported here",
          "DSR sensitivity not supported here"}},
        {{250000, 7, 1, 1, 0},
         {230400, 8, 1, 1, 0},
         false,
         {"baud rate 250000 not accepted, using 230400", "7 data bits not accepted, using 8",
          "1.5 stop bits not supported here, using 2"}},
    };
    int row = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(lineSettingNotes(c.requested, readBackOf(c.took), c.rtsToggle), c.expected)
            << "row " << row++;
    }
    // XON/XOFF is on only with both characters, and off only with neither.
    LineReadBack half = readBackOf({9600, 8, 0, 0, 2});
    half.xoff = false;
    EXPECT_EQ(lineSettingNotes({9600, 8, 0, 0, 2}, half, false), Notes{"XON/XOFF flow control not accepted"});
    EXPECT_EQ(lineSettingNotes({9600, 8, 0, 0, 0}, half, false),
              Notes{"XON/XOFF flow control could not be switched off"});
}

}  // namespace
}  // namespace ostrel::platform::detail
