#include "platform/event.h"

#include <sys/eventfd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

#include "platform/posix_io.h"

namespace ostrel::platform {

Event::Event(Reset reset, bool initiallySet) : mode_(reset), state_(initiallySet ? kSet : 0) {}

void Event::set() {
    // Already set: every waiter has been woken by that set, or finds it set.
    if (state_.fetch_or(kSet) & kSet) return;
    // A notify with nobody waiting does not enter the kernel.
    if (mode_ == Reset::Auto) {
        state_.notify_one();
    } else {
        state_.notify_all();
    }
}

void Event::reset() {
    state_.fetch_and(~kSet);
}

bool Event::wait(std::stop_token stop) {
    std::uint32_t seen = state_.load();
    if ((seen & kSet) == 0) {
        // Only a wait that has to sleep needs to hear of a stop request.
        const std::stop_callback onStop(stop, [this] {
            state_.fetch_or(kStopped);
            state_.notify_all();
        });
        for (;;) {
            seen = state_.load();
            if (seen & kSet) break;
            if (stop.stop_requested()) return false;
            state_.wait(seen);
        }
    }
    if (mode_ == Reset::Auto) {
        // Another waiter may take it first: then wait on.
        while (!state_.compare_exchange_weak(seen, seen & ~kSet)) {
            if ((seen & kSet) == 0) return wait(stop);
        }
    }
    return true;
}

WakeFd::WakeFd() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (!fd_.valid()) throw std::system_error(errno, std::generic_category(), "eventfd");
}

void WakeFd::signal() {
    const std::uint64_t one = 1;
    // EAGAIN means the counter is at its maximum: the fd is readable anyway.
    (void)io::writeSome(fd_.get(), {reinterpret_cast<const std::uint8_t*>(&one), sizeof one});
}

void WakeFd::drain() {
    std::uint64_t count = 0;
    // Without EFD_SEMAPHORE one read takes the whole counter back to zero;
    // EAGAIN means it was zero already.
    (void)io::readSome(fd_.get(), {reinterpret_cast<std::uint8_t*>(&count), sizeof count});
}

}  // namespace ostrel::platform
