// The display backlog's memory: a stalled display holds no more than the
// bound, and a drained backlog gives its memory back. In a test program of
// its own, so that the process's resident size reflects this queue alone.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "engine/display_queue.h"
#include "platform/pty_test_support.h"

namespace ostrel::engine {
namespace {

using namespace std::chrono_literals;
using platform::test::waitUntil;

constexpr std::size_t kMiB = 1u << 20;

std::size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizerAllocator = true;  // its own allocator and shadow memory: sizes say nothing
#else
constexpr bool kSanitizerAllocator = false;
#endif

TEST(DisplayBacklogMemory, AStalledBacklogStaysWithinItsBoundAndGivesItsMemoryBackOnceDrained) {
    if (kSanitizerAllocator) GTEST_SKIP() << "resident sizes are not meaningful under a sanitizer";
    DisplayQueue queue;  // the front ends' bound
    const std::size_t before = residentBytes();

    // The pump's side: formatted chunks (about 6 KiB of text for 2 KiB of
    // traffic), far more than the bound, while nobody takes (stdout stalled).
    constexpr std::size_t kTotal = 160 * kMiB;
    std::atomic<bool> done{false};
    std::thread pump([&] {
        const std::string text(6150, 'x');
        for (std::size_t sent = 0; sent < kTotal; sent += text.size()) queue.append(text);
        done.store(true);
    });
    ASSERT_TRUE(waitUntil([&] { return queue.heldBytes() >= kDisplayBacklogBound; }));
    const std::size_t stalledRss = residentBytes();
    EXPECT_LE(queue.heldBytes(), kDisplayBacklogBound + 2 * 64 * 1024);
    EXPECT_LE(stalledRss, before + kDisplayBacklogBound + 16 * kMiB);

    // The display catches up, as the output writer takes (256 KiB batches).
    std::size_t peakRss = stalledRss;
    while (!done.load() || queue.backlog() > 0) {
        if (queue.take(256 * 1024).empty()) std::this_thread::yield();
        peakRss = std::max(peakRss, residentBytes());
    }
    pump.join();
    EXPECT_LE(peakRss, before + kDisplayBacklogBound + 16 * kMiB);

    std::size_t idleRss = residentBytes();
    const bool givenBack = waitUntil(
        [&] {
            idleRss = residentBytes();
            return idleRss <= before + 32 * kMiB;
        },
        5s);
    std::printf("resident MiB: before %.1f, stalled %.1f, peak %.1f, idle after the drain %.1f\n",
                before / double(kMiB), stalledRss / double(kMiB), peakRss / double(kMiB),
                idleRss / double(kMiB));
    EXPECT_TRUE(givenBack) << "resident " << idleRss / kMiB << " MiB, " << before / kMiB << " MiB before";
}

}  // namespace
}  // namespace ostrel::engine
