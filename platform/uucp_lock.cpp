#include "platform/uucp_lock.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>

#include "platform/port_holders.h"
#include "platform/posix_io.h"
#include "platform/unique_fd.h"

namespace ostrel::platform {

namespace {

enum class LockState { Absent, Owned, Unreadable };

struct LockContent {
    LockState state = LockState::Absent;
    int pid = 0;
};

// Reads a lock file: ASCII (the classic form) or the old 4-byte binary pid.
LockContent readLock(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) return {errno == ENOENT ? LockState::Absent : LockState::Unreadable, 0};
    std::uint8_t bytes[64];
    const Result<std::size_t> n = io::readSome(fd.get(), bytes);
    if (!n) return {LockState::Unreadable, 0};
    const std::string text(reinterpret_cast<const char*>(bytes), n.value());
    std::size_t at = text.find_first_not_of(" \t");
    long pid = 0;
    bool digits = false;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && pid < 0x7fffffff) {
        pid = pid * 10 + (text[at++] - '0');
        digits = true;
    }
    const bool restIsSpace = at >= text.size() || text.find_first_not_of(" \t\r\n", at) == std::string::npos;
    if (digits && restIsSpace && pid > 0 && pid < 0x7fffffff)
        return {LockState::Owned, static_cast<int>(pid)};
    if (n.value() == 4) {
        std::int32_t binary = 0;
        std::memcpy(&binary, bytes, sizeof binary);
        if (binary > 0) return {LockState::Owned, binary};
    }
    return {LockState::Unreadable, 0};
}

SysError busy(const std::string& devicePath, const std::string& lockPath, const LockContent& lock) {
    if (lock.state == LockState::Owned)
        return SysError{"lock", devicePath, EBUSY, holderWords({{lock.pid, processName(lock.pid)}})};
    return SysError{"lock", devicePath, EBUSY, "locked by " + lockPath};
}

// Writes our lock under a temporary name (made exclusively) and links it to
// `lockPath`, which fails when the name exists. nullopt: no lock can be made
// in this folder; false: the name was taken meanwhile.
std::optional<bool> placeLock(const std::string& directory, const std::string& lockPath) {
    std::string temporary = directory + "/LTMP.ostrel.XXXXXX";
    UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd.valid()) return std::nullopt;
    const std::string text = uucpLockText(static_cast<int>(::getpid()));
    const bool written =
        ::fchmod(fd.get(), 0644) == 0 &&
        io::writeAll(fd.get(), std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()))
            .ok();
    fd.reset();
    std::optional<bool> placed;
    if (written) {
        if (::link(temporary.c_str(), lockPath.c_str()) == 0) {
            placed = true;
        } else if (errno == EEXIST) {
            placed = false;
        }
    }
    ::unlink(temporary.c_str());
    return placed;
}

}  // namespace

std::string uucpLockName(const std::string& devicePath) {
    std::error_code error;
    std::filesystem::path device = std::filesystem::canonical(devicePath, error);
    if (error) device = devicePath;
    std::string name = device.string();
    if (name.rfind("/dev/", 0) == 0) {
        name.erase(0, 5);
        for (char& c : name)
            if (c == '/') c = '_';
    } else {
        name = device.filename().string();
    }
    return "LCK.." + name;
}

std::string uucpLockText(int pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", pid);
    return text;
}

Result<UucpLock> UucpLock::acquire(const std::string& devicePath, const std::string& directory) {
    const std::string lockPath = directory + "/" + uucpLockName(devicePath);
    const int self = static_cast<int>(::getpid());
    // A few rounds: another program may take or drop the lock meanwhile.
    for (int round = 0; round < 4; ++round) {
        const LockContent lock = readLock(lockPath);
        if (lock.state == LockState::Unreadable) return busy(devicePath, lockPath, lock);
        if (lock.state == LockState::Owned) {
            if (lock.pid != self && processAlive(lock.pid)) return busy(devicePath, lockPath, lock);
            // Left by a process that has ended (or by an earlier open of
            // ours that the flock now shows is over): stale.
            if (::unlink(lockPath.c_str()) != 0 && errno != ENOENT) return UucpLock{};
        }
        const std::optional<bool> placed = placeLock(directory, lockPath);
        if (!placed) return UucpLock{};  // no writable lock folder: go on without
        if (*placed) {
            UucpLock taken;
            taken.path_ = lockPath;
            return taken;
        }
    }
    return busy(devicePath, lockPath, readLock(lockPath));
}

Status UucpLock::check(const std::string& devicePath, const std::string& directory) {
    const std::string lockPath = directory + "/" + uucpLockName(devicePath);
    const LockContent lock = readLock(lockPath);
    if (lock.state == LockState::Unreadable) return busy(devicePath, lockPath, lock);
    if (lock.state == LockState::Owned && lock.pid != static_cast<int>(::getpid()) && processAlive(lock.pid))
        return busy(devicePath, lockPath, lock);
    return {};
}

UucpLock::UucpLock(UucpLock&& other) noexcept : path_(std::exchange(other.path_, {})) {}

UucpLock& UucpLock::operator=(UucpLock&& other) noexcept {
    if (this != &other) {
        release();
        path_ = std::exchange(other.path_, {});
    }
    return *this;
}

UucpLock::~UucpLock() {
    release();
}

void UucpLock::release() noexcept {
    if (path_.empty()) return;
    const LockContent lock = readLock(path_);
    if (lock.state == LockState::Owned && lock.pid == static_cast<int>(::getpid())) ::unlink(path_.c_str());
    path_.clear();
}

}  // namespace ostrel::platform
