#pragma once
// The port map: COM numbers 1..64 to devices. Explicit mappings come first,
// then /dev/ttySk as COM(k+1) where sysfs shows a UART, then the other serial
// devices at the lowest free numbers, then paths named on the command line and
// virtual ports. Built on the UI thread at start-up and read-only afterwards.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/serial_discovery.h"
#include "platform/sys_error.h"
#include "platform/tty_port.h"
#include "platform/virtual_port.h"

namespace ostrel::platform {

inline constexpr int kMaxComNumber = 64;

// The name every text gives a port: "COM" and its number.
std::string comName(int number);

struct PortEntry {
    int number = 0;
    std::string path;                          // device path, or the link path of a virtual port
    std::string description;                   // for --list-ports
    std::shared_ptr<VirtualPort> virtualPort;  // set for virtual ports
    bool console = false;                      // the kernel's console: never a default choice
};

class PortMap {
public:
    // Errors are returned as text naming the problem (number out of range, taken).
    std::optional<std::string> addExplicit(int number, const std::string& path);
    std::optional<std::string> addVirtual(std::shared_ptr<VirtualPort> port);
    void addDiscovered(const std::vector<SerialDevice>& devices);
    // Maps a path to the lowest free number, or returns the number it already
    // has. 0 when all 64 numbers are taken.
    int addPath(const std::string& path, const std::string& description = {});
    int lowestFree() const;  // 0 when none

    const PortEntry* find(int number) const;
    std::optional<int> numberOf(const std::string& path) const;
    std::vector<PortEntry> entries() const;  // ascending COM number

    // Opens COM number `number`: a device path through TtyPort::open, a
    // virtual port through its master, a URL through TtyPort::openRemote
    // (waiting at most remoteWaitMs()). ENOENT when the number is not mapped.
    Result<TtyPort> open(int number) const;
    // Whether COM `number` could be opened now, without touching the device
    // (see TtyPort::probe); a virtual port is free while nobody has it open.
    // A port by URL is not probed: it counts as free while its URL is
    // well-formed (a probe would be a connection the server may serve only
    // once, and a wait).
    Status probe(int number) const;

    // How long opening a port by URL may wait for the connection and the
    // server's answers.
    void setRemoteWaitMs(int ms) { remoteWaitMs_ = ms; }
    int remoteWaitMs() const { return remoteWaitMs_; }

private:
    std::map<int, PortEntry> entries_;
    int remoteWaitMs_ = 5000;
};

}  // namespace ostrel::platform
