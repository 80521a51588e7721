#include "frontend/standard_fds.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace ostrel::frontend {

void OpenClosedStandardFds() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free number is taken, which is `fd` as the lower ones are open.
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}

}  // namespace ostrel::frontend
