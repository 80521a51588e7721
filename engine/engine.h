#pragma once
// The serial engine: two port channels (0 the DTE side, 1 the DCE side), the
// receive threads, the traffic pump and the two write operations.
//
// Threading contract: InitEngine, ShutdownEngine, OpenSession, CloseAllPorts,
// StartPump and WriteToSide run on the UI thread. SignalPump and WritePort may
// be called from any thread. The pump and the receive threads reach the main
// window only through the WindowLink. CloseAllPorts joins the receive threads
// of the channels it closes; that is safe on the UI thread because a receive
// thread never waits for the UI thread (it posts notices and appends status
// text without waiting). The pump may be held by the display's backlog bound
// (DisplayQueue::append); a front end closes its DisplayQueue before
// ShutdownEngine so that joining the pump never waits on the UI thread, and
// CloseAllPorts, which waits for the chunk the pump holds, first lifts that
// bound through WindowLink::setAppendsUnbounded.
// A receive thread wakes the pump itself (SignalPump) before it posts the
// data-ready notice, so the relay never waits for the UI thread. The pump
// alone ends a session on a hang-up: it shows, relays and captures what the
// ring holds, then appends the disconnect line and posts the notice.
// An allocation failure on the pump or a receive thread never escapes the
// thread: the session shows "Out of memory: session closed" and posts a
// receive-exit notice with outOfMemory set, and the window closes it.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "engine/port_channel.h"
#include "engine/session_types.h"
#include "engine/string_sink.h"
#include "engine/window_link.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/modem_lines.h"
#include "platform/port_map.h"

namespace ostrel::engine {

inline constexpr std::uint32_t kReadBufferSize = 16384;
inline constexpr std::uint32_t kChunkSize = 2048;
inline constexpr std::int64_t kLineGapMs = 55;  // a gap above this (56 ms or more) starts a new line
inline constexpr int kReceiveWaitMs = 500;

struct EngineOptions {
    platform::MillisClock clock;             // steady milliseconds; defaults to the steady clock
    std::size_t relayQueueLimit = 1u << 20;  // a relay waits while the far port holds this much unsent
    std::int64_t closeDrainMs = 200;         // how long a close lets the transmit queues drain (by `clock`)
};

class Engine {
public:
    explicit Engine(const platform::PortMap& ports, EngineOptions options = {});
    ~Engine();  // ShutdownEngine()
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Before StartPump. The link and the presenter must outlive the engine,
    // or ShutdownEngine must run before they go (it posts exit notices).
    void InitEngine(WindowLink& link, TrafficPresenter& presenter);
    // Closes open ports, stops and joins the pump and every receive thread.
    void ShutdownEngine();
    bool ready() const { return ready_.load(); }

    // Status 0 opened, 1 failed, 2 engine not ready.
    std::int32_t OpenSession(const SessionConfig& config);
    // Closes the session: the receive threads stop reading, what they stored
    // is still shown and relayed (until the pump makes no progress for
    // closeDrainMs; not while the pump is
    // held or a relay is held back), then nothing more is taken from the rings,
    // the chunk the pump holds is shown, the transmit queues get up to
    // closeDrainMs to drain
    // (none towards a far end that hung up), the channels close, and for each
    // port whose transmitter kept bytes it never wrote (relayed and sent
    // alike) "\r\n*** COMn: N bytes not delivered ***\r\n" is appended.
    // The caller's "Port is OFF" then comes after all of the session's text.
    std::int32_t CloseAllPorts();
    // Status lines ("\r\n*** COMn: ... ***\r\n") for settings the last
    // OpenSession could not apply exactly; shown after "Port is ON".
    const std::vector<std::string>& openNotes() const { return openNotes_; }
    // Why each port of the last OpenSession failed to open, for example
    // "COM3: /dev/ttyUSB0: port is busy (in use by another program)".
    const std::vector<std::string>& openErrors() const { return openErrors_; }

    // Starts the TrafficPump thread (once, at the main window's initialisation).
    void StartPump();
    void SignalPump();
    // While held, the pump takes nothing: the rings fill, then the kernel's
    // queues (nothing is lost). For tests that need bytes to stay in a ring.
    void HoldPump(bool hold);

    // Queues bytes for the channel's port; never blocks. False when the side
    // has no open port or the port failed.
    bool WritePort(int side, std::span<const std::uint8_t> bytes);
    // Bytes queued for the side's port and not written yet; 0 when it has no
    // open port. For a producer that waits while a port does not take data.
    std::size_t QueuedBytes(int side) const;
    // Writes to the side that the window's SendTarget selects. Returns the
    // count given (0 when the engine is not ready). When `failure` is given and
    // the write could not be made, it receives a phrase such as
    // "COM3 is not open".
    std::int32_t WriteToSide(std::span<const std::uint8_t> bytes, std::string* failure = nullptr);
    // Send sets both output flags after its echo, so the next received chunk
    // of either side starts a new line.
    void SetOutputFlags();

    // True when `threadId` is the receive thread of a channel that is open now.
    bool IsCurrentReceiveThread(std::uint64_t threadId) const;
    // The channel's open flag (also true in the Failed state, until CloseAllPorts).
    bool isOpen(int side) const;
    // The id of the side's receive thread (as in its receive-exit notice); 0 when none runs.
    std::uint64_t receiveThreadId(int side) const;
    // The COM number the side's last open used (0 before any open).
    int portNumber(int side) const;
    // What the window's status bar shows of one side.
    struct SideReading {
        bool open = false;
        std::uint64_t bytesReceived = 0;  // over the whole run, not only this open
        std::uint64_t lineErrors = 0;
        // The open port's path and modem lines; empty when the side has no
        // port, or when the relay held the channel for the moment (the
        // caller looks again at its next poll).
        struct Live {
            std::string path;
            std::optional<platform::ModemLines> modemLines;
        };
        std::optional<Live> live;
    };
    SideReading readSide(int side) const;
    const platform::PortMap& ports() const { return ports_; }

private:
    // Tests reach the channels (rings, transmitters, flags) through it
    // (tests/engine/engine_test_access.h).
    friend struct EngineTestAccess;

    // Opens the port of `settings` (its COM number and line settings) on `channel`.
    std::int32_t OpenPort(PortChannel& channel, WindowLink* owner, const PortSettings& settings);
    // Returns the bytes given to the port's transmitter that it never wrote.
    std::uint64_t ClosePort(PortChannel& channel);
    // CloseAllPorts' first step: the receive threads end, the rings are emptied by the pump.
    void takeWhatWasRead();
    void drainTransmitters(const std::array<bool, 2>& closing);
    std::int32_t openSide(int side, const PortSettings& settings);
    void ReceiveThread(std::stop_token stop, PortChannel& channel, std::uint64_t threadId);
    void TrafficPump(std::stop_token stop);
    bool relayBlocked(int fromSide) const;
    bool takeable(int side) const;
    bool hangUpDue(int side) const;
    // An allocation failed on a worker thread of the session (the pump or
    // the receive thread `threadId` of `side`).
    void SessionOutOfMemory(int side, std::uint64_t threadId) noexcept;
    void finishHangUp(int side);
    void takeChunk(int side, std::int64_t& last, std::span<std::uint8_t, kChunkSize> chunk);
    std::string describeWriteFailure(int side);

    const platform::PortMap& ports_;
    platform::MillisClock clock_;
    std::size_t relayQueueLimit_;
    std::int64_t closeDrainMs_;
    std::atomic<bool> ready_{false};
    WindowLink* link_ = nullptr;
    TrafficPresenter* presenter_ = nullptr;
    StringSink chunkText_;  // the pump's text for one chunk, kept for its storage
    std::array<PortChannel, 2> channels_;
    std::atomic<std::uint64_t> nextThreadId_{1};
    std::vector<std::string> openNotes_;
    std::vector<std::string> openErrors_;
    std::atomic<bool> pumpHeld_{false};
    std::atomic<bool> outOfMemory_{false};  // the session ran out of memory; reset by OpenSession
    std::atomic<bool> closing_{false};      // CloseAllPorts is showing what was read: no relay holds back
    std::mutex chunkMutex_;                 // held by the pump while it handles one chunk or a hang-up
    platform::Event pumpEvent_{platform::Event::Reset::Manual};
    std::jthread pump_;
};

}  // namespace ostrel::engine
