#include "frontend/operator_text.h"

#include <cstdint>

#include "platform/posix_io.h"

namespace ostrel::frontend {

void WriteText(int fd, std::string_view message) {
    // Gives up at the first failure, a full pipe (EAGAIN) or a write that takes
    // nothing: there is nowhere to report it.
    (void)platform::io::writeAll(fd, {reinterpret_cast<const std::uint8_t*>(message.data()), message.size()});
}

}  // namespace ostrel::frontend
