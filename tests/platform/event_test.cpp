// The pump's event: set, reset, waiters woken by a set or by a stop request,
// one waiter for an auto-reset event, every waiter for a manual-reset one.

#include "platform/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "pty_test_support.h"

namespace ostrel::platform {
namespace {

using namespace std::chrono_literals;
using test::waitUntil;

TEST(Event, AManualEventStaysSetUntilResetAndWakesEveryWaiter) {
    Event event(Event::Reset::Manual);
    std::stop_source never;
    event.set();
    EXPECT_TRUE(event.wait(never.get_token()));
    EXPECT_TRUE(event.wait(never.get_token()));  // still set

    event.reset();
    std::atomic<int> woken{0};
    std::vector<std::jthread> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back([&] {
            if (event.wait(never.get_token())) ++woken;
        });
    EXPECT_FALSE(waitUntil([&] { return woken.load() > 0; }, 100ms));  // reset: nobody gets through
    event.set();
    EXPECT_TRUE(waitUntil([&] { return woken.load() == 3; }));
}

TEST(Event, AnAutoEventLetsOneWaiterThroughForEachSet) {
    Event event(Event::Reset::Auto);
    std::stop_source stop;
    std::atomic<int> woken{0};
    std::vector<std::jthread> waiters;
    for (int i = 0; i < 2; ++i)
        waiters.emplace_back([&] {
            if (event.wait(stop.get_token())) ++woken;
        });
    event.set();
    EXPECT_TRUE(waitUntil([&] { return woken.load() == 1; }));
    EXPECT_FALSE(waitUntil([&] { return woken.load() == 2; }, 100ms));
    event.set();
    EXPECT_TRUE(waitUntil([&] { return woken.load() == 2; }));
}

TEST(Event, AStopRequestEndsAWaitWithoutTheEvent) {
    Event event(Event::Reset::Manual);
    std::stop_source stop;
    std::atomic<int> result{-1};
    std::jthread waiter([&] { result = event.wait(stop.get_token()) ? 1 : 0; });
    EXPECT_FALSE(waitUntil([&] { return result.load() != -1; }, 50ms));
    stop.request_stop();
    EXPECT_TRUE(waitUntil([&] { return result.load() == 0; }));
    // A token already stopped returns at once, unless the event is set.
    EXPECT_FALSE(event.wait(stop.get_token()));
    event.set();
    EXPECT_TRUE(event.wait(stop.get_token()));
}

}  // namespace
}  // namespace ostrel::platform
