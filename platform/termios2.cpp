// The only file that speaks termios2: it includes the kernel's termbits, never
// glibc's <termios.h> (the two define different struct termios).
#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <cstring>

#include "platform/posix_io.h"
#include "platform/termios2_config.h"

namespace ostrel::platform::detail {

namespace {

Status getTermios(int fd, termios2& t) {
    if (Result<int> r = io::ioctl(fd, TCGETS2, &t); !r) return SysError{"TCGETS2", "", r.error().code};
    return {};
}

Status setTermios(int fd, const termios2& t) {
    // TCSETS2 only reads the struct.
    if (Result<int> r = io::ioctl(fd, TCSETS2, const_cast<termios2*>(&t)); !r) {
        return SysError{"TCSETS2", "", r.error().code};
    }
    return {};
}

tcflag_t parityBits(int parity) {
    switch (parity) {
        case 1:
            return PARENB | PARODD;
        case 2:
            return PARENB;
        case 3:
            return PARENB | CMSPAR | PARODD;
        case 4:
            return PARENB | CMSPAR;
        default:
            return 0;
    }
}

int parityCode(tcflag_t cflag) {
    if (!(cflag & PARENB)) return 0;
    const bool odd = cflag & PARODD;
    if (cflag & CMSPAR) return odd ? 3 : 4;
    return odd ? 1 : 2;
}

int dataBitsOf(tcflag_t cflag) {
    switch (cflag & CSIZE) {
        case CS5:
            return 5;
        case CS6:
            return 6;
        case CS7:
            return 7;
        default:
            return 8;
    }
}

void describe(const termios2& t, LineReadBack& out) {
    out.baud = t.c_ospeed;
    out.dataBits = dataBitsOf(t.c_cflag);
    out.parity = parityCode(t.c_cflag);
    out.twoStopBits = t.c_cflag & CSTOPB;
    out.rtsCts = t.c_cflag & CRTSCTS;
    out.xon = t.c_iflag & IXON;
    out.xoff = t.c_iflag & IXOFF;
    out.parityMarks = (t.c_iflag & PARMRK) && !(t.c_iflag & ISTRIP);
}

}  // namespace

Status applyLineSettings(int fd, const LineRequest& request, LineReadBack& readBack) {
    termios2 t{};
    if (Status got = getTermios(fd, t); !got) return got;

    if (request.baud != 0) {  // a rate of 0 would hang the line up: keep the current rate
        // CIBAUD cleared: the input rate follows the output rate.
        t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
        t.c_cflag |= BOTHER;
        t.c_ospeed = request.baud;
        t.c_ispeed = request.baud;
    }

    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL);
    t.c_cflag |= (request.dataBits == 7 ? CS7 : CS8) | parityBits(request.parity) | CLOCAL | CREAD;
    if (request.twoStopBits) t.c_cflag |= CSTOPB;
    if (request.rtsCts) t.c_cflag |= CRTSCTS;

    t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR | IGNBRK | BRKINT | ISTRIP);
    t.c_iflag |= PARMRK;  // framing errors and breaks happen without parity too
    if (request.parity != 0) t.c_iflag |= INPCK;
    if (request.xonXoff) t.c_iflag |= IXON | IXOFF;

    t.c_cc[VMIN] = 1;  // with O_NONBLOCK: EAGAIN when empty, so a read of 0 means hang-up
    t.c_cc[VTIME] = 0;

    // The read-back is what counts: drivers drop bits silently too.
    (void)setTermios(fd, t);
    termios2 back{};
    if (Status got = getTermios(fd, back); !got) return got;
    describe(back, readBack);
    return {};
}

Result<bool> enableErrorMarks(int fd) {
    termios2 t{};
    if (Status got = getTermios(fd, t); !got) return got.error();
    t.c_iflag &= ~(ISTRIP | IGNPAR | IGNBRK | BRKINT);
    t.c_iflag |= PARMRK;
    t.c_cflag &= ~HUPCL;
    if (Status set = setTermios(fd, t); !set) return set.error();
    termios2 back{};
    if (Status got = getTermios(fd, back); !got) return got.error();
    return (back.c_iflag & PARMRK) && !(back.c_iflag & ISTRIP);
}

static_assert(sizeof(termios2) <= sizeof(SavedTermios::bytes));

SavedTermios saveTermios(int fd) {
    SavedTermios saved;
    termios2 t{};
    if (!getTermios(fd, t)) return saved;
    std::memcpy(saved.bytes, &t, sizeof t);
    saved.valid = true;
    return saved;
}

void restoreTermios(int fd, const SavedTermios& saved) {
    if (!saved.valid) return;
    termios2 t{};
    std::memcpy(&t, saved.bytes, sizeof t);
    (void)setTermios(fd, t);
}

}  // namespace ostrel::platform::detail
