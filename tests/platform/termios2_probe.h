#pragma once
// The kernel's view of a tty's rate, which glibc cannot show for BOTHER rates
// (termios2_probe.cpp is the only test file that includes <asm/termbits.h>).

#include <cstdint>
#include <optional>

namespace ostrel::platform::test {

struct KernelRates {
    std::uint32_t output = 0;
    std::uint32_t input = 0;
};

std::optional<KernelRates> kernelRates(int fd);

}  // namespace ostrel::platform::test
