#pragma once
// Test doubles and helpers for the engine tests: pseudo-terminal far ends,
// a window link that records what the engine shows and posts, a presenter
// that records line starts and chunks, a clock the test moves by hand, and
// a fixture that ties them to an Engine.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine.h"
#include "engine/status_text.h"
#include "engine/window_link.h"
#include "platform/port_map.h"
#include "platform/pty_pair.h"

namespace ostrel::engine::testing {

using Bytes = std::vector<std::uint8_t>;

// Polls `condition` every 2 ms until it holds or `timeout` passes.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

Bytes randomBytes(std::size_t count, std::uint32_t seed);
Bytes bytesOf(std::string_view text);

// The far end of a port: the master of a pseudo-terminal pair whose slave
// path the engine opens. The pair's own slave fd stays open, so the path
// stays valid between opens.
class FarEnd {
public:
    FarEnd();
    const std::string& path() const { return pair_.slavePath; }
    // Writes everything, waiting for room; false if it could not within `timeout`.
    bool write(std::span<const std::uint8_t> bytes,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
    bool write(std::string_view text) { return write(bytesOf(text)); }
    // Reads until `count` bytes came or `timeout` passed.
    Bytes read(std::size_t count, std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
    // Whatever is readable now, without waiting.
    Bytes readAvailable();
    // Closes the master: the engine's side of the line hangs up.
    void hangUp() { pair_.master.reset(); }
    int masterFd() const { return pair_.master.get(); }

private:
    platform::PtyPair pair_;
};

// One entry of what reached the traffic window, in order.
struct ShownEntry {
    enum Kind { LineStart, Text, Chunk, Status } kind;
    std::string data;  // the text, or the chunk's bytes
};

class TestLink : public WindowLink {
public:
    void attach(Engine* engine) { engine_ = engine; }

    OperatingMode mode() const override { return mode_.load(); }
    DisplayFormat displayFormat() const override { return format_.load(); }
    SendTarget sendTarget() const override { return target_.load(); }
    void setMode(OperatingMode mode) { mode_.store(mode); }
    void setFormat(DisplayFormat format) { format_.store(format); }
    void setTarget(SendTarget target) { target_.store(target); }

    void postDataReady(int side) override;
    void postReceiveExit(const ReceiveExitNotice& notice) override;
    void appendText(std::string_view text) override;
    void appendStatusText(std::string_view text) override;

    // While deferred, data-ready notices are counted but do not wake the pump.
    void deferPump(bool defer);
    void record(ShownEntry entry);

    std::vector<ShownEntry> entries() const;
    std::vector<ReceiveExitNotice> exitNotices() const;
    std::vector<int> dataReadySides() const;
    std::string statusText() const;
    std::size_t chunkBytes() const;
    std::size_t chunkCount() const;

private:
    Engine* engine_ = nullptr;
    std::atomic<OperatingMode> mode_{kDteEmulation};
    std::atomic<DisplayFormat> format_{kDisplayHex};
    std::atomic<SendTarget> target_{kToDte};
    std::atomic<bool> deferred_{false};
    mutable std::mutex mutex_;
    std::vector<ShownEntry> entries_;
    std::vector<ReceiveExitNotice> notices_;
    std::vector<int> dataReady_;
    std::size_t chunkBytes_ = 0;
    std::size_t chunkCount_ = 0;
};

// Records line starts and chunks into the TestLink it was made for; an
// optional hook runs on the pump at each ShowTraffic (to make it slow).
class TestPresenter : public TrafficPresenter {
public:
    explicit TestPresenter(TestLink& link) : link_(link) {}
    void BeginTrafficLine(TextSink& sink) override;
    void ShowTraffic(TextSink& sink, const std::uint8_t* bytes, std::int32_t count) override;
    void setShowHook(std::function<void()> hook) { hook_ = std::move(hook); }

private:
    TestLink& link_;
    std::function<void()> hook_;
};

class FakeClock {
public:
    explicit FakeClock(std::int64_t start = 1000) : now_(start) {}
    void advance(std::int64_t ms) { now_.fetch_add(ms); }
    std::int64_t now() const { return now_.load(); }
    platform::MillisClock function() {
        return [this] { return now_.load(); };
    }

private:
    std::atomic<std::int64_t> now_;
};

// A chunk with the marker of the line it belongs to.
struct ShownChunk {
    std::string marker;  // the last marker text before it ("" if none yet)
    bool startsLine = false;
    std::string bytes;
};
std::vector<ShownChunk> shownChunks(const std::vector<ShownEntry>& entries);
// Concatenation of the chunks shown under `marker`.
std::string bytesUnder(const std::vector<ShownEntry>& entries, std::string_view marker);

// Two far ends mapped as COM1 and COM2, a link, a presenter and an engine
// with the pump started.
class EngineFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Recreates the engine with other options (the clock of `fakeClock` when useFakeClock).
    void makeEngine(bool useFakeClock, std::size_t relayQueueLimit = 1u << 20);

    SessionConfig config(OperatingMode mode, std::uint8_t dtePort = 1, std::uint8_t dcePort = 2) const;
    std::int32_t open(OperatingMode mode) { return engine->OpenSession(config(mode)); }
    bool waitForChunkBytes(std::size_t count);

    std::vector<std::unique_ptr<FarEnd>> far;  // far[0] is COM1, far[1] COM2
    platform::PortMap ports;
    FakeClock fakeClock;
    TestLink link;
    TestPresenter presenter{link};
    std::unique_ptr<Engine> engine;
};

}  // namespace ostrel::engine::testing
