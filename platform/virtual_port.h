#pragma once
// A virtual port: a pseudo-terminal pair made by Ostrel. The slave gets a
// stable path (a symlink), which another program opens as a serial device;
// Ostrel serves the master under a COM number. Ostrel keeps its own raw slave
// fd open for the port's life, so bytes are never cooked or echoed and the
// other program closing the path is not a hang-up.

#include <atomic>
#include <memory>
#include <string>

#include "platform/pty_pair.h"
#include "platform/sys_error.h"
#include "platform/tty_port.h"

namespace ostrel::platform {

// Where virtual ports put their links unless told otherwise: $XDG_RUNTIME_DIR,
// or else a private folder <tmpRoot>/ostrel-<uid> (see privateFolder), never
// a name in a shared folder that another user could take first.
Result<std::string> runtimeDirectory(const char* xdgRuntimeDir, const std::string& tmpRoot = "/tmp");
Result<std::string> runtimeDirectory();  // from the process environment
// Makes `path` as a folder only this user can enter (mkdir 0700), or accepts
// the one there when it is a real folder (not a link), owned by this user,
// with no rights for group or others. Anything else is an error naming it.
Result<std::string> privateFolder(const std::string& path);
// The default link of a virtual COM<n>: "ostrel-COM<n>" in `directory`.
std::string defaultLinkPath(int comNumber, const std::string& directory);

class VirtualPort : public std::enable_shared_from_this<VirtualPort> {
    struct Key {
        explicit Key() = default;
    };

public:
    explicit VirtualPort(Key) {}  // for make_shared in create() only
    // linkPath empty: a link "ostrel-COM<n>" in the runtime directory. A path
    // in the way is an error that says what is there; only a dangling link
    // into /dev/pts (left by a run that ended) is replaced.
    static Result<std::shared_ptr<VirtualPort>> create(int comNumber, std::string linkPath = {});
    ~VirtualPort();  // removes the link if it still points at our slave

    const std::string& linkPath() const { return linkPath_; }
    const std::string& slavePath() const { return pair_.slavePath; }
    int comNumber() const { return comNumber_; }
    bool inUse() const { return inUse_.load(); }

    // Opens the master side as a port. Busy (EBUSY) while another TtyPort
    // from this virtual port is open. The open port keeps this VirtualPort
    // (and so the link and the pair) alive until it closes. Input that
    // waited on the master is discarded, as an open of a device discards it.
    Result<TtyPort> openPort();

private:
    int comNumber_ = 0;
    std::string linkPath_;
    PtyPair pair_;
    std::atomic<bool> inUse_{false};
};

}  // namespace ostrel::platform
