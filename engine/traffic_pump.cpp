// The traffic pump: takes received bytes from both rings in chunks, decides
// where display lines begin, relays in Intercede and hands each chunk to the
// presenter. Also the two write operations and the pump's wake-up.

#include <array>
#include <new>

#include "engine/engine.h"
#include "engine/status_text.h"
#include "engine/string_sink.h"

namespace ostrel::engine {

namespace {

std::string_view directionMarker(OperatingMode mode, int side) {
    if (mode == kFullDuplex) return side == kDteSide ? text::kFromDteMarker : text::kFromDceMarker;
    return side == kDteSide ? text::kFromDceMarker : text::kFromDteMarker;
}

}  // namespace

void Engine::StartPump() {
    if (pump_.joinable()) return;
    pump_ = std::jthread([this](std::stop_token stop) { TrafficPump(stop); });
}

void Engine::SignalPump() {
    pumpEvent_.set();
}

void Engine::HoldPump(bool hold) {
    pumpHeld_.store(hold);
    if (!hold) SignalPump();
}

void Engine::TrafficPump(std::stop_token stop) {
    int current = kDteSide;
    std::array<std::uint8_t, kChunkSize> chunk;
    std::array<std::int64_t, 2> lastTake{};  // per side: when the pump last took from its ring
    const auto anyWork = [this] {
        return takeable(kDteSide) || takeable(kDceSide) || hangUpDue(kDteSide) || hangUpDue(kDceSide);
    };
    while (!stop.stop_requested()) {
        pumpEvent_.wait(stop);
        if (stop.stop_requested()) break;
        while (!stop.stop_requested()) {
            if (!anyWork()) {
                // The event is reset before the final look at both rings, so a
                // signal that comes after this look wakes the pump again.
                pumpEvent_.reset();
                if (!anyWork()) break;
            }
            try {
                // CloseAllPorts waits on this lock for a chunk in flight.
                std::lock_guard busy(chunkMutex_);
                if (takeable(current)) takeChunk(current, lastTake[current], chunk);
                if (hangUpDue(current)) finishHangUp(current);
            } catch (const std::bad_alloc&) {
                // The notice names a thread of the session, from either side.
                std::uint64_t threadId = channels_[current].receiveThreadId.load();
                if (threadId == 0) threadId = channels_[1 - current].receiveThreadId.load();
                SessionOutOfMemory(current, threadId);
            }
            // With both channels open the sides alternate after every pass,
            // so one busy side cannot hold the other back.
            const int other = 1 - current;
            if (channels_[other].open.load()) current = other;
        }
    }
}

bool Engine::takeable(int side) const {
    const PortChannel& channel = channels_[side];
    return !pumpHeld_.load() && !outOfMemory_.load() && channel.open.load() && !RingEmpty(channel.ring) &&
           !relayBlocked(side);
}

bool Engine::hangUpDue(int side) const {
    const PortChannel& channel = channels_[side];
    return channel.hungUpThread.load() != 0 && channel.open.load() && RingEmpty(channel.ring);
}

void Engine::finishHangUp(int side) {
    PortChannel& channel = channels_[side];
    // Under the channel's lock: a close that comes first clears hungUpThread,
    // and one that comes after finds the disconnect line already in place.
    // Both calls below never wait.
    std::lock_guard lock(channel.mutex);
    if (!channel.open.load() || !RingEmpty(channel.ring)) return;
    const std::uint64_t threadId = channel.hungUpThread.exchange(0);
    if (threadId == 0) return;
    link_->appendStatusText(text::disconnected(channel.portNumber));
    channel.owner->postReceiveExit(ReceiveExitNotice{threadId, side, channel.portNumber, true});
}

void Engine::SessionOutOfMemory(int side, std::uint64_t threadId) noexcept {
    // Once per session: the pump stops taking, the line is shown and the
    // window is asked to close the session. Each step may fail again for want
    // of memory; what cannot be done is skipped, and nothing is thrown.
    if (outOfMemory_.exchange(true)) return;
    const PortChannel& channel = channels_[side];
    try {
        link_->appendStatusText(text::kOutOfMemory);
    } catch (const std::bad_alloc&) {
    }
    try {
        if (channel.owner != nullptr)
            channel.owner->postReceiveExit(
                ReceiveExitNotice{threadId, side, channel.portNumber, false, true});
    } catch (const std::bad_alloc&) {
    }
}

bool Engine::relayBlocked(int fromSide) const {
    if (relayQueueLimit_ == 0 || closing_.load() || link_->mode() != kIntercede) return false;
    const PortChannel& destination = channels_[1 - fromSide];
    // The lock keeps the transmitter from going away while it is looked at.
    std::lock_guard lock(destination.mutex);
    return destination.transmitter && !destination.transmitter->failed() &&
           destination.transmitter->queued() >= relayQueueLimit_;
}

void Engine::takeChunk(int side, std::int64_t& last, std::span<std::uint8_t, kChunkSize> chunk) {
    PortChannel& channel = channels_[side];
    PortChannel& other = channels_[1 - side];

    const std::int64_t now = clock_();
    bool newLine = false;
    if (now - last > kLineGapMs) {
        newLine = true;
        other.outputFlag.store(false);
    } else if (other.outputFlag.exchange(false)) {
        newLine = true;
    }

    std::uint32_t count = 0;
    {
        std::lock_guard lock(channel.mutex);
        if (channel.open.load()) count = RingTakeChunk(channel.ring, chunk.data(), kChunkSize);
        // A receive thread that found the ring full waits for this wake-up.
        if (count > 0 && channel.wantsRoom.exchange(false) && channel.wake) channel.wake->signal();
    }
    if (count > 0) channel.outputFlag.store(true);
    last = clock_();
    if (count == 0) return;

    const OperatingMode mode = link_->mode();
    // Relay first: the far port never waits for the display.
    if (mode == kIntercede) WritePort(1 - side, {chunk.data(), count});
    // The line start, the marker and the chunk's text go to the window as one
    // append, so that a status line from a receive thread cannot split them.
    StringSink& text = chunkText_;
    text.clear();
    if (newLine && link_->displayFormat() != kDisplayOff) {
        presenter_->BeginTrafficLine(text);
        text.appendText(directionMarker(mode, side));
    }
    presenter_->ShowTraffic(text, chunk.data(), static_cast<std::int32_t>(count));
    if (!text.empty()) link_->appendText(text.text());
}

bool Engine::WritePort(int side, std::span<const std::uint8_t> bytes) {
    if (side != kDteSide && side != kDceSide) return false;
    PortChannel& channel = channels_[side];
    std::lock_guard lock(channel.mutex);
    if (!channel.open.load() || !channel.transmitter) return false;
    if (!channel.transmitter->enqueue(bytes)) return false;
    channel.enqueued += bytes.size();
    return true;
}

std::size_t Engine::QueuedBytes(int side) const {
    if (side != kDteSide && side != kDceSide) return 0;
    const PortChannel& channel = channels_[side];
    std::lock_guard lock(channel.mutex);
    return channel.transmitter ? channel.transmitter->queued() : 0;
}

std::int32_t Engine::WriteToSide(std::span<const std::uint8_t> bytes, std::string* failure) {
    if (!ready_.load()) return 0;
    const int side = link_->sendTarget() == kToDce ? kDceSide : kDteSide;
    if (!WritePort(side, bytes) && failure != nullptr) *failure = describeWriteFailure(side);
    return static_cast<std::int32_t>(bytes.size());
}

std::string Engine::describeWriteFailure(int side) {
    PortChannel& channel = channels_[side];
    std::lock_guard lock(channel.mutex);
    const std::string name = platform::comName(channel.portNumber);
    if (channel.open.load() && channel.transmitter && channel.transmitter->failed())
        return name + " refused the data";
    if (channel.portNumber > 0) return name + " is not open";
    return side == kDteSide ? "the DTE side is not open" : "the DCE side is not open";
}

void Engine::SetOutputFlags() {
    channels_[kDteSide].outputFlag.store(true);
    channels_[kDceSide].outputFlag.store(true);
}

}  // namespace ostrel::engine
