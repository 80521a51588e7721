#include "platform/modem_lines.h"

#include <sys/ioctl.h>

#include "platform/posix_io.h"

namespace ostrel::platform {

std::optional<ModemLines> readModemLines(int fd) {
    int bits = 0;
    if (fd < 0 || !io::ioctl(fd, TIOCMGET, &bits)) return std::nullopt;
    return ModemLines{(bits & TIOCM_CTS) != 0, (bits & TIOCM_DSR) != 0, (bits & TIOCM_CAR) != 0,
                      (bits & TIOCM_RNG) != 0};
}

}  // namespace ostrel::platform
