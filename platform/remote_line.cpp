#include "platform/remote_line.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "platform/posix_io.h"
#include "platform/telnet_codec.h"

namespace ostrel::platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReceiveChunk = 64 * 1024;
constexpr std::size_t kSendChunk = 16 * 1024;
// Received bytes held here while the engine does not read them; beyond
// this the connection is not read (TCP holds the server back).
constexpr std::size_t kHeldForEngine = 256 * 1024;
constexpr int kPairBuffer = 64 * 1024;
// The line-state bits that are errors: overrun, parity, framing, break.
constexpr std::uint8_t kLineErrorBits = 0x1E;

int remainingMs(Clock::time_point until) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
}

std::string secondsWords(int ms) {
    if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
    return std::to_string(ms) + " ms";
}

SysError remoteError(const std::string& name, int code, std::string words) {
    return SysError{"remote", name, code, std::move(words)};
}

std::string errnoText(int code) {
    std::string text = std::strerror(code);
    if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

using AddressList = std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)>;

// A name lookup that gives up at `until`. A lookup still running then is
// cancelled; one that cannot be cancelled keeps its request here, since the
// resolver still writes into it.
#if !defined(__SANITIZE_THREAD__)
struct Lookup {
    std::string host;
    std::string service;
    addrinfo hints{};
    gaicb request{};
};
std::mutex abandonedMutex;
std::vector<std::unique_ptr<Lookup>> abandoned;
#endif

// An address written as one ("127.0.0.1", "::1") needs no lookup.
AddressList numericAddresses(const RemoteUrl& url) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* list = nullptr;
    if (::getaddrinfo(url.host.c_str(), std::to_string(url.port).c_str(), &hints, &list) != 0) list = nullptr;
    return AddressList(list, &::freeaddrinfo);
}

SysError lookupError(const std::string& name, int status) {
    if (status == EAI_NONAME || status == EAI_NODATA || status == EAI_FAIL)
        return remoteError(name, 0, "unknown host");
    return remoteError(name, 0, std::string("name lookup failed (") + ::gai_strerror(status) + ")");
}

Result<AddressList> resolve(const RemoteUrl& url, const std::string& name, Clock::time_point until,
                            int waitMs) {
    if (AddressList numeric = numericAddresses(url)) return numeric;
#if defined(__SANITIZE_THREAD__)
    // glibc's lookup thread is started where the thread sanitizer cannot see
    // it (and crashes in it): a sanitized build looks names up in this thread.
    (void)until;
    (void)waitMs;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* list = nullptr;
    if (const int status = ::getaddrinfo(url.host.c_str(), std::to_string(url.port).c_str(), &hints, &list);
        status != 0)
        return lookupError(name, status);
    return AddressList(list, &::freeaddrinfo);
#else
    auto lookup = std::make_unique<Lookup>();
    lookup->host = url.host;
    lookup->service = std::to_string(url.port);
    lookup->hints.ai_family = AF_UNSPEC;
    lookup->hints.ai_socktype = SOCK_STREAM;
    lookup->hints.ai_flags = AI_NUMERICSERV;
    lookup->request.ar_name = lookup->host.c_str();
    lookup->request.ar_service = lookup->service.c_str();
    lookup->request.ar_request = &lookup->hints;
    gaicb* list[1] = {&lookup->request};
    if (const int started = ::getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr); started != 0)
        return lookupError(name, started);
    int status = EAI_INPROGRESS;
    while ((status = ::gai_error(&lookup->request)) == EAI_INPROGRESS) {
        const int left = remainingMs(until);
        if (left == 0) break;
        const timespec timeout{left / 1000, (left % 1000) * 1'000'000L};
        (void)::gai_suspend(list, 1, &timeout);
    }
    if (status == EAI_INPROGRESS) {
        if (::gai_cancel(&lookup->request) == EAI_NOTCANCELED) {
            std::lock_guard lock(abandonedMutex);
            abandoned.push_back(std::move(lookup));
        } else if (lookup->request.ar_result) {
            ::freeaddrinfo(lookup->request.ar_result);
        }
        return remoteError(name, ETIMEDOUT, "no answer within " + secondsWords(waitMs) + " (name lookup)");
    }
    if (status != 0) return lookupError(name, status);
    return AddressList(lookup->request.ar_result, &::freeaddrinfo);
#endif
}

void setOption(int fd, int level, int option, int value) {
    (void)::setsockopt(fd, level, option, &value, sizeof value);
}

Result<UniqueFd> connectTo(const addrinfo* addresses, const std::string& name, Clock::time_point until,
                           int waitMs) {
    int lastCode = 0;
    for (const addrinfo* address = addresses; address != nullptr; address = address->ai_next) {
        UniqueFd fd(::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                             address->ai_protocol));
        if (!fd.valid()) {
            lastCode = errno;
            continue;
        }
        if (::connect(fd.get(), address->ai_addr, address->ai_addrlen) != 0) {
            if (errno != EINPROGRESS) {
                lastCode = errno;
                continue;
            }
            pollfd wait{fd.get(), POLLOUT, 0};
            const Result<int> ready = io::poll(&wait, 1, remainingMs(until));
            if (!ready || ready.value() == 0) {
                lastCode = ETIMEDOUT;
                break;  // the time is up for the other addresses as well
            }
            int code = 0;
            socklen_t length = sizeof code;
            if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &code, &length) != 0) code = errno;
            if (code != 0) {
                lastCode = code;
                continue;
            }
        }
        // Each byte goes out at once (a one-byte echo is not held for 40 ms),
        // and a far machine that vanished is found by the keepalive and the
        // user timeout instead of after the kernel's quarter of an hour.
        setOption(fd.get(), IPPROTO_TCP, TCP_NODELAY, 1);
        setOption(fd.get(), SOL_SOCKET, SO_KEEPALIVE, 1);
        setOption(fd.get(), IPPROTO_TCP, TCP_KEEPIDLE, 10);
        setOption(fd.get(), IPPROTO_TCP, TCP_KEEPINTVL, 5);
        setOption(fd.get(), IPPROTO_TCP, TCP_KEEPCNT, 3);
        setOption(fd.get(), IPPROTO_TCP, TCP_USER_TIMEOUT, 30'000);
        return fd;
    }
    if (lastCode == ETIMEDOUT)
        return remoteError(name, ETIMEDOUT, "no answer within " + secondsWords(waitMs));
    if (lastCode == ECONNREFUSED) return remoteError(name, ECONNREFUSED, "connection refused");
    if (lastCode == 0) return remoteError(name, 0, "unknown host");
    return remoteError(name, lastCode, errnoText(lastCode));
}

std::uint32_t bigEndian(const std::vector<std::uint8_t>& value) {
    std::uint32_t number = 0;
    for (std::size_t i = 0; i < 4 && i < value.size(); ++i) number = (number << 8) | value[i];
    return number;
}

bool isOneOf(std::uint8_t option, std::initializer_list<std::uint8_t> options) {
    return std::find(options.begin(), options.end(), option) != options.end();
}

}  // namespace

Result<RemoteLine::Opened> RemoteLine::open(const std::string& name, int waitMs) {
    const std::optional<RemoteUrl> url = parseRemoteUrl(name);
    if (!url) return remoteError(name, EINVAL, "not a port URL (rfc2217://HOST:PORT or tcp://HOST:PORT)");
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(waitMs);
    Result<AddressList> addresses = resolve(*url, name, until, waitMs);
    if (!addresses) return addresses.error();
    Result<UniqueFd> tcp = connectTo(addresses.value().get(), name, until, waitMs);
    if (!tcp) return tcp.error();

    int pair[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0)
        return lastError("socketpair", name);
    UniqueFd engineEnd(pair[0]);
    UniqueFd relayEnd(pair[1]);
    for (const int fd : pair) {
        setOption(fd, SOL_SOCKET, SO_SNDBUF, kPairBuffer);
        setOption(fd, SOL_SOCKET, SO_RCVBUF, kPairBuffer);
    }

    Opened opened;
    opened.line =
        std::make_unique<RemoteLine>(*url, name, std::move(tcp).value(), std::move(relayEnd), waitMs, until);
    opened.engineFd = std::move(engineEnd);
    if (url->kind == RemoteUrl::Kind::RawTcp) return opened;

    RemoteLine& line = *opened.line;
    line.waitFor(
        [&line] {
            return line.comPortRefused_ || line.binaryRefused_ ||
                   (line.comPortTaken_ && line.binaryToServer_ && line.binaryFromServer_);
        },
        until);
    std::lock_guard lock(line.mutex_);
    if (line.comPortRefused_)
        return remoteError(name, EPROTO,
                           "the server does not take the COM port option (a raw port is tcp://)");
    if (line.binaryRefused_) return remoteError(name, EPROTO, "the server refused binary transmission");
    if (line.ended_) return remoteError(name, ECONNRESET, "connection closed by the server");
    if (!(line.comPortTaken_ && line.binaryToServer_ && line.binaryFromServer_))
        return remoteError(name, ETIMEDOUT, "no answer within " + secondsWords(waitMs));
    return opened;
}

RemoteLine::RemoteLine(RemoteUrl url, std::string name, UniqueFd tcp, UniqueFd local, int waitMs,
                       Clock::time_point deadline)
    : url_(std::move(url)),
      name_(std::move(name)),
      waitMs_(waitMs),
      deadline_(deadline),
      tcp_(std::move(tcp)),
      local_(std::move(local)),
      thread_([this](std::stop_token stop) { run(stop); }) {}

RemoteLine::~RemoteLine() {
    thread_.request_stop();
    wake_.signal();
    thread_.join();
}

template <class Ready>
bool RemoteLine::waitFor(Ready ready, Clock::time_point until) {
    std::unique_lock lock(mutex_);
    return cv_.wait_until(lock, until, [&] { return ready() || ended_; }) && ready();
}

void RemoteLine::queueControl(const std::vector<std::uint8_t>& bytes) {
    {
        std::lock_guard lock(mutex_);
        control_.insert(control_.end(), bytes.begin(), bytes.end());
    }
    wake_.signal();
}

std::vector<std::string> RemoteLine::configure(const LineSettings& settings) {
    if (url_.kind == RemoteUrl::Kind::RawTcp) return {};
    const detail::ComPortSettings request = detail::comPortRequest(settings);
    std::vector<std::uint8_t> bytes;
    const std::uint32_t baud = *request.baud;
    const std::uint8_t baudBytes[4] = {static_cast<std::uint8_t>(baud >> 24),
                                       static_cast<std::uint8_t>(baud >> 16),
                                       static_cast<std::uint8_t>(baud >> 8), static_cast<std::uint8_t>(baud)};
    telnet::appendComPort(telnet::kSetBaudRate, baudBytes, bytes);
    const std::uint8_t one[][1] = {{*request.dataSize}, {*request.parity}, {*request.stopSize},
                                   {*request.control},  {kLineErrorBits},  {0xFF}};
    const std::uint8_t commands[] = {telnet::kSetDataSize,      telnet::kSetParity,
                                     telnet::kSetStopSize,      telnet::kSetControl,
                                     telnet::kSetLineStateMask, telnet::kSetModemStateMask};
    for (std::size_t i = 0; i < std::size(commands); ++i) telnet::appendComPort(commands[i], one[i], bytes);
    {
        std::lock_guard lock(mutex_);
        replies_ = {};
    }
    queueControl(bytes);
    const Clock::time_point now = Clock::now();
    const Clock::time_point until = deadline_ > now ? deadline_ : now + std::chrono::milliseconds(waitMs_);
    waitFor(
        [this] {
            return replies_.baud && replies_.dataSize && replies_.parity && replies_.stopSize &&
                   replies_.control;
        },
        until);
    detail::ComPortSettings replies;
    {
        std::lock_guard lock(mutex_);
        replies = replies_;
    }
    return detail::comPortSettingNotes(settings, replies);
}

void RemoteLine::purge() {
    std::vector<std::uint8_t> bytes;
    if (url_.kind == RemoteUrl::Kind::ComPortServer) {
        const std::uint8_t both[1] = {3};  // receive and transmit buffers
        telnet::appendComPort(telnet::kPurgeData, both, bytes);
    }
    std::uint64_t repliesBefore = 0;
    {
        std::lock_guard lock(mutex_);
        purgeRequested_ = true;
        repliesBefore = purgeReplies_;
        control_.insert(control_.end(), bytes.begin(), bytes.end());
    }
    wake_.signal();
    const bool server = url_.kind == RemoteUrl::Kind::ComPortServer;
    waitFor([&] { return !purgeRequested_ && (!server || purgeReplies_ != repliesBefore); },
            Clock::now() + std::chrono::milliseconds(kPurgeWaitMs));
}

bool RemoteLine::takeLineErrors() {
    const std::uint64_t now = lineErrors_.load();
    const bool grew = now != lineErrorsSeen_;
    lineErrorsSeen_ = now;
    return grew;
}

std::optional<ModemLines> RemoteLine::modemLines() const {
    const int state = modemState_.load();
    if (state < 0) return std::nullopt;
    return ModemLines{(state & 0x10) != 0, (state & 0x20) != 0, (state & 0x80) != 0, (state & 0x40) != 0};
}

void RemoteLine::negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t>& wire) {
    using namespace telnet;
    std::lock_guard lock(mutex_);
    switch (verb) {
        case kDo:
            if (isOneOf(option, {kBinary, kSuppressGoAhead, kComPort})) {
                if (!sentWill_[option]) appendNegotiation(kWill, option, wire);
                sentWill_[option] = true;
                if (option == kComPort) comPortTaken_ = true;
                if (option == kBinary) binaryToServer_ = true;
            } else if (!refused_[option]) {
                refused_[option] = true;
                appendNegotiation(kWont, option, wire);
            }
            break;
        case kDont:
            if (sentWill_[option]) appendNegotiation(kWont, option, wire);
            sentWill_[option] = false;
            if (option == kComPort) comPortRefused_ = true;
            if (option == kBinary) binaryRefused_ = true;
            break;
        case kWill:
            if (isOneOf(option, {kBinary, kSuppressGoAhead})) {
                if (!sentDo_[option]) appendNegotiation(kDo, option, wire);
                sentDo_[option] = true;
                if (option == kBinary) binaryFromServer_ = true;
            } else if (!refused_[option]) {
                refused_[option] = true;
                appendNegotiation(kDont, option, wire);
            }
            break;
        case kWont:
            if (sentDo_[option]) appendNegotiation(kDont, option, wire);
            sentDo_[option] = false;
            if (option == kBinary) binaryRefused_ = true;
            break;
        default:
            break;
    }
}

void RemoteLine::run(std::stop_token stop) {
    const bool telnetOn = url_.kind == RemoteUrl::Kind::ComPortServer;
    std::vector<std::uint8_t> wire;  // bytes for the connection, whole telnet units only
    std::size_t wireSent = 0;
    std::vector<std::uint8_t> toEngine;  // received data for the engine's end
    std::size_t toEngineSent = 0;
    std::vector<std::uint8_t> receiveBuffer(kReceiveChunk);
    std::vector<std::uint8_t> sendBuffer(kSendChunk);
    telnet::Decoder decoder;
    std::vector<telnet::Event> events;
    bool farClosed = false;
    bool engineShut = false;  // end of file given to the engine's end
    bool engineGone = false;  // the engine's end was closed
    std::optional<Clock::time_point> flushUntil;

    if (telnetOn) {
        using namespace telnet;
        for (const std::uint8_t option : {kBinary, kSuppressGoAhead}) {
            appendNegotiation(kWill, option, wire);
            appendNegotiation(kDo, option, wire);
            sentWill_[option] = sentDo_[option] = true;
        }
        appendNegotiation(kWill, kComPort, wire);
        sentWill_[kComPort] = true;
    }

    const auto endConnection = [&] {
        farClosed = true;
        {
            std::lock_guard lock(mutex_);
            ended_ = true;
        }
        cv_.notify_all();
    };

    for (;;) {
        if (stop.stop_requested() && !flushUntil)
            flushUntil = Clock::now() + std::chrono::milliseconds(kCloseFlushMs);
        bool purge = false;
        {
            std::lock_guard lock(mutex_);
            wire.insert(wire.end(), control_.begin(), control_.end());
            control_.clear();
            purge = std::exchange(purgeRequested_, false);
        }
        if (purge) {
            // What the engine handed over and what came in for it are both discarded.
            toEngine.clear();
            toEngineSent = 0;
            while (!engineGone) {
                const Result<std::size_t> n = io::readSome(local_.get(), sendBuffer);
                if (!n || n.value() == 0) break;
            }
            cv_.notify_all();
        }

        bool progress = false;
        // Bytes to send: taken from the engine while the connection is
        // keeping up and the server has not suspended our sending.
        const bool canTake = !farClosed && !flushUntil && !engineGone && !suspended_.load();
        if (canTake && wire.size() - wireSent < kSendChunk) {
            const Result<std::size_t> n = io::readSome(local_.get(), sendBuffer);
            if (n && n.value() > 0) {
                const std::span<const std::uint8_t> data(sendBuffer.data(), n.value());
                if (telnetOn) {
                    telnet::appendEscaped(data, wire);
                } else {
                    wire.insert(wire.end(), data.begin(), data.end());
                }
                progress = true;
            } else if (n && n.value() == 0) {
                engineGone = true;
            }
        }
        bool waitSend = false;
        if (wireSent < wire.size() && !farClosed) {
            const ssize_t n = ::send(tcp_.get(), wire.data() + wireSent, wire.size() - wireSent,
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                wireSent += static_cast<std::size_t>(n);
                progress = true;
            } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                waitSend = true;
            } else {
                endConnection();
            }
        }
        if (wireSent == wire.size() || farClosed) {
            wire.clear();
            wireSent = 0;
        }
        if (flushUntil && (wire.empty() || Clock::now() >= *flushUntil)) return;

        bool waitEngine = false;
        if (toEngineSent < toEngine.size()) {
            const Result<std::size_t> n =
                io::writeSome(local_.get(), std::span<const std::uint8_t>(toEngine).subspan(toEngineSent));
            if (n && n.value() > 0) {
                toEngineSent += n.value();
                progress = true;
            } else if (!n && n.error().code == EAGAIN) {
                waitEngine = true;
            } else {
                toEngineSent = toEngine.size();  // the engine's end is gone
            }
            if (toEngineSent == toEngine.size()) {
                toEngine.clear();
                toEngineSent = 0;
            }
        }

        const bool canReceive = !farClosed && toEngine.size() - toEngineSent < kHeldForEngine;
        if (canReceive) {
            const ssize_t n = ::recv(tcp_.get(), receiveBuffer.data(), receiveBuffer.size(), MSG_DONTWAIT);
            if (n > 0) {
                progress = true;
                const std::span<const std::uint8_t> bytes(receiveBuffer.data(), static_cast<std::size_t>(n));
                if (!telnetOn) {
                    toEngine.insert(toEngine.end(), bytes.begin(), bytes.end());
                } else {
                    decoder.decode(bytes, toEngine, events);
                    for (const telnet::Event& event : events) {
                        if (event.kind == telnet::Event::Kind::Negotiation) {
                            negotiate(event.verb, event.option, wire);
                            cv_.notify_all();
                            continue;
                        }
                        const std::uint8_t first = event.value.empty() ? 0 : event.value.front();
                        switch (event.command) {
                            case telnet::kServerOffset + telnet::kSetBaudRate: {
                                std::lock_guard lock(mutex_);
                                replies_.baud = bigEndian(event.value);
                                break;
                            }
                            case telnet::kServerOffset + telnet::kSetDataSize: {
                                std::lock_guard lock(mutex_);
                                replies_.dataSize = first;
                                break;
                            }
                            case telnet::kServerOffset + telnet::kSetParity: {
                                std::lock_guard lock(mutex_);
                                replies_.parity = first;
                                break;
                            }
                            case telnet::kServerOffset + telnet::kSetStopSize: {
                                std::lock_guard lock(mutex_);
                                replies_.stopSize = first;
                                break;
                            }
                            case telnet::kServerOffset + telnet::kSetControl: {
                                std::lock_guard lock(mutex_);
                                replies_.control = first;
                                break;
                            }
                            case telnet::kServerOffset + telnet::kPurgeData: {
                                std::lock_guard lock(mutex_);
                                ++purgeReplies_;
                                break;
                            }
                            case telnet::kServerOffset + telnet::kNotifyLineState:
                                if (first & kLineErrorBits) lineErrors_.fetch_add(1);
                                break;
                            case telnet::kServerOffset + telnet::kNotifyModemState:
                                modemState_.store(first);
                                break;
                            case telnet::kServerOffset + telnet::kFlowControlSuspend:
                                suspended_.store(true);
                                break;
                            case telnet::kServerOffset + telnet::kFlowControlResume:
                                suspended_.store(false);
                                break;
                            default:
                                break;
                        }
                        cv_.notify_all();
                    }
                    events.clear();
                }
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                endConnection();
            }
        }
        if (farClosed && toEngine.empty() && !engineShut) {
            // End of file for the engine after the last byte that came: its hang-up.
            (void)::shutdown(local_.get(), SHUT_WR);
            engineShut = true;
        }
        if (progress) continue;

        pollfd fds[3] = {
            {farClosed ? -1 : tcp_.get(),
             static_cast<short>((canReceive ? POLLIN : 0) | (waitSend || !wire.empty() ? POLLOUT : 0)), 0},
            {engineGone ? -1 : local_.get(),
             static_cast<short>((canTake && wire.size() < kSendChunk ? POLLIN : 0) |
                                (waitEngine ? POLLOUT : 0)),
             0},
            {wake_.fd(), POLLIN, 0}};
        const int timeout = flushUntil ? remainingMs(*flushUntil) : 1000;
        const Result<int> ready = io::poll(fds, 3, timeout);
        if (ready && ready.value() > 0 && (fds[2].revents & POLLIN)) wake_.drain();
    }
}

}  // namespace ostrel::platform
