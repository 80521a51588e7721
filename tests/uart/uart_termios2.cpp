#include "uart_termios2.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstring>

namespace ostrel::uart::test {

static_assert(sizeof(termios2) <= sizeof(SavedTermios2::bytes));

std::optional<LineState> readLineState(int fd) {
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0) return std::nullopt;
    LineState s;
    switch (t.c_cflag & CSIZE) {
        case CS5:
            s.dataBits = 5;
            break;
        case CS6:
            s.dataBits = 6;
            break;
        case CS7:
            s.dataBits = 7;
            break;
        default:
            s.dataBits = 8;
    }
    s.parity = (t.c_cflag & PARENB) != 0;
    s.odd = (t.c_cflag & PARODD) != 0;
    s.stick = (t.c_cflag & CMSPAR) != 0;
    s.twoStopBits = (t.c_cflag & CSTOPB) != 0;
    s.rtsCts = (t.c_cflag & CRTSCTS) != 0;
    s.parityMarks = (t.c_iflag & PARMRK) != 0;
    s.outputRate = t.c_ospeed;
    s.inputRate = t.c_ispeed;
    return s;
}

SavedTermios2 saveTermios2(int fd) {
    SavedTermios2 saved;
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0) return saved;
    std::memcpy(saved.bytes.data(), &t, sizeof t);
    saved.valid = true;
    return saved;
}

bool restoreTermios2(int fd, const SavedTermios2& saved) {
    if (!saved.valid) return false;
    termios2 t;
    std::memcpy(&t, saved.bytes.data(), sizeof t);
    return ::ioctl(fd, TCSETS2, &t) == 0;
}

bool changeRateAndBack(int fd) {
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0) return false;
    termios2 other = t;
    other.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    other.c_cflag |= BOTHER;
    other.c_ospeed = other.c_ispeed = t.c_ospeed == 9600 ? 19200 : 9600;
    return ::ioctl(fd, TCSETS2, &other) == 0 && ::ioctl(fd, TCSETS2, &t) == 0;
}

bool setPlainRaw(int fd) {
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0) return false;
    t.c_iflag = 0;
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cflag = CS8 | CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
    t.c_ospeed = t.c_ispeed = 115200;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return ::ioctl(fd, TCSETS2, &t) == 0;
}

}  // namespace ostrel::uart::test
