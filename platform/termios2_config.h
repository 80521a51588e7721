#pragma once
// Private to the platform layer: the kernel's termios2 interface behind plain
// types. termios2.cpp is the only file that includes <asm/termbits.h>, whose
// struct termios clashes with glibc's <termios.h>.

#include <cstdint>

#include "platform/saved_termios.h"
#include "platform/sys_error.h"

namespace ostrel::platform::detail {

// What configure() asks of the driver.
struct LineRequest {
    std::uint32_t baud = 9600;
    int dataBits = 8;  // 7 or 8
    int parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    bool twoStopBits = false;
    bool rtsCts = false;
    bool xonXoff = false;
};

// The settings as the driver reports them after the change.
struct LineReadBack {
    std::uint32_t baud = 0;  // output rate
    int dataBits = 8;        // 5..8
    int parity = 0;          // same codes as LineRequest; none when parity is off
    bool twoStopBits = false;
    bool rtsCts = false;
    bool xon = false;
    bool xoff = false;
    bool parityMarks = false;  // PARMRK set and ISTRIP clear: reads carry FF escapes
};

// Sets the line (rate with BOTHER, CS7/CS8, parity, stop bits, flow flags,
// PARMRK, INPCK with parity, CLOCAL|CREAD, VMIN 1 VTIME 0) and reads it back.
// Fails with the error of the read-back (the set may fail and still leave a
// readable state, which `readBack` then describes).
Status applyLineSettings(int fd, const LineRequest& request, LineReadBack& readBack);

// Makes a freshly opened raw port mark errors in-band: PARMRK on; ISTRIP,
// IGNPAR, IGNBRK, BRKINT and HUPCL off. The value tells whether PARMRK is in
// effect afterwards.
Result<bool> enableErrorMarks(int fd);

// Reads the port's termios2; `valid` is false when it cannot be read.
SavedTermios saveTermios(int fd);
// Puts a saved termios2 back at once (nothing when it is not valid).
void restoreTermios(int fd, const SavedTermios& saved);

}  // namespace ostrel::platform::detail
