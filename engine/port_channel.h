#pragma once
// One side's port: its open flag, the open port and transmitter, the receive
// thread, the receive ring and the output flag.
//
// Threading contract:
//  - open, receiveThreadId and outputFlag are atomics read from any thread.
//  - port, transmitter and receiveThread are created by OpenPort and torn
//    down by ClosePort, both on the UI thread, under `mutex`. WritePort takes
//    `mutex` too, so a relay from the pump never meets a half-closed port.
//  - The ring's write index is advanced by the receive thread only; its read
//    index by the pump only, under `mutex` (ClosePort empties the ring under
//    the same lock, after the receive thread has been joined).
//  - A hang-up is finished by the pump, not by the receive thread: the
//    thread stores its id in `hungUpThread` after its last store into the
//    ring and ends; the pump, once it has shown, relayed and captured the
//    whole ring, appends "COMn disconnected" and posts the receive-exit
//    notice, under `mutex`, so nothing of the session comes after them and a
//    close in between (which clears `hungUpThread`) suppresses both.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "engine/receive_ring.h"
#include "engine/window_link.h"
#include "platform/event.h"
#include "platform/transmitter.h"
#include "platform/tty_port.h"

namespace ostrel::engine {

struct PortChannel {
    std::atomic<bool> open{false};
    std::int32_t side = 0;
    std::optional<platform::TtyPort> port;   // empty when no port is open
    std::unique_ptr<platform::WakeFd> wake;  // wakes the receive thread
    std::jthread receiveThread;
    WindowLink* owner = nullptr;
    std::atomic<std::uint64_t> receiveThreadId{0};  // 0 after close
    ReceiveRing ring;
    std::atomic<bool> outputFlag{false};

    // Beyond the record of the session: the transmitter of the open port, its
    // COM number, and the receive thread's request to be woken when the pump
    // has made room in a full ring.
    std::unique_ptr<platform::Transmitter> transmitter;
    int portNumber = 0;
    std::atomic<bool> wantsRoom{false};
    // The id of a receive thread that ended on a hang-up and whose ending
    // the pump has not finished yet; 0 otherwise.
    std::atomic<std::uint64_t> hungUpThread{0};
    // The far end hung up during this open (no transmit drain on close).
    std::atomic<bool> farHungUp{false};
    // Bytes given to the transmitter since the open (under `mutex`).
    std::uint64_t enqueued = 0;
    // Counted by the receive thread over the whole run (never reset by an
    // open), read by the window's status bar: bytes received and line errors
    // (parity, framing, overrun, break) reported by the port.
    std::atomic<std::uint64_t> bytesReceived{0};
    std::atomic<std::uint64_t> lineErrors{0};
    mutable std::mutex mutex;  // locked by const looks too (the pump's relay check)
};

}  // namespace ostrel::engine
