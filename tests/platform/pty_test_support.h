#pragma once
// Helpers for tests over real pseudo-terminals: a bare master whose slave is
// left unopened (so it starts cooked, as the kernel makes it), and reads and
// writes with deadlines instead of sleeps.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/tty_port.h"
#include "platform/unique_fd.h"

namespace ostrel::platform::test {

struct BareMaster {
    UniqueFd master;
    std::string slavePath;
};

// A master with its slave unlocked but not opened; empty fd on failure.
inline BareMaster openBareMaster() {
    BareMaster pty;
    pty.master.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!pty.master.valid()) return pty;
    char name[128];
    if (::grantpt(pty.master.get()) != 0 || ::unlockpt(pty.master.get()) != 0 ||
        ::ptsname_r(pty.master.get(), name, sizeof name) != 0) {
        pty.master.reset();
        return pty;
    }
    pty.slavePath = name;
    return pty;
}

// Polls `condition` every 2 ms until it holds or `timeout` passes.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Writes everything to a non-blocking fd, waiting for POLLOUT; false on error or time-out.
inline bool writeAll(int fd, std::span<const std::uint8_t> bytes,
                     std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 10);
    }
    return true;
}

inline bool writeAll(int fd, const std::string& text) {
    return writeAll(fd, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

// Reads from a plain fd until `count` bytes arrived, an error, or the time-out.
inline std::vector<std::uint8_t> readFd(int fd, std::size_t count,
                                        std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::vector<std::uint8_t> got;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::uint8_t buffer[4096];
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 10) <= 0) continue;
        const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, count - got.size()));
        if (n > 0) {
            got.insert(got.end(), buffer, buffer + n);
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            break;
        }
    }
    return got;
}

// Reads from `fd` until `text` has arrived or the time-out passes; what came.
inline std::string readUntil(int fd, std::string_view text,
                             std::chrono::milliseconds timeout = std::chrono::seconds(3)) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (got.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        const auto bytes = readFd(fd, 1, std::chrono::milliseconds(20));
        got.append(bytes.begin(), bytes.end());
    }
    return got;
}
// Reads through a port (escapes undone) until `count` data bytes arrived.
inline std::vector<std::uint8_t> readPort(TtyPort& port, std::size_t count, bool* lineError = nullptr,
                                          std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::vector<std::uint8_t> got;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::uint8_t buffer[4096];
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
        const unsigned flags = port.wait(-1, true, 10);
        if (!(flags & (TtyPort::Readable | TtyPort::HangUp))) continue;
        const ReadOutcome outcome = port.read(buffer);
        got.insert(got.end(), buffer, buffer + outcome.count);
        if (lineError != nullptr && outcome.lineError) *lineError = true;
        if (outcome.hungUp) break;
    }
    return got;
}

inline std::vector<std::uint8_t> allByteValues(int repeat = 1) {
    std::vector<std::uint8_t> bytes;
    for (int r = 0; r < repeat; ++r) {
        for (int value = 0; value < 256; ++value) bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

inline std::string pendingText(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
    return text;
}

}  // namespace ostrel::platform::test
