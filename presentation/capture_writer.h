#pragma once
// The capture file's writer: a bounded queue of raw bytes drained to the file
// by a thread of its own, so a slow reader (a pipe, a FIFO) slows only this
// thread while the queue is under its bound. Past the bound push() waits (the
// pump slows down, nothing is lost). The file stays O_NONBLOCK so that the
// thread can always be woken: a write that would block waits for POLLOUT (or
// for finish() to give up), it is never taken as a failure.
//
// The first failed write ends the writer: the file is closed at once, so it
// holds an exact prefix of what was pushed, later pushes are refused, and
// `onFailure` is called on the writer thread with the error and the number
// of bytes the file took.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>

#include "platform/event.h"
#include "platform/unique_fd.h"

namespace ostrel::presentation {

inline constexpr std::size_t kCaptureQueueBound = 16u << 20;

class CaptureWriter {
public:
    using FailureHandler = std::function<void(int error, std::uint64_t written)>;

    // How a writer ended.
    struct Ending {
        int error = 0;                // errno of the failed write, 0 when none failed
        std::uint64_t written = 0;    // bytes the file took
        std::uint64_t unwritten = 0;  // bytes queued but given up (finish() timed out)
    };

    CaptureWriter(platform::UniqueFd file, FailureHandler onFailure, std::size_t bound = kCaptureQueueBound);
    ~CaptureWriter();  // finish() with no patience: what is queued is given up

    // Queues `bytes`. With `mayWait`, waits while the queue holds `bound`
    // bytes or more (unless release() was called). Returns false, queueing
    // nothing, once the writer has failed or finish() has begun.
    bool push(std::span<const std::uint8_t> bytes, bool mayWait);
    // From now on push() never waits (for shutdown, before the pump is joined).
    void release();

    // Waits until the file has taken everything queued, or until it has taken
    // nothing for `stallLimit`, or until `totalLimit` (if given) has passed;
    // then gives up the rest, stops the thread and closes the file. Idempotent.
    Ending finish(std::chrono::milliseconds stallLimit,
                  std::optional<std::chrono::milliseconds> totalLimit = std::nullopt);

private:
    void run(std::stop_token stop);
    // Writes `bytes` fully; false on a failure or when told to give up.
    bool writeAll(std::span<const std::uint8_t> bytes);
    void giveUp();

    platform::UniqueFd file_;
    platform::WakeFd wake_;  // wakes a writer waiting for POLLOUT
    FailureHandler onFailure_;
    const std::size_t bound_;

    std::mutex mutex_;
    std::condition_variable roomCv_;      // push() waiting at the bound
    std::condition_variable_any workCv_;  // the writer thread waiting for bytes
    std::condition_variable progressCv_;  // finish() waiting for the drain
    std::string queue_;
    std::size_t front_ = 0;     // bytes at the front of queue_ already taken
    std::size_t inFlight_ = 0;  // bytes taken by the thread, not yet written
    std::uint64_t written_ = 0;
    std::uint64_t unwritten_ = 0;
    std::chrono::steady_clock::time_point lastProgress_;
    int error_ = 0;
    bool closed_ = false;    // no more pushes
    bool released_ = false;  // pushes never wait
    bool givingUp_ = false;  // the thread leaves a waiting write
    bool ended_ = false;     // the thread has left
    bool finished_ = false;
    Ending ending_;
    std::jthread thread_;  // last
};

}  // namespace ostrel::presentation
