// Intercede relay over pseudo-terminals: throughput, one-byte latency and CPU
// time per MiB of the engine (HEX display on, the text drained to a file by
// the headless output writer), next to a minimal poll() relay measured in the
// same run on the same kind of line.
//
// Usage: relay_bench [MiB per run (default 32)] [latency samples (default 2000)]
// The load generator (the writer into one master, the reader of the other)
// runs in the same process; its own CPU time is measured per thread and left
// out of the relay's figure.

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "engine/display_queue.h"
#include "engine/engine.h"
#include "engine/status_text.h"
#include "headless/headless_window.h"
#include "headless/output_writer.h"
#include "platform/port_map.h"
#include "platform/posix_io.h"
#include "platform/pty_pair.h"
#include "presentation/capture_file.h"
#include "presentation/traffic_formatter.h"

namespace {

using namespace ostrel;
using Clock = std::chrono::steady_clock;

double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::uint8_t patternByte(std::size_t i) {
    return static_cast<std::uint8_t>(i ^ (i >> 8) ^ (i >> 16) ^ (i >> 24));
}

struct Result {
    double mibPerSecond = 0;
    double relayCpuMsPerMib = 0;
    double p50us = 0, p99us = 0;
    bool verified = false;
};

// Writes `total` pattern bytes into `in` while reading them back from `out`;
// returns the elapsed seconds and adds the generator's CPU time.
double pushThrough(int in, int out, std::size_t total, bool& verified, double& generatorCpu) {
    std::atomic<double> writerCpu{0};
    const auto start = Clock::now();
    std::thread writer([&] {
        std::vector<std::uint8_t> block(65536);
        std::size_t sent = 0;
        while (sent < total) {
            const std::size_t n = std::min(block.size(), total - sent);
            for (std::size_t i = 0; i < n; ++i) block[i] = patternByte(sent + i);
            const ostrel::platform::io::WriteAllPolicy waitWhenFull{
                ostrel::platform::io::WhenFull::WaitWritable, 100, EIO};
            if (auto w = ostrel::platform::io::writeAll(in, std::span(block).first(n), waitWhenFull); !w) {
                std::fprintf(stderr, "write: %s\n", w.error().describe().c_str());
                return;
            }
            sent += n;
        }
        writerCpu = cpuSeconds(RUSAGE_THREAD);
    });
    std::vector<std::uint8_t> buffer(65536);
    std::size_t received = 0;
    verified = true;
    const double readerCpuBefore = cpuSeconds(RUSAGE_THREAD);
    while (received < total) {
        pollfd p{out, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0) {
            std::fprintf(stderr, "stalled after %zu of %zu bytes\n", received, total);
            verified = false;
            break;
        }
        const ssize_t n = ::read(out, buffer.data(), buffer.size());
        if (n <= 0) continue;
        for (ssize_t i = 0; i < n; ++i) verified = verified && buffer[i] == patternByte(received + i);
        received += static_cast<std::size_t>(n);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    writer.join();
    generatorCpu += writerCpu.load() + (cpuSeconds(RUSAGE_THREAD) - readerCpuBefore);
    return seconds;
}

// One byte at a time through the relay: write, wait until it is readable on
// the far side, read it. Returns the sorted one-way times in microseconds.
std::vector<double> latencies(int in, int out, int samples) {
    std::vector<double> times;
    std::uint8_t byte = 0x55, got = 0;
    for (int s = 0; s < samples; ++s) {
        const auto start = Clock::now();
        if (::write(in, &byte, 1) != 1) break;
        pollfd p{out, POLLIN, 0};
        if (::poll(&p, 1, 2000) <= 0 || ::read(out, &got, 1) != 1) break;
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times;
}

double percentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) return 0;
    return sorted[std::min(sorted.size() - 1,
                           static_cast<std::size_t>(p * static_cast<double>(sorted.size())))];
}

Result measure(int in, int out, std::size_t total, int samples) {
    Result r;
    double generatorCpu = 0;
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    const double seconds = pushThrough(in, out, total, r.verified, generatorCpu);
    const double cpu = cpuSeconds(RUSAGE_SELF) - cpuBefore - generatorCpu;
    const double mib = static_cast<double>(total) / (1 << 20);
    r.mibPerSecond = mib / seconds;
    r.relayCpuMsPerMib = 1000 * cpu / mib;
    const auto times = latencies(in, out, samples);
    r.p50us = percentile(times, 0.50);
    r.p99us = percentile(times, 0.99);
    return r;
}

// The engine in Intercede between the slaves of two pairs.
Result engineRelay(std::size_t total, int samples, const std::string& textFile) {
    auto a = platform::openPtyPair();
    auto b = platform::openPtyPair();
    if (!a || !b) {
        std::fprintf(stderr, "no pseudo-terminals\n");
        std::exit(1);
    }
    platform::PortMap ports;
    ports.addExplicit(1, a.value().slavePath);
    ports.addExplicit(2, b.value().slavePath);

    platform::UniqueFd text(::open(textFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!text.valid()) {
        std::perror(textFile.c_str());
        std::exit(1);
    }
    engine::DisplayQueue display;
    headless::HeadlessWindow window(display, engine::kIntercede, engine::kDisplayHex, engine::kToDte);
    headless::OutputWriter writer(display, text.get());
    presentation::CaptureFile capture;
    presentation::TrafficFormatter formatter(window, capture);
    engine::Engine engine(ports);
    window.attach(engine);
    engine.InitEngine(window, formatter);
    engine.StartPump();
    engine::SessionConfig config;
    config.mode = engine::kIntercede;
    config.dte.side = engine::kDteSide;
    config.dte.portNumber = 1;
    config.dte.baudRate = 115200;
    config.dce = config.dte;
    config.dce.side = engine::kDceSide;
    config.dce.portNumber = 2;
    if (engine.OpenSession(config) != engine::kStatusOk) {
        std::fprintf(stderr, "the engine could not open the ports\n");
        std::exit(1);
    }
    window.appendStatusText(engine::text::kPortOn);
    const Result r = measure(a.value().master.get(), b.value().master.get(), total, samples);
    engine.CloseAllPorts();
    window.appendStatusText(engine::text::kPortOff);
    display.close();  // the pump must not wait at the display's bound while it is joined
    engine.ShutdownEngine();
    writer.finish();
    return r;
}

// The least a relay can do: one thread, poll() on both slaves, non-blocking
// reads and writes, the unwritten tail kept.
Result minimalRelay(std::size_t total, int samples) {
    auto a = platform::openPtyPair();
    auto b = platform::openPtyPair();
    if (!a || !b) std::exit(1);
    const int from = a.value().slave.get();
    const int to = b.value().slave.get();
    std::atomic<bool> stop{false};
    std::thread relay([&] {
        std::vector<std::uint8_t> pending;
        std::vector<std::uint8_t> buffer(65536);
        while (!stop.load()) {
            pollfd fds[2] = {{from, static_cast<short>(pending.size() < (1u << 20) ? POLLIN : 0), 0},
                             {to, static_cast<short>(pending.empty() ? 0 : POLLOUT), 0}};
            if (::poll(fds, 2, 50) <= 0) continue;
            if (fds[0].revents & POLLIN) {
                const ssize_t n = ::read(from, buffer.data(), buffer.size());
                if (n > 0) pending.insert(pending.end(), buffer.begin(), buffer.begin() + n);
            }
            if (!pending.empty()) {
                const ssize_t n = ::write(to, pending.data(), pending.size());
                if (n > 0) pending.erase(pending.begin(), pending.begin() + n);
            }
        }
    });
    const Result r = measure(a.value().master.get(), b.value().master.get(), total, samples);
    stop = true;
    relay.join();
    return r;
}

void row(const char* name, const Result& r) {
    std::printf("%-34s %9.1f %12.2f %10.0f %10.0f   %s\n", name, r.mibPerSecond, r.relayCpuMsPerMib, r.p50us,
                r.p99us, r.verified ? "ok" : "DATA WRONG");
}

}  // namespace

int main(int argc, char* argv[]) {
    const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 32;
    const int samples = argc > 2 ? std::atoi(argv[2]) : 2000;
    const std::size_t total = std::max<std::size_t>(mib, 1) << 20;
    const std::string textFile = "/tmp/ostrel-relay-bench-" + std::to_string(::getpid()) + ".txt";

    std::printf("Intercede relay over pseudo-terminals, %zu MiB one way, %d one-byte one-way samples\n", mib,
                samples);
    std::printf("%-34s %9s %12s %10s %10s\n", "", "MiB/s", "CPU ms/MiB", "p50 us", "p99 us");
    const Result minimal = minimalRelay(total, samples);
    row("minimal poll() relay", minimal);
    const Result engine = engineRelay(total, samples, textFile);
    row("engine, HEX display to a file", engine);
    struct stat st {};
    const bool haveText = ::stat(textFile.c_str(), &st) == 0;
    std::printf("display text written: %.1f MiB\n",
                haveText ? static_cast<double>(st.st_size) / (1 << 20) : 0.0);
    ::unlink(textFile.c_str());
    return minimal.verified && engine.verified ? 0 : 1;
}
