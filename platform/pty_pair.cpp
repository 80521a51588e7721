#include "platform/pty_pair.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include "platform/posix_io.h"

namespace ostrel::platform {

namespace {

constexpr int kOpenFlags = O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;

// posix_openpt() documents only O_RDWR and O_NOCTTY; make sure of the rest.
bool ensureNonBlockingCloseOnExec(int fd) {
    const int statusFlags = ::fcntl(fd, F_GETFL);
    if (statusFlags < 0) return false;
    if (!(statusFlags & O_NONBLOCK) && ::fcntl(fd, F_SETFL, statusFlags | O_NONBLOCK) != 0) return false;
    const int fdFlags = ::fcntl(fd, F_GETFD);
    if (fdFlags < 0) return false;
    return (fdFlags & FD_CLOEXEC) || ::fcntl(fd, F_SETFD, fdFlags | FD_CLOEXEC) == 0;
}

}  // namespace

Status setRawMode(int fd) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) return lastError("tcgetattr");
    ::cfmakeraw(&t);
    // cfmakeraw leaves these alone; each one changes or holds bytes.
    t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IUCLC | IMAXBEL | PARMRK | IGNPAR);
    // Output is held by nothing the peer does not control: no CTS gate until
    // the line settings ask for it, and DCD ignored.
    t.c_cflag &= ~CRTSCTS;
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    // tcsetattr reports success when any change was made; the read-back tells.
    if (::tcsetattr(fd, TCSANOW, &t) != 0) return lastError("tcsetattr");
    termios back{};
    if (::tcgetattr(fd, &back) != 0) return lastError("tcgetattr");
    const bool raw = !(back.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) && !(back.c_oflag & OPOST) &&
                     !(back.c_iflag & (IXON | ICRNL | INLCR | IGNCR | ISTRIP));
    if (!raw) return SysError{"tcsetattr", "", EINVAL};
    return {};
}

Result<PtyPair> openPtyPair() {
    PtyPair pair;
    pair.master.reset(::posix_openpt(kOpenFlags));
    if (!pair.master.valid()) return lastError("posix_openpt", "/dev/ptmx");
    if (!ensureNonBlockingCloseOnExec(pair.master.get())) return lastError("fcntl", "/dev/ptmx");
    if (::grantpt(pair.master.get()) != 0) return lastError("grantpt", "/dev/ptmx");
    if (::unlockpt(pair.master.get()) != 0) return lastError("unlockpt", "/dev/ptmx");

    char name[128];
    if (const int error = ::ptsname_r(pair.master.get(), name, sizeof name)) {
        return SysError{"ptsname_r", "/dev/ptmx", error};
    }
    pair.slavePath = name;

    pair.slave.reset(::open(name, kOpenFlags));
    if (!pair.slave.valid()) return lastError("open", pair.slavePath);
    // The slave starts cooked: until it is raw, bytes from the master would be
    // echoed and held in a line buffer.
    if (Status raw = setRawMode(pair.slave.get()); !raw)
        return SysError{"tcsetattr", pair.slavePath, raw.error().code};
    if (Status flushed = io::flushInputOutput(pair.slave.get()); !flushed) {
        return SysError{"tcflush", pair.slavePath, flushed.error().code};
    }
    if (Status flushed = io::flushInputOutput(pair.master.get()); !flushed) {
        return SysError{"tcflush", "/dev/ptmx", flushed.error().code};
    }
    return pair;
}

}  // namespace ostrel::platform
