#pragma once
// The ordered queue between the threads that append traffic-window text and
// the UI thread that shows it. Appends never wait for the UI thread while the
// backlog is under the bound; past it, append() waits until the UI thread has
// taken text (so the pump slows down but no text is lost or reordered).
// appendUnbounded() never waits: it is for the UI thread itself and for
// status lines of receive threads. close() releases every waiter for good.

#include <condition_variable>
#include <cstddef>
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

    void append(std::string_view text);
    void appendUnbounded(std::string_view text);
    // Takes up to maxBytes of the oldest text (all when maxBytes is 0).
    std::string take(std::size_t maxBytes = 0);
    std::size_t backlog() const;
    // While set, append() does not wait at the bound (a close that waits for
    // the pump's chunk in flight sets it, so that wait never needs the UI thread).
    void setUnbounded(bool unbounded);
    void close();

private:
    void push(std::string_view text, bool mayWait);

    const std::size_t bound_;
    mutable std::mutex mutex_;
    std::condition_variable roomCv_;
    std::string text_;  // pending text; taken from the front
    std::size_t takenFront_ = 0;
    bool closed_ = false;
    bool unbounded_ = false;
    std::function<void()> notify_;
};

}  // namespace ostrel::engine
