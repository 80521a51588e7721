// Relays side by side over pseudo-terminals: a bare poll() relay, the same
// with a buffered hex dump, socat and socat -x as references, and Ostrel
// (headless and the window) in Intercede, each run as a process of its own
// between the slaves of two fresh pty pairs. The load (writers into the
// masters, readers that check every byte) runs in this process, so the CPU
// time of a relay is its own process's alone (summed over its threads from
// /proc/PID/task/*/schedstat, nanoseconds).
//
// Workloads per relay and run: one way (DTE side to DCE side), both ways at
// once (half the bytes each way), and one-byte latency (write one byte, wait
// until it comes out of the far master). Relays are interleaved: run 1 of
// every relay, then run 2 of every relay, and so on; the table shows medians.
//
// Usage: relay_bench [options]     (bench/run builds and calls it)
//   --runs N          runs per relay (default 5)
//   --mib N           MiB one way, and in total both ways (default 32)
//   --slow-mib N      MiB for relays marked slow (socat -x; default 2)
//   --samples N       one-byte latency samples (default 1000)
//   --ostrel PATH     the ostrel program (rows left out when not given)
//   --window PATH     ui_window_relay_bench (row left out when not given)
//   --only A,B        only the relays whose short names are listed
//   --markdown FILE   also write the table, machine and date to FILE
//   --build-type T    the build type named in that file
//   --soak SECONDS    instead of the table: one relay (headless HEX, or the
//                     first of --only) both ways at full speed, its text to
//                     /dev/null, RSS printed every --soak-every seconds (60)
// Internal: relay_bench --serve bare|hexdump DTE-PATH DCE-PATH [DUMP-FILE]

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "latency_probe.h"
#include "platform/pty_pair.h"

namespace {

using ostrel::bench::latencies;
using ostrel::bench::percentile;

using Clock = std::chrono::steady_clock;
constexpr double kMiB = 1024.0 * 1024.0;

// ---------------------------------------------------------------------------
// The reference relays (run as child processes of this program).

struct Direction {
    int from = -1;
    int to = -1;
    std::vector<std::uint8_t> pending;  // read, not written yet
    std::size_t head = 0;
    char mark = '>';
};

// Table-driven "0x%02X " tokens, one line per read, into a 64 KiB buffer
// that is written out when full or when the line is idle for 10 ms.
class HexDump {
public:
    explicit HexDump(int fd) : fd_(fd) { buffer_.reserve(kSize + 16 * 1024); }
    ~HexDump() { flush(); }
    void add(char mark, const std::uint8_t* bytes, std::size_t n) {
        static const char* digits = "0123456789ABCDEF";
        buffer_.push_back('\n');
        buffer_.push_back(mark);
        buffer_.push_back(' ');
        for (std::size_t i = 0; i < n; ++i) {
            const char token[5] = {'0', 'x', digits[bytes[i] >> 4], digits[bytes[i] & 15], ' '};
            buffer_.insert(buffer_.end(), token, token + 5);
            if (buffer_.size() >= kSize) flush();
        }
    }
    void flush() {
        std::size_t done = 0;
        while (done < buffer_.size()) {
            const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        buffer_.clear();
    }
    bool empty() const { return buffer_.empty(); }

private:
    static constexpr std::size_t kSize = 64 * 1024;
    int fd_;
    std::vector<char> buffer_;
};

volatile sig_atomic_t gStop = 0;

int serve(const std::string& kind, const char* dtePath, const char* dcePath, const char* dumpPath) {
    struct sigaction action {};
    action.sa_handler = [](int) { gStop = 1; };
    sigaction(SIGTERM, &action, nullptr);
    const int a = ::open(dtePath, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const int b = ::open(dcePath, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (a < 0 || b < 0) return std::perror("open"), 1;
    std::optional<HexDump> dump;
    int dumpFd = -1;
    if (kind == "hexdump") {
        dumpFd = ::open(dumpPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (dumpFd < 0) return std::perror(dumpPath), 1;
        dump.emplace(dumpFd);
    }
    std::array<Direction, 2> dirs{};
    dirs[0].from = a, dirs[0].to = b, dirs[0].mark = '>';
    dirs[1].from = b, dirs[1].to = a, dirs[1].mark = '<';
    std::vector<std::uint8_t> buffer(65536);
    constexpr std::size_t kHold = 1u << 20;
    while (!gStop) {
        pollfd fds[2];
        for (int i = 0; i < 2; ++i) {
            Direction& d = dirs[i];
            const bool full = d.pending.size() - d.head >= kHold;
            fds[i] = {d.from, static_cast<short>(full ? 0 : POLLIN), 0};
        }
        // A write that could not finish waits for POLLOUT on its target.
        short outA = dirs[1].head < dirs[1].pending.size() ? POLLOUT : 0;
        short outB = dirs[0].head < dirs[0].pending.size() ? POLLOUT : 0;
        fds[0].events |= outA;
        fds[1].events |= outB;
        const int timeout = dump && !dump->empty() ? 10 : 200;
        const int ready = ::poll(fds, 2, timeout);
        if (ready <= 0) {
            if (dump) dump->flush();
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            Direction& d = dirs[i];
            if (fds[i].revents & POLLIN) {
                const ssize_t n = ::read(d.from, buffer.data(), buffer.size());
                if (n > 0) {
                    if (dump) dump->add(d.mark, buffer.data(), static_cast<std::size_t>(n));
                    d.pending.insert(d.pending.end(), buffer.begin(), buffer.begin() + n);
                }
            }
        }
        for (Direction& d : dirs) {
            if (d.head == d.pending.size()) continue;
            const ssize_t n = ::write(d.to, d.pending.data() + d.head, d.pending.size() - d.head);
            if (n > 0) d.head += static_cast<std::size_t>(n);
            if (d.head == d.pending.size()) {
                d.pending.clear();
                d.head = 0;
            } else if (d.head > kHold) {
                d.pending.erase(d.pending.begin(), d.pending.begin() + static_cast<std::ptrdiff_t>(d.head));
                d.head = 0;
            }
        }
    }
    dump.reset();
    if (dumpFd >= 0) ::close(dumpFd);
    return 0;
}

// ---------------------------------------------------------------------------
// A relay under test: a child process between the two slaves.

struct RelaySpec {
    std::string shortName;  // for --only
    std::string name;       // the table's row
    bool slow = false;      // measured with --slow-mib
    bool window = false;    // ends on the end of its standard input, says "ready"
    // Builds the argv from the two slave paths and a scratch directory.
    std::function<std::vector<std::string>(const std::string&, const std::string&, const std::string&)> argv;
};

struct Child {
    pid_t pid = -1;
    int stdinWrite = -1;  // the window host ends when this is closed
};

Child spawn(const std::vector<std::string>& args, const std::string& stdoutPath,
            const std::string& stderrPath, bool pipeStdin) {
    int in[2] = {-1, -1};
    if (pipeStdin && ::pipe2(in, O_CLOEXEC) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int nul = ::open("/dev/null", O_RDONLY);
        ::dup2(pipeStdin ? in[0] : nul, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        std::vector<char*> argv;
        for (const std::string& s : args) argv.push_back(const_cast<char*>(s.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        std::perror(argv[0]);
        ::_exit(127);
    }
    Child child{pid, -1};
    if (pipeStdin) {
        ::close(in[0]);
        child.stdinWrite = in[1];
    }
    return child;
}

bool alive(pid_t pid) {
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) == 0;
}

void finish(Child& child) {
    if (child.pid <= 0) return;
    if (child.stdinWrite >= 0) {
        ::close(child.stdinWrite);
        child.stdinWrite = -1;
    } else {
        ::kill(child.pid, SIGTERM);
    }
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    int status = 0;
    while (::waitpid(child.pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            std::fprintf(stderr, "relay %d did not end: killed\n", child.pid);
            ::kill(child.pid, SIGKILL);
            ::waitpid(child.pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    child.pid = -1;
}

// CPU time of every thread of the process, in nanoseconds.
double cpuNs(pid_t pid) {
    const std::string dir = "/proc/" + std::to_string(pid) + "/task";
    double total = 0;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            if (e->d_name[0] == '.') continue;
            std::ifstream f(dir + "/" + e->d_name + "/schedstat");
            double ns = 0;
            if (f >> ns) total += ns;
        }
        ::closedir(d);
    }
    return total;
}

double rssMiB(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024;
    return 0;
}

// ---------------------------------------------------------------------------
// The load.

std::uint8_t patternByte(std::uint64_t seed, std::uint64_t i) {
    const std::uint64_t x = i + seed;
    return static_cast<std::uint8_t>(x ^ (x >> 8) ^ (x >> 16) ^ (x >> 24) ^ (seed >> 3));
}

bool waitFor(int fd, short events, int ms) {
    pollfd p{fd, events, 0};
    return ::poll(&p, 1, ms) > 0 && (p.revents & events);
}

struct Stream {
    int in = -1;   // master written
    int out = -1;  // master read
    std::uint64_t seed = 0;
    std::size_t total = 0;
    std::atomic<std::size_t> received{0};
    bool exact = true;
};

// Writes and reads every stream at once; returns the seconds until the last
// byte arrived, or -1 when a stream stalled for 10 s or came out wrong.
double transfer(std::vector<Stream*> streams) {
    std::vector<std::thread> threads;
    std::atomic<bool> failed{false};
    const auto start = Clock::now();
    for (Stream* s : streams) {
        threads.emplace_back([s, &failed] {
            std::vector<std::uint8_t> block(65536);
            std::size_t sent = 0;
            while (sent < s->total && !failed) {
                const std::size_t n = std::min(block.size(), s->total - sent);
                for (std::size_t i = 0; i < n; ++i) block[i] = patternByte(s->seed, sent + i);
                std::size_t done = 0;
                while (done < n && !failed) {
                    const ssize_t w = ::write(s->in, block.data() + done, n - done);
                    if (w > 0) {
                        done += static_cast<std::size_t>(w);
                    } else if (w < 0 && errno != EAGAIN && errno != EINTR) {
                        failed = true;
                    } else {
                        waitFor(s->in, POLLOUT, 100);
                    }
                }
                sent += done;
            }
        });
        threads.emplace_back([s, &failed] {
            std::vector<std::uint8_t> buffer(65536);
            std::size_t got = 0;
            auto lastProgress = Clock::now();
            while (got < s->total && !failed) {
                if (!waitFor(s->out, POLLIN, 200)) {
                    if (Clock::now() - lastProgress > std::chrono::seconds(10)) {
                        std::fprintf(stderr, "stalled after %zu of %zu bytes\n", got, s->total);
                        failed = true;
                    }
                    continue;
                }
                const ssize_t n = ::read(s->out, buffer.data(), buffer.size());
                if (n <= 0) continue;
                lastProgress = Clock::now();
                for (ssize_t i = 0; i < n; ++i)
                    if (buffer[i] != patternByte(s->seed, got + i)) s->exact = false;
                if (got + static_cast<std::size_t>(n) > s->total) s->exact = false;
                got += static_cast<std::size_t>(n);
                s->received = got;
            }
        });
    }
    for (std::thread& t : threads) t.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    bool exact = !failed;
    for (Stream* s : streams) exact = exact && s->exact;
    return exact ? seconds : -1;
}

// Reads everything that arrives until the master has been quiet for `quietMs`.
void drainQuiet(int fd, int quietMs) {
    std::uint8_t buffer[4096];
    while (waitFor(fd, POLLIN, quietMs))
        if (::read(fd, buffer, sizeof buffer) <= 0) break;
}

// Until a byte written into `in` comes out of `out` (the relay has opened both
// ports); false after 20 s.
bool relayReady(int in, int out) {
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline) {
        const std::uint8_t probe = 0x7E;
        if (::write(in, &probe, 1) != 1) return false;
        if (waitFor(out, POLLIN, 100)) return true;
    }
    return false;
}

struct Sample {
    double oneWayMiBs = 0, oneWayCpu = 0;  // MiB/s, CPU ms per MiB
    double bothWaysMiBs = 0, bothWaysCpu = 0;
    double p50 = 0, p99 = 0;
    double rss = 0;
    bool ok = false;
    std::string why;
};

struct Settings {
    int runs = 5;
    double mib = 32;
    double slowMib = 2;
    int samples = 1000;
};

Sample runOnce(const RelaySpec& spec, const Settings& settings, const std::string& scratch, int run) {
    Sample sample;
    auto a = ostrel::platform::openPtyPair();
    auto b = ostrel::platform::openPtyPair();
    if (!a || !b) {
        sample.why = "no pseudo-terminals";
        return sample;
    }
    const int dteMaster = a.value().master.get();
    const int dceMaster = b.value().master.get();
    const std::string dir = scratch + "/" + spec.shortName + "-" + std::to_string(run);
    ::mkdir(dir.c_str(), 0700);
    const std::string out = dir + "/stdout", err = dir + "/stderr";
    Child child = spawn(spec.argv(a.value().slavePath, b.value().slavePath, dir), out, err, spec.window);
    if (child.pid <= 0) {
        sample.why = "could not start";
        return sample;
    }
    const auto cleanup = [&] {
        finish(child);
        for (const char* name : {"stdout", "stderr", "dump", "capture"}) ::unlink((dir + "/" + name).c_str());
        ::rmdir(dir.c_str());
    };
    if (!relayReady(dteMaster, dceMaster) || !relayReady(dceMaster, dteMaster)) {
        sample.why = alive(child.pid) ? "relay not ready after 20 s" : "relay ended at start";
        std::ifstream e(err);
        std::string line;
        if (std::getline(e, line)) sample.why += ": " + line;
        cleanup();
        return sample;
    }
    drainQuiet(dteMaster, 150);
    drainQuiet(dceMaster, 150);

    const double mib = spec.slow ? settings.slowMib : settings.mib;
    const std::size_t bytes = static_cast<std::size_t>(mib * kMiB);
    bool ok = true;
    {
        Stream s;
        s.in = dteMaster, s.out = dceMaster, s.seed = 11 + static_cast<std::uint64_t>(run), s.total = bytes;
        const double cpu0 = cpuNs(child.pid);
        const double seconds = transfer({&s});
        const double cpu = cpuNs(child.pid) - cpu0;
        if (seconds < 0) ok = false, sample.why = "one way: bytes wrong or stalled";
        sample.oneWayMiBs = mib / seconds;
        sample.oneWayCpu = cpu / 1e6 / mib;
    }
    if (ok) {
        Stream there, back;
        there.in = dteMaster, there.out = dceMaster, there.seed = 101, there.total = bytes / 2;
        back.in = dceMaster, back.out = dteMaster, back.seed = 202, back.total = bytes / 2;
        const double cpu0 = cpuNs(child.pid);
        const double seconds = transfer({&there, &back});
        const double cpu = cpuNs(child.pid) - cpu0;
        if (seconds < 0) ok = false, sample.why = "both ways: bytes wrong or stalled";
        sample.bothWaysMiBs = mib / seconds;
        sample.bothWaysCpu = cpu / 1e6 / mib;
    }
    if (ok) {
        drainQuiet(dceMaster, 20);
        const std::vector<double> times = latencies(dteMaster, dceMaster, settings.samples);
        if (times.size() != static_cast<std::size_t>(settings.samples)) {
            ok = false, sample.why = "latency: a byte did not come through";
        } else {
            sample.p50 = percentile(times, 0.50);
            sample.p99 = percentile(times, 0.99);
        }
    }
    sample.rss = rssMiB(child.pid);
    sample.ok = ok;
    cleanup();
    return sample;
}

// Both ways at full speed for `seconds` through one relay whose text goes to
// /dev/null; prints the relay's RSS every `everySeconds` and checks every
// byte. Returns false when a byte came out wrong or the streams stalled.
bool soak(const RelaySpec& spec, double seconds, double everySeconds) {
    auto a = ostrel::platform::openPtyPair();
    auto b = ostrel::platform::openPtyPair();
    if (!a || !b) return std::fprintf(stderr, "no pseudo-terminals\n"), false;
    const int dteMaster = a.value().master.get();
    const int dceMaster = b.value().master.get();
    char dirTemplate[] = "/tmp/ostrel-soak-XXXXXX";
    if (!::mkdtemp(dirTemplate)) return std::perror("mkdtemp"), false;
    const std::string dir = dirTemplate;
    Child child = spawn(spec.argv(a.value().slavePath, b.value().slavePath, dir), "/dev/null",
                        dir + "/stderr", spec.window);
    const auto cleanup = [&] {
        finish(child);
        for (const char* name : {"stderr", "dump", "capture"}) ::unlink((dir + "/" + name).c_str());
        ::rmdir(dir.c_str());
    };
    if (child.pid <= 0 || !relayReady(dteMaster, dceMaster) || !relayReady(dceMaster, dteMaster)) {
        std::fprintf(stderr, "the relay did not start\n");
        cleanup();
        return false;
    }
    drainQuiet(dteMaster, 150);
    drainQuiet(dceMaster, 150);

    struct Way {
        int in, out;
        std::uint64_t seed;
        std::atomic<std::size_t> sent{0}, received{0};
        std::atomic<bool> exact{true};
    };
    Way ways[2] = {{dteMaster, dceMaster, 5}, {dceMaster, dteMaster, 9}};
    std::atomic<bool> stopWriting{false}, stopReading{false};
    std::vector<std::thread> threads;
    for (Way& w : ways) {
        threads.emplace_back([&w, &stopWriting] {
            std::vector<std::uint8_t> block(65536);
            std::size_t sent = 0;
            while (!stopWriting) {
                for (std::size_t i = 0; i < block.size(); ++i) block[i] = patternByte(w.seed, sent + i);
                std::size_t done = 0;
                while (done < block.size() && !stopWriting) {
                    const ssize_t n = ::write(w.in, block.data() + done, block.size() - done);
                    if (n > 0) {
                        done += static_cast<std::size_t>(n);
                        w.sent = sent + done;
                    } else {
                        waitFor(w.in, POLLOUT, 100);
                    }
                }
                sent += done;
            }
        });
        threads.emplace_back([&w, &stopReading] {
            std::vector<std::uint8_t> buffer(65536);
            std::size_t got = 0;
            while (!stopReading) {
                if (!waitFor(w.out, POLLIN, 100)) continue;
                const ssize_t n = ::read(w.out, buffer.data(), buffer.size());
                if (n <= 0) continue;
                for (ssize_t i = 0; i < n; ++i)
                    if (buffer[i] != patternByte(w.seed, got + i)) w.exact = false;
                got += static_cast<std::size_t>(n);
                w.received = got;
            }
        });
    }
    const auto start = Clock::now();
    std::printf("soak: %s, both ways at full speed for %.0f s; RSS every %.0f s\n", spec.name.c_str(),
                seconds, everySeconds);
    std::printf("%8s %10s %14s %12s\n", "s", "RSS MiB", "MiB relayed", "MiB/s");
    std::fflush(stdout);
    double lastMiB = 0, lastAt = 0;
    for (double next = 0; next <= seconds; next += everySeconds) {
        std::this_thread::sleep_until(
            start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(next)));
        const double mib = static_cast<double>(ways[0].received + ways[1].received) / kMiB;
        const double at = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("%8.0f %10.1f %14.0f %12.1f\n", at, rssMiB(child.pid), mib,
                    at > lastAt ? (mib - lastMiB) / (at - lastAt) : 0.0);
        std::fflush(stdout);
        lastMiB = mib, lastAt = at;
    }
    stopWriting = true;
    const auto drainDeadline = Clock::now() + std::chrono::seconds(30);
    while (Clock::now() < drainDeadline &&
           (ways[0].received < ways[0].sent || ways[1].received < ways[1].sent))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stopReading = true;
    for (std::thread& t : threads) t.join();
    bool ok = true;
    for (const Way& w : ways) {
        const bool whole = w.received == w.sent;
        std::printf("%s: %zu bytes sent, %zu received, %s\n", &w == &ways[0] ? "DTE->DCE" : "DCE->DTE",
                    w.sent.load(), w.received.load(),
                    whole && w.exact ? "every byte right" : "BYTES MISSING OR WRONG");
        ok = ok && whole && w.exact;
    }
    cleanup();
    return ok;
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::string readFirstLine(const std::string& path, const std::string& prefix) {
    std::ifstream f(path);
    std::string line;
    while (std::getline(f, line))
        if (line.rfind(prefix, 0) == 0) return line;
    return "";
}

std::string loadAverage() {
    std::ifstream f("/proc/loadavg");
    double a = 0, b = 0, c = 0;
    f >> a >> b >> c;
    char text[64];
    std::snprintf(text, sizeof text, "%.2f %.2f %.2f", a, b, c);
    return text;
}

std::string selfPath() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "relay_bench";
    return std::string(path, static_cast<std::size_t>(n));
}

}  // namespace

int main(int argc, char* argv[]) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "--serve") {
        if (args.size() < 4) return 2;
        return serve(args[1], args[2].c_str(), args[3].c_str(), args.size() > 4 ? args[4].c_str() : "");
    }

    Settings settings;
    double soakSeconds = 0, soakEvery = 60;
    std::string ostrel, window, only, markdown, buildType = "unknown";
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--runs" && hasValue)
            settings.runs = std::max(1, std::atoi(args[++i].c_str()));
        else if (a == "--mib" && hasValue)
            settings.mib = std::max(0.1, std::atof(args[++i].c_str()));
        else if (a == "--slow-mib" && hasValue)
            settings.slowMib = std::max(0.1, std::atof(args[++i].c_str()));
        else if (a == "--samples" && hasValue)
            settings.samples = std::max(10, std::atoi(args[++i].c_str()));
        else if (a == "--ostrel" && hasValue)
            ostrel = args[++i];
        else if (a == "--window" && hasValue)
            window = args[++i];
        else if (a == "--only" && hasValue)
            only = "," + args[++i] + ",";
        else if (a == "--markdown" && hasValue)
            markdown = args[++i];
        else if (a == "--build-type" && hasValue)
            buildType = args[++i];
        else if (a == "--soak" && hasValue)
            soakSeconds = std::max(1.0, std::atof(args[++i].c_str()));
        else if (a == "--soak-every" && hasValue)
            soakEvery = std::max(1.0, std::atof(args[++i].c_str()));
        else
            return std::fprintf(stderr, "relay_bench: unknown or incomplete option %s\n", a.c_str()), 2;
    }
    ::signal(SIGPIPE, SIG_IGN);

    const std::string self = selfPath();
    using Paths = const std::string&;
    std::vector<RelaySpec> specs;
    specs.push_back({"bare", "bare poll() relay", false, false, [self](Paths a, Paths b, Paths) {
                         return std::vector<std::string>{self, "--serve", "bare", a, b};
                     }});
    specs.push_back({"hexdump", "same + buffered hex dump", false, false, [self](Paths a, Paths b, Paths d) {
                         return std::vector<std::string>{self, "--serve", "hexdump", a, b, d + "/dump"};
                     }});
    if (::access("/usr/bin/socat", X_OK) == 0) {
        specs.push_back({"socat", "socat", false, false, [](Paths a, Paths b, Paths) {
                             return std::vector<std::string>{"socat", a + ",rawer", b + ",rawer"};
                         }});
        specs.push_back({"socat-x", "socat -x (hex dump)", true, false, [](Paths a, Paths b, Paths) {
                             return std::vector<std::string>{"socat", "-x", a + ",rawer", b + ",rawer"};
                         }});
    }
    if (!ostrel.empty()) {
        const auto headless = [ostrel](std::vector<std::string> extra) {
            return [ostrel, extra](Paths a, Paths b, Paths d) {
                std::vector<std::string> v{ostrel, "--headless", "-m", "intercede", "--dte", a, "--dce", b};
                for (const std::string& e : extra) v.push_back(e == "CAPTURE" ? d + "/capture" : e);
                return v;
            };
        };
        specs.push_back({"hex", "Ostrel headless, HEX to a file", false, false, headless({"-d", "hex"})});
        specs.push_back(
            {"ascii", "Ostrel headless, ASCII to a file", false, false, headless({"-d", "ascii"})});
        specs.push_back({"off", "Ostrel headless, display OFF", false, false, headless({"-d", "off"})});
        specs.push_back({"capture", "Ostrel headless, HEX + capture", false, false,
                         headless({"-d", "hex", "-c", "CAPTURE"})});
    }
    if (!window.empty()) {
        specs.push_back(
            {"window", "Ostrel window (offscreen), HEX", false, true, [window](Paths a, Paths b, Paths) {
                 return std::vector<std::string>{window, a, b};
             }});
    }
    if (!only.empty())
        specs.erase(std::remove_if(specs.begin(), specs.end(),
                                   [&](const RelaySpec& s) {
                                       return only.find("," + s.shortName + ",") == std::string::npos;
                                   }),
                    specs.end());

    if (soakSeconds > 0) {
        // The first relay left by --only (Ostrel headless HEX when none is given).
        const auto pick = std::find_if(specs.begin(), specs.end(), [&](const RelaySpec& s) {
            return only.empty() ? s.shortName == "hex" : true;
        });
        if (pick == specs.end()) return std::fprintf(stderr, "relay_bench: --soak needs --ostrel\n"), 2;
        return soak(*pick, soakSeconds, soakEvery) ? 0 : 1;
    }

    char scratchTemplate[] = "/tmp/ostrel-relay-bench-XXXXXX";
    if (!::mkdtemp(scratchTemplate)) return std::perror("mkdtemp"), 1;
    const std::string scratch = scratchTemplate;

    const std::string loadBefore = loadAverage();
    std::printf(
        "%zu relays x %d runs, interleaved; %.0f MiB one way, %.0f MiB both ways (half each way), "
        "%.0f MiB for socat -x; %d latency samples; load average %s\n",
        specs.size(), settings.runs, settings.mib, settings.mib, settings.slowMib, settings.samples,
        loadBefore.c_str());
    std::fflush(stdout);
    std::map<std::string, std::vector<Sample>> samples;
    bool allOk = true;
    for (int run = 1; run <= settings.runs; ++run) {
        for (const RelaySpec& spec : specs) {
            Sample s = runOnce(spec, settings, scratch, run);
            if (!s.ok) {
                allOk = false;
                std::fprintf(stderr, "run %d, %s: %s\n", run, spec.name.c_str(), s.why.c_str());
            }
            samples[spec.shortName].push_back(s);
        }
        std::fprintf(stderr, "run %d of %d done (load %s)\n", run, settings.runs, loadAverage().c_str());
    }
    ::rmdir(scratch.c_str());
    const std::string loadAfter = loadAverage();

    struct Row {
        Sample m;
        int ok = 0;
    };
    std::map<std::string, Row> rows;
    for (const RelaySpec& spec : specs) {
        std::vector<double> f[7];
        int ok = 0;
        for (const Sample& s : samples[spec.shortName]) {
            if (!s.ok) continue;
            ++ok;
            f[0].push_back(s.oneWayMiBs), f[1].push_back(s.oneWayCpu), f[2].push_back(s.bothWaysMiBs);
            f[3].push_back(s.bothWaysCpu), f[4].push_back(s.p50), f[5].push_back(s.p99),
                f[6].push_back(s.rss);
        }
        Sample m;
        m.oneWayMiBs = median(f[0]), m.oneWayCpu = median(f[1]), m.bothWaysMiBs = median(f[2]);
        m.bothWaysCpu = median(f[3]), m.p50 = median(f[4]), m.p99 = median(f[5]), m.rss = median(f[6]);
        rows[spec.shortName] = {m, ok};
    }

    std::ostringstream table;
    char line[512];
    table << "| relay | one way MiB/s | CPU ms/MiB | both ways MiB/s | CPU ms/MiB | latency p50 / p99 us | "
             "RSS MiB "
             "| runs exact |\n|---|---|---|---|---|---|---|---|\n";
    for (const RelaySpec& spec : specs) {
        const Row& r = rows[spec.shortName];
        std::snprintf(line, sizeof line,
                      "| %s | %.1f | %.2f | %.1f | %.2f | %.0f / %.0f | %.0f | %d of %d |\n",
                      spec.name.c_str(), r.m.oneWayMiBs, r.m.oneWayCpu, r.m.bothWaysMiBs, r.m.bothWaysCpu,
                      r.m.p50, r.m.p99, r.m.rss, r.ok, settings.runs);
        table << line;
    }

    // Ratios against the references of this same run.
    std::ostringstream ratios;
    const auto ratio = [&](const char* what, const char* of, const char* to, double Sample::*field,
                           bool lowerBetter, double target) {
        if (!rows.count(of) || !rows.count(to) || rows[of].ok == 0 || rows[to].ok == 0) return;
        const double x = rows[of].m.*field, y = rows[to].m.*field;
        if (y <= 0) return;
        const double q = x / y;
        const bool met = lowerBetter ? q <= target : q >= target;
        std::snprintf(line, sizeof line, "| %s | %.2fx | %s %.1fx | %s |\n", what, q,
                      lowerBetter ? "<=" : ">=", target, met ? "met" : "NOT met");
        ratios << line;
    };
    ratios << "| ratio (medians of this run) | value | target | |\n|---|---|---|---|\n";
    ratio("OFF / bare relay, one-way throughput", "off", "bare", &Sample::oneWayMiBs, false, 0.8);
    ratio("OFF / bare relay, one-way CPU per MiB", "off", "bare", &Sample::oneWayCpu, true, 2.0);
    ratio("OFF / bare relay, both-ways throughput", "off", "bare", &Sample::bothWaysMiBs, false, 0.8);
    ratio("OFF / bare relay, both-ways CPU per MiB", "off", "bare", &Sample::bothWaysCpu, true, 2.0);
    ratio("HEX / hex-dump relay, one-way throughput", "hex", "hexdump", &Sample::oneWayMiBs, false, 0.7);
    ratio("HEX / hex-dump relay, one-way CPU per MiB", "hex", "hexdump", &Sample::oneWayCpu, true, 1.6);
    ratio("HEX / hex-dump relay, both-ways throughput", "hex", "hexdump", &Sample::bothWaysMiBs, false, 0.7);
    ratio("HEX / hex-dump relay, both-ways CPU per MiB", "hex", "hexdump", &Sample::bothWaysCpu, true, 1.6);
    for (const char* row : {"hex", "off"}) {
        const std::string p50 =
            std::string(row == std::string("hex") ? "HEX" : "OFF") + " / bare relay, latency p50";
        const std::string p99 =
            std::string(row == std::string("hex") ? "HEX" : "OFF") + " / bare relay, latency p99";
        ratio(p50.c_str(), row, "bare", &Sample::p50, true, 1.2);
        ratio(p99.c_str(), row, "bare", &Sample::p99, true, 1.5);
    }
    ratio("window HEX / headless HEX, one-way throughput", "window", "hex", &Sample::oneWayMiBs, false, 0.5);
    ratio("window HEX / headless HEX, both-ways throughput", "window", "hex", &Sample::bothWaysMiBs, false,
          0.5);

    std::printf("\n%s\n%s\nload average before %s, after %s\n", table.str().c_str(), ratios.str().c_str(),
                loadBefore.c_str(), loadAfter.c_str());

    if (!markdown.empty()) {
        std::ofstream md(markdown);
        const std::time_t now = std::time(nullptr);
        char date[64];
        std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
        std::string cpu = readFirstLine("/proc/cpuinfo", "model name");
        if (const auto colon = cpu.find(':'); colon != std::string::npos) cpu = cpu.substr(colon + 2);
        md << "# Relay benchmark: the last full run of bench/run\n\n"
           << "Date: " << date << "  \nMachine: " << std::thread::hardware_concurrency() << " CPUs (nproc), "
           << cpu << "  \nBuild: " << buildType << "  \nLoad average before / after: " << loadBefore << " / "
           << loadAfter << "\n\n"
           << "Each relay is a process of its own between the slaves of two fresh pseudo-terminal pairs; the "
              "load runs in the bench and is not counted. "
           << settings.runs << " runs per relay, interleaved, medians shown. One way: " << settings.mib
           << " MiB from the DTE side's master to the DCE side's; both ways: " << settings.mib / 2
           << " MiB each way at once (the figure is the sum); socat -x moves " << settings.slowMib
           << " MiB instead. Latency: " << settings.samples
           << " single bytes, each written when the previous one came out. Every byte of every stream is "
              "checked; \"runs exact\" counts the runs that delivered every byte right. CPU is the relay "
              "process's time over all its threads.\n\n"
           << table.str() << "\n"
           << ratios.str();
    }
    return allOk ? 0 : 1;
}
