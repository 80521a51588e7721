#include "platform/port_holders.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>

namespace ostrel::platform {

namespace {

// A decimal number (an fd or a pid), or nothing.
std::optional<int> decimal(const char* text) {
    if (text == nullptr || *text < '0' || *text > '9') return std::nullopt;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < 0 || value > 0x7fffffff) return std::nullopt;
    return static_cast<int>(value);
}

// The index of a Unix98 pseudo-terminal slave (/dev/pts/N), or nothing.
std::optional<unsigned> ptyIndex(dev_t device) {
    const unsigned deviceMajor = major(device);
    if (deviceMajor < 136 || deviceMajor > 143) return std::nullopt;
    return (deviceMajor - 136) * 256 + minor(device);
}

// The pair a /dev/ptmx fd is the master of ("tty-index:" in its fdinfo).
std::optional<unsigned> masterIndex(int pid, const std::string& fd) {
    std::ifstream info("/proc/" + std::to_string(pid) + "/fdinfo/" + fd);
    std::string key;
    while (info >> key) {
        if (key == "tty-index:") {
            unsigned index = 0;
            if (info >> index) return index;
            return std::nullopt;
        }
    }
    return std::nullopt;
}

struct FdLook {
    bool holds = false;     // an fd on the device itself
    bool ownsPair = false;  // also the master of the pseudo-terminal pair
};

// What process `pid` holds of `device`; nothing when its fds cannot be
// looked at (another user's process, or it ended meanwhile).
std::optional<FdLook> lookAtFds(int pid, std::uint64_t device, int skipFd) {
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    DIR* fds = ::opendir(folder.c_str());
    if (fds == nullptr) return std::nullopt;
    const std::optional<unsigned> slaveIndex = ptyIndex(device);
    FdLook look;
    while (const dirent* entry = ::readdir(fds)) {
        const std::optional<int> fd = decimal(entry->d_name);
        if (!fd || *fd == skipFd) continue;
        struct stat info {};
        const std::string link = folder + "/" + entry->d_name;
        if (::stat(link.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) continue;
        if (info.st_rdev == device) {
            look.holds = true;
        } else if (slaveIndex && major(info.st_rdev) == 5 && minor(info.st_rdev) == 2 &&
                   masterIndex(pid, entry->d_name) == slaveIndex) {
            look.ownsPair = true;
        }
    }
    ::closedir(fds);
    return look;
}

}  // namespace

HolderScan findDeviceHolders(std::uint64_t device, int ownFd) {
    HolderScan scan;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        scan.complete = false;
        return scan;
    }
    const int self = static_cast<int>(::getpid());
    std::vector<int> pids;
    while (const dirent* entry = ::readdir(proc))
        if (const std::optional<int> pid = decimal(entry->d_name)) pids.push_back(*pid);
    ::closedir(proc);
    std::sort(pids.begin(), pids.end());
    for (const int pid : pids) {
        const std::optional<FdLook> look = lookAtFds(pid, device, pid == self ? ownFd : -1);
        if (!look) {
            if (processAlive(pid)) scan.complete = false;
            continue;
        }
        if (!look->holds) continue;
        if (pid == self) {
            scan.self = true;
        } else if (look->ownsPair) {
            scan.pairOwners.push_back({pid, processName(pid)});
        } else {
            scan.holders.push_back({pid, processName(pid)});
        }
    }
    return scan;
}

std::optional<std::uint64_t> characterDevice(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return std::nullopt;
    return info.st_rdev;
}

std::string holderWords(const std::vector<PortHolder>& holders) {
    if (holders.empty()) return {};
    const PortHolder& first = holders.front();
    std::string words = "held by ";
    if (!first.name.empty()) words += first.name + ", ";
    words += "pid " + std::to_string(first.pid);
    if (holders.size() > 1) words += ", and " + std::to_string(holders.size() - 1) + " more";
    return words;
}

std::string processName(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

bool processAlive(int pid) {
    if (pid <= 0) return false;
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

std::vector<PortHolder> findPortHolders(const std::string& devicePath) {
    const std::optional<std::uint64_t> device = characterDevice(devicePath);
    if (!device) return {};
    HolderScan scan = findDeviceHolders(*device);
    return scan.holders.empty() ? std::move(scan.pairOwners) : std::move(scan.holders);
}

}  // namespace ostrel::platform
