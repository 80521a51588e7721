#pragma once
// The ordered queue between the threads that append traffic-window text and
// the UI thread that shows it. Appends never wait for the UI thread while the
// backlog is under the bound; past it, append() waits until the UI thread has
// taken text (so the pump slows down but no text is lost or reordered).
// appendUnbounded() never waits: it is for the UI thread itself and for
// status lines of receive threads. close() releases every waiter for good.
//
// Memory: the text is kept in blocks of a fixed size (64 KiB at the default
// bound), each allocated once and freed as soon as it has been taken, and the
// bound counts the blocks' storage, not just the text in them. After a large
// backlog has drained, the freed memory is handed back to the system.
//
// Threading: every member may be called from any thread; the notify callback
// runs on the appending thread, outside the queue's lock.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace ostrel::engine {

inline constexpr std::size_t kDisplayBacklogBound = 64u << 20;

class DisplayQueue {
public:
    explicit DisplayQueue(std::size_t bound = kDisplayBacklogBound);

    // Called (on the appending thread, outside the queue's lock) each time the
    // queue goes from empty to non-empty: the front end schedules a drain.
    void setNotify(std::function<void()> notify);

    // Both may throw std::bad_alloc; nothing of `text` is queued then.
    void append(std::string_view text);
    void appendUnbounded(std::string_view text);
    // Takes up to maxBytes of the oldest text (all when maxBytes is 0).
    std::string take(std::size_t maxBytes = 0);
    // The same into `out` (emptied first), whose storage is kept for reuse:
    // a reader that takes again and again then allocates nothing.
    void takeInto(std::string& out, std::size_t maxBytes = 0);
    std::size_t backlog() const;
    // Bytes of storage the queue holds for its backlog now.
    std::size_t heldBytes() const;
    // While set, append() does not wait at the bound (a close that waits for
    // the pump's chunk in flight sets it, so that wait never needs the UI thread).
    void setUnbounded(bool unbounded);
    void close();

private:
    void push(std::string_view text, bool mayWait);
    std::size_t heldLocked() const { return blocks_.size() * blockBytes_; }

    const std::size_t bound_;
    const std::size_t blockBytes_;
    mutable std::mutex mutex_;
    std::condition_variable roomCv_;
    std::deque<std::string> blocks_;  // each at most blockBytes_ long; taken from the front
    std::size_t frontTaken_ = 0;      // bytes of blocks_.front() already taken
    std::size_t pending_ = 0;         // bytes not yet taken
    std::size_t peakHeld_ = 0;        // most storage held since the queue was last empty
    bool closed_ = false;
    bool unbounded_ = false;
    std::function<void()> notify_;
};

}  // namespace ostrel::engine
