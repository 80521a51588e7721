#include "support/far_end.h"

#include <poll.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cerrno>
#include <stdexcept>

namespace ostrel::ui::test {

FarEnd::FarEnd() {
    auto pair = platform::openPtyPair();
    if (!pair) throw std::runtime_error("no pseudo-terminal: " + pair.error().describe());
    pair_ = std::move(pair).value();
}

bool FarEnd::write(std::string_view bytes, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!bytes.empty()) {
        const ssize_t n = ::write(pair_.master.get(), bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() > deadline) return false;
        pollfd fd{pair_.master.get(), POLLOUT, 0};
        ::poll(&fd, 1, 5);
    }
    return true;
}

Bytes FarEnd::read(std::size_t count, std::chrono::milliseconds timeout) {
    Bytes out;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (out.size() < count && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents();
        pollfd fd{pair_.master.get(), POLLIN, 0};
        if (::poll(&fd, 1, 5) <= 0) continue;
        std::uint8_t buffer[4096];
        const ssize_t n = ::read(pair_.master.get(), buffer, sizeof buffer);
        if (n > 0) out.insert(out.end(), buffer, buffer + n);
    }
    return out;
}

std::string textOf(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace ostrel::ui::test
