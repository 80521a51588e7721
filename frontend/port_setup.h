#pragma once
// Builds the port map of one run from the options and resolves --dte/--dce to
// COM numbers. The numbers are given out in this order: --port mappings, the
// virtual ports of --virtual (their numbers are the operator's choice too),
// the serial devices found in sysfs, the paths named with --dte/--dce, and
// last the demo line's two virtual ports at the lowest free numbers.
//
// The setup owns the virtual ports for the run; it must outlive every Engine
// built over its map and must not move once an Engine refers to the map.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frontend/options.h"
#include "platform/port_map.h"
#include "platform/virtual_port.h"

namespace ostrel::frontend {

struct PortEnvironment {
    std::string sysfsRoot = "/sys";
    std::string devRoot = "/dev";
    std::string runtimeDir;  // empty: $XDG_RUNTIME_DIR, or a private folder in /tmp when that is not set
};

// The demo line: a virtual port with the simulated DTE behind it and one with
// the simulated DCE behind it. The devices open the link paths.
struct DemoPorts {
    int dteDevicePort = 0;  // COM number served by Ostrel; the simulated DTE is on its link
    int dceDevicePort = 0;  // the simulated modem's; made first, so it has the lower number
    std::string dteDeviceLink;
    std::string dceDeviceLink;
};

struct PortSetup {
    platform::PortMap map;
    std::vector<std::shared_ptr<platform::VirtualPort>> virtualPorts;  // held for the run
    int dte = 0;  // COM number for the DTE side; 0 when neither an option nor the demo gave one
    int dce = 0;
    std::optional<DemoPorts> demo;
};

struct PortSetupResult {
    std::unique_ptr<PortSetup> setup;  // null on error
    std::string error;                 // one line naming the option, without a newline
    int exitCode = kExitOk;            // for the error: kExitBadOption or kExitOpenFailed
};

PortSetupResult BuildPortSetup(const Options& options, const PortEnvironment& environment = {});

// "ostrel: COM5 is the virtual port at PATH\n" for each port of --virtual:
// where the other program opens it. Both front ends write it to standard
// error at the start of a run.
std::string VirtualPortLines(const Options& options, const PortSetup& setup);

// The directory for links of virtual ports: environment.runtimeDir, else
// $XDG_RUNTIME_DIR, else /tmp/ostrel-<uid> (made private, or an error when
// what is there is not).
platform::Result<std::string> RuntimeDirectory(const PortEnvironment& environment);

}  // namespace ostrel::frontend
