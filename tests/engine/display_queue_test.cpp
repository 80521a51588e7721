#include "engine/display_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "engine_test_support.h"

namespace ostrel::engine {
namespace {

using testing::waitUntil;

TEST(DisplayQueue, KeepsTextInOrderAndNotifiesOnlyWhenItStopsBeingEmpty) {
    DisplayQueue queue;
    int notified = 0;
    queue.setNotify([&] { ++notified; });
    queue.append("abc");
    queue.appendUnbounded("def");
    queue.append("gh");
    EXPECT_EQ(notified, 1);
    EXPECT_EQ(queue.backlog(), 8u);
    EXPECT_EQ(queue.take(4), "abcd");
    queue.append("i");
    EXPECT_EQ(notified, 1);  // still not empty
    EXPECT_EQ(queue.take(), "efghi");
    EXPECT_EQ(queue.backlog(), 0u);
    queue.append("");  // nothing appended, nothing to show
    EXPECT_EQ(notified, 1);
    queue.appendUnbounded("j");
    EXPECT_EQ(notified, 2);

    // The notify call runs outside the queue's lock: a front end may drain at once.
    std::string shown;
    queue.setNotify([&] { shown += queue.take(); });
    queue.take();
    queue.append("one ");
    queue.append("two");
    EXPECT_EQ(shown, "one two");
}

TEST(DisplayQueue, TakeIntoReplacesTheTextAndKeepsTheStorageOfTheString) {
    DisplayQueue queue(1u << 20);
    std::string out = "left from before";
    queue.append(std::string(40000, 'x'));
    queue.takeInto(out, 30000);
    EXPECT_EQ(out, std::string(30000, 'x'));
    const char* storage = out.data();
    queue.append("abc");
    queue.takeInto(out);
    EXPECT_EQ(out, std::string(10000, 'x') + "abc");
    EXPECT_EQ(out.data(), storage);  // the same storage, nothing allocated
    queue.takeInto(out);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(queue.backlog(), 0u);
}

TEST(DisplayQueue, AppendWaitsAtTheBoundUntilTextIsTakenOrTheQueueClosesAndLosesNothing) {
    DisplayQueue queue(10);
    queue.append("0123456789");  // at the bound
    std::atomic<int> appended{0};
    std::thread pump([&] {
        for (const char* text : {"more", "late", "last"}) {
            queue.append(text);
            ++appended;
        }
    });
    queue.appendUnbounded("!");  // goes in at once even past the bound
    // A waiting append cannot be observed directly: give it time to go
    // through if it wrongly would.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(appended.load(), 0);
    EXPECT_EQ(queue.take(6), "012345");  // 5 left: "more" and "late" fit below the bound
    ASSERT_TRUE(waitUntil([&] { return appended.load() == 2; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(appended.load(), 2);
    queue.close();
    ASSERT_TRUE(waitUntil([&] { return appended.load() == 3; }));
    pump.join();
    queue.append("after");  // never waits once closed
    EXPECT_EQ(queue.take(), "6789!morelatelastafter");
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
