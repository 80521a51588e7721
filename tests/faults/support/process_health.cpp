#include "support/process_health.h"

#include <time.h>

#include <filesystem>
#include <thread>

namespace ostrel::faults {

namespace {

std::size_t entries(const char* folder) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
    return count;
}

double processCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

}  // namespace

std::size_t openFdCount() {
    // The directory stream's own fd is counted too, every time alike.
    return entries("/proc/self/fd");
}

std::size_t threadCount() {
    return entries("/proc/self/task");
}

double cpuMsWhileIdle(std::chrono::milliseconds idle) {
    const double before = processCpuMs();
    std::this_thread::sleep_for(idle);
    return processCpuMs() - before;
}

}  // namespace ostrel::faults
