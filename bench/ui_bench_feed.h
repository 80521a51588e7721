#pragma once
// What the traffic window benches share: the clock, MiB, the size of one
// append as the main window makes it.

#include <QtGlobal>
#include <chrono>
#include <cstddef>

namespace ostrel::bench {

using Clock = std::chrono::steady_clock;

inline constexpr qint64 kMiB = 1024 * 1024;
inline constexpr std::size_t kPiece = 10 * 1024;  // one append of traffic text

inline double microseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::micro>(duration).count();
}

}  // namespace ostrel::bench
