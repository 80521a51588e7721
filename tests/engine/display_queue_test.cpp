#include "engine/display_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "engine_test_support.h"

namespace ostrel::engine {
namespace {

using testing::waitUntil;

TEST(DisplayQueue, KeepsTextInOrderAndTakesFromTheFront) {
    DisplayQueue queue;
    queue.append("abc");
    queue.appendUnbounded("def");
    queue.append("gh");
    EXPECT_EQ(queue.backlog(), 8u);
    EXPECT_EQ(queue.take(4), "abcd");
    EXPECT_EQ(queue.backlog(), 4u);
    EXPECT_EQ(queue.take(), "efgh");
    EXPECT_EQ(queue.take(), "");
    EXPECT_EQ(queue.backlog(), 0u);
}

TEST(DisplayQueue, NotifiesOnlyWhenItStopsBeingEmpty) {
    DisplayQueue queue;
    int notified = 0;
    queue.setNotify([&] { ++notified; });
    queue.append("a");
    queue.append("b");
    queue.appendUnbounded("c");
    EXPECT_EQ(notified, 1);
    queue.take(1);
    queue.append("d");
    EXPECT_EQ(notified, 1);  // still not empty
    queue.take();
    queue.append("");  // nothing appended, nothing to show
    EXPECT_EQ(notified, 1);
    queue.appendUnbounded("e");
    EXPECT_EQ(notified, 2);
}

TEST(DisplayQueue, NotifyMayTakeFromTheQueue) {
    // The notify call runs outside the queue's lock: a front end may drain at once.
    DisplayQueue queue;
    std::string shown;
    queue.setNotify([&] { shown += queue.take(); });
    queue.append("one ");
    queue.append("two");
    EXPECT_EQ(shown, "one two");
}

TEST(DisplayQueue, AppendWaitsPastTheBoundUntilTextIsTaken) {
    DisplayQueue queue(10);
    queue.append("0123456789");  // at the bound
    std::atomic<bool> appended{false};
    std::thread pump([&] {
        queue.append("more");
        appended.store(true);
    });
    // The unbounded append goes in at once even past the bound.
    queue.appendUnbounded("!");
    // A waiting append cannot be observed directly: give it time to go
    // through if it wrongly would.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(appended.load());
    EXPECT_EQ(queue.take(6), "012345");
    ASSERT_TRUE(waitUntil([&] { return appended.load(); }));
    pump.join();
    EXPECT_EQ(queue.take(), "6789!more");
}

TEST(DisplayQueue, CloseReleasesAWaitingAppendWithoutLosingIt) {
    DisplayQueue queue(4);
    queue.append("full");
    std::atomic<bool> appended{false};
    std::thread pump([&] {
        queue.append("late");
        appended.store(true);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(appended.load());
    queue.close();
    ASSERT_TRUE(waitUntil([&] { return appended.load(); }));
    pump.join();
    queue.append("after");  // never waits once closed
    EXPECT_EQ(queue.take(), "fulllateafter");
}

TEST(DisplayQueue, ProducerAndConsumerThreadsKeepEveryByteInOrder) {
    DisplayQueue queue(1000);
    constexpr int kPieces = 20000;
    std::thread producer([&] {
        for (int i = 0; i < kPieces; ++i) queue.append(std::to_string(i) + ",");
    });
    std::string expected;
    for (int i = 0; i < kPieces; ++i) expected += std::to_string(i) + ",";
    std::string shown;
    ASSERT_TRUE(waitUntil([&] {
        shown += queue.take(333);
        return shown.size() >= expected.size();
    }));
    producer.join();
    EXPECT_EQ(shown, expected);
}

}  // namespace
}  // namespace ostrel::engine
