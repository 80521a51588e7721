#pragma once
// Test doubles and helpers for the engine tests: pseudo-terminal far ends,
// a window link that records what the engine shows and posts, a presenter
// that records line starts and chunks, and a fixture that ties them to an
// Engine (with a clock the test moves by hand when asked for).

#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/display_queue.h"
#include "engine/engine.h"
#include "engine/status_text.h"
#include "engine/window_link.h"
#include "platform/port_map.h"
#include "platform/pty_pair.h"
#include "platform/pty_test_support.h"

namespace ostrel::engine::testing {

using Bytes = std::vector<std::uint8_t>;
using platform::test::waitUntil;

inline Bytes randomBytes(std::size_t count, std::uint32_t seed) {
    std::mt19937 generator(seed);
    Bytes bytes(count);
    for (auto& byte : bytes) byte = static_cast<std::uint8_t>(generator());
    return bytes;
}

inline Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

// CPU time the whole process has used, in milliseconds.
inline double processCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// The far end of a port: the master of a pseudo-terminal pair whose slave
// path the engine opens. The pair's own slave fd stays open, so the path
// stays valid between opens.
class FarEnd {
public:
    FarEnd() {
        auto pair = platform::openPtyPair();
        if (!pair) throw std::runtime_error("cannot open a pseudo-terminal: " + pair.error().describe());
        pair_ = std::move(pair).value();
    }
    const std::string& path() const { return pair_.slavePath; }
    // Writes everything, waiting for room; false if it could not within `timeout`.
    bool write(std::span<const std::uint8_t> bytes,
               std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        return platform::test::writeAll(pair_.master.get(), bytes, timeout);
    }
    bool write(std::string_view text) { return write(bytesOf(text)); }
    // Reads until `count` bytes came or `timeout` passed.
    Bytes read(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        return platform::test::readFd(pair_.master.get(), count, timeout);
    }
    // Whatever is readable now, without waiting.
    std::string pending() { return platform::test::pendingText(pair_.master.get()); }
    // Closes the master: the engine's side of the line hangs up.
    void hangUp() { pair_.master.reset(); }

private:
    platform::PtyPair pair_;
};

// One entry of what reached the traffic window, in order.
struct ShownEntry {
    enum Kind { LineStart, Text, Chunk, Status } kind;
    std::string data;  // the text, or the chunk's bytes
    int append = 0;    // which call of appendText brought it (counted from 1)
};

// The test presenter writes its records into the text the pump gives it, so
// they reach the link in the order and in the appends the pump makes them:
// kLineStartCode is a line start, kChunkCode + 4 length bytes + bytes a chunk.
inline constexpr std::string_view kLineStartCode = "\001L";
inline constexpr std::string_view kChunkCode = "\001C";

class TestLink : public WindowLink {
    template <typename F>
    auto locked(F f) const {
        std::lock_guard lock(mutex_);
        return f();
    }

public:
    void attach(Engine* engine) { engine_ = engine; }

    OperatingMode mode() const override { return mode_.load(); }
    DisplayFormat displayFormat() const override { return format_.load(); }
    SendTarget sendTarget() const override { return target_.load(); }
    void setMode(OperatingMode mode) { mode_.store(mode); }
    void setFormat(DisplayFormat format) { format_.store(format); }
    void setTarget(SendTarget target) { target_.store(target); }

    void postDataReady(int side) override {
        locked([&] { dataReady_.push_back(side); });
        if (onDataReady_) {
            onDataReady_(side);
            return;
        }
        if (!deferred_.load() && engine_ != nullptr) engine_->SignalPump();
    }
    // Replaces the link's answer to a data-ready notice (set before opening).
    void setDataReadyHandler(std::function<void(int side)> handler) { onDataReady_ = std::move(handler); }
    void postReceiveExit(const ReceiveExitNotice& notice) override {
        locked([&] { notices_.push_back(notice); });
    }
    void appendText(std::string_view text) override {
        locked([&] {
            ++appends_;
            while (!text.empty()) {
                if (text.starts_with(kLineStartCode)) {
                    recordLocked({ShownEntry::LineStart, {}});
                    text.remove_prefix(kLineStartCode.size());
                } else if (text.starts_with(kChunkCode)) {
                    std::uint32_t length = 0;
                    text.copy(reinterpret_cast<char*>(&length), sizeof length, kChunkCode.size());
                    text.remove_prefix(kChunkCode.size() + sizeof length);
                    recordLocked({ShownEntry::Chunk, std::string(text.substr(0, length))});
                    text.remove_prefix(length);
                } else {
                    // Plain text up to the next code (a stray code byte goes with it).
                    const std::size_t plain = std::min(text.find('\x01', 1), text.size());
                    recordLocked({ShownEntry::Text, std::string(text.substr(0, plain))});
                    text.remove_prefix(plain);
                }
            }
        });
    }
    void appendStatusText(std::string_view text) override {
        locked([&] {
            ++appends_;
            recordLocked({ShownEntry::Status, std::string(text)});
        });
    }

    // While deferred, the pump is held: data-ready notices are counted and
    // the bytes stay in the rings.
    void deferPump(bool defer) {
        deferred_.store(defer);
        if (engine_ != nullptr) engine_->HoldPump(defer);
    }
    void recordLocked(ShownEntry entry) {
        if (entry.kind == ShownEntry::Chunk) chunkBytes_ += entry.data.size();
        entry.append = appends_;
        entries_.push_back(std::move(entry));
    }

    std::vector<ShownEntry> entries() const {
        return locked([&] { return entries_; });
    }
    std::vector<ReceiveExitNotice> exitNotices() const {
        return locked([&] { return notices_; });
    }
    std::vector<int> dataReadySides() const {
        return locked([&] { return dataReady_; });
    }
    std::size_t chunkBytes() const {
        return locked([&] { return chunkBytes_; });
    }
    std::string statusText() const {
        std::string all;
        for (const auto& entry : entries())
            if (entry.kind == ShownEntry::Status) all += entry.data;
        return all;
    }

private:
    Engine* engine_ = nullptr;
    std::function<void(int)> onDataReady_;
    std::atomic<OperatingMode> mode_{kDteEmulation};
    std::atomic<DisplayFormat> format_{kDisplayHex};
    std::atomic<SendTarget> target_{kToDte};
    std::atomic<bool> deferred_{false};
    mutable std::mutex mutex_;
    std::vector<ShownEntry> entries_;
    std::vector<ReceiveExitNotice> notices_;
    std::vector<int> dataReady_;
    std::size_t chunkBytes_ = 0;
    int appends_ = 0;
};

// Writes line starts and chunks, coded for the TestLink, into the text it is
// given; an optional hook gets each chunk on the pump (to make it slow, or to
// pass it on through a DisplayQueue as a front end does).
class TestPresenter : public TrafficPresenter {
public:
    void BeginTrafficLine(TextSink& sink) override { sink.appendText(kLineStartCode); }
    void ShowTraffic(TextSink& sink, const std::uint8_t* bytes, std::int32_t count) override {
        const std::string chunk(reinterpret_cast<const char*>(bytes), count);
        if (hook_) hook_(chunk);
        const auto length = static_cast<std::uint32_t>(chunk.size());
        std::string coded(kChunkCode);
        coded.append(reinterpret_cast<const char*>(&length), sizeof length);
        sink.appendText(coded + chunk);
    }
    void setShowHook(std::function<void(std::string_view chunk)> hook) { hook_ = std::move(hook); }

private:
    std::function<void(std::string_view)> hook_;
};

// A chunk with the marker of the line it belongs to.
struct ShownChunk {
    std::string marker;  // the last marker text before it ("" if none yet)
    bool startsLine = false;
    std::string bytes;
};

inline std::vector<ShownChunk> shownChunks(const std::vector<ShownEntry>& entries) {
    std::vector<ShownChunk> chunks;
    std::string marker;
    bool lineStarted = false;
    for (const auto& entry : entries) {
        if (entry.kind == ShownEntry::LineStart) lineStarted = true;
        if (entry.kind == ShownEntry::Text) marker = entry.data;
        if (entry.kind == ShownEntry::Chunk) {
            chunks.push_back({marker, lineStarted, entry.data});
            lineStarted = false;
        }
    }
    return chunks;
}

// Concatenation of the chunks shown under `marker`.
inline std::string bytesUnder(const std::vector<ShownEntry>& entries, std::string_view marker) {
    std::string all;
    for (const auto& chunk : shownChunks(entries))
        if (chunk.marker == marker) all += chunk.bytes;
    return all;
}

// Two far ends mapped as COM1 and COM2, a link, a presenter and an engine
// with the pump started.
class EngineFixture : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < 2; ++i) {
            far.push_back(std::make_unique<FarEnd>());
            ASSERT_FALSE(ports.addExplicit(i + 1, far.back()->path()).has_value());
        }
        makeEngine(false);
    }
    void TearDown() override {
        display.close();  // releases a pump that a show hook holds at the display's bound
        stopEngine();
    }
    void stopEngine() {
        if (engine) engine->ShutdownEngine();
        engine.reset();
    }
    // Recreates the engine with other options (the clock `fakeNow` when useFakeClock).
    void makeEngine(bool useFakeClock, std::size_t relayQueueLimit = 1u << 20) {
        stopEngine();
        EngineOptions options;
        if (useFakeClock) options.clock = [this] { return fakeNow.load(); };
        options.relayQueueLimit = relayQueueLimit;
        engine = std::make_unique<Engine>(ports, options);
        link.attach(engine.get());
        engine->InitEngine(link, presenter);
        engine->StartPump();
    }

    SessionConfig config(OperatingMode mode, std::uint8_t dtePort = 1, std::uint8_t dcePort = 2) const {
        SessionConfig config;
        config.mode = mode;
        config.dte = PortSettings{kDteSide, dtePort, 115200, 8, kNoParity, kOneStopBit, kFlowNone};
        config.dce = PortSettings{kDceSide, dcePort, 115200, 8, kNoParity, kOneStopBit, kFlowNone};
        return config;
    }
    std::int32_t open(OperatingMode mode) { return engine->OpenSession(config(mode)); }
    bool waitForChunkBytes(std::size_t count) {
        return waitUntil([&] { return link.chunkBytes() >= count; });
    }

    std::vector<std::unique_ptr<FarEnd>> far;  // far[0] is COM1, far[1] COM2
    platform::PortMap ports;
    std::atomic<std::int64_t> fakeNow{1000};
    DisplayQueue display;  // for a show hook that plays a front end
    TestLink link;
    TestPresenter presenter;
    std::unique_ptr<Engine> engine;
};

}  // namespace ostrel::engine::testing
