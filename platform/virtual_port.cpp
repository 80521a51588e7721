#include "platform/virtual_port.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/posix_io.h"

namespace ostrel::platform {

Result<std::string> privateFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return lastError("mkdir", path);
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return lastError("mkdir", path);
    std::string wrong;
    if (S_ISLNK(info.st_mode)) {
        wrong = "a symbolic link";
    } else if (!S_ISDIR(info.st_mode)) {
        wrong = "not a folder";
    } else if (info.st_uid != ::geteuid()) {
        wrong = "owned by uid " + std::to_string(info.st_uid);
    } else if ((info.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        wrong = std::string("mode ") + mode + ", open to other users";
    }
    if (!wrong.empty()) return SysError{"private folder", path, EPERM, std::move(wrong)};
    return path;
}

Result<std::string> runtimeDirectory(const char* xdgRuntimeDir, const std::string& tmpRoot) {
    if (xdgRuntimeDir != nullptr && xdgRuntimeDir[0] != '\0') return std::string(xdgRuntimeDir);
    return privateFolder(tmpRoot + "/ostrel-" + std::to_string(::geteuid()));
}

Result<std::string> runtimeDirectory() {
    return runtimeDirectory(std::getenv("XDG_RUNTIME_DIR"));
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

// Whether what is at `linkPath` may be replaced: nothing at all, or a link
// into /dev/pts whose pseudo-terminal is gone (a run that ended left it).
// Otherwise the error says what is in the way.
Status checkLinkPlace(const std::string& linkPath, bool& leftover) {
    leftover = false;
    struct stat existing {};
    if (::lstat(linkPath.c_str(), &existing) != 0) return {};
    if (!S_ISLNK(existing.st_mode)) return SysError{"symlink", linkPath, EEXIST};
    const std::string target = linkTarget(linkPath);
    struct stat behind {};
    const bool dangling = ::stat(linkPath.c_str(), &behind) != 0 && errno == ENOENT;
    if (dangling && target.rfind("/dev/pts/", 0) == 0) {
        leftover = true;
        return {};
    }
    return SysError{"symlink", linkPath, EEXIST, "a symbolic link to " + target};
}

}  // namespace

Result<std::shared_ptr<VirtualPort>> VirtualPort::create(int comNumber, std::string linkPath) {
    if (linkPath.empty()) {
        Result<std::string> directory = runtimeDirectory();
        if (!directory) return directory.error();
        linkPath = defaultLinkPath(comNumber, directory.value());
    }
    bool leftover = false;
    if (Status place = checkLinkPlace(linkPath, leftover); !place) return place.error();

    Result<PtyPair> pair = openPtyPair();
    if (!pair) return pair.error();

    auto port = std::make_shared<VirtualPort>(Key{});
    port->comNumber_ = comNumber;
    port->pair_ = std::move(pair).value();

    // Nobody can open a dangling link, so nothing is missed while the
    // leftover is gone and ours not yet there. symlink() never replaces: a
    // path that appeared meanwhile stays, and is reported.
    if (leftover && ::unlink(linkPath.c_str()) != 0 && errno != ENOENT) return lastError("unlink", linkPath);
    if (::symlink(port->pair_.slavePath.c_str(), linkPath.c_str()) != 0) {
        SysError error = lastError("symlink", linkPath);
        if (error.code == EEXIST) error.detail = "a file";
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
