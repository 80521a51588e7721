// The receive thread of one open port: waits for bytes, reads no more than
// the ring's free room, stores them and announces a ring that went from empty
// to non-empty. A full ring stops the reading (the bytes wait in the kernel)
// until the pump has taken some and wakes the thread; nothing is dropped.
// On a hang-up the thread hands the session's ending to the pump.

#include <algorithm>
#include <array>

#include "engine/engine.h"
#include "engine/status_text.h"

namespace ostrel::engine {

void Engine::ReceiveThread(std::stop_token stop, PortChannel& channel, std::uint64_t threadId) {
    // Everything below is set by OpenPort before the thread starts and stays
    // until ClosePort has joined it.
    WindowLink* const owner = channel.owner;
    platform::TtyPort& port = *channel.port;
    platform::WakeFd& wake = *channel.wake;
    const int side = channel.side;
    const int portNumber = channel.portNumber;
    std::array<std::uint8_t, kReadBufferSize> buffer;
    bool hungUp = false;

    // Reads once and stores what came; returns false when the port hung up.
    auto readInto = [&](std::uint32_t room) {
        const std::size_t max = std::min<std::size_t>(room, buffer.size());
        const platform::ReadOutcome outcome = port.read({buffer.data(), max});
        // The counters are taken even when the read carried an in-band mark:
        // the driver counted that same error, and a baseline left behind would
        // report it a second time after the next read.
        const bool counted = port.takeCountedLineErrors();
        if (outcome.lineError || counted) {
            channel.lineErrors.fetch_add(1, std::memory_order_relaxed);
            owner->appendStatusText(text::kLineStatusError);
        }
        if (outcome.count > 0) {
            channel.bytesReceived.fetch_add(static_cast<std::uint64_t>(outcome.count),
                                            std::memory_order_relaxed);
            // The store turned an empty ring non-empty when the ring was empty
            // before it, or when the pump, meanwhile, took everything up to
            // where the store began: then the pump may have found the ring
            // empty and gone to sleep just before the new bytes came in.
            const std::uint32_t storeStart = channel.ring.writeIndex.load();
            const bool wasEmpty = RingEmpty(channel.ring);
            RingStore(channel.ring, buffer.data(), static_cast<std::uint32_t>(outcome.count));
            const bool emptiedMeanwhile = channel.ring.readIndex.load() == storeStart;
            if (wasEmpty || emptiedMeanwhile) {
                // The engine wakes its own pump; the window's notice is only
                // news for the window, so a busy UI thread never holds the relay.
                SignalPump();
                owner->postDataReady(side);
            }
        }
        return !outcome.hungUp;
    };

    while (channel.open.load() && !stop.stop_requested()) {
        std::uint32_t room = RingFreeRoom(channel.ring);
        unsigned events = 0;
        if (room == 0) {
            // Ask the pump for a wake-up, then look again: either we see the
            // room it made, or it sees the request (see receive_ring.cpp).
            channel.wantsRoom.store(true);
            room = RingFreeRoom(channel.ring);
            if (room > 0) continue;
            events = port.wait(wake.fd(), false, kReceiveWaitMs);
        } else {
            events = port.wait(wake.fd(), true, kReceiveWaitMs);
        }
        if (events & platform::TtyPort::Woken) wake.drain();
        if (events & platform::TtyPort::HangUp) {
            // Whatever the port still holds goes in before the end.
            if (room > 0) readInto(room);
            hungUp = true;
            break;
        }
        if (events & platform::TtyPort::Readable) {
            if (!readInto(room)) {
                hungUp = true;
                break;
            }
        } else if (events & platform::TtyPort::TimedOut) {
            // Errors that the driver counts without data (a break, an overrun).
            if (port.takeCountedLineErrors()) {
                channel.lineErrors.fetch_add(1, std::memory_order_relaxed);
                owner->appendStatusText(text::kLineStatusError);
            }
        }
    }

    if (hungUp) {
        // The pump shows what is still in the ring first, then the
        // disconnect line and the notice (see port_channel.h).
        channel.farHungUp.store(true);
        channel.hungUpThread.store(threadId);
        SignalPump();
        return;
    }
    owner->postReceiveExit(ReceiveExitNotice{threadId, side, portNumber, false});
}

}  // namespace ostrel::engine
