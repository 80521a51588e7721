#include "termios2_probe.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace ostrel::platform::test {

std::optional<KernelRates> kernelRates(int fd) {
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0) return std::nullopt;
    return KernelRates{t.c_ospeed, t.c_ispeed};
}

}  // namespace ostrel::platform::test
