// Session configuration and port channels: making the engine ready, opening
// the sides an operating mode needs, and closing them again.

#include "engine/engine.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "engine/status_text.h"
#include "platform/line_settings.h"

namespace ostrel::engine {

namespace {

constexpr std::size_t kTransmitLowWaterCap = 64 * 1024;

bool holdsAnything(const PortChannel& channel) {
    return channel.open.load() || channel.port.has_value() || channel.receiveThread.joinable() ||
           channel.transmitter != nullptr || channel.wake != nullptr;
}

}  // namespace

Engine::Engine(const platform::PortMap& ports, EngineOptions options)
    : ports_(ports),
      clock_(options.clock ? std::move(options.clock) : platform::steadyClock()),
      relayQueueLimit_(options.relayQueueLimit),
      closeDrainMs_(options.closeDrainMs) {
    channels_[kDteSide].side = kDteSide;
    channels_[kDceSide].side = kDceSide;
}

Engine::~Engine() {
    ShutdownEngine();
}

void Engine::InitEngine(WindowLink& link, TrafficPresenter& presenter) {
    link_ = &link;
    presenter_ = &presenter;
    for (int side : {kDteSide, kDceSide}) {
        if (holdsAnything(channels_[side])) ClosePort(channels_[side]);
        channels_[side].owner = nullptr;
    }
    ready_.store(true);
}

void Engine::ShutdownEngine() {
    for (int side : {kDteSide, kDceSide}) {
        PortChannel& channel = channels_[side];
        channel.open.store(false);
        if (holdsAnything(channel)) ClosePort(channel);
    }
    if (pump_.joinable()) {
        pump_.request_stop();
        pumpEvent_.set();
        pump_.join();
    }
    pumpEvent_.reset();
    ready_.store(false);
}

std::int32_t Engine::OpenSession(const SessionConfig& config) {
    if (!ready_.load()) return kStatusNotReady;
    if (static_cast<std::uint32_t>(config.mode) > static_cast<std::uint32_t>(kFullDuplex))
        return kStatusFailed;
    openNotes_.clear();
    openErrors_.clear();
    outOfMemory_.store(false);

    // The sides the mode uses, DTE first; with two, the DCE side is opened
    // whatever the DTE side gave. A side without a port is skipped.
    bool anyOpened = false;
    std::int32_t result = kStatusOk;
    for (const int side : {kDteSide, kDceSide}) {
        const PortSettings& settings = side == kDteSide ? config.dte : config.dce;
        if (!ModeUsesSide(config.mode, side) || settings.side == kNoSide) continue;
        anyOpened = true;
        if (openSide(side, settings) != kStatusOk) result = kStatusFailed;
    }
    return anyOpened ? result : kStatusFailed;
}

std::int32_t Engine::openSide(int side, const PortSettings& settings) {
    PortChannel& channel = channels_[side];
    // A side opened again without a close in between: end its previous open
    // first, so that no thread of the old open serves the new one.
    if (holdsAnything(channel)) ClosePort(channel);
    channel.open.store(true);
    return OpenPort(channel, link_, settings);
}

std::int32_t Engine::CloseAllPorts() {
    takeWhatWasRead();
    std::array<bool, 2> closing{};
    for (int side : {kDteSide, kDceSide}) {
        PortChannel& channel = channels_[side];
        std::lock_guard lock(channel.mutex);
        // From here on the pump takes nothing more and no relay is queued.
        closing[side] = channel.open.exchange(false) || holdsAnything(channel);
    }
    // The chunk the pump may hold (taken before the flag went down) is shown
    // before anything the caller appends; its append must not wait for the UI
    // thread meanwhile.
    if (link_) link_->setAppendsUnbounded(true);
    { std::lock_guard pumpDone(chunkMutex_); }
    if (link_) link_->setAppendsUnbounded(false);

    drainTransmitters(closing);
    std::array<std::uint64_t, 2> undelivered{};
    for (int side : {kDteSide, kDceSide})
        if (closing[side]) undelivered[side] = ClosePort(channels_[side]);
    for (int side : {kDteSide, kDceSide})
        if (undelivered[side] > 0 && link_)
            link_->appendStatusText(text::notDelivered(channels_[side].portNumber, undelivered[side]));
    closing_.store(false);
    return kStatusOk;
}

void Engine::takeWhatWasRead() {
    // The receive threads stop reading first (what the kernel still holds
    // never reached us); the bytes they stored are then shown and relayed by
    // the pump as usual, rather than dropped with the ring.
    for (int side : {kDteSide, kDceSide}) {
        PortChannel& channel = channels_[side];
        if (!channel.open.load() || !channel.receiveThread.joinable()) continue;
        channel.receiveThread.request_stop();
        if (channel.wake) channel.wake->signal();
        channel.receiveThread.join();
    }
    // A relay held back by a far end that takes nothing holds back no more:
    // what was read is shown, and what the far end does not take is counted
    // as not delivered when its port closes. Nothing is waited for while the
    // pump cannot take (held, out of memory).
    closing_.store(true);
    const auto pending = [&](int side) {
        const PortChannel& channel = channels_[side];
        return channel.open.load() && !RingEmpty(channel.ring) && !pumpHeld_.load() && !outOfMemory_.load();
    };
    if (!pending(kDteSide) && !pending(kDceSide)) return;
    // The pump's appends must not wait for this (the UI) thread meanwhile.
    if (link_) link_->setAppendsUnbounded(true);
    SignalPump();
    // The wait ends when the pump has made no progress for closeDrainMs: a
    // full ring takes a slow pump longer than that, and is still shown whole.
    const auto room = [&] {
        return static_cast<std::uint64_t>(RingFreeRoom(channels_[kDteSide].ring)) +
               RingFreeRoom(channels_[kDceSide].ring);
    };
    std::uint64_t lastRoom = room();
    std::int64_t deadline = clock_() + closeDrainMs_;
    while ((pending(kDteSide) || pending(kDceSide)) && clock_() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (const std::uint64_t now = room(); now > lastRoom) {
            lastRoom = now;
            deadline = clock_() + closeDrainMs_;
        }
    }
    if (link_) link_->setAppendsUnbounded(false);
}

void Engine::drainTransmitters(const std::array<bool, 2>& closing) {
    const auto pending = [&](int side) {
        const PortChannel& channel = channels_[side];
        // No drain towards a far end that hung up: nobody takes those bytes.
        return closing[side] && !channel.farHungUp.load() && channel.transmitter &&
               !channel.transmitter->failed() && channel.transmitter->queued() > 0;
    };
    const std::int64_t deadline = clock_() + closeDrainMs_;
    while ((pending(kDteSide) || pending(kDceSide)) && clock_() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

std::int32_t Engine::OpenPort(PortChannel& channel, WindowLink* owner, const PortSettings& settings) {
    {
        std::lock_guard lock(channel.mutex);
        channel.owner = owner;
        RingReset(channel.ring, kRingCapacity);
        channel.wantsRoom.store(false);
        channel.hungUpThread.store(0);
        channel.farHungUp.store(false);
        channel.enqueued = 0;
    }
    channel.outputFlag.store(true);
    const std::uint8_t port = settings.portNumber;
    const int number = (port == 0 || port > platform::kMaxComNumber) ? 1 : port;
    channel.portNumber = number;

    auto opened = ports_.open(number);
    if (!opened) {
        openErrors_.push_back(platform::comName(number) + ": " + opened.error().describe());
        return kStatusFailed;  // the channel stays Failed: open flag set, no port
    }
    platform::TtyPort tty = std::move(opened).value();
    const platform::LineSettings line{settings.baudRate, settings.dataBits, settings.parity,
                                      settings.stopBits, settings.flowControl};
    for (const std::string& note : tty.configure(line)) openNotes_.push_back(text::settingNote(number, note));
    // Discards what arrived before the configuration and takes the error
    // counters' baseline, so an error flagged before the first wait is not reported.
    tty.purge();

    try {
        auto wake = std::make_unique<platform::WakeFd>();
        const std::size_t lowWater =
            relayQueueLimit_ == 0 ? kTransmitLowWaterCap
                                  : std::clamp<std::size_t>(relayQueueLimit_ / 2, 1, kTransmitLowWaterCap);
        // The low-water call wakes the pump when a relay held back by a full
        // transmit queue may go on.
        auto transmitter =
            std::make_unique<platform::Transmitter>(tty.fd(), lowWater, [this] { SignalPump(); });
        const std::uint64_t threadId = nextThreadId_.fetch_add(1);
        std::lock_guard lock(channel.mutex);
        channel.port.emplace(std::move(tty));
        channel.wake = std::move(wake);
        channel.transmitter = std::move(transmitter);
        channel.receiveThreadId.store(threadId);
        channel.receiveThread = std::jthread([this, &channel, threadId](std::stop_token stop) {
            try {
                ReceiveThread(stop, channel, threadId);
            } catch (const std::bad_alloc&) {
                SessionOutOfMemory(channel.side, threadId);
            }
        });
    } catch (const std::system_error& error) {
        openErrors_.push_back(platform::comName(number) + ": " + error.what());
        ClosePort(channel);
        channel.open.store(true);  // Failed, as for a port that did not open
        return kStatusFailed;
    }
    return kStatusOk;
}

std::uint64_t Engine::ClosePort(PortChannel& channel) {
    // The receive thread takes no lock and never waits for the UI thread, so
    // joining it here while holding the channel's lock cannot deadlock; the
    // lock keeps the pump's relay and take away from the half-closed channel.
    std::lock_guard lock(channel.mutex);
    channel.open.store(false);
    if (channel.receiveThread.joinable()) {
        channel.receiveThread.request_stop();
        if (channel.wake) channel.wake->signal();
        channel.receiveThread.join();
    }
    std::uint64_t undelivered = 0;
    if (channel.transmitter) {
        channel.transmitter->stop();  // unsent bytes are discarded
        undelivered = channel.enqueued - channel.transmitter->written();
        channel.transmitter.reset();
    }
    channel.enqueued = 0;
    channel.hungUpThread.store(0);
    if (channel.port) {
        channel.port->purge();
        channel.port.reset();
    }
    channel.wake.reset();
    channel.receiveThreadId.store(0);
    channel.wantsRoom.store(false);
    // Bytes not yet shown are discarded; no thread can store into the ring now.
    RingReset(channel.ring, kRingCapacity);
    return undelivered;
}

bool Engine::IsCurrentReceiveThread(std::uint64_t threadId) const {
    if (threadId == 0) return false;
    return std::any_of(channels_.begin(), channels_.end(), [threadId](const PortChannel& channel) {
        return channel.open.load() && channel.receiveThreadId.load() == threadId;
    });
}

bool Engine::isOpen(int side) const {
    if (side != kDteSide && side != kDceSide) return false;
    return channels_[side].open.load();
}

std::uint64_t Engine::receiveThreadId(int side) const {
    if (side != kDteSide && side != kDceSide) return 0;
    return channels_[side].receiveThreadId.load();
}

int Engine::portNumber(int side) const {
    if (side != kDteSide && side != kDceSide) return 0;
    return channels_[side].portNumber;
}

Engine::SideReading Engine::readSide(int side) const {
    SideReading reading;
    if (side != kDteSide && side != kDceSide) return reading;
    const PortChannel& channel = channels_[side];
    reading.open = channel.open.load();
    reading.bytesReceived = channel.bytesReceived.load(std::memory_order_relaxed);
    reading.lineErrors = channel.lineErrors.load(std::memory_order_relaxed);
    // The relay may hold the lock for a moment: then the live part waits for the next look.
    std::unique_lock lock(channel.mutex, std::try_to_lock);
    if (lock.owns_lock() && channel.port)
        reading.live = SideReading::Live{channel.port->path(), channel.port->modemLines()};
    return reading;
}

}  // namespace ostrel::engine
