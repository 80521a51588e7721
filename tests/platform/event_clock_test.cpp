#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>

#include <atomic>
#include <thread>

#include "platform/clock.h"
#include "platform/event.h"
#include "platform/sys_error.h"

namespace ostrel::platform {
namespace {

using namespace std::chrono_literals;

TEST(Event, AutoResetLetsOneWaitThrough) {
    Event event(Event::Reset::Auto);
    EXPECT_FALSE(event.isSet());
    EXPECT_FALSE(event.waitFor(0ms));
    event.set();
    EXPECT_TRUE(event.isSet());
    EXPECT_TRUE(event.waitFor(0ms));
    EXPECT_FALSE(event.isSet());
    EXPECT_FALSE(event.waitFor(10ms));
}

TEST(Event, ManualResetStaysSetUntilReset) {
    Event event(Event::Reset::Manual, true);
    EXPECT_TRUE(event.waitFor(0ms));
    EXPECT_TRUE(event.wait(std::stop_token{}));
    EXPECT_TRUE(event.isSet());
    event.reset();
    EXPECT_FALSE(event.waitFor(10ms));
}

TEST(Event, ManualResetWakesEveryWaiter) {
    Event event(Event::Reset::Manual);
    std::atomic<int> woken{0};
    {
        std::jthread a([&] { woken += event.waitFor(5s) ? 1 : 0; });
        std::jthread b([&] { woken += event.waitFor(5s) ? 1 : 0; });
        event.set();
    }
    EXPECT_EQ(woken.load(), 2);
}

TEST(Event, AutoResetWakesAWaiterOnAnotherThread) {
    Event event(Event::Reset::Auto);
    std::atomic<bool> result{false};
    std::jthread waiter([&](std::stop_token stop) { result = event.wait(stop); });
    event.set();
    waiter.join();
    EXPECT_TRUE(result.load());
    EXPECT_FALSE(event.isSet());
}

TEST(Event, AStopRequestEndsAWaitWithFalse) {
    Event event(Event::Reset::Auto);
    std::atomic<int> result{-1};
    const std::int64_t start = steadyMillis();
    std::jthread waiter([&](std::stop_token stop) { result = event.wait(stop) ? 1 : 0; });
    waiter.request_stop();
    waiter.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_LT(steadyMillis() - start, 1000);

    std::stop_source source;
    source.request_stop();
    EXPECT_FALSE(event.waitFor(5s, source.get_token()));
}

TEST(WakeFd, SignalsAccumulateUntilDrained) {
    WakeFd wake;
    pollfd p{wake.fd(), POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 0);
    wake.signal();
    wake.signal();
    EXPECT_EQ(::poll(&p, 1, 0), 1);
    wake.drain();
    EXPECT_EQ(::poll(&p, 1, 0), 0);
    wake.drain();  // draining an empty one does not block
    EXPECT_EQ(::fcntl(wake.fd(), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
}

TEST(Clock, SteadyMillisNeverGoesBack) {
    std::int64_t previous = steadyMillis();
    for (int i = 0; i < 1000; ++i) {
        const std::int64_t now = steadyMillis();
        ASSERT_GE(now, previous);
        previous = now;
    }
    const MillisClock clock = steadyClock();
    EXPECT_GE(clock(), previous);
}

class TimeZone {
public:
    explicit TimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) saved_ = old, hadOne_ = true;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~TimeZone() {
        if (hadOne_) {
            ::setenv("TZ", saved_.c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

private:
    std::string saved_;
    bool hadOne_ = false;
};

TEST(Clock, LocalTimeOfDayFollowsTheTimeZone) {
    // 2021-04-11 13:05:07.123456789 UTC
    const timespec instant{1618146307, 123456789};
    {
        TimeZone utc("UTC");
        const std::optional<TimeOfDay> time = localTimeOfDay(instant);
        ASSERT_TRUE(time.has_value());
        EXPECT_EQ(time->hour, 13);
        EXPECT_EQ(time->minute, 5);
        EXPECT_EQ(time->second, 7);
        EXPECT_EQ(time->millis, 123);
    }
    {
        TimeZone fixed("<-0530>+5:30");  // five and a half hours behind UTC
        const std::optional<TimeOfDay> time = localTimeOfDay(instant);
        ASSERT_TRUE(time.has_value());
        EXPECT_EQ(time->hour, 7);
        EXPECT_EQ(time->minute, 35);
        EXPECT_EQ(time->second, 7);
        EXPECT_EQ(time->millis, 123);
    }
}

TEST(Clock, TheCurrentTimeOfDayIsInRange) {
    const std::optional<TimeOfDay> time = currentLocalTimeOfDay();
    ASSERT_TRUE(time.has_value());
    EXPECT_GE(time->hour, 0);
    EXPECT_LE(time->hour, 23);
    EXPECT_GE(time->millis, 0);
    EXPECT_LE(time->millis, 999);
}

struct Words {
    SysError error;
    const char* text;
};

TEST(SysError, DescribesErrorsInWords) {
    const Words table[] = {
        {{"open", "/dev/ttyUSB0", ENOENT}, "/dev/ttyUSB0: no such device"},
        {{"open", "/dev/ttyUSB0", ENODEV}, "/dev/ttyUSB0: no such device"},
        {{"open", "/dev/ttyS0", EACCES}, "/dev/ttyS0: permission denied"},
        {{"open", "/dev/ttyS0", EBUSY}, "/dev/ttyS0: port is busy (in use by another program)"},
        {{"flock", "/dev/ttyS0", EWOULDBLOCK}, "/dev/ttyS0: port is busy (in use by another program)"},
        {{"read", "/dev/ttyACM0", EIO}, "/dev/ttyACM0: device gone"},
        {{"open", "/tmp/file", ENOTTY}, "/tmp/file: not a serial device"},
        {{"symlink", "/nowhere/link", ENOENT}, "/nowhere/link: its folder does not exist"},
        {{"eventfd", "", EMFILE}, "eventfd: Too many open files"},
        {{"map", "COM7", ENOENT}, "COM7 is not mapped to any device"},
        {{"symlink", "/tmp/l", EEXIST},
         "/tmp/l: a file that is not a symbolic link is in the way (not replaced)"},
    };
    for (const Words& row : table) EXPECT_EQ(row.error.describe(), row.text);
}

TEST(SysError, BusyMeansSomeoneElseHoldsThePort) {
    EXPECT_TRUE((SysError{"open", "", EBUSY}).isBusy());
    EXPECT_TRUE((SysError{"flock", "", EWOULDBLOCK}).isBusy());
    EXPECT_FALSE((SysError{"open", "", EACCES}).isBusy());
    EXPECT_FALSE((SysError{"open", "", ENOTTY}).isBusy());
}

TEST(SysError, LastErrorTakesErrno) {
    errno = EIO;
    const SysError error = lastError("write", "/dev/pts/9");
    EXPECT_EQ(error.code, EIO);
    EXPECT_EQ(error.op, "write");
    EXPECT_EQ(error.describe(), "/dev/pts/9: device gone");
}

}  // namespace
}  // namespace ostrel::platform
