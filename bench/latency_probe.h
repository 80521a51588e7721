#pragma once
// One-byte latency through a relay, as the relay benches measure it: a byte
// written into `in`, timed until the same byte comes out of `out`.

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

namespace ostrel::bench {

// The sorted one-way times in microseconds of `samples` bytes, each written
// when the previous one came out; empty when a byte came back changed (a
// relay that corrupts is not timed).
inline std::vector<double> latencies(int in, int out, int samples) {
    using Clock = std::chrono::steady_clock;
    std::vector<double> times;
    for (int s = 0; s < samples; ++s) {
        const std::uint8_t byte = static_cast<std::uint8_t>(s * 7 + 1);
        std::uint8_t got = 0;
        const auto start = Clock::now();
        if (::write(in, &byte, 1) != 1) break;
        pollfd p{out, POLLIN, 0};
        if (::poll(&p, 1, 2000) <= 0 || !(p.revents & POLLIN) || ::read(out, &got, 1) != 1 || got != byte)
            return {};
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times;
}

// The value at fraction `p` (0 to 1) of sorted samples; 0 when there are none.
inline double percentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) return 0;
    return sorted[std::min(sorted.size() - 1,
                           static_cast<std::size_t>(p * static_cast<double>(sorted.size())))];
}

}  // namespace ostrel::bench
