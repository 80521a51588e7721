#include "platform/event.h"

#include <linux/futex.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <system_error>

#include "platform/posix_io.h"

namespace ostrel::platform {

Event::Event(Reset reset, bool initiallySet) : mode_(reset), state_(initiallySet ? kSet : 0) {}

namespace {

// The kernel's wait on a word: sleeps while *word == expected (or until woken).
void futexWait(std::atomic<std::uint32_t>& word, std::uint32_t expected) {
    (void)::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAIT_PRIVATE, expected, nullptr,
                    nullptr, 0);
}

void futexWakeAll(std::atomic<std::uint32_t>& word) {
    (void)::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr,
                    nullptr, 0);
}

}  // namespace

// A waiter that must sleep marks the word kWaiting first; set() enters the
// kernel only when that mark is there, and wakes every sleeper (an auto-reset
// event is then taken by one, and the others sleep again). Unlike
// std::atomic::wait this never spins nor yields before sleeping: on a
// machine with few cores those yields cost more than the sleep.
void Event::set() {
    const std::uint32_t before = state_.fetch_or(kSet);
    // Already set: every waiter has been woken by that set, or finds it set.
    if (before & kSet) return;
    if (before & kWaiting) {
        state_.fetch_and(~kWaiting);
        futexWakeAll(state_);
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
            futexWakeAll(state_);
        });
        for (;;) {
            seen = state_.load();
            if (seen & kSet) break;
            if (stop.stop_requested()) return false;
            seen = state_.fetch_or(kWaiting) | kWaiting;
            if (seen & kSet) break;
            // Returns at once when the word changed since (a set, a stop).
            futexWait(state_, seen);
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
