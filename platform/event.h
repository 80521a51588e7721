#pragma once
// Events in the manner of the serial engine's needs: an auto- or manual-reset
// event over a mutex and condition variable, and a WakeFd (eventfd) for the
// places where a wake-up must be poll()ed together with a port.

#include <condition_variable>
#include <mutex>
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
    const Reset mode_;
    std::mutex mutex_;
    std::condition_variable_any cv_;
    bool set_;
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
