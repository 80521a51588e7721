#pragma once
// Far ends for the tests of ports by URL: a real serial port server
// (ser2net, run in the foreground over a pseudo-terminal pair the test
// made) and a scripted COM port server on a plain socket, which can send
// what a pty cannot make: line errors, modem lines, flow-control suspends.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/pty_pair.h"
#include "platform/unique_fd.h"
#include "temp_dir.h"

namespace ostrel::platform::test {

// A TCP port on 127.0.0.1 that nothing listens on at the moment of asking.
std::uint16_t freeTcpPort();

// ser2net serving the slave of a pty pair at 127.0.0.1:port(). `accepter`
// is "telnet(rfc2217),tcp" or "tcp" (raw).
class Ser2net {
public:
    static constexpr const char* kProgram = "/usr/sbin/ser2net";
    // Empty when ser2net can run here; otherwise why the tests skip.
    static std::string missing();

    explicit Ser2net(const std::string& accepter);
    ~Ser2net();  // SIGTERM, then SIGKILL if it lingers; reaped
    Ser2net(const Ser2net&) = delete;
    Ser2net& operator=(const Ser2net&) = delete;

    // True once the server listens; otherwise error() says what went wrong.
    bool ready() const { return ready_; }
    const std::string& error() const { return error_; }
    std::uint16_t port() const { return port_; }
    std::string url(const std::string& scheme) const;
    int master() const { return pty_.master.get(); }
    int slave() const { return pty_.slave.get(); }
    const std::string& slavePath() const { return pty_.slavePath; }
    // SIGKILL: the server is gone at once, its connections reset or closed by the kernel.
    void kill();

private:
    TempDir dir_;
    PtyPair pty_;
    std::uint16_t port_ = 0;
    pid_t pid_ = -1;
    bool ready_ = false;
    std::string error_;
};

// A COM port server written out by hand: it accepts one client, takes what
// the client offers (DO for WILL, WILL for DO), asks it WILL ECHO (which a
// client must refuse), answers each SET command with the client's value or
// with the value set by replyWith(), and records everything the client sent.
class ScriptedPeer {
public:
    ScriptedPeer();
    ~ScriptedPeer();
    std::uint16_t port() const { return port_; }
    std::string url() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }

    // Replies to SET command `command` (1..5) with `value` instead of the request.
    void replyWith(std::uint8_t command, std::vector<std::uint8_t> value);
    // When false, the peer answers nothing at all (a server that hangs).
    void setAnswering(bool answering);
    // When false, the peer stops reading (its socket buffers fill up).
    void setReading(bool reading);

    bool send(const std::vector<std::uint8_t>& bytes);
    static std::vector<std::uint8_t> comPort(std::uint8_t command, std::vector<std::uint8_t> value);

    // What the client sent, split: data bytes (IAC IAC undone), negotiation
    // triples (verb, option) and COM port commands with their values.
    struct Received {
        std::vector<std::uint8_t> data;
        std::vector<std::pair<std::uint8_t, std::uint8_t>> negotiations;
        std::vector<std::pair<std::uint8_t, std::vector<std::uint8_t>>> commands;
    };
    Received received() const;
    bool waitFor(const std::function<bool(const Received&)>& condition,
                 std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;
    bool connected() const;
    void disconnect();

private:
    void run(std::stop_token stop);
    void parse(const std::uint8_t* bytes, std::size_t count, std::vector<std::uint8_t>& answer);

    UniqueFd listener_;
    std::uint16_t port_ = 0;
    mutable std::mutex mutex_;
    UniqueFd client_;
    Received received_;
    std::vector<std::vector<std::uint8_t>> replies_ = std::vector<std::vector<std::uint8_t>>(13);
    bool answering_ = true;
    bool reading_ = true;
    bool disconnect_ = false;
    // Parser state (peer thread only).
    int state_ = 0;
    std::uint8_t verb_ = 0;
    std::vector<std::uint8_t> sb_;
    std::jthread thread_;
};

}  // namespace ostrel::platform::test
