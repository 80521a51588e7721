#include "platform/unique_fd.h"

#include <unistd.h>

namespace ostrel::platform {

void UniqueFd::reset(int fd) noexcept {
    const int old = std::exchange(fd_, fd);
    // close() is never retried: on Linux the descriptor is released even when
    // close() reports EINTR, and a retry could close someone else's new fd.
    if (old >= 0 && old != fd) ::close(old);
}

}  // namespace ostrel::platform
