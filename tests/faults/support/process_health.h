#pragma once
// What "healthy afterwards" means for a fault case, measured on this process:
// the open fds and threads (from /proc/self) are back to what they were before
// the case, and an idle stretch costs next to no CPU (no thread spins).

#include <chrono>
#include <cstddef>

namespace ostrel::faults {

std::size_t openFdCount();
std::size_t threadCount();
// CPU time the whole process used while the calling thread slept for `idle`.
double cpuMsWhileIdle(std::chrono::milliseconds idle = std::chrono::milliseconds(300));

// Taken when a case starts; check() compares the process against it.
struct HealthBaseline {
    std::size_t fds = openFdCount();
    std::size_t threads = threadCount();
};

}  // namespace ostrel::faults
