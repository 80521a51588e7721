#include "engine_test_support.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <stdexcept>
#include <thread>

#include "engine/status_text.h"

namespace ostrel::engine::testing {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() >= deadline) return condition();
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

Bytes randomBytes(std::size_t count, std::uint32_t seed) {
    std::mt19937 generator(seed);
    Bytes bytes(count);
    for (auto& byte : bytes) byte = static_cast<std::uint8_t>(generator());
    return bytes;
}

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

FarEnd::FarEnd() {
    auto pair = platform::openPtyPair();
    if (!pair) throw std::runtime_error("cannot open a pseudo-terminal: " + pair.error().describe());
    pair_ = std::move(pair).value();
}

bool FarEnd::write(std::span<const std::uint8_t> bytes, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(pair_.master.get(), bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        if (Clock::now() >= deadline) return false;
        pollfd pfd{pair_.master.get(), POLLOUT, 0};
        ::poll(&pfd, 1, 10);
    }
    return true;
}

Bytes FarEnd::read(std::size_t count, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    Bytes out;
    std::uint8_t buffer[4096];
    while (out.size() < count && Clock::now() < deadline) {
        const ssize_t n = ::read(pair_.master.get(), buffer, std::min(sizeof buffer, count - out.size()));
        if (n > 0) {
            out.insert(out.end(), buffer, buffer + n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) break;
        pollfd pfd{pair_.master.get(), POLLIN, 0};
        ::poll(&pfd, 1, 10);
    }
    return out;
}

Bytes FarEnd::readAvailable() {
    Bytes out;
    std::uint8_t buffer[4096];
    for (;;) {
        const ssize_t n = ::read(pair_.master.get(), buffer, sizeof buffer);
        if (n <= 0) break;
        out.insert(out.end(), buffer, buffer + n);
    }
    return out;
}

void TestLink::postDataReady(int side) {
    {
        std::lock_guard lock(mutex_);
        dataReady_.push_back(side);
    }
    if (!deferred_.load() && engine_ != nullptr) engine_->SignalPump();
}

void TestLink::deferPump(bool defer) {
    deferred_.store(defer);
    if (!defer && engine_ != nullptr) engine_->SignalPump();
}

void TestLink::postReceiveExit(const ReceiveExitNotice& notice) {
    std::lock_guard lock(mutex_);
    notices_.push_back(notice);
}

void TestLink::appendText(std::string_view text) {
    record({ShownEntry::Text, std::string(text)});
}

void TestLink::appendStatusText(std::string_view text) {
    record({ShownEntry::Status, std::string(text)});
}

void TestLink::record(ShownEntry entry) {
    std::lock_guard lock(mutex_);
    if (entry.kind == ShownEntry::Chunk) {
        chunkBytes_ += entry.data.size();
        ++chunkCount_;
    }
    entries_.push_back(std::move(entry));
}

std::vector<ShownEntry> TestLink::entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

std::vector<ReceiveExitNotice> TestLink::exitNotices() const {
    std::lock_guard lock(mutex_);
    return notices_;
}

std::vector<int> TestLink::dataReadySides() const {
    std::lock_guard lock(mutex_);
    return dataReady_;
}

std::string TestLink::statusText() const {
    std::lock_guard lock(mutex_);
    std::string all;
    for (const auto& entry : entries_)
        if (entry.kind == ShownEntry::Status) all += entry.data;
    return all;
}

std::size_t TestLink::chunkBytes() const {
    std::lock_guard lock(mutex_);
    return chunkBytes_;
}

std::size_t TestLink::chunkCount() const {
    std::lock_guard lock(mutex_);
    return chunkCount_;
}

void TestPresenter::BeginTrafficLine(TextSink&) {
    link_.record({ShownEntry::LineStart, {}});
}

void TestPresenter::ShowTraffic(TextSink&, const std::uint8_t* bytes, std::int32_t count) {
    if (hook_) hook_();
    link_.record({ShownEntry::Chunk, std::string(reinterpret_cast<const char*>(bytes), count)});
}

std::vector<ShownChunk> shownChunks(const std::vector<ShownEntry>& entries) {
    std::vector<ShownChunk> chunks;
    std::string marker;
    bool lineStarted = false;
    for (const auto& entry : entries) {
        switch (entry.kind) {
            case ShownEntry::LineStart:
                lineStarted = true;
                break;
            case ShownEntry::Text:
                marker = entry.data;
                break;
            case ShownEntry::Chunk:
                chunks.push_back({marker, lineStarted, entry.data});
                lineStarted = false;
                break;
            case ShownEntry::Status:
                break;
        }
    }
    return chunks;
}

std::string bytesUnder(const std::vector<ShownEntry>& entries, std::string_view marker) {
    std::string all;
    for (const auto& chunk : shownChunks(entries))
        if (chunk.marker == marker) all += chunk.bytes;
    return all;
}

void EngineFixture::SetUp() {
    for (int i = 0; i < 2; ++i) {
        far.push_back(std::make_unique<FarEnd>());
        ASSERT_FALSE(ports.addExplicit(i + 1, far.back()->path()).has_value());
    }
    makeEngine(false);
}

void EngineFixture::TearDown() {
    if (engine) engine->ShutdownEngine();
    engine.reset();
}

void EngineFixture::makeEngine(bool useFakeClock, std::size_t relayQueueLimit) {
    if (engine) engine->ShutdownEngine();
    engine.reset();
    EngineOptions options;
    if (useFakeClock) options.clock = fakeClock.function();
    options.relayQueueLimit = relayQueueLimit;
    engine = std::make_unique<Engine>(ports, options);
    link.attach(engine.get());
    engine->InitEngine(link, presenter);
    engine->StartPump();
}

SessionConfig EngineFixture::config(OperatingMode mode, std::uint8_t dtePort, std::uint8_t dcePort) const {
    SessionConfig config;
    config.mode = mode;
    config.dte = PortSettings{kDteSide, dtePort, 115200, 8, kNoParity, kOneStopBit, kFlowNone};
    config.dce = PortSettings{kDceSide, dcePort, 115200, 8, kNoParity, kOneStopBit, kFlowNone};
    return config;
}

bool EngineFixture::waitForChunkBytes(std::size_t count) {
    return waitUntil([&] { return link.chunkBytes() >= count; });
}

}  // namespace ostrel::engine::testing
