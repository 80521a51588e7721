#pragma once
// Who has a device open: the processes with a file descriptor on the same
// character device (the same st_rdev, so links and other names of it count),
// found through /proc/<pid>/fd. Processes of other users whose fds cannot be
// read are not seen. The roots are parameters so that tests use fake trees.

#include <string>
#include <vector>

namespace ostrel::platform {

struct PortHolder {
    int pid = 0;
    std::string name;  // /proc/<pid>/comm: the program's name, at most 15 bytes
};

// In ascending pid order; this process is left out. Empty when the path is
// not a character device or nobody holds it.
std::vector<PortHolder> findPortHolders(const std::string& devicePath, const std::string& procRoot = "/proc");

// "held by minicom, pid 1234" (the first holder, and "and N more" when there
// are others); empty for none.
std::string describeHolders(const std::vector<PortHolder>& holders);

}  // namespace ostrel::platform
