// Intercede relaying: both directions at once byte-exact, a large relay that
// does not wait for a slow display, and a blocked destination that holds back
// only its own direction.

#include <gtest/gtest.h>
#include <time.h>

#include <thread>

#include "engine/display_queue.h"
#include "engine/engine.h"
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

// A window link whose text goes through a DisplayQueue, as the front ends'
// does; the test plays the UI thread that takes the text.
class QueueLink : public WindowLink {
public:
    explicit QueueLink(DisplayQueue& queue) : queue_(queue) {}
    void attach(Engine* engine) { engine_ = engine; }
    OperatingMode mode() const override { return kIntercede; }
    DisplayFormat displayFormat() const override { return kDisplayAscii; }
    SendTarget sendTarget() const override { return kToDte; }
    void postDataReady(int) override { engine_->SignalPump(); }
    void postReceiveExit(const ReceiveExitNotice&) override {}
    void appendText(std::string_view text) override { queue_.append(text); }
    void appendStatusText(std::string_view text) override { queue_.appendUnbounded(text); }

private:
    DisplayQueue& queue_;
    Engine* engine_ = nullptr;
};

// Shows each chunk as its raw bytes, and a line start as "\r\n".
class RawPresenter : public TrafficPresenter {
public:
    void BeginTrafficLine(TextSink& sink) override {
        lines.fetch_add(1);
        sink.appendText("\r\n");
    }
    void ShowTraffic(TextSink& sink, const std::uint8_t* bytes, std::int32_t count) override {
        sink.appendText({reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(count)});
    }
    std::atomic<std::size_t> lines{0};
};

// Text length that `bytes` shown on `lines` lines make (line start + marker).
std::size_t shownLength(std::size_t bytes, std::size_t lines) {
    return bytes + lines * (2 + 9);
}

struct QueuedEngine {
    explicit QueuedEngine(const platform::PortMap& ports, std::size_t bound) : queue(bound), link(queue) {
        engine = std::make_unique<Engine>(ports);
        link.attach(engine.get());
        engine->InitEngine(link, presenter);
        engine->StartPump();
    }
    ~QueuedEngine() {
        queue.close();  // releases a pump held by the bound before the join
        engine->ShutdownEngine();
    }
    DisplayQueue queue;
    QueueLink link;
    RawPresenter presenter;
    std::unique_ptr<Engine> engine;
};

TEST_F(Relay, TenMiBAreRelayedWhileTheDisplayTakesNothing) {
    QueuedEngine session(ports, kDisplayBacklogBound);
    SessionConfig cfg = config(kIntercede);
    ASSERT_EQ(session.engine->OpenSession(cfg), kStatusOk);
    constexpr std::size_t kSize = 10u << 20;
    const Bytes data = randomBytes(kSize, 5);
    const auto start = std::chrono::steady_clock::now();
    std::thread writer([&] { EXPECT_TRUE(far[0]->write(data, 30s)); });
    const Bytes arrived = far[1]->read(kSize, 30s);
    writer.join();
    RecordProperty("relay_ms", static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                    std::chrono::steady_clock::now() - start)
                                                    .count()));
    EXPECT_TRUE(arrived == data) << arrived.size() << " of " << kSize << " bytes relayed";
    // The UI thread has taken nothing yet, and all the text is waiting, in order.
    ASSERT_TRUE(
        waitUntil([&] { return session.queue.backlog() >= shownLength(kSize, session.presenter.lines); }));
    const std::string text = session.queue.take();
    EXPECT_EQ(text.size(), shownLength(kSize, session.presenter.lines));
    EXPECT_EQ(text.compare(0, 2 + 9, "\r\n DCE ->> "), 0);
}

TEST_F(Relay, ASlowDisplayPastItsBoundSlowsTheRelayButLosesNothing) {
    QueuedEngine session(ports, 64 * 1024);
    ASSERT_EQ(session.engine->OpenSession(config(kIntercede)), kStatusOk);
    constexpr std::size_t kSize = 1u << 20;
    const Bytes data = randomBytes(kSize, 9);
    std::atomic<bool> stopUi{false};
    std::string shown;
    std::thread ui([&] {  // takes 8 KiB per millisecond at most
        while (!stopUi.load()) {
            shown += session.queue.take(8192);
            std::this_thread::sleep_for(1ms);
        }
    });
    std::thread writer([&] { EXPECT_TRUE(far[0]->write(data, 30s)); });
    const Bytes arrived = far[1]->read(kSize, 30s);
    writer.join();
    EXPECT_TRUE(arrived == data) << arrived.size() << " of " << kSize << " bytes relayed";
    ASSERT_TRUE(waitUntil([&] { return session.queue.backlog() == 0 && session.presenter.lines > 0; }));
    stopUi.store(true);
    ui.join();
    shown += session.queue.take();
    EXPECT_EQ(shown.size(), shownLength(kSize, session.presenter.lines));
}

double processCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

TEST_F(Relay, AFullDestinationHoldsBackOnlyItsOwnDirection) {
    constexpr std::size_t kLimit = 64 * 1024;
    makeEngine(false, kLimit);
    link.setMode(kIntercede);
    ASSERT_EQ(open(kIntercede), kStatusOk);

    // The DCE far end reads nothing for now: the relay towards it backs up.
    const Bytes fromDte = randomBytes(512 * 1024, 31);
    std::thread writer([&] { EXPECT_TRUE(far[0]->write(fromDte, 20s)); });
    const auto& towardsDce = engine->channel(kDceSide).transmitter;
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
    RecordProperty("cpu_us_in_200ms_while_held", static_cast<int>(used * 1000));
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

TEST_F(Relay, ShutdownWhileARelayIsHeldReturnsPromptly) {
    makeEngine(false, 64 * 1024);
    link.setMode(kIntercede);
    ASSERT_EQ(open(kIntercede), kStatusOk);
    // The DCE far end never reads: its transmitter waits for room that never comes.
    const Bytes fromDte = randomBytes(256 * 1024, 41);
    std::thread writer([&] { far[0]->write(fromDte, 2s); });
    const auto& towardsDce = engine->channel(kDceSide).transmitter;
    ASSERT_TRUE(towardsDce);
    const bool backedUp = waitUntil([&] { return towardsDce->queued() >= 32 * 1024; });
    const auto start = std::chrono::steady_clock::now();
    engine->ShutdownEngine();
    const auto took = std::chrono::steady_clock::now() - start;
    writer.join();
    ASSERT_TRUE(backedUp);
    EXPECT_LT(took, 1000ms);
    EXPECT_FALSE(engine->channel(kDceSide).transmitter);
    EXPECT_EQ(link.exitNotices().size(), 2u);
}

}  // namespace
}  // namespace ostrel::engine::testing
