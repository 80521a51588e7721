#pragma once
// Drains a DisplayQueue to a file descriptor on a thread of its own, so a slow
// reader of standard output slows only this thread: the relay goes on while
// the queue's backlog is under its bound. Writes handle partial writes, EINTR
// and a non-blocking fd (EAGAIN waits for POLLOUT). A failing write (a closed
// pipe, a full disk) is recorded once, the rest of the text is discarded, and
// `onFailure` is called on the writer thread. Running out of memory counts
// as a failed write (ENOMEM).

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "engine/display_queue.h"

namespace ostrel::headless {

class OutputWriter {
public:
    // Installs itself as the queue's notify; `fd` is not owned.
    OutputWriter(engine::DisplayQueue& queue, int fd, std::function<void(int error)> onFailure = {});
    ~OutputWriter();  // finish()

    // Writes everything queued so far, then stops the thread. Idempotent.
    void finish();
    // errno of the first failed write, 0 when none failed.
    int failure() const { return failure_.load(); }

private:
    void run(std::stop_token stop);
    void wake();
    bool writeAll(const std::string& text);
    // Records the first failure and reports it through onFailure.
    void fail(int error);

    engine::DisplayQueue& queue_;
    const int fd_;
    std::function<void(int)> onFailure_;
    std::atomic<int> failure_{0};
    std::mutex mutex_;
    std::condition_variable_any cv_;
    bool pending_ = false;
    std::jthread thread_;  // last
};

}  // namespace ostrel::headless
