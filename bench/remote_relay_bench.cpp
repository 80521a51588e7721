// Intercede relay through a remote port: the engine between a local pty and
// a port by URL that ser2net serves (over a second pty), next to the engine
// between two local ptys, measured in the same run: throughput with the
// bytes checked, and one-byte one-way latency, each way.
//
// Usage: remote_relay_bench [MiB per run (default 16)] [latency samples (default 1000)]
// Needs /usr/sbin/ser2net.

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "engine/display_queue.h"
#include "engine/engine.h"
#include "engine/status_text.h"
#include "headless/headless_window.h"
#include "headless/output_writer.h"
#include "latency_probe.h"
#include "platform/port_map.h"
#include "platform/posix_io.h"
#include "platform/pty_pair.h"
#include "platform/remote_test_support.h"
#include "presentation/capture_file.h"
#include "presentation/traffic_formatter.h"

namespace {

using ostrel::bench::latencies;
using ostrel::bench::percentile;

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

struct Pair {
    Result forward;   // local pty to the far side
    Result backward;  // the far side to the local pty
};

// The engine in Intercede between `dteName` (COM1) and `dceName` (COM2);
// bytes go in at `localMaster` and come out at `farMaster`, then back.
Pair engineRelay(const std::string& dteName, const std::string& dceName, int localMaster, int farMaster,
                 std::size_t total, int samples) {
    platform::PortMap ports;
    ports.addExplicit(1, dteName);
    ports.addExplicit(2, dceName);
    platform::UniqueFd text(::open("/dev/null", O_WRONLY | O_CLOEXEC));
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
        for (const std::string& error : engine.openErrors()) std::fprintf(stderr, "%s\n", error.c_str());
        std::exit(1);
    }
    Pair pair;
    pair.forward = measure(localMaster, farMaster, total, samples);
    pair.backward = measure(farMaster, localMaster, total, samples);
    engine.CloseAllPorts();
    display.close();
    engine.ShutdownEngine();
    writer.finish();
    return pair;
}

void row(const char* name, const Result& r) {
    std::printf("%-40s %9.1f %10.0f %10.0f   %s\n", name, r.mibPerSecond, r.p50us, r.p99us,
                r.verified ? "ok" : "DATA WRONG");
}

}  // namespace

int main(int argc, char* argv[]) {
    const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 16;
    const int samples = argc > 2 ? std::atoi(argv[2]) : 1000;
    const std::size_t total = std::max<std::size_t>(mib, 1) << 20;
    if (const std::string why = platform::test::Ser2net::missing(); !why.empty()) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    std::printf("Intercede relay, %zu MiB each way, %d one-byte one-way samples each way\n", mib, samples);
    std::printf("%-40s %9s %10s %10s\n", "", "MiB/s", "p50 us", "p99 us");

    auto local = platform::openPtyPair();
    auto far = platform::openPtyPair();
    if (!local || !far) return 1;
    const Pair ptys = engineRelay(local.value().slavePath, far.value().slavePath, local.value().master.get(),
                                  far.value().master.get(), total, samples);
    row("local pty -> local pty", ptys.forward);
    row("local pty <- local pty", ptys.backward);

    platform::test::Ser2net server("telnet(rfc2217),tcp");
    if (!server.ready()) {
        std::fprintf(stderr, "%s\n", server.error().c_str());
        return 1;
    }
    auto near = platform::openPtyPair();
    if (!near) return 1;
    const Pair remote = engineRelay(near.value().slavePath, server.url("rfc2217"), near.value().master.get(),
                                    server.master(), total, samples);
    row("local pty -> rfc2217 (ser2net) -> pty", remote.forward);
    row("local pty <- rfc2217 (ser2net) <- pty", remote.backward);
    const bool ok = ptys.forward.verified && ptys.backward.verified && remote.forward.verified &&
                    remote.backward.verified;
    return ok ? 0 : 1;
}
