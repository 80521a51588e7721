#pragma once
// The kernel's termios2 of a tty as plain values, for tests on a real UART
// (uart_termios2.cpp is the only file here that includes <asm/termbits.h>,
// which clashes with glibc's <termios.h>).

#include <array>
#include <cstdint>
#include <optional>

namespace ostrel::uart::test {

// The settings a UART holds, as TCGETS2 reports them.
struct LineState {
    int dataBits = 8;
    bool parity = false;  // PARENB
    bool odd = false;     // PARODD
    bool stick = false;   // CMSPAR: mark (with PARODD) or space parity
    bool twoStopBits = false;
    bool rtsCts = false;
    bool parityMarks = false;  // PARMRK
    std::uint32_t outputRate = 0, inputRate = 0;
};
std::optional<LineState> readLineState(int fd);

// A termios2 kept as opaque bytes, to be put back as it was.
struct SavedTermios2 {
    bool valid = false;
    alignas(8) std::array<unsigned char, 64> bytes{};
};
SavedTermios2 saveTermios2(int fd);
// Puts it back at once (TCSETS2). Async-signal-safe: only ioctl().
bool restoreTermios2(int fd, const SavedTermios2& saved);
// Changes the rate for a moment and puts it back: the serial core samples
// CTS at each change of the termios (as on a modem-status interrupt); the
// same termios set again is no change to it.
bool changeRateAndBack(int fd);
// Raw mode, 8 data bits, no parity, 115200 bit/s, receiver on, modem
// status ignored: a known state to check the loop with.
bool setPlainRaw(int fd);

}  // namespace ostrel::uart::test
