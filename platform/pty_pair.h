#pragma once
// A pseudo-terminal pair: the master and the slave opened, both raw.

#include <string>

#include "platform/sys_error.h"
#include "platform/unique_fd.h"

namespace ostrel::platform {

struct PtyPair {
    UniqueFd master;        // O_RDWR|O_NOCTTY|O_NONBLOCK|O_CLOEXEC
    UniqueFd slave;         // opened O_RDWR|O_NOCTTY|O_NONBLOCK|O_CLOEXEC, raw mode, flushed
    std::string slavePath;  // /dev/pts/N
};

Result<PtyPair> openPtyPair();

// Sets raw mode on any tty fd (cfmakeraw plus the extra clears the platform
// relies on: no IXON/IXOFF/IXANY/INPCK/PARMRK, CLOCAL|CREAD, VMIN 1 VTIME 0).
// Fails with EINVAL when the driver reports success but the read-back is
// not raw.
Status setRawMode(int fd);

}  // namespace ostrel::platform
