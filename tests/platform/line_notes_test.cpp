#include "platform/line_notes.h"

#include <gtest/gtest.h>

namespace ostrel::platform::detail {
namespace {

using Notes = std::vector<std::string>;

// The read-back of a driver that took everything as asked.
LineReadBack exactly(const LineSettings& s) {
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

struct Case {
    const char* name;
    LineSettings requested;
    void (*driver)(LineReadBack&);  // what the driver changed
    bool rtsToggle;
    Notes expected;
};

class LineNotes : public ::testing::TestWithParam<Case> {};

TEST_P(LineNotes, ReportsWhatTheDriverDidNotTake) {
    const Case& c = GetParam();
    LineReadBack back = exactly(c.requested);
    if (c.driver != nullptr) c.driver(back);
    EXPECT_EQ(lineSettingNotes(c.requested, back, c.rtsToggle), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, LineNotes,
    ::testing::Values(Case{"all_applied", {115200, 8, 0, 0, 0}, nullptr, false, {}},
                      Case{"any_rate_applied", {12345, 7, 2, 2, 2}, nullptr, false, {}},
                      Case{"rate_kept_by_device",
                           {12345, 8, 0, 0, 0},
                           [](LineReadBack& b) { b.baud = 9600; },
                           false,
                           {"baud rate 12345 not accepted, using 9600"}},
                      Case{"rate_zero",
                           {0, 8, 0, 0, 0},
                           [](LineReadBack& b) { b.baud = 9600; },
                           false,
                           {"baud rate 0 not accepted, using 9600"}},
                      Case{"seven_bits_refused",
                           {9600, 7, 0, 0, 0},
                           [](LineReadBack& b) { b.dataBits = 8; },
                           false,
                           {"7 data bits not accepted, using 8"}},
                      Case{"odd_data_bits",
                           {9600, 5, 0, 0, 0},
                           [](LineReadBack& b) { b.dataBits = 8; },
                           false,
                           {"5 data bits not supported here, using 8"}},
                      Case{"even_parity_refused",
                           {9600, 8, 2, 0, 0},
                           [](LineReadBack& b) { b.parity = 0; },
                           false,
                           {"even parity not accepted, using no parity"}},
                      Case{"mark_became_space",
                           {9600, 8, 3, 0, 0},
                           [](LineReadBack& b) { b.parity = 4; },
                           false,
                           {"mark parity not accepted, using space parity"}},
                      Case{"unknown_parity_code",
                           {9600, 8, 9, 0, 0},
                           [](LineReadBack& b) { b.parity = 0; },
                           false,
                           {"parity code 9 not supported here, using no parity"}},
                      Case{"one_and_a_half_stop_bits",
                           {9600, 8, 0, 1, 0},
                           nullptr,
                           false,
                           {"1.5 stop bits not supported here, using 2"}},
                      Case{"two_stop_bits_refused",
                           {9600, 8, 0, 2, 0},
                           [](LineReadBack& b) { b.twoStopBits = false; },
                           false,
                           {"2 stop bits not accepted, using 1 stop bit"}},
                      Case{"hardware_flow_with_rs485",
                           {9600, 8, 0, 0, 1},
                           nullptr,
                           true,
                           {"DSR sensitivity not supported here"}},
                      Case{"hardware_flow_without_rs485",
                           {9600, 8, 0, 0, 1},
                           nullptr,
                           false,
                           {"RTS toggle not supported here, using RTS/CTS handshake",
                            "DSR sensitivity not supported here"}},
                      Case{"rts_cts_refused",
                           {9600, 8, 0, 0, 1},
                           [](LineReadBack& b) { b.rtsCts = false; },
                           false,
                           {"RTS/CTS handshake not accepted", "RTS toggle not supported here",
                            "DSR sensitivity not supported here"}},
                      Case{"xon_xoff_refused",
                           {9600, 8, 0, 0, 2},
                           [](LineReadBack& b) { b.xoff = false; },
                           false,
                           {"XON/XOFF flow control not accepted"}},
                      Case{"xon_stuck_on",
                           {9600, 8, 0, 0, 0},
                           [](LineReadBack& b) { b.xon = true; },
                           false,
                           {"XON/XOFF flow control could not be switched off"}},
                      Case{
                          "several_at_once",
                          {250000, 7, 1, 1, 0},
                          [](LineReadBack& b) {
                              b.baud = 230400;
                              b.dataBits = 8;
                          },
                          false,
                          {"baud rate 250000 not accepted, using 230400", "7 data bits not accepted, using 8",
                           "1.5 stop bits not supported here, using 2"}}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ostrel::platform::detail
