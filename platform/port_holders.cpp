#include "platform/port_holders.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace ostrel::platform {

namespace fs = std::filesystem;

namespace {

// A /proc entry's name as a pid; 0 when it is not one.
int pidOf(const std::string& name) {
    if (name.empty() || name.size() > 9) return 0;
    if (!std::all_of(name.begin(), name.end(), [](unsigned char c) { return std::isdigit(c) != 0; }))
        return 0;
    return static_cast<int>(std::strtol(name.c_str(), nullptr, 10));
}

std::string commandName(const fs::path& processDir) {
    std::ifstream in(processDir / "comm");
    std::string name;
    std::getline(in, name);
    return name.empty() ? std::string("unknown program") : name;
}

}  // namespace

std::vector<PortHolder> findPortHolders(const std::string& devicePath, const std::string& procRoot) {
    std::vector<PortHolder> holders;
    struct stat device {};
    if (::stat(devicePath.c_str(), &device) != 0 || !S_ISCHR(device.st_mode)) return holders;
    const int self = static_cast<int>(::getpid());
    std::error_code error;
    fs::directory_iterator processes(procRoot, error);
    if (error) return holders;
    for (const fs::directory_entry& process : processes) {
        const int pid = pidOf(process.path().filename().string());
        if (pid == 0 || pid == self) continue;
        std::error_code fdError;
        fs::directory_iterator fds(process.path() / "fd", fdError);
        if (fdError) continue;  // gone, or another user's
        for (const fs::directory_entry& fd : fds) {
            struct stat target {};
            // stat follows the fd's link to the file it has open.
            if (::stat(fd.path().c_str(), &target) != 0) continue;
            if (S_ISCHR(target.st_mode) && target.st_rdev == device.st_rdev) {
                holders.push_back({pid, commandName(process.path())});
                break;
            }
        }
    }
    std::sort(holders.begin(), holders.end(),
              [](const PortHolder& a, const PortHolder& b) { return a.pid < b.pid; });
    return holders;
}

std::string describeHolders(const std::vector<PortHolder>& holders) {
    if (holders.empty()) return {};
    std::string text = "held by " + holders.front().name + ", pid " + std::to_string(holders.front().pid);
    if (holders.size() > 1) text += ", and " + std::to_string(holders.size() - 1) + " more";
    return text;
}

}  // namespace ostrel::platform
