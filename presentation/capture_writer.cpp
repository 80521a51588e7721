// The capture file's writer thread and its bounded queue.

#include "presentation/capture_writer.h"

#include <poll.h>
#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <csignal>

#include "platform/posix_io.h"

namespace ostrel::presentation {

namespace {

constexpr std::size_t kWriteBatch = 256 * 1024;
// Taken bytes are cut from the front of the queue once this much has gathered.
constexpr std::size_t kCompactThreshold = 1u << 16;

}  // namespace

CaptureWriter::CaptureWriter(platform::UniqueFd file, FailureHandler onFailure, std::size_t bound)
    : file_(std::move(file)),
      onFailure_(std::move(onFailure)),
      bound_(bound),
      lastProgress_(std::chrono::steady_clock::now()) {
    thread_ = std::jthread([this](std::stop_token stop) { run(std::move(stop)); });
}

CaptureWriter::~CaptureWriter() {
    finish(std::chrono::milliseconds(0), std::chrono::milliseconds(0));
}

bool CaptureWriter::push(std::span<const std::uint8_t> bytes, bool mayWait) {
    {
        std::unique_lock lock(mutex_);
        if (mayWait)
            roomCv_.wait(lock, [&] { return closed_ || released_ || queue_.size() - front_ < bound_; });
        if (closed_) return false;
        queue_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    workCv_.notify_one();
    return true;
}

void CaptureWriter::release() {
    {
        std::lock_guard lock(mutex_);
        released_ = true;
    }
    roomCv_.notify_all();
}

void CaptureWriter::giveUp() {
    wake_.signal();
}

bool CaptureWriter::writeAll(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const platform::Result<std::size_t> n = platform::io::writeSome(file_.get(), bytes);
        if (n && n.value() > 0) {
            {
                std::lock_guard lock(mutex_);
                written_ += n.value();
                inFlight_ -= n.value();
                lastProgress_ = std::chrono::steady_clock::now();
            }
            progressCv_.notify_all();
            bytes = bytes.subspan(n.value());
            continue;
        }
        if (!n && n.error().code == EAGAIN) {
            // A slow reader: wait for room, or for finish() to give up.
            pollfd fds[2] = {{file_.get(), POLLOUT, 0}, {wake_.fd(), POLLIN, 0}};
            if (const platform::Result<int> ready = platform::io::poll(fds, 2, -1); !ready) {
                std::lock_guard lock(mutex_);
                error_ = ready.error().code;
                return false;
            }
            std::lock_guard lock(mutex_);
            if (givingUp_) return false;
            continue;
        }
        // A write that takes nothing from a non-empty buffer counts as a full disk.
        std::lock_guard lock(mutex_);
        error_ = n ? ENOSPC : n.error().code;
        return false;
    }
    return true;
}

void CaptureWriter::run(std::stop_token stop) {
    // A FIFO whose reader has gone gives EPIPE here, never a process-ending SIGPIPE.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

    std::string batch;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            workCv_.wait(lock, stop, [&] { return queue_.size() > front_ || givingUp_; });
            if (givingUp_ || queue_.size() == front_) break;  // given up, or asked to stop with nothing left
            const std::size_t n = std::min(queue_.size() - front_, kWriteBatch);
            batch.assign(queue_, front_, n);
            front_ += n;
            if (front_ == queue_.size()) {
                queue_.clear();
                front_ = 0;
            } else if (front_ >= kCompactThreshold && front_ >= queue_.size() / 2) {
                queue_.erase(0, front_);
                front_ = 0;
            }
            inFlight_ = n;
        }
        roomCv_.notify_all();
        if (!writeAll({reinterpret_cast<const std::uint8_t*>(batch.data()), batch.size()})) break;
    }

    int error = 0;
    std::uint64_t written = 0;
    {
        std::lock_guard lock(mutex_);
        unwritten_ += (queue_.size() - front_) + inFlight_;
        queue_.clear();
        front_ = 0;
        inFlight_ = 0;
        closed_ = true;
        ended_ = true;
        error = error_;
        written = written_;
        // A failed file is closed at once: it keeps an exact prefix of the traffic.
        if (error != 0) file_.reset();
    }
    roomCv_.notify_all();
    progressCv_.notify_all();
    if (error != 0 && onFailure_) onFailure_(error, written);
}

CaptureWriter::Ending CaptureWriter::finish(std::chrono::milliseconds stallLimit,
                                            std::optional<std::chrono::milliseconds> totalLimit) {
    using Clock = std::chrono::steady_clock;
    bool drained = false;
    {
        std::unique_lock lock(mutex_);
        if (finished_) return ending_;
        closed_ = true;  // refuses new pushes and releases the waiting ones
        roomCv_.notify_all();
        const Clock::time_point start = Clock::now();
        for (;;) {
            drained = ended_ || (queue_.size() == front_ && inFlight_ == 0);
            if (drained) break;
            // The stall counts from the last byte the file took, or from now.
            Clock::time_point until = std::max(lastProgress_, start) + stallLimit;
            if (totalLimit) until = std::min(until, start + *totalLimit);
            if (Clock::now() >= until) break;
            progressCv_.wait_until(lock, until);
        }
        if (!drained) givingUp_ = true;
    }
    if (!drained) giveUp();
    workCv_.notify_all();
    thread_.request_stop();
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(mutex_);
    file_.reset();
    finished_ = true;
    ending_ = Ending{error_, written_, unwritten_};
    return ending_;
}

}  // namespace ostrel::presentation
