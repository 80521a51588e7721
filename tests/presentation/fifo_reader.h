#pragma once
// A reader at the other end of a FIFO, for the capture tests: opened at once
// (so that a capture can open the FIFO), reading only when told to, on a
// thread of its own, until the writer closes the FIFO or the reader is told
// to stop or to close its end.

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "platform/unique_fd.h"

namespace ostrel::presentation {

class FifoReader {
public:
    explicit FifoReader(const std::string& path) {
        if (::mkfifo(path.c_str(), 0600) == 0)
            fd_.reset(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    }
    bool valid() const { return fd_.valid(); }

    // Reads until end of file, or until `limit` bytes have come (then closes its end).
    void startReading(std::size_t limit = SIZE_MAX) {
        thread_ = std::jthread([this, limit](std::stop_token stop) {
            char buffer[65536];
            while (!stop.stop_requested() && count_.load() < limit) {
                pollfd in{fd_.get(), POLLIN, 0};
                if (::poll(&in, 1, 50) <= 0) continue;
                const std::size_t want = std::min(sizeof buffer, limit - count_.load());
                const ssize_t n = ::read(fd_.get(), buffer, want);
                if (n == 0) break;  // the writer closed the FIFO
                if (n < 0) continue;
                std::lock_guard lock(mutex_);
                bytes_.append(buffer, static_cast<std::size_t>(n));
                count_ += static_cast<std::size_t>(n);
            }
            if (count_.load() >= limit) fd_.reset();
            ended_ = true;
        });
    }
    // Drops the reading end without reading.
    void closeEnd() { fd_.reset(); }

    // The capacity of the FIFO's buffer.
    std::size_t pipeSize() const { return static_cast<std::size_t>(::fcntl(fd_.get(), F_GETPIPE_SZ)); }

    std::size_t count() const { return count_.load(); }
    bool ended() const { return ended_.load(); }
    std::string bytes() const {
        std::lock_guard lock(mutex_);
        return bytes_;
    }

private:
    platform::UniqueFd fd_;
    mutable std::mutex mutex_;
    std::string bytes_;
    std::atomic<std::size_t> count_{0};
    std::atomic<bool> ended_{false};
    std::jthread thread_;  // last
};

}  // namespace ostrel::presentation
