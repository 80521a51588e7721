#include "platform/event.h"

#include <sys/eventfd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

#include "platform/posix_io.h"

namespace ostrel::platform {

Event::Event(Reset reset, bool initiallySet) : mode_(reset), set_(initiallySet) {}

void Event::set() {
    std::lock_guard lock(mutex_);
    // Already set: every waiter has been woken by that set, or finds it set.
    if (set_) return;
    set_ = true;
    // Notified under the lock, so that an Event destroyed right after a
    // waiter returns is never touched by a late notify.
    if (mode_ == Reset::Auto) {
        cv_.notify_one();
    } else {
        cv_.notify_all();
    }
}

void Event::reset() {
    std::lock_guard lock(mutex_);
    set_ = false;
}

bool Event::wait(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    if (!cv_.wait(lock, stop, [this] { return set_; })) return false;
    if (mode_ == Reset::Auto) set_ = false;
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
