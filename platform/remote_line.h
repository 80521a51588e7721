#pragma once
// Private to the platform layer: the line of a port on another machine,
// reached over TCP (see remote_url.h). The engine sees it as any port: an fd
// to read received bytes from and to write bytes to send into, which is one
// end of a local socket pair. A relay thread owned by RemoteLine carries the
// bytes between that pair and the TCP connection; for a COM port server it
// also speaks telnet (IAC doubled and undoubled, options negotiated), applies
// the line settings at the far machine, and keeps what the server notifies:
// line errors, modem lines and flow-control suspends.
//
// Threading: open(), configure(), purge() and the destructor run on the
// thread that owns the port; takeLineErrors() on its receive thread;
// modemLines() on any thread.
//
// The far side closing the connection (or the keepalive finding it gone)
// ends the stream to the engine's fd: the engine reads end of file, a
// hang-up. The connection is never waited for once open: the relay thread
// only ever polls, and the destructor gives unsent bytes at most
// kCloseFlushMs before the socket closes.

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/event.h"
#include "platform/line_notes.h"
#include "platform/line_settings.h"
#include "platform/modem_lines.h"
#include "platform/remote_url.h"
#include "platform/sys_error.h"
#include "platform/unique_fd.h"

namespace ostrel::platform {

class RemoteLine {
public:
    static constexpr int kCloseFlushMs = 250;
    static constexpr int kPurgeWaitMs = 300;

    struct Opened {
        std::unique_ptr<RemoteLine> line;
        UniqueFd engineFd;  // the engine's end of the socket pair (non-blocking)
    };
    // Resolves the host, connects and, for a COM port server, waits for the
    // server to take the COM port option and binary transmission both ways.
    // Everything together takes at most `waitMs`; a failure names its reason
    // ("connection refused", "unknown host", "no answer within 3 s", ...).
    static Result<Opened> open(const std::string& url, int waitMs);
    ~RemoteLine();  // stops the relay thread, then closes the connection
    RemoteLine(const RemoteLine&) = delete;
    RemoteLine& operator=(const RemoteLine&) = delete;

    // Sends the settings to a COM port server and waits for its replies, at
    // most until the open's time is up (or `waitMs` from now when it is
    // past). Returns one phrase for each reply that differs from the request.
    // A raw TCP port takes no settings and reports nothing.
    std::vector<std::string> configure(const LineSettings& settings);
    // Discards the bytes waiting to be sent and received here and asks a COM
    // port server to purge its buffers both ways, waiting (kPurgeWaitMs at
    // most) for its answer: bytes that reach the far port after the purge
    // returns are not purged.
    void purge();
    // True when the server reported a line error (framing, parity, overrun,
    // break) since the previous call.
    bool takeLineErrors();
    // The modem lines the server last notified; empty before it did and on
    // a raw TCP port.
    std::optional<ModemLines> modemLines() const;
    // True while the server holds our sending (flow-control suspend).
    bool suspended() const { return suspended_.load(); }

    // Not for direct use: open() makes RemoteLine.
    RemoteLine(RemoteUrl url, std::string name, UniqueFd tcp, UniqueFd local, int waitMs,
               std::chrono::steady_clock::time_point deadline);

private:
    using Clock = std::chrono::steady_clock;
    void run(std::stop_token stop);
    void handleEvents(std::vector<std::uint8_t>& wire);
    void negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& wire);
    void queueControl(const std::vector<std::uint8_t>& bytes);
    // Waits until `ready` (called under mutex_) or the relay ends or `until`.
    template <class Ready>
    bool waitFor(Ready ready, Clock::time_point until);

    const RemoteUrl url_;
    const std::string name_;
    const int waitMs_;
    const Clock::time_point deadline_;
    UniqueFd tcp_;
    UniqueFd local_;  // the relay thread's end of the pair
    WakeFd wake_;

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::uint8_t> control_;  // commands waiting to be sent (under mutex_)
    bool purgeRequested_ = false;        // under mutex_
    std::uint64_t purgeReplies_ = 0;     // the server's answers to a purge (under mutex_)
    bool ended_ = false;                 // the connection is gone (under mutex_)
    // Negotiation as the relay thread saw it (under mutex_).
    bool comPortTaken_ = false, comPortRefused_ = false;
    bool binaryToServer_ = false, binaryFromServer_ = false, binaryRefused_ = false;
    detail::ComPortSettings replies_;  // the replies since configure() asked (under mutex_)

    // Only the relay thread touches these.
    std::array<bool, 256> sentWill_{}, sentDo_{}, refused_{};

    std::atomic<std::uint64_t> lineErrors_{0};
    std::uint64_t lineErrorsSeen_ = 0;  // the receive thread's
    std::atomic<int> modemState_{-1};
    std::atomic<bool> suspended_{false};
    std::jthread thread_;  // last member: started after everything above exists
};

}  // namespace ostrel::platform
