// Intercede relaying: both directions at once byte-exact, a large relay that
// does not wait for a slow display, and a blocked destination that holds back
// only its own direction.

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "engine/engine.h"
#include "engine_test_access.h"
#include "engine_test_support.h"

namespace ostrel::engine::testing {
namespace {

using namespace std::chrono_literals;

using Relay = EngineFixture;

TEST_F(Relay, BothDirectionsAtOnceArriveByteExactAndAreShownOnce) {
    link.setMode(kIntercede);
    ASSERT_EQ(open(kIntercede), kStatusOk);
    constexpr std::size_t kSize = 1u << 20;
    const Bytes fromDte = randomBytes(kSize, 1);
    const Bytes fromDce = randomBytes(kSize, 2);
    Bytes atDce, atDte;
    std::thread w0([&] { EXPECT_TRUE(far[0]->write(fromDte, 20s)); });
    std::thread w1([&] { EXPECT_TRUE(far[1]->write(fromDce, 20s)); });
    std::thread r1([&] { atDce = far[1]->read(kSize, 20s); });
    std::thread r0([&] { atDte = far[0]->read(kSize, 20s); });
    w0.join();
    w1.join();
    r0.join();
    r1.join();
    EXPECT_TRUE(atDce == fromDte) << atDce.size() << " bytes arrived at the DCE side";
    EXPECT_TRUE(atDte == fromDce) << atDte.size() << " bytes arrived at the DTE side";

    ASSERT_TRUE(waitForChunkBytes(2 * kSize));
    const auto entries = link.entries();
    EXPECT_EQ(link.chunkBytes(), 2 * kSize);  // each chunk shown once
    EXPECT_TRUE(bytesUnder(entries, " DCE ->> ") == std::string(fromDte.begin(), fromDte.end()));
    EXPECT_TRUE(bytesUnder(entries, " DTE ->> ") == std::string(fromDce.begin(), fromDce.end()));
    for (const auto& chunk : shownChunks(entries)) {
        EXPECT_LE(chunk.bytes.size(), kChunkSize);
        EXPECT_TRUE(chunk.marker == " DCE ->> " || chunk.marker == " DTE ->> ") << chunk.marker;
    }
}

TEST_F(Relay, TenMiBAreRelayedWhileTheDisplayTakesNothing) {
    // The chunks go on through a display queue with its normal bound, from
    // which the UI thread takes nothing until the relay is done.
    presenter.setShowHook([&](std::string_view chunk) { display.append(chunk); });
    link.setMode(kIntercede);
    ASSERT_EQ(open(kIntercede), kStatusOk);
    constexpr std::size_t kSize = 10u << 20;
    const Bytes data = randomBytes(kSize, 5);
    std::thread writer([&] { EXPECT_TRUE(far[0]->write(data, 30s)); });
    const Bytes arrived = far[1]->read(kSize, 30s);
    writer.join();
    EXPECT_TRUE(arrived == data) << arrived.size() << " of " << kSize << " bytes relayed";
    ASSERT_TRUE(waitForChunkBytes(kSize));
    EXPECT_TRUE(display.take() == std::string(data.begin(), data.end()));
}

// A thread that runs posted tasks in order, as a GUI thread runs its events.
class TaskThread {
public:
    void post(std::function<void()> task) {
        {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
        }
        cv_.notify_one();
    }

private:
    void run(std::stop_token stop) {
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock lock(mutex_);
                if (!cv_.wait(lock, stop, [&] { return !tasks_.empty(); })) return;
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            task();
        }
    }
    std::mutex mutex_;
    std::condition_variable_any cv_;
    std::deque<std::function<void()>> tasks_;
    std::jthread thread_{[this](std::stop_token stop) { run(stop); }};
};

TEST_F(Relay, ABusyWindowThreadDoesNotHoldTheRelay) {
    // The window answers its data-ready notice on its own thread, which is
    // busy for a second when the byte comes in.
    TaskThread gui;
    link.setDataReadyHandler([&](int) { gui.post([&] { engine->SignalPump(); }); });
    // Ends the receive threads before the task thread goes, however the test ends.
    struct CloseFirst {
        Engine& engine;
        ~CloseFirst() { engine.CloseAllPorts(); }
    } closeFirst{*engine};
    link.setMode(kIntercede);
    ASSERT_EQ(open(kIntercede), kStatusOk);
    gui.post([] { std::this_thread::sleep_for(1s); });

    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(far[0]->write("x"));
    const Bytes relayed = far[1]->read(1, 5s);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(relayed, bytesOf("x"));
    EXPECT_LT(took, 250ms) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
}

TEST_F(Relay, AFullDestinationHoldsBackOnlyItsOwnDirection) {
    constexpr std::size_t kLimit = 64 * 1024;
    makeEngine(false, kLimit);
    link.setMode(kIntercede);
    ASSERT_EQ(open(kIntercede), kStatusOk);

    // The DCE far end reads nothing for now: the relay towards it backs up.
    const Bytes fromDte = randomBytes(512 * 1024, 31);
    std::thread writer([&] { EXPECT_TRUE(far[0]->write(fromDte, 20s)); });
    const auto& towardsDce = EngineTestAccess::channel(*engine, kDceSide).transmitter;
    ASSERT_TRUE(towardsDce);
    // Held: at least the limit went to the transmitter, then nothing more is
    // taken. (The queue may then sit anywhere between the low-water mark and
    // the limit: the pump is woken again only below low water.)
    std::size_t lastShown = 0;
    auto lastChange = std::chrono::steady_clock::now();
    const bool held = waitUntil([&] {
        const std::size_t shown = link.chunkBytes();
        const auto now = std::chrono::steady_clock::now();
        if (shown != lastShown) {
            lastShown = shown;
            lastChange = now;
            return false;
        }
        return shown >= kLimit && now - lastChange >= 100ms;
    });
    if (!held) {
        writer.join();
        FAIL() << "relay never held: queued " << towardsDce->queued() << ", written " << towardsDce->written()
               << ", shown " << link.chunkBytes();
    }
    EXPECT_GE(towardsDce->queued(), kLimit / 2);
    EXPECT_LE(towardsDce->queued(), kLimit + kChunkSize);

    // The pump waits without spinning while that direction is held.
    const double before = processCpuMs();
    std::this_thread::sleep_for(200ms);
    const double used = processCpuMs() - before;
    EXPECT_LT(used, 40.0) << "CPU ms used in 200 ms while the relay is held";
    EXPECT_EQ(link.chunkBytes(), lastShown);

    // The other direction still flows, and is shown.
    const Bytes fromDce = randomBytes(100 * 1024, 32);
    Bytes atDte;
    std::thread reader([&] { atDte = far[0]->read(fromDce.size()); });
    EXPECT_TRUE(far[1]->write(fromDce));
    reader.join();
    EXPECT_TRUE(atDte == fromDce) << atDte.size() << " of " << fromDce.size();
    ASSERT_TRUE(waitUntil([&] { return bytesUnder(link.entries(), " DTE ->> ").size() == fromDce.size(); }));
    EXPECT_LT(bytesUnder(link.entries(), " DCE ->> ").size(), fromDte.size());

    // Once the DCE end reads, the held direction completes in order.
    const Bytes atDce = far[1]->read(fromDte.size(), 10s);
    writer.join();
    EXPECT_TRUE(atDce == fromDte) << atDce.size() << " of " << fromDte.size();
    ASSERT_TRUE(waitForChunkBytes(fromDte.size() + fromDce.size()));
    EXPECT_TRUE(bytesUnder(link.entries(), " DCE ->> ") == std::string(fromDte.begin(), fromDte.end()));
}

}  // namespace
}  // namespace ostrel::engine::testing
