#include "headless/output_writer.h"

#include <poll.h>
#include <pthread.h>

#include <cerrno>
#include <csignal>
#include <new>
#include <span>

#include "platform/posix_io.h"

namespace ostrel::headless {
namespace {

constexpr std::size_t kWriteBatch = 256 * 1024;
constexpr std::size_t kSmallBatch = 512;
// How long the thread waits after a write before it looks for more text.
constexpr std::chrono::milliseconds kNap{10};

// Sent to the writer thread alone by abandon(). Its handler does nothing: it
// is there so that the signal breaks off a blocking write (no SA_RESTART)
// instead of ending the process.
int interruptSignal() {
    return SIGRTMIN;
}

void ignoreInterrupt(int) {}

void installInterruptHandler() {
    static const bool installed = [] {
        struct sigaction action {};
        action.sa_handler = ignoreInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        return ::sigaction(interruptSignal(), &action, nullptr) == 0;
    }();
    (void)installed;
}

}  // namespace

OutputWriter::OutputWriter(engine::DisplayQueue& queue, int fd, std::function<void(int)> onFailure,
                           Filter filter)
    : queue_(queue), fd_(fd), onFailure_(std::move(onFailure)), filter_(std::move(filter)) {
    installInterruptHandler();
    queue_.setNotify([this] { wake(); });
    thread_ = std::jthread([this](std::stop_token stop) { run(std::move(stop)); });
}

OutputWriter::~OutputWriter() {
    finish();
}

void OutputWriter::wake() {
    bool napping = false;
    {
        std::lock_guard lock(mutex_);
        pending_ = true;
        napping = napping_;
    }
    // A napping thread looks at the queue when its nap ends anyway.
    if (!napping) cv_.notify_one();
}

void OutputWriter::requestFinish() {
    if (thread_.joinable()) thread_.request_stop();  // the thread writes what is queued before it ends
}

bool OutputWriter::waitFinished(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return endedCv_.wait_for(lock, timeout, [this] { return ended_; });
}

void OutputWriter::abandon() {
    if (!thread_.joinable()) return;
    abandoned_.store(true);
    thread_.request_stop();
    // Sent again until the thread has ended: a signal that comes just before
    // the thread enters write() does not break that write off.
    while (!waitFinished(std::chrono::milliseconds(20)))
        pthread_kill(thread_.native_handle(), interruptSignal());
    join();
}

void OutputWriter::finish() {
    requestFinish();
    join();
}

void OutputWriter::join() {
    if (!thread_.joinable()) return;
    thread_.join();
    queue_.setNotify({});
}

bool OutputWriter::writeAll(const std::string& text) {
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(text.data()),
                                              text.size());
    std::size_t done = 0;
    while (done < bytes.size()) {
        if (abandoned_.load()) {
            dropped_ += bytes.size() - done;
            return false;
        }
        // The *Once calls: abandon()'s signal must end a write or a wait
        // that the reader holds, and a call that retried EINTR never would.
        const platform::Result<std::size_t> n = platform::io::writeSomeOnce(fd_, bytes.subspan(done));
        if (n && n.value() > 0) {
            done += n.value();
        } else if (!n && n.error().code == EINTR) {
            continue;  // abandoned_ is looked at again
        } else if (!n && n.error().code == EAGAIN) {
            pollfd out{fd_, POLLOUT, 0};
            (void)platform::io::pollOnce(&out, 1, 1000);
        } else {
            fail(n ? EIO : n.error().code);
            return false;
        }
    }
    return true;
}

void OutputWriter::fail(int error) {
    int expected = 0;
    if (!failure_.compare_exchange_strong(expected, error)) return;
    try {
        if (onFailure_) onFailure_(error);
    } catch (const std::bad_alloc&) {
        // The front end finds failure() set when the run ends.
    }
}

void OutputWriter::run(std::stop_token stop) {
    // The interrupt signal is for this thread: it must not be blocked here.
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, interruptSignal());
    pthread_sigmask(SIG_UNBLOCK, &interrupt, nullptr);
    std::size_t batch = kWriteBatch;
    std::string text;  // kept from one take to the next, so its storage is reused
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            cv_.wait(lock, stop, [this] { return pending_; });
            pending_ = false;
        }
        // Take everything there is, also text queued without a notify
        // (a notify comes only when the queue was empty).
        for (;;) {
            try {
                queue_.takeInto(text, batch);
            } catch (const std::bad_alloc&) {
                // Out of memory: reported as a failed output (which ends the
                // run); the rest is taken in small pieces and dropped.
                fail(ENOMEM);
                batch = kSmallBatch;
                continue;
            }
            if (text.empty()) break;
            if (failure_.load() == 0 && !abandoned_.load())
                writeAll(filter_ ? filter_(text) : text);
            else if (abandoned_.load())
                dropped_ += text.size();
            // After a failure the text is taken and dropped, so that appenders
            // waiting at the queue's bound are never stuck.
        }
        if (stop.stop_requested() && (queue_.backlog() == 0 || abandoned_.load())) break;
        // A short nap gathers the text of many chunks into one take and one
        // write, instead of a wake-up for each chunk while traffic flows. A
        // stop request ends the nap at once.
        std::unique_lock lock(mutex_);
        napping_ = true;
        cv_.wait_for(lock, stop, kNap, [] { return false; });
        napping_ = false;
    }
    {
        std::lock_guard lock(mutex_);
        ended_ = true;
    }
    endedCv_.notify_all();
}

}  // namespace ostrel::headless
