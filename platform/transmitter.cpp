#include "platform/transmitter.h"

#include <poll.h>
#include <sys/uio.h>

#include "platform/posix_io.h"

namespace ostrel::platform {

namespace {

constexpr int kMaxBlocksPerWrite = 32;
constexpr int kPollIntervalMs = 100;  // stop is re-checked at least this often

}  // namespace

Transmitter::Transmitter(int fd, std::size_t lowWater, std::function<void()> onLowWater)
    : fd_(fd),
      lowWater_(lowWater),
      onLowWater_(std::move(onLowWater)),
      worker_([this](std::stop_token stop) { run(stop); }) {}

Transmitter::~Transmitter() {
    stop();
}

void Transmitter::stop() {
    if (!worker_.joinable()) return;
    worker_.request_stop();  // wakes the condition-variable wait
    wake_.signal();          // wakes a poll() for POLLOUT
    worker_.join();
}

bool Transmitter::enqueue(std::span<const std::uint8_t> bytes) {
    {
        std::lock_guard lock(mutex_);
        // failed_ is set under this lock, so nothing is queued after the discard.
        if (failed_.load(std::memory_order_relaxed)) return false;
        if (bytes.empty()) return true;
        // With nothing queued the worker has no write in flight (it removes
        // blocks only after their write), so the bytes may go out at once:
        // the non-blocking write never waits, and it saves the worker's
        // wake-up on a port that keeps up. What the port does not take now
        // is queued behind, in order. A write that fails for good ends the
        // transmitter here as it would in the worker: these bytes were taken
        // and are not delivered, and later ones are refused.
        if (blocks_.empty()) {
            const Result<std::size_t> written = io::writeSome(fd_, bytes);
            if (written && written.value() > 0) {
                written_.fetch_add(static_cast<std::uint64_t>(written.value()), std::memory_order_acq_rel);
                bytes = bytes.subspan(written.value());
                if (bytes.empty()) return true;
            } else if (!written && written.error().code != EAGAIN) {
                failed_.store(true, std::memory_order_release);
                return true;
            }
        }
        blocks_.emplace_back(bytes.begin(), bytes.end());
        queued_.fetch_add(bytes.size(), std::memory_order_acq_rel);
    }
    cv_.notify_one();
    return true;
}

void Transmitter::run(std::stop_token stop) {
    iovec vectors[kMaxBlocksPerWrite];
    bool sawHangUp = false;
    while (!stop.stop_requested()) {
        int count = 0;
        {
            std::unique_lock lock(mutex_);
            if (!cv_.wait(lock, stop, [this] { return !blocks_.empty(); })) break;
            // Only this thread removes blocks, and deque::emplace_back keeps
            // references to the other elements valid: the buffers stay put
            // while the lock is released for the write.
            std::size_t offset = headOffset_;
            for (auto& block : blocks_) {
                vectors[count].iov_base = block.data() + offset;
                vectors[count].iov_len = block.size() - offset;
                offset = 0;
                if (++count == kMaxBlocksPerWrite) break;
            }
        }

        const Result<std::size_t> written = io::writeVector(fd_, vectors, count);
        const std::size_t n = written ? written.value() : 0;
        if (n > 0) {
            sawHangUp = false;
            std::size_t left = n;
            std::size_t before = 0;
            {
                std::lock_guard lock(mutex_);
                while (left > 0) {
                    const std::size_t rest = blocks_.front().size() - headOffset_;
                    if (left >= rest) {
                        left -= rest;
                        blocks_.pop_front();
                        headOffset_ = 0;
                    } else {
                        headOffset_ += left;
                        left = 0;
                    }
                }
                before = queued_.fetch_sub(n, std::memory_order_acq_rel);
                written_.fetch_add(static_cast<std::uint64_t>(n), std::memory_order_acq_rel);
            }
            const std::size_t after = before - n;
            if (onLowWater_ && before >= lowWater_ && after < lowWater_) onLowWater_();
            continue;
        }
        if (!written && written.error().code == EAGAIN && !sawHangUp) {
            // Full, or held by XOFF / CTS: wait until the port takes bytes again.
            pollfd fds[2] = {{fd_, POLLOUT, 0}, {wake_.fd(), POLLIN, 0}};
            const Result<int> ready = io::poll(fds, 2, kPollIntervalMs);
            const bool any = ready && ready.value() > 0;
            if (any && (fds[1].revents & POLLIN)) wake_.drain();
            if (any && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))) {
                // The next write tells: EIO when the line is gone; EAGAIN
                // again means nobody will ever take the bytes.
                sawHangUp = true;
            }
            continue;
        }

        // EIO, EPIPE, a hang-up that still refuses writes, or any other error:
        // the port is gone and nothing queued can be delivered.
        std::size_t before = 0;
        {
            std::lock_guard lock(mutex_);
            blocks_.clear();
            headOffset_ = 0;
            before = queued_.exchange(0, std::memory_order_acq_rel);
            // Last, so that whoever sees failed() also sees the queue empty.
            failed_.store(true, std::memory_order_release);
        }
        if (onLowWater_ && before >= lowWater_ && lowWater_ > 0) onLowWater_();
    }
}

}  // namespace ostrel::platform
