#pragma once
// Drains a DisplayQueue to a file descriptor on a thread of its own, so a slow
// reader of standard output slows only this thread: the relay goes on while
// the queue's backlog is under its bound. Writes handle partial writes, EINTR
// and a non-blocking fd (EAGAIN waits for POLLOUT). A failing write (a closed
// pipe, a full disk) is recorded once, the rest of the text is discarded, and
// `onFailure` is called on the writer thread. Running out of memory counts
// as a failed write (ENOMEM). After each write the thread naps for 10 ms, so
// that a stream of chunks costs one wake-up and one write per nap, not one
// per chunk; text after a quiet spell is written at once.
//
// A reader that stops reading (a paused pager, a stopped process) would hold
// a blocking write for ever: abandon() drops what is not written yet and
// breaks such a write off with a signal sent to the writer thread alone.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "engine/display_queue.h"

namespace ostrel::headless {

class OutputWriter {
public:
    // Installs itself as the queue's notify; `fd` is not owned.
    // `filter` (may be empty) turns each piece of text into what is written.
    using Filter = std::function<std::string(std::string_view)>;
    OutputWriter(engine::DisplayQueue& queue, int fd, std::function<void(int error)> onFailure = {},
                 Filter filter = {});
    ~OutputWriter();  // finish()

    // Asks the thread to end once everything queued so far is written.
    void requestFinish();
    // True once the thread has ended (it wrote all, or gave up); waits up to `timeout`.
    bool waitFinished(std::chrono::milliseconds timeout);
    // Drops the text not written yet, breaks off a write that waits for the
    // reader, and joins the thread. Idempotent.
    void abandon();
    // requestFinish(), then joins: everything queued is written. Idempotent.
    void finish();

    // errno of the first failed write, 0 when none failed.
    int failure() const { return failure_.load(); }
    // Bytes of text dropped by abandon().
    std::uint64_t dropped() const { return dropped_.load(); }

private:
    void run(std::stop_token stop);
    void wake();
    bool writeAll(const std::string& text);
    void join();
    // Records the first failure and reports it through onFailure.
    void fail(int error);

    engine::DisplayQueue& queue_;
    const int fd_;
    std::function<void(int)> onFailure_;
    Filter filter_;
    std::atomic<int> failure_{0};
    std::atomic<bool> abandoned_{false};
    std::atomic<std::uint64_t> dropped_{0};
    std::mutex mutex_;
    std::condition_variable_any cv_;
    bool pending_ = false;
    bool napping_ = false;  // under mutex_: the thread waits out its nap, wake() need not notify
    std::condition_variable endedCv_;
    bool ended_ = false;   // under mutex_
    std::jthread thread_;  // last
};

}  // namespace ostrel::headless
