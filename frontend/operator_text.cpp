#include "frontend/operator_text.h"

#include <unistd.h>

#include <cerrno>

namespace ostrel::frontend {

void WriteText(int fd, std::string_view message) {
    while (!message.empty()) {
        const ssize_t n = ::write(fd, message.data(), message.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // nowhere to report it
        message.remove_prefix(static_cast<std::size_t>(n));
    }
}

}  // namespace ostrel::frontend
