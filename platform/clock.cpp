#include "platform/clock.h"

#include <time.h>

namespace ostrel::platform {

std::int64_t steadyMillis() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

MillisClock steadyClock() {
    return &steadyMillis;
}

std::optional<TimeOfDay> localTimeOfDay(const timespec& realtime) {
    std::tm local{};
    const std::time_t seconds = realtime.tv_sec;
    if (::localtime_r(&seconds, &local) == nullptr) return std::nullopt;
    TimeOfDay time;
    time.hour = local.tm_hour;
    time.minute = local.tm_min;
    time.second = local.tm_sec;
    time.millis = static_cast<int>(realtime.tv_nsec / 1'000'000);
    if (time.millis < 0 || time.millis > 999) return std::nullopt;
    time.year = local.tm_year + 1900;
    time.month = local.tm_mon + 1;
    time.day = local.tm_mday;
    time.micros = static_cast<int>(realtime.tv_nsec / 1'000);
    return time;
}

std::optional<TimeOfDay> currentLocalTimeOfDay() {
    timespec now{};
    if (::clock_gettime(CLOCK_REALTIME, &now) != 0) return std::nullopt;
    return localTimeOfDay(now);
}

}  // namespace ostrel::platform
