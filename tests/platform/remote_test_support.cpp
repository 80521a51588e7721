#include "remote_test_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "pty_test_support.h"

namespace ostrel::platform::test {

namespace {

constexpr std::uint8_t IAC = 255, SB = 250, SE = 240, WILL = 251, WONT = 252, DO = 253, DONT = 254;

UniqueFd listenOnLoopback(std::uint16_t& port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) return fd;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd.get(), 4) != 0 ||
        ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        fd.reset();
        return fd;
    }
    port = ntohs(address.sin_port);
    return fd;
}

// Whether something listens on 127.0.0.1:port, read from /proc/net/tcp
// (a probing connection would make the server open its device).
bool listening(std::uint16_t port) {
    std::ifstream table("/proc/net/tcp");
    std::string line;
    char wanted[16];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (local.size() > 5 && local.ends_with(wanted) && state == "0A") return true;
    }
    return false;
}

}  // namespace

std::uint16_t freeTcpPort() {
    std::uint16_t port = 0;
    UniqueFd fd = listenOnLoopback(port);
    return fd.valid() ? port : 0;
}

std::string Ser2net::missing() {
    if (::access(kProgram, X_OK) != 0)
        return std::string(kProgram) +
               " is not installed (the remote-port tests run against it; "
               "scripts/setup installs it)";
    return {};
}

Ser2net::Ser2net(const std::string& accepter) {
    Result<PtyPair> pair = openPtyPair();
    if (!pair || !dir_.valid()) {
        error_ = "no pseudo-terminal pair or temporary folder";
        return;
    }
    pty_ = std::move(pair).value();
    port_ = freeTcpPort();
    const std::string config = dir_ / "ser2net.yaml";
    {
        std::ofstream yaml(config);
        yaml << "connection: &remote\n"
             << "  accepter: " << accepter << ",127.0.0.1," << port_ << "\n"
             << "  connector: serialdev," << pty_.slavePath << ",9600n81,local\n";
    }
    const std::string log = dir_ / "ser2net.log";
    pid_ = ::fork();
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out >= 0) {
            ::dup2(out, 1);
            ::dup2(out, 2);
        }
        // Foreground, no UUCP lock files, this configuration only.
        ::execl(kProgram, kProgram, "-n", "-u", "-c", config.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (pid_ < 0) {
        error_ = "fork failed";
        return;
    }
    ready_ = waitUntil([&] {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return true;
        }
        return listening(port_);
    });
    if (pid_ < 0 || !ready_) {
        ready_ = false;
        std::ifstream text(log);
        error_ = "ser2net did not start listening: " +
                 std::string(std::istreambuf_iterator<char>(text), std::istreambuf_iterator<char>());
    }
}

Ser2net::~Ser2net() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    if (!waitUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, std::chrono::seconds(5))) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
    }
}

std::string Ser2net::url(const std::string& scheme) const {
    return scheme + "://127.0.0.1:" + std::to_string(port_);
}

void Ser2net::kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

ScriptedPeer::ScriptedPeer() {
    listener_ = listenOnLoopback(port_);
    thread_ = std::jthread([this](std::stop_token stop) { run(stop); });
}

ScriptedPeer::~ScriptedPeer() {
    thread_.request_stop();
    thread_.join();
}

void ScriptedPeer::replyWith(std::uint8_t command, std::vector<std::uint8_t> value) {
    std::lock_guard lock(mutex_);
    replies_.at(command) = std::move(value);
}

void ScriptedPeer::setAnswering(bool answering) {
    std::lock_guard lock(mutex_);
    answering_ = answering;
}

void ScriptedPeer::setReading(bool reading) {
    std::lock_guard lock(mutex_);
    reading_ = reading;
}

std::vector<std::uint8_t> ScriptedPeer::comPort(std::uint8_t command, std::vector<std::uint8_t> value) {
    std::vector<std::uint8_t> bytes{IAC, SB, 44, command};
    for (const std::uint8_t byte : value) {
        bytes.push_back(byte);
        if (byte == IAC) bytes.push_back(IAC);
    }
    bytes.push_back(IAC);
    bytes.push_back(SE);
    return bytes;
}

bool ScriptedPeer::send(const std::vector<std::uint8_t>& bytes) {
    int fd = -1;
    {
        std::lock_guard lock(mutex_);
        fd = client_.get();
    }
    return fd >= 0 && writeAll(fd, bytes);
}

ScriptedPeer::Received ScriptedPeer::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

bool ScriptedPeer::waitFor(const std::function<bool(const Received&)>& condition,
                           std::chrono::milliseconds timeout) const {
    return waitUntil([&] { return condition(received()); }, timeout);
}

bool ScriptedPeer::connected() const {
    std::lock_guard lock(mutex_);
    return client_.valid();
}

void ScriptedPeer::disconnect() {
    std::lock_guard lock(mutex_);
    disconnect_ = true;
}

void ScriptedPeer::parse(const std::uint8_t* bytes, std::size_t count, std::vector<std::uint8_t>& answer) {
    // Called with mutex_ held.
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = bytes[i];
        switch (state_) {
            case 0:
                if (b == IAC) {
                    state_ = 1;
                } else {
                    received_.data.push_back(b);
                }
                break;
            case 1:
                if (b == IAC) {
                    received_.data.push_back(IAC);
                    state_ = 0;
                } else if (b >= WILL) {
                    verb_ = b;
                    state_ = 2;
                } else if (b == SB) {
                    state_ = 3;
                } else {
                    state_ = 0;
                }
                break;
            case 2:
                received_.negotiations.emplace_back(verb_, b);
                if (answering_ && verb_ == WILL) answer.insert(answer.end(), {IAC, DO, b});
                if (answering_ && verb_ == DO) answer.insert(answer.end(), {IAC, WILL, b});
                state_ = 0;
                break;
            case 3:
                sb_.clear();
                sb_.push_back(b);
                state_ = 4;
                break;
            case 4:
                if (b == IAC) {
                    state_ = 5;
                } else {
                    sb_.push_back(b);
                }
                break;
            case 5:
                if (b == IAC) {
                    sb_.push_back(IAC);
                    state_ = 4;
                    break;
                }
                if (sb_.size() >= 2 && sb_[0] == 44) {
                    const std::uint8_t command = sb_[1];
                    std::vector<std::uint8_t> value(sb_.begin() + 2, sb_.end());
                    received_.commands.emplace_back(command, value);
                    if (answering_ && command <= 12) {
                        const std::vector<std::uint8_t>& reply =
                            command < replies_.size() && !replies_[command].empty() ? replies_[command]
                                                                                    : value;
                        const std::vector<std::uint8_t> framed =
                            comPort(static_cast<std::uint8_t>(command + 100), reply);
                        answer.insert(answer.end(), framed.begin(), framed.end());
                    }
                }
                state_ = 0;
                break;
        }
    }
    (void)WONT;
    (void)DONT;
}

void ScriptedPeer::run(std::stop_token stop) {
    std::uint8_t buffer[65536];
    while (!stop.stop_requested()) {
        int clientFd = -1;
        bool reading = true;
        bool closed = false;
        {
            std::lock_guard lock(mutex_);
            if (disconnect_ && client_.valid()) client_.reset();
            clientFd = client_.get();
            reading = reading_;
            closed = disconnect_;
        }
        if (clientFd < 0) {
            pollfd p{closed ? -1 : listener_.get(), POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            UniqueFd accepted(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
            if (!accepted.valid()) continue;
            std::lock_guard lock(mutex_);
            if (answering_) {
                const std::uint8_t willEcho[] = {IAC, WILL, 1};
                (void)::write(accepted.get(), willEcho, sizeof willEcho);
            }
            client_ = std::move(accepted);
            continue;
        }
        pollfd p{clientFd, static_cast<short>(reading ? POLLIN : 0), 0};
        if (::poll(&p, 1, 20) <= 0 || !reading) continue;
        const ssize_t n = ::read(clientFd, buffer, sizeof buffer);
        std::vector<std::uint8_t> answer;
        {
            std::lock_guard lock(mutex_);
            if (n <= 0) {
                if (n == 0 || (errno != EAGAIN && errno != EINTR)) client_.reset();
                continue;
            }
            parse(buffer, static_cast<std::size_t>(n), answer);
        }
        if (!answer.empty()) writeAll(clientFd, answer);
    }
}

}  // namespace ostrel::platform::test
