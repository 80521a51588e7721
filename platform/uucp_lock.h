#pragma once
// UUCP lock files, the convention older serial programs use in place of (or
// besides) flock: /run/lock/LCK..ttyUSB0 holding the owner's pid as ten
// right-aligned decimal digits and a newline. A lock whose pid has ended is
// stale and is taken over; a live one means the port is busy. Without a
// writable lock folder the port is used without a lock file.

#include <string>

#include "platform/sys_error.h"

namespace ostrel::platform {

inline constexpr const char* kDefaultLockDirectory = "/run/lock";

// "LCK..ttyUSB0" for /dev/ttyUSB0, "LCK..pts_3" for /dev/pts/3 (links
// resolved first; '/' of deeper paths under /dev become '_').
std::string uucpLockName(const std::string& devicePath);
// "         123\n": the pid, ten characters right-aligned, and a newline.
std::string uucpLockText(int pid);

class UucpLock {
public:
    UucpLock() = default;
    // Takes the lock of `devicePath` in `directory`. Busy (EBUSY, naming the
    // holder) when a live process other than this one holds it. An empty
    // lock (success, nothing held) when no lock file can be made there.
    static Result<UucpLock> acquire(const std::string& devicePath, const std::string& directory);
    // Whether a live process other than this one holds the lock; changes nothing.
    static Status check(const std::string& devicePath, const std::string& directory);

    UucpLock(UucpLock&& other) noexcept;
    UucpLock& operator=(UucpLock&& other) noexcept;
    UucpLock(const UucpLock&) = delete;
    UucpLock& operator=(const UucpLock&) = delete;
    ~UucpLock();  // removes the lock file while it still holds our pid

    const std::string& path() const { return path_; }  // empty: no lock file held

private:
    std::string path_;
    void release() noexcept;
};

}  // namespace ostrel::platform
