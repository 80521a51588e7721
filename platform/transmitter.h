#pragma once
// Per-port transmit queue: enqueue() never waits. With nothing queued it
// writes what the port takes at once (one non-blocking write) and queues the
// rest; a worker thread drains the queue with non-blocking writes, waiting
// for POLLOUT when the port is full or stopped by XOFF. Partial writes keep
// their tail, and the bytes go out in the order of the enqueue() calls.
// Nothing enqueued is dropped while the port accepts writes; once the port
// reports a hang-up or an I/O error the queue is discarded and failed() is
// true. The destructor stops and joins the worker (unwritten bytes are then
// discarded, as a purge on close does).

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "platform/event.h"

namespace ostrel::platform {

class Transmitter {
public:
    // `fd` stays owned by the caller and must outlive the Transmitter.
    // `onLowWater` (may be empty) is called on the worker thread each time a
    // write brings the queued byte count from at least `lowWater` to below it,
    // and when a failure discards a queue that held at least `lowWater` bytes
    // (so that a producer waiting for room looks again and sees failed()).
    // It is called without any lock of the Transmitter held.
    Transmitter(int fd, std::size_t lowWater = 64 * 1024, std::function<void()> onLowWater = {});
    ~Transmitter();  // stop()
    Transmitter(const Transmitter&) = delete;
    Transmitter& operator=(const Transmitter&) = delete;

    // Returns false (and queues nothing) when the port has failed.
    bool enqueue(std::span<const std::uint8_t> bytes);
    std::size_t queued() const { return queued_.load(std::memory_order_acquire); }
    bool failed() const { return failed_.load(std::memory_order_acquire); }
    // Stops and joins the worker; what is still queued stays unwritten.
    // written() is final afterwards. Idempotent.
    void stop();
    // Total bytes the port accepted so far.
    std::uint64_t written() const { return written_.load(std::memory_order_acquire); }

private:
    void run(std::stop_token stop);

    const int fd_;
    const std::size_t lowWater_;
    std::function<void()> onLowWater_;
    std::mutex mutex_;
    std::condition_variable_any cv_;
    std::deque<std::vector<std::uint8_t>> blocks_;
    std::size_t headOffset_ = 0;
    std::atomic<std::size_t> queued_{0};
    std::atomic<bool> failed_{false};
    std::atomic<std::uint64_t> written_{0};
    WakeFd wake_;
    std::jthread worker_;  // last member: started after everything above exists
};

}  // namespace ostrel::platform
