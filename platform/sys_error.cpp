#include "platform/sys_error.h"

#include <cctype>
#include <cerrno>
#include <cstring>

#include "platform/device_group.h"

namespace ostrel::platform {

namespace {

// The system's own text, first letter lowered when `lower` (it reads as the
// tail of a sentence).
std::string systemWords(int code, bool lower) {
    char buffer[128];
    // GNU strerror_r returns the text, possibly not in `buffer`.
    std::string words = ::strerror_r(code, buffer, sizeof buffer);
    if (lower && !words.empty()) {
        words[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(words[0])));
    }
    return words;
}

}  // namespace

std::string errnoWords(int code, ErrorSubject subject) {
    const bool file = subject == ErrorSubject::File;
    switch (code) {
        case ENOENT:
            return file ? "no such file or folder" : "no such device";
        case ENODEV:
            if (!file) return "no such device";
            break;
        case ENXIO:
            return file ? "no program reads this pipe" : "no such device";
        case EACCES:
        case EPERM:
            return "permission denied";
        case EBUSY:
            if (!file) return "port is busy (in use by another program)";
            break;
        case EWOULDBLOCK:
            return file ? "locked by another program" : "port is busy (in use by another program)";
        case EIO:
            if (!file) return "device gone";
            break;
        case ENOTTY:
            if (!file) return "not a serial device";
            break;
        case 0:
            if (!file) return "failed";
            break;
        default:
            break;
    }
    return systemWords(code, file);
}

std::string describeFileError(const std::string& name, int code) {
    return name + ": " + errnoWords(code, ErrorSubject::File);
}

std::string SysError::describe() const {
    // Failures whose errno alone would say the wrong thing.
    if (op == "map" && code == ENOENT) return path + " is not mapped to any device";
    if (op == "symlink" && code == EEXIST) {
        const std::string what = detail.empty() ? "a file that is not a symbolic link" : detail;
        return path + ": " + what + " is in the way (not replaced)";
    }
    if (op == "remote") return path + ": " + detail;  // a port by URL: the reason in words
    if (op == "private folder") return path + ": not a private folder (" + detail + "); not used";
    if (op == "symlink" && code == ENOENT) return path + ": its folder does not exist";
    // A device the operator may not open: which group may, and how to join it.
    if (code == EACCES && !path.empty()) return path + ": " + permissionDeniedWords(path);
    const std::string& subject = path.empty() ? op : path;
    const std::string words =
        isBusy() && !detail.empty() ? "port is busy (" + detail + ")" : errnoWords(code, ErrorSubject::Port);
    if (subject.empty()) return words;
    return subject + ": " + words;
}

bool SysError::isBusy() const {
    return code == EBUSY || code == EWOULDBLOCK;
}

SysError lastError(std::string op, std::string path) {
    const int code = errno;
    return SysError{std::move(op), std::move(path), code};
}

}  // namespace ostrel::platform
