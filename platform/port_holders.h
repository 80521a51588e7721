#pragma once
// Who holds a device: the processes whose open files (/proc/PID/fd) resolve
// to the same character device (st_rdev), named as /proc/PID/comm names them.
// Used to say who keeps a port busy and to tell a stale exclusive flag (one
// that a process left behind when it ended) from a live one.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::platform {

struct PortHolder {
    int pid = 0;
    std::string name;  // /proc/PID/comm; empty when it could not be read
};

struct HolderScan {
    std::vector<PortHolder> holders;  // other processes, ascending pid, each once
    // Processes that hold the master of the same pseudo-terminal pair besides
    // the slave (socat, or a virtual port of another run): the far end of the
    // line, not a user of the port. Their slave fd keeps nobody out.
    std::vector<PortHolder> pairOwners;
    bool self = false;     // this process holds it too (through another fd)
    bool complete = true;  // false when some process's fds could not be looked at
    bool anyone() const { return self || !holders.empty(); }
};

// Processes with an fd on character device `device`. In this process the fd
// `ownFd` (the one being opened) does not count.
HolderScan findDeviceHolders(std::uint64_t device, int ownFd = -1);
// The device number (st_rdev) of a character device path; nothing for other files.
std::optional<std::uint64_t> characterDevice(const std::string& path);

// The other processes holding the device at `devicePath` (a link or another
// name of it counts): its users, or, when it has none, the owners of its
// pseudo-terminal pair (a program that holds both ends and has locked the
// port keeps it busy all the same). Empty when it is not a character device
// or nobody holds it.
std::vector<PortHolder> findPortHolders(const std::string& devicePath);

// "held by picocom, pid 1234" (", and 2 more" when there are others).
std::string holderWords(const std::vector<PortHolder>& holders);
// The name /proc gives a process ("picocom"); empty when unknown.
std::string processName(int pid);
// True while a process with this pid exists (also one of another user).
bool processAlive(int pid);

}  // namespace ostrel::platform
