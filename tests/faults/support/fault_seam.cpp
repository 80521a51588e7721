#include "support/fault_seam.h"

#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <stdexcept>

// The system's own functions, reached through the linker's --wrap.
extern "C" {
ssize_t __real_read(int fd, void* buffer, size_t count);
ssize_t __real_write(int fd, const void* buffer, size_t count);
ssize_t __real_writev(int fd, const iovec* vectors, int count);
int __real_poll(pollfd* fds, nfds_t count, int timeoutMs);
int __real_ioctl(int fd, unsigned long request, ...);
int __real_flock(int fd, int operation);
int __real_tcflush(int fd, int queue);
}

namespace ostrel::faults {

namespace {

struct Identity {
    dev_t dev = 0;
    ino_t ino = 0;
    bool operator==(const Identity&) const = default;
};

// A target resolved: an fd number or a file's identity.
struct Key {
    int fd = -1;
    std::optional<Identity> file;
    bool operator==(const Key&) const = default;
};

struct Rule {
    Key key;
    Call call;
    int remaining = 0;
    int code = 0;               // the errno of a failure; 0 for a short write
    std::size_t maxBytes = 0;   // short writes
    unsigned long request = 0;  // ioctl faults: this request only (0: any)
};

struct Line {
    Key key;
    bool counters = false;
    serial_icounter_struct counts{};
    std::deque<std::uint8_t> feed;
    // Counts of delivered bytes not read yet: a driver has counted an error
    // by the time a read hands its byte out, and no earlier than it came.
    LineCounts pending{};
};

struct Seam {
    std::mutex mutex;
    std::atomic<bool> armed{false};
    std::vector<Rule> rules;
    std::vector<Line> lines;
    std::vector<std::pair<Key, std::size_t>> takenCounts;
};

Seam& seam() {
    static Seam instance;
    return instance;
}

Key resolve(const Target& target) {
    if (target.fd >= 0) return Key{target.fd, std::nullopt};
    struct stat info {};
    if (::stat(target.path.c_str(), &info) != 0)
        throw std::runtime_error("fault seam: cannot stat " + target.path + ": " + std::strerror(errno));
    return Key{-1, Identity{info.st_dev, info.st_ino}};
}

// What a call's fd is, looked up once per call while any rule exists.
struct CallFd {
    int fd;
    std::optional<Identity> file;
    explicit CallFd(int number) : fd(number) {
        struct stat info {};
        if (::fstat(number, &info) == 0) file = Identity{info.st_dev, info.st_ino};
    }
    bool matches(const Key& key) const { return key.fd >= 0 ? key.fd == fd : (file && key.file == file); }
};

void countTaken(Seam& s, const Key& key) {
    for (auto& [k, n] : s.takenCounts)
        if (k == key) {
            ++n;
            return;
        }
    s.takenCounts.push_back({key, 1});
}

// Under the lock: the first live rule of `call` for `fd` (and `request`), used up once.
std::optional<Rule> takeRule(Seam& s, const CallFd& fd, Call call, unsigned long request = 0) {
    for (auto it = s.rules.begin(); it != s.rules.end(); ++it) {
        if (it->call != call || !fd.matches(it->key)) continue;
        if (call == Call::Ioctl && it->request != 0 && it->request != request) continue;
        Rule rule = *it;
        if (--it->remaining <= 0) s.rules.erase(it);
        countTaken(s, rule.key);
        return rule;
    }
    return std::nullopt;
}

Line* findLine(Seam& s, const CallFd& fd) {
    for (auto& line : s.lines)
        if (fd.matches(line.key)) return &line;
    return nullptr;
}

Line& lineFor(Seam& s, const Key& key) {
    for (auto& line : s.lines)
        if (line.key == key) return line;
    Line line;
    line.key = key;
    s.lines.push_back(std::move(line));
    return s.lines.back();
}

void addRule(Rule rule) {
    Seam& s = seam();
    std::lock_guard lock(s.mutex);
    s.rules.push_back(rule);
    s.armed.store(true);
}

// A wait on a line with bytes to hand out is cut into slices, so that bytes
// given by deliver() during a long wait are seen within one slice.
constexpr int kSliceMs = 20;

std::int64_t nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

Target onFd(int fd) {
    return Target{fd, {}};
}

Target onFile(const std::string& path) {
    return Target{-1, path};
}

void failNext(const Target& target, Call call, int count, int code, unsigned long request) {
    addRule(Rule{resolve(target), call, count, code, 0, request});
}

void shortenWrites(const Target& target, int count, std::size_t maxBytes) {
    addRule(Rule{resolve(target), Call::Write, count, 0, maxBytes, 0});
}

void emulateCounters(const Target& target) {
    const Key key = resolve(target);
    Seam& s = seam();
    std::lock_guard lock(s.mutex);
    lineFor(s, key).counters = true;
    s.armed.store(true);
}

namespace {

void addLocked(Line& line, const LineCounts& deltas) {
    line.counts.frame += deltas.frame;
    line.counts.parity += deltas.parity;
    line.counts.overrun += deltas.overrun;
    line.counts.brk += deltas.brk;
    line.counts.buf_overrun += deltas.bufOverrun;
}

}  // namespace

void addCounts(const Target& target, const LineCounts& deltas) {
    const Key key = resolve(target);
    Seam& s = seam();
    std::lock_guard lock(s.mutex);
    Line& line = lineFor(s, key);
    line.counters = true;
    addLocked(line, deltas);
    s.armed.store(true);
}

void deliver(const Target& target, std::vector<std::uint8_t> raw, const LineCounts& counted) {
    const Key key = resolve(target);
    Seam& s = seam();
    std::lock_guard lock(s.mutex);
    Line& line = lineFor(s, key);
    line.feed.insert(line.feed.end(), raw.begin(), raw.end());
    if (raw.empty()) {
        addLocked(line, counted);
    } else {
        line.pending = {line.pending.frame + counted.frame, line.pending.parity + counted.parity,
                        line.pending.overrun + counted.overrun, line.pending.brk + counted.brk,
                        line.pending.bufOverrun + counted.bufOverrun};
    }
    s.armed.store(true);
}

std::size_t undelivered(const Target& target) {
    const Key key = resolve(target);
    Seam& s = seam();
    std::lock_guard lock(s.mutex);
    for (auto& line : s.lines)
        if (line.key == key) return line.feed.size();
    return 0;
}

std::size_t taken(const Target& target) {
    const Key key = resolve(target);
    Seam& s = seam();
    std::lock_guard lock(s.mutex);
    for (auto& [k, n] : s.takenCounts)
        if (k == key) return n;
    return 0;
}

void clearAll() {
    Seam& s = seam();
    std::lock_guard lock(s.mutex);
    s.armed.store(false);
    s.rules.clear();
    s.lines.clear();
    s.takenCounts.clear();
}

std::vector<std::uint8_t> escapeData(const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> raw;
    for (std::uint8_t byte : data) {
        raw.push_back(byte);
        if (byte == 0xFF) raw.push_back(0xFF);
    }
    return raw;
}

std::vector<std::uint8_t> markedByte(std::uint8_t byte) {
    return {0xFF, 0x00, byte};
}

}  // namespace ostrel::faults

using namespace ostrel::faults;

extern "C" {

ssize_t __wrap_read(int fd, void* buffer, size_t count) {
    auto& s = seam();
    if (s.armed.load()) {
        const CallFd callFd(fd);
        std::lock_guard lock(s.mutex);
        if (auto rule = takeRule(s, callFd, Call::Read)) {
            errno = rule->code;
            return -1;
        }
        if (auto* line = findLine(s, callFd); line && !line->feed.empty() && count > 0) {
            const std::size_t n = std::min(count, line->feed.size());
            std::copy_n(line->feed.begin(), n, static_cast<std::uint8_t*>(buffer));
            line->feed.erase(line->feed.begin(), line->feed.begin() + static_cast<std::ptrdiff_t>(n));
            addLocked(*line, line->pending);
            line->pending = {};
            countTaken(s, line->key);
            return static_cast<ssize_t>(n);
        }
    }
    return __real_read(fd, buffer, count);
}

ssize_t __wrap_write(int fd, const void* buffer, size_t count) {
    auto& s = seam();
    if (s.armed.load()) {
        const CallFd callFd(fd);
        std::unique_lock lock(s.mutex);
        if (auto rule = takeRule(s, callFd, Call::Write)) {
            if (rule->code != 0) {
                errno = rule->code;
                return -1;
            }
            count = std::min(count, rule->maxBytes);
        }
    }
    return __real_write(fd, buffer, count);
}

ssize_t __wrap_writev(int fd, const iovec* vectors, int count) {
    auto& s = seam();
    if (s.armed.load()) {
        const CallFd callFd(fd);
        std::optional<Rule> rule;
        {
            std::lock_guard lock(s.mutex);
            rule = takeRule(s, callFd, Call::Write);
        }
        if (rule && rule->code != 0) {
            errno = rule->code;
            return -1;
        }
        if (rule) {
            // Only the first maxBytes of the vectors go out.
            std::vector<iovec> cut;
            std::size_t left = rule->maxBytes;
            for (int i = 0; i < count && left > 0; ++i) {
                const std::size_t n = std::min(left, vectors[i].iov_len);
                cut.push_back(iovec{vectors[i].iov_base, n});
                left -= n;
            }
            if (cut.empty()) return 0;
            return __real_writev(fd, cut.data(), static_cast<int>(cut.size()));
        }
    }
    return __real_writev(fd, vectors, count);
}

int __wrap_poll(pollfd* fds, nfds_t count, int timeoutMs) {
    auto& s = seam();
    if (!s.armed.load()) return __real_poll(fds, count, timeoutMs);
    bool onLine = false;
    {
        std::lock_guard lock(s.mutex);
        for (nfds_t i = 0; i < count; ++i) {
            if (fds[i].fd < 0) continue;
            const CallFd callFd(fds[i].fd);
            if (auto rule = takeRule(s, callFd, Call::Poll)) {
                errno = rule->code;
                return -1;
            }
            if (findLine(s, callFd) != nullptr) onLine = true;
        }
    }
    if (!onLine) return __real_poll(fds, count, timeoutMs);
    // Fed bytes make the line readable; the real poll still tells the rest.
    const auto fedReadable = [&] {
        std::vector<nfds_t> fed;
        std::lock_guard lock(s.mutex);
        for (nfds_t i = 0; i < count; ++i) {
            if (fds[i].fd < 0 || !(fds[i].events & POLLIN)) continue;
            const CallFd callFd(fds[i].fd);
            if (auto* line = findLine(s, callFd); line && !line->feed.empty()) fed.push_back(i);
        }
        return fed;
    };
    const std::int64_t deadline = timeoutMs < 0 ? -1 : nowMs() + timeoutMs;
    for (;;) {
        const std::vector<nfds_t> fed = fedReadable();
        int slice = kSliceMs;
        if (!fed.empty()) slice = 0;
        if (deadline >= 0)
            slice = static_cast<int>(
                std::min<std::int64_t>(slice, std::max<std::int64_t>(0, deadline - nowMs())));
        int ready = __real_poll(fds, count, slice);
        if (ready < 0) return ready;
        for (nfds_t i : fed) {
            if (fds[i].revents == 0) ++ready;
            fds[i].revents |= POLLIN;
        }
        if (ready > 0 || (deadline >= 0 && nowMs() >= deadline)) return ready;
    }
}

int __wrap_ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    auto& s = seam();
    if (s.armed.load()) {
        const CallFd callFd(fd);
        std::lock_guard lock(s.mutex);
        if (auto rule = takeRule(s, callFd, Call::Ioctl, request)) {
            errno = rule->code;
            return -1;
        }
        if (request == TIOCGICOUNT) {
            if (auto* line = findLine(s, callFd); line && line->counters) {
                std::memcpy(argument, &line->counts, sizeof line->counts);
                countTaken(s, line->key);
                return 0;
            }
        }
    }
    return __real_ioctl(fd, request, argument);
}

int __wrap_flock(int fd, int operation) {
    auto& s = seam();
    if (s.armed.load()) {
        const CallFd callFd(fd);
        std::lock_guard lock(s.mutex);
        if (auto rule = takeRule(s, callFd, Call::Lock)) {
            errno = rule->code;
            return -1;
        }
    }
    return __real_flock(fd, operation);
}

int __wrap_tcflush(int fd, int queue) {
    auto& s = seam();
    if (s.armed.load()) {
        const CallFd callFd(fd);
        std::lock_guard lock(s.mutex);
        if (auto rule = takeRule(s, callFd, Call::Flush)) {
            errno = rule->code;
            return -1;
        }
    }
    return __real_tcflush(fd, queue);
}

}  // extern "C"
