#include "engine/display_queue.h"

#include <algorithm>
#include <utility>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace ostrel::engine {

namespace {

constexpr std::size_t kMaxBlockBytes = 64u << 10;
// A backlog that held at least this much gives its memory back to the system
// when it has drained (the allocator would otherwise keep the freed blocks).
constexpr std::size_t kReleaseAfter = 8u << 20;

// Blocks small against the bound, so the bound is met closely; at the default
// bound they are 64 KiB.
std::size_t blockSizeFor(std::size_t bound) {
    return std::clamp<std::size_t>(bound / 64, 1, kMaxBlockBytes);
}

void releaseFreedMemory() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

}  // namespace

DisplayQueue::DisplayQueue(std::size_t bound) : bound_(bound), blockBytes_(blockSizeFor(bound)) {}

void DisplayQueue::setNotify(std::function<void()> notify) {
    std::lock_guard lock(mutex_);
    notify_ = std::move(notify);
}

void DisplayQueue::append(std::string_view text) {
    push(text, true);
}

void DisplayQueue::appendUnbounded(std::string_view text) {
    push(text, false);
}

void DisplayQueue::push(std::string_view text, bool mayWait) {
    if (text.empty()) return;
    std::function<void()> notify;
    {
        std::unique_lock lock(mutex_);
        // Waits while the storage held is at or past the bound; a single text
        // larger than the bound still goes in once the backlog is below it.
        if (mayWait) roomCv_.wait(lock, [&] { return closed_ || unbounded_ || heldLocked() < bound_; });
        const bool wasEmpty = pending_ == 0;
        // Room for all of it first, so that an allocation failure leaves the
        // queue as it was (a block left empty is dropped again).
        const std::size_t tailRoom = blocks_.empty() ? 0 : blockBytes_ - blocks_.back().size();
        const std::size_t firstNew = blocks_.size();
        try {
            for (std::size_t room = tailRoom; room < text.size(); room += blockBytes_) {
                blocks_.emplace_back();
                blocks_.back().reserve(blockBytes_);
            }
        } catch (...) {
            blocks_.resize(firstNew);
            throw;
        }
        std::size_t index =
            firstNew > 0 && blocks_[firstNew - 1].size() < blockBytes_ ? firstNew - 1 : firstNew;
        while (!text.empty()) {
            std::string& block = blocks_[index++];
            const std::size_t n = std::min(text.size(), blockBytes_ - block.size());
            block.append(text.data(), n);
            text.remove_prefix(n);
            pending_ += n;
        }
        peakHeld_ = std::max(peakHeld_, heldLocked());
        if (wasEmpty) notify = notify_;
    }
    if (notify) notify();
}

std::string DisplayQueue::take(std::size_t maxBytes) {
    std::string out;
    takeInto(out, maxBytes);
    return out;
}

void DisplayQueue::takeInto(std::string& out, std::size_t maxBytes) {
    out.clear();
    bool release = false;
    {
        std::lock_guard lock(mutex_);
        const std::size_t n = maxBytes == 0 ? pending_ : std::min(maxBytes, pending_);
        if (n == 0) return;
        out.reserve(n);
        while (out.size() < n) {
            const std::string& front = blocks_.front();
            const std::size_t k = std::min(n - out.size(), front.size() - frontTaken_);
            out.append(front, frontTaken_, k);
            frontTaken_ += k;
            if (frontTaken_ == front.size()) {
                blocks_.pop_front();  // its storage is freed now
                frontTaken_ = 0;
            }
        }
        pending_ -= n;
        if (pending_ == 0) {
            release = peakHeld_ >= kReleaseAfter;
            peakHeld_ = 0;
        }
    }
    roomCv_.notify_all();
    if (release) releaseFreedMemory();
}

std::size_t DisplayQueue::backlog() const {
    std::lock_guard lock(mutex_);
    return pending_;
}

std::size_t DisplayQueue::heldBytes() const {
    std::lock_guard lock(mutex_);
    return heldLocked();
}

void DisplayQueue::setUnbounded(bool unbounded) {
    {
        std::lock_guard lock(mutex_);
        unbounded_ = unbounded;
    }
    roomCv_.notify_all();
}

void DisplayQueue::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    roomCv_.notify_all();
}

}  // namespace ostrel::engine
