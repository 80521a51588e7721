#include "platform/device_group.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace ostrel::platform {

std::optional<std::string> deviceGroupName(const std::string& path) {
    struct stat device {};
    if (path.empty() || ::stat(path.c_str(), &device) != 0 || !S_ISCHR(device.st_mode)) return std::nullopt;
    long size = ::sysconf(_SC_GETGR_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 4096);
    group entry{};
    group* found = nullptr;
    int error = 0;
    // A group with many members needs a larger buffer than the hint.
    while ((error = ::getgrgid_r(device.st_gid, &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (error != 0 || found == nullptr || found->gr_name == nullptr || *found->gr_name == '\0')
        return std::nullopt;
    return std::string(found->gr_name);
}

std::string permissionDeniedWords(const std::string& path) {
    const std::optional<std::string> group = deviceGroupName(path);
    if (!group) return "permission denied";
    // Joining root's group is no advice to give.
    if (*group == "root") return "permission denied (owned by group root)";
    return "permission denied (owned by group " + *group + "; add yourself to the " + *group +
           " group, then log in again)";
}

}  // namespace ostrel::platform
