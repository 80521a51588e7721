#pragma once
// The one place where the rest of the code makes the plain I/O system calls:
// read, write, writev, pread, pwrite, poll, ioctl, flock, tcflush, eventfd reads and writes.
// Each call retries EINTR here and nowhere else (the *Once calls hand it
// back, for a caller that a signal must break off), and hands errors back as
// SysError values (errno is read right after the failing call, never left
// for the caller). Each function is a thin wrapper over one call. No other
// file makes these calls: the fault tests (tests/faults) link their binaries
// with the linker's --wrap for these system calls, so that this file, as the
// program has it, meets the faults they schedule.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/sys_error.h"

struct pollfd;
struct iovec;

namespace ostrel::platform::io {

// One read() of at most out.size() bytes. 0 means end of file (or a hang-up
// on a tty with VMIN 1); EAGAIN comes back as an error with that code.
Result<std::size_t> readSome(int fd, std::span<std::uint8_t> out);

// One write() / writev(); the count may be short. EAGAIN is an error.
Result<std::size_t> writeSome(int fd, std::span<const std::uint8_t> bytes);
Result<std::size_t> writeVector(int fd, const iovec* vectors, int count);
// One write() with no retry: EINTR comes back as an error, so that a signal
// (with a handler installed without SA_RESTART) breaks off a blocking write.
Result<std::size_t> writeSomeOnce(int fd, std::span<const std::uint8_t> bytes);

// What writeAll() does when the fd takes nothing right now (EAGAIN on a
// non-blocking fd).
enum class WhenFull {
    Fail,          // give up with EAGAIN
    WaitWritable,  // poll() for POLLOUT up to WriteAllPolicy::waitMs, then write again
};

struct WriteAllPolicy {
    WhenFull whenFull = WhenFull::Fail;
    int waitMs = 100;
    // The code reported when write() returns 0 (nothing taken, no error):
    // ENOSPC for files, EIO for a stream that stopped taking data.
    int zeroWriteCode = ENOSPC;
};

// Writes all of `bytes`, carrying on after partial writes. On failure the
// error's code tells why and `written` (when given) how much went out.
Status writeAll(int fd, std::span<const std::uint8_t> bytes, const WriteAllPolicy& policy = {},
                std::size_t* written = nullptr);

// Reads exactly out.size() bytes at `offset` (pread); ENODATA when the file
// ends first.
Status readAllAt(int fd, std::span<std::uint8_t> out, std::int64_t offset);
// Writes all of `bytes` at `offset` (pwrite), carrying on after partial
// writes; ENOSPC when a write takes nothing.
Status writeAllAt(int fd, std::span<const std::uint8_t> bytes, std::int64_t offset);

// poll(); returns the number of ready fds (0 on time-out). After an EINTR
// the wait starts again with the full time-out.
Result<int> poll(pollfd* fds, std::size_t count, int timeoutMs);
// One poll() with no retry: EINTR comes back as an error.
Result<int> pollOnce(pollfd* fds, std::size_t count, int timeoutMs);

// ioctl() with a pointer argument (or none); the result when it is >= 0.
Result<int> ioctl(int fd, unsigned long request, void* argument = nullptr);

// flock(LOCK_EX | LOCK_NB): EWOULDBLOCK when another open file holds it.
Status lockExclusive(int fd);

// tcflush(TCIOFLUSH): pending input and output discarded.
Status flushInputOutput(int fd);
// tcflush(TCIFLUSH): pending input discarded.
Status flushInput(int fd);

}  // namespace ostrel::platform::io
