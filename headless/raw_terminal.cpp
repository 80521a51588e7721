#include "headless/raw_terminal.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ostrel::headless {

RawTerminal::RawTerminal(int fd) : fd_(fd) {
    if (::isatty(fd) != 1) {
        error_ = "standard input is not a terminal";
        return;
    }
    if (::tcgetattr(fd, &saved_) != 0) {
        error_ = std::string("standard input: ") + std::strerror(errno);
        return;
    }
    termios raw = saved_;
    ::cfmakeraw(&raw);
    // Output stays cooked, so that the operator's messages on the same
    // terminal still start at the left margin.
    raw.c_oflag |= OPOST;
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &raw) != 0) {
        error_ = std::string("standard input: ") + std::strerror(errno);
        return;
    }
    active_ = true;
}

RawTerminal::~RawTerminal() {
    if (!active_) return;
    // A terminal that hung up refuses this; there is nothing left to restore then.
    while (::tcsetattr(fd_, TCSANOW, &saved_) != 0 && errno == EINTR) {
    }
}

}  // namespace ostrel::headless
