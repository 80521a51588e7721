#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/clock.h"
#include "platform/sys_error.h"

namespace ostrel::platform {
namespace {

TEST(Clock, LocalTimeOfDayFollowsTheTimeZone) {
    const char* old = std::getenv("TZ");
    const std::string saved = old != nullptr ? old : "";
    ::setenv("TZ", "<-0530>+5:30", 1);  // five and a half hours behind UTC
    ::tzset();
    const std::optional<TimeOfDay> time =
        localTimeOfDay(timespec{1618146307, 123456789});  // 13:05:07.123 UTC
    if (old != nullptr) {
        ::setenv("TZ", saved.c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();
    ASSERT_TRUE(time.has_value());
    EXPECT_EQ(time->hour, 7);
    EXPECT_EQ(time->minute, 35);
    EXPECT_EQ(time->second, 7);
    EXPECT_EQ(time->millis, 123);
}

// (The texts for a missing path, a non-tty, an unmapped number and a file in
// a link's way are checked where those errors arise.)
TEST(SysError, DescribesErrorsInWordsAndKnowsBusy) {
    const struct {
        SysError error;
        const char* text;
        bool busy;
    } table[] = {
        {{"open", "/dev/ttyUSB0", ENODEV}, "/dev/ttyUSB0: no such device", false},
        // A path that is no device has no group to name (devices: port_holders_test).
        {{"open", "/nowhere/ttyS0", EACCES}, "/nowhere/ttyS0: permission denied", false},
        {{"open", "/dev/ttyS0", EBUSY}, "/dev/ttyS0: port is busy (in use by another program)", true},
        {{"flock", "/dev/ttyS0", EWOULDBLOCK}, "/dev/ttyS0: port is busy (in use by another program)", true},
        {{"read", "/dev/ttyACM0", EIO}, "/dev/ttyACM0: device gone", false},
        {{"symlink", "/nowhere/link", ENOENT}, "/nowhere/link: its folder does not exist", false},
        {{"eventfd", "", EMFILE}, "eventfd: Too many open files", false},
    };
    for (const auto& row : table) {
        EXPECT_EQ(row.error.describe(), row.text);
        EXPECT_EQ(row.error.isBusy(), row.busy) << row.text;
    }
    errno = EIO;
    EXPECT_EQ(lastError("write", "/dev/pts/9").describe(), "/dev/pts/9: device gone");
}

}  // namespace
}  // namespace ostrel::platform
