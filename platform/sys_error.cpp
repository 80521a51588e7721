#include "platform/sys_error.h"

#include <cerrno>
#include <cstring>

namespace ostrel::platform {

namespace {

std::string wordsFor(int code) {
    switch (code) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return "no such device";
        case EACCES:
        case EPERM:
            return "permission denied";
        case EBUSY:
        case EWOULDBLOCK:
            return "port is busy (in use by another program)";
        case EIO:
            return "device gone";
        case ENOTTY:
            return "not a serial device";
        case 0:
            return "failed";
        default: {
            char buffer[128];
            // GNU strerror_r returns the text, possibly not in `buffer`.
            return ::strerror_r(code, buffer, sizeof buffer);
        }
    }
}

}  // namespace

std::string SysError::describe() const {
    // Failures whose errno alone would say the wrong thing.
    if (op == "map" && code == ENOENT) return path + " is not mapped to any device";
    if (op == "symlink" && code == EEXIST) {
        return path + ": a file that is not a symbolic link is in the way (not replaced)";
    }
    if (op == "symlink" && code == ENOENT) return path + ": its folder does not exist";
    const std::string& subject = path.empty() ? op : path;
    if (subject.empty()) return wordsFor(code);
    return subject + ": " + wordsFor(code);
}

bool SysError::isBusy() const {
    return code == EBUSY || code == EWOULDBLOCK;
}

SysError lastError(std::string op, std::string path) {
    const int code = errno;
    return SysError{std::move(op), std::move(path), code};
}

}  // namespace ostrel::platform
