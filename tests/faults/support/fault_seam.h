#pragma once
// A fault seam under platform/posix_io.cpp, for tests only. A test binary
// that links the ostrel_fault_seam object library is linked with
// --wrap=read,write,writev,poll,ioctl,flock,tcflush: the product's one place
// for plain I/O (platform/posix_io.cpp, compiled exactly as in the program)
// then calls the wrappers of this seam, which pass every call on to the
// system unless a test scheduled faults for the fd it is made on. The
// program itself is linked without the option and carries nothing of this.
//
// A target is one fd number, or every fd open on one file (a device path
// such as a pty slave, or a capture file): the port's own fd is opened by
// the engine, so tests usually name the path.
//
// What the seam can do to the calls on a target:
//  - fail the next N calls of a kind with an errno (EINTR, EAGAIN, EIO,
//    ENOSPC, ENXIO, ...), optionally only ioctls of one request;
//  - cap the next N writes at a byte count (short writes);
//  - act as a UART's line: hand out raw bytes on the next reads, PARMRK
//    escaping as the line discipline would make it (polls on the fd see them
//    as readable), and answer TIOCGICOUNT with counters the test moves.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ostrel::faults {

enum class Call { Read, Write, Poll, Ioctl, Lock, Flush };

struct Target {
    int fd = -1;       // >= 0: this fd number
    std::string path;  // otherwise every fd open on this file
};
Target onFd(int fd);
Target onFile(const std::string& path);

// The next `count` calls of `call` on the target fail with `code`.
// `request` limits an ioctl fault to one request (0: any).
void failNext(const Target& target, Call call, int count, int code, unsigned long request = 0);
// The next `count` writes (write or writev) on the target take at most `maxBytes`.
void shortenWrites(const Target& target, int count, std::size_t maxBytes);

// What a UART's driver counts (TIOCGICOUNT); deltas are added.
struct LineCounts {
    int frame = 0, parity = 0, overrun = 0, brk = 0, bufOverrun = 0;
};

// Makes the target answer TIOCGICOUNT (all counters zero) from now on, as a
// UART does; a pty answers ENOTTY. Set before the port opens, so that the
// port takes its baseline from these counters.
void emulateCounters(const Target& target);
void addCounts(const Target& target, const LineCounts& deltas);
// The next read on the target returns `raw` (at most the size asked for; the
// rest on the following reads) before any real byte. `counted` is added to
// the counters at the same moment, as a driver counts the errors it marks.
void deliver(const Target& target, std::vector<std::uint8_t> raw, const LineCounts& counted = {});
// Raw bytes handed out by deliver() not yet read.
std::size_t undelivered(const Target& target);

// Faults that fired so far on the target (all kinds; delivered reads and
// counter answers included). Shows that the product's calls reached the seam.
std::size_t taken(const Target& target);
// Forgets every rule; calls pass straight through again.
void clearAll();

// The bytes a UART with PARMRK on hands to the reader: data FF doubled,
// `markedByte` preceded by FF 00 (a framing or parity error); a break is
// markedByte 0.
std::vector<std::uint8_t> escapeData(const std::vector<std::uint8_t>& data);
std::vector<std::uint8_t> markedByte(std::uint8_t byte);

}  // namespace ostrel::faults
