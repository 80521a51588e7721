#include "engine/display_queue.h"

#include <algorithm>
#include <utility>

namespace ostrel::engine {

namespace {
// Taken text is cut from the front of the buffer once this much has gathered
// there, so a backlog that is never fully drained does not grow for ever.
constexpr std::size_t kCompactThreshold = 1u << 16;
}  // namespace

DisplayQueue::DisplayQueue(std::size_t bound) : bound_(bound) {}

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
        // Waits while the backlog is at or past the bound; a single text
        // larger than the bound still goes in once the backlog is below it.
        if (mayWait)
            roomCv_.wait(lock, [&] { return closed_ || unbounded_ || text_.size() - takenFront_ < bound_; });
        const bool wasEmpty = text_.size() == takenFront_;
        text_.append(text);
        if (wasEmpty) notify = notify_;
    }
    if (notify) notify();
}

std::string DisplayQueue::take(std::size_t maxBytes) {
    std::string out;
    {
        std::lock_guard lock(mutex_);
        const std::size_t available = text_.size() - takenFront_;
        const std::size_t n = maxBytes == 0 ? available : std::min(maxBytes, available);
        if (n == 0) return out;
        out.assign(text_, takenFront_, n);
        takenFront_ += n;
        if (takenFront_ == text_.size()) {
            text_.clear();
            takenFront_ = 0;
        } else if (takenFront_ >= kCompactThreshold && takenFront_ >= text_.size() / 2) {
            text_.erase(0, takenFront_);
            takenFront_ = 0;
        }
    }
    roomCv_.notify_all();
    return out;
}

std::size_t DisplayQueue::backlog() const {
    std::lock_guard lock(mutex_);
    return text_.size() - takenFront_;
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
