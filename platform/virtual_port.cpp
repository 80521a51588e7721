#include "platform/virtual_port.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/posix_io.h"

namespace ostrel::platform {

std::string runtimeDirectory() {
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    return runtimeDir != nullptr && runtimeDir[0] != '\0' ? runtimeDir : "/tmp";
}

std::string defaultLinkPath(int comNumber, const std::string& directory) {
    return directory + "/ostrel-COM" + std::to_string(comNumber);
}

namespace {

std::string linkTarget(const std::string& linkPath) {
    char buffer[4096];
    const ssize_t n = ::readlink(linkPath.c_str(), buffer, sizeof buffer);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof buffer) return {};
    return std::string(buffer, static_cast<std::size_t>(n));
}

}  // namespace

Result<std::shared_ptr<VirtualPort>> VirtualPort::create(int comNumber, std::string linkPath) {
    if (linkPath.empty()) linkPath = defaultLinkPath(comNumber);

    // Only a symbolic link (a leftover of an earlier run, say) is replaced.
    struct stat existing {};
    if (::lstat(linkPath.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode)) {
        return SysError{"symlink", linkPath, EEXIST};
    }

    Result<PtyPair> pair = openPtyPair();
    if (!pair) return pair.error();

    auto port = std::make_shared<VirtualPort>(Key{});
    port->comNumber_ = comNumber;
    port->pair_ = std::move(pair).value();

    // Made under a temporary name and renamed over the old link, so that a
    // program opening the path never finds it missing.
    const std::string temporary = linkPath + ".new" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(port->pair_.slavePath.c_str(), temporary.c_str()) != 0)
        return lastError("symlink", linkPath);
    if (::rename(temporary.c_str(), linkPath.c_str()) != 0) {
        SysError error = lastError("rename", linkPath);
        ::unlink(temporary.c_str());
        return error;
    }
    port->linkPath_ = std::move(linkPath);
    return port;
}

VirtualPort::~VirtualPort() {
    // Another run may have taken the path over since: leave its link alone.
    if (!linkPath_.empty() && linkTarget(linkPath_) == pair_.slavePath) ::unlink(linkPath_.c_str());
}

Result<TtyPort> VirtualPort::openPort() {
    if (inUse_.exchange(true)) return SysError{"open", linkPath_, EBUSY};
    std::shared_ptr<VirtualPort> self = shared_from_this();
    std::shared_ptr<void> lease(static_cast<void*>(this), [self](void*) { self->inUse_.store(false); });

    UniqueFd master(::fcntl(pair_.master.get(), F_DUPFD_CLOEXEC, 0));
    if (!master.valid()) return lastError("dup", linkPath_);  // the lease clears inUse_
    (void)io::flushInput(master.get());
    return TtyPort::adopt(std::move(master), linkPath_, std::move(lease));
}

}  // namespace ostrel::platform
