#pragma once
// Clocks: a millisecond steady clock for timing rules (injectable in tests),
// and local time of day (with the date and microseconds) for time stamps.

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>

namespace ostrel::platform {

// Milliseconds from an arbitrary origin; never goes backwards. Tests pass a
// function over a counter of their own.
using MillisClock = std::function<std::int64_t()>;
std::int64_t steadyMillis();
MillisClock steadyClock();

struct TimeOfDay {
    int hour = 0;    // 0..23
    int minute = 0;  // 0..59
    int second = 0;  // 0..60
    int millis = 0;  // 0..999
    // The date and the finer fraction, for the longer time stamps; 0 where a
    // source gives only the time of day.
    int year = 0;    // 1970..9999
    int month = 0;   // 1..12
    int day = 0;     // 1..31
    int micros = 0;  // 0..999999, millis * 1000 and the rest
};

// Local time of day of a real-time instant (uses localtime_r, so TZ applies;
// call tzset() after changing TZ at run time).
std::optional<TimeOfDay> localTimeOfDay(const timespec& realtime);
// The current local time of day (CLOCK_REALTIME).
std::optional<TimeOfDay> currentLocalTimeOfDay();

}  // namespace ostrel::platform
