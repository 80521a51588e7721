// Who holds a device, found through /proc: a real child process that has a
// pseudo-terminal open, found by the device and by a link to it; and the
// group named when a device may not be opened.

#include "platform/port_holders.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/device_group.h"
#include "platform/sys_error.h"
#include "pty_test_support.h"
#include "temp_dir.h"

namespace ostrel::platform {
namespace {

TEST(PortHolders, AreFoundByTheDeviceTheirFdIsOpenOn) {
    auto pty = test::openBareMaster();
    ASSERT_TRUE(pty.master.valid());
    test::TempDir dir;
    ASSERT_TRUE(dir.valid());
    const std::string link = dir / "link-to-port";
    std::filesystem::create_symlink(pty.slavePath, link);

    // Nobody but this process (which is left out) has it open yet.
    EXPECT_TRUE(findPortHolders(pty.slavePath).empty());

    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        const int fd = ::open(pty.slavePath.c_str(), O_RDWR | O_NOCTTY);
        [[maybe_unused]] const ssize_t told = ::write(ready[1], fd >= 0 ? "y" : "n", 1);
        ::pause();
        _exit(0);
    }
    ASSERT_GT(child, 0);
    ::close(ready[1]);
    char answer = 0;
    ASSERT_EQ(::read(ready[0], &answer, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(answer, 'y');

    for (const std::string& path : {pty.slavePath, link}) {
        const std::vector<PortHolder> holders = findPortHolders(path);
        ASSERT_EQ(holders.size(), 1u) << path;
        EXPECT_EQ(holders[0].pid, child);
        EXPECT_FALSE(holders[0].name.empty());
        EXPECT_EQ(holderWords(holders), "held by " + holders[0].name + ", pid " + std::to_string(child));
    }
    // Another device, a file that is no device, a missing path, a /proc that is not there.
    auto other = test::openBareMaster();
    ASSERT_TRUE(other.master.valid());
    EXPECT_TRUE(findPortHolders(other.slavePath).empty());
    EXPECT_TRUE(findPortHolders(dir / "nothing").empty());
    EXPECT_EQ(holderWords({{7, "a"}, {9, "b"}}), "held by a, pid 7, and 1 more");

    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(findPortHolders(pty.slavePath).empty());
}

TEST(DeviceGroup, PermissionDeniedNamesTheGroupThatMayOpenTheDevice) {
    auto pty = test::openBareMaster();
    ASSERT_TRUE(pty.master.valid());
    // The slave is ours: given to a group other than root (our own, or tty
    // when we are root), it names that group and how to join it.
    const gid_t gid = ::getgid() != 0 ? ::getgid() : 5;
    ASSERT_EQ(::chown(pty.slavePath.c_str(), static_cast<uid_t>(-1), gid), 0) << std::strerror(errno);
    const std::optional<std::string> group = deviceGroupName(pty.slavePath);
    ASSERT_TRUE(group.has_value());
    const struct group* entry = ::getgrgid(gid);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(*group, entry->gr_name);
    EXPECT_EQ((SysError{"open", pty.slavePath, EACCES}.describe()),
              pty.slavePath + ": permission denied (owned by group " + *group + "; add yourself to the " +
                  *group + " group, then log in again)");
    if (::getgid() == 0) {
        ASSERT_EQ(::chown(pty.slavePath.c_str(), static_cast<uid_t>(-1), 0), 0);
        EXPECT_EQ((SysError{"open", pty.slavePath, EACCES}.describe()),
                  pty.slavePath + ": permission denied (owned by group root)");
    }
    // Not a device: no group advice.
    test::TempDir dir;
    ASSERT_TRUE(dir.valid());
    EXPECT_FALSE(deviceGroupName(dir.path()).has_value());
    EXPECT_EQ((SysError{"open", dir.path(), EACCES}.describe()), dir.path() + ": permission denied");
    EXPECT_EQ((SysError{"open", pty.slavePath, EBUSY}.describe()),
              pty.slavePath + ": port is busy (in use by another program)");
}

}  // namespace
}  // namespace ostrel::platform
