#include "platform/posix_io.h"

#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/uio.h>
#include <termios.h>
#include <unistd.h>

namespace ostrel::platform::io {

namespace {

// Runs `call` until it does not fail with EINTR; the result is >= 0 or -1
// with errno set by the last try.
template <class Call>
auto retryInterrupted(Call call) {
    for (;;) {
        const auto result = call();
        if (result >= 0 || errno != EINTR) return result;
    }
}

}  // namespace

Result<std::size_t> readSome(int fd, std::span<std::uint8_t> out) {
    const ssize_t n = retryInterrupted([&] { return ::read(fd, out.data(), out.size()); });
    if (n < 0) return lastError("read");
    return static_cast<std::size_t>(n);
}

Result<std::size_t> writeSome(int fd, std::span<const std::uint8_t> bytes) {
    const ssize_t n = retryInterrupted([&] { return ::write(fd, bytes.data(), bytes.size()); });
    if (n < 0) return lastError("write");
    return static_cast<std::size_t>(n);
}

Result<std::size_t> writeVector(int fd, const iovec* vectors, int count) {
    const ssize_t n = retryInterrupted([&] { return ::writev(fd, vectors, count); });
    if (n < 0) return lastError("writev");
    return static_cast<std::size_t>(n);
}

Result<std::size_t> writeSomeOnce(int fd, std::span<const std::uint8_t> bytes) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) return lastError("write");
    return static_cast<std::size_t>(n);
}

Status writeAll(int fd, std::span<const std::uint8_t> bytes, const WriteAllPolicy& policy,
                std::size_t* written) {
    std::size_t done = 0;
    Status status;
    while (done < bytes.size()) {
        Result<std::size_t> n = writeSome(fd, bytes.subspan(done));
        if (n && n.value() > 0) {
            done += n.value();
            continue;
        }
        if (n) {
            status = SysError{"write", "", policy.zeroWriteCode};
            break;
        }
        if (n.error().code == EAGAIN && policy.whenFull == WhenFull::WaitWritable) {
            pollfd out{fd, POLLOUT, 0};
            (void)io::poll(&out, 1, policy.waitMs);
            continue;
        }
        status = n.error();
        break;
    }
    if (written) *written = done;
    return status;
}

Status readAllAt(int fd, std::span<std::uint8_t> out, std::int64_t offset) {
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = retryInterrupted([&] {
            return ::pread(fd, out.data() + done, out.size() - done,
                           static_cast<off_t>(offset) + static_cast<off_t>(done));
        });
        if (n < 0) return lastError("pread");
        if (n == 0) return SysError{"pread", "", ENODATA};
        done += static_cast<std::size_t>(n);
    }
    return {};
}

Status writeAllAt(int fd, std::span<const std::uint8_t> bytes, std::int64_t offset) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = retryInterrupted([&] {
            return ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                            static_cast<off_t>(offset) + static_cast<off_t>(done));
        });
        if (n < 0) return lastError("pwrite");
        if (n == 0) return SysError{"pwrite", "", ENOSPC};
        done += static_cast<std::size_t>(n);
    }
    return {};
}

Result<int> poll(pollfd* fds, std::size_t count, int timeoutMs) {
    const int ready = retryInterrupted([&] { return ::poll(fds, static_cast<nfds_t>(count), timeoutMs); });
    if (ready < 0) return lastError("poll");
    return ready;
}

Result<int> pollOnce(pollfd* fds, std::size_t count, int timeoutMs) {
    const int ready = ::poll(fds, static_cast<nfds_t>(count), timeoutMs);
    if (ready < 0) return lastError("poll");
    return ready;
}

Result<int> ioctl(int fd, unsigned long request, void* argument) {
    const int result = retryInterrupted([&] { return ::ioctl(fd, request, argument); });
    if (result < 0) return lastError("ioctl");
    return result;
}

Status lockExclusive(int fd) {
    if (retryInterrupted([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) != 0) return lastError("flock");
    return {};
}

Status flushInputOutput(int fd) {
    if (retryInterrupted([&] { return ::tcflush(fd, TCIOFLUSH); }) != 0) return lastError("tcflush");
    return {};
}

Status flushInput(int fd) {
    if (retryInterrupted([&] { return ::tcflush(fd, TCIFLUSH); }) != 0) return lastError("tcflush");
    return {};
}

}  // namespace ostrel::platform::io
