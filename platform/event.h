#pragma once
// Events in the manner of the serial engine's needs: an auto- or manual-reset
// event on one atomic word (set, reset and a wait that finds the event set
// take no lock; only a wait that must sleep, and the set that ends it, reach
// the kernel, through a futex), and a WakeFd (eventfd) for the places where a wake-up must be
// poll()ed together with a port.

#include <atomic>
#include <cstdint>
#include <stop_token>

#include "platform/unique_fd.h"

namespace ostrel::platform {

class Event {
public:
    enum class Reset { Auto, Manual };
    explicit Event(Reset reset, bool initiallySet = false);

    void set();
    void reset();
    // Waits until set or stop requested. Returns true when the event was set.
    // An auto-reset event is reset by a successful wait.
    bool wait(std::stop_token stop);

private:
    static constexpr std::uint32_t kSet = 1;
    static constexpr std::uint32_t kStopped = 2;  // a stop request woke the waiters
    static constexpr std::uint32_t kWaiting = 4;  // a waiter may sleep in the kernel
    const Reset mode_;
    std::atomic<std::uint32_t> state_;
};

// eventfd used to wake a thread blocked in poll(). Counter semantics: signal()
// makes the fd readable until drain() is called.
class WakeFd {
public:
    WakeFd();  // throws std::system_error if eventfd cannot be created
    int fd() const { return fd_.get(); }
    void signal();
    void drain();

private:
    UniqueFd fd_;
};

}  // namespace ostrel::platform
