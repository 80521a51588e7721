#include "frontend/port_setup.h"

#include <filesystem>
#include <system_error>

#include "platform/remote_url.h"

namespace ostrel::frontend {
namespace {

PortSetupResult failure(std::string error, int exitCode) {
    PortSetupResult result;
    result.error = std::move(error);
    result.exitCode = exitCode;
    return result;
}

// A number for a path given with --dte/--dce: the number it already has
// (directly, or through the device a link points at), or a new one.
int numberForPath(platform::PortMap& map, const std::string& path) {
    if (auto number = map.numberOf(path)) return *number;
    if (platform::looksLikeUrl(path))
        return map.addPath(path, "port on another machine, named on the command line");
    std::error_code ec;
    const auto canonical = std::filesystem::canonical(path, ec);
    if (!ec) {
        if (auto number = map.numberOf(canonical.string())) return *number;
    }
    return map.addPath(path, "named on the command line");
}

// Resolves one --dte/--dce value; 0 with `error` set when it cannot be.
int resolveSide(platform::PortMap& map, const char* option, const std::string& value, std::string& error) {
    if (value.empty()) return 0;
    if (auto com = ComNumberOf(value)) return *com;
    const int number = numberForPath(map, value);
    if (number == 0) error = std::string(option) + ": no free COM number left for " + value;
    return number;
}

}  // namespace

std::string VirtualPortLines(const Options& options, const PortSetup& setup) {
    std::string lines;
    for (const VirtualRequest& request : options.virtualPorts) {
        if (const platform::PortEntry* entry = setup.map.find(request.number))
            lines += "ostrel: " + platform::comName(request.number) + " is the virtual port at " +
                     entry->path + "\n";
    }
    return lines;
}

platform::Result<std::string> RuntimeDirectory(const PortEnvironment& environment) {
    if (!environment.runtimeDir.empty()) return environment.runtimeDir;
    return platform::runtimeDirectory();
}

PortSetupResult BuildPortSetup(const Options& options, const PortEnvironment& environment) {
    auto setup = std::make_unique<PortSetup>();
    platform::PortMap& map = setup->map;

    for (const auto& mapping : options.portMappings) {
        if (auto error = map.addExplicit(mapping.number, mapping.path))
            return failure("--port: " + *error, kExitBadOption);
    }
    // Virtual ports carry numbers the operator chose, so they are placed
    // before discovery and paths take the lowest free numbers.
    for (const auto& request : options.virtualPorts) {
        if (const platform::PortEntry* taken = map.find(request.number))
            return failure(
                "--virtual: " + platform::comName(request.number) + " is already mapped to " + taken->path,
                kExitBadOption);
        std::string link = request.linkPath;
        if (link.empty()) {
            const platform::Result<std::string> dir = RuntimeDirectory(environment);
            if (!dir) return failure("--virtual: " + dir.error().describe(), kExitBadOption);
            link = platform::defaultLinkPath(request.number, dir.value());
        }
        auto created = platform::VirtualPort::create(request.number, link);
        if (!created) return failure("--virtual: " + created.error().describe(), kExitBadOption);
        std::shared_ptr<platform::VirtualPort> port = std::move(created).value();
        if (auto error = map.addVirtual(port)) return failure("--virtual: " + *error, kExitBadOption);
        setup->virtualPorts.push_back(std::move(port));
    }
    map.addDiscovered(platform::discoverSerialDevices(environment.sysfsRoot, environment.devRoot));

    std::string error;
    setup->dte = resolveSide(map, "--dte", options.dte, error);
    if (!error.empty()) return failure(error, kExitBadOption);
    setup->dce = resolveSide(map, "--dce", options.dce, error);
    if (!error.empty()) return failure(error, kExitBadOption);
    // A COM name and a path (or a link to it) may name the same port.
    if (setup->dte != 0 && setup->dte == setup->dce)
        return failure("--dte and --dce name the same port (" + platform::comName(setup->dte) + ")",
                       kExitBadOption);

    if (options.demo) {
        DemoPorts demo;
        const platform::Result<std::string> runtimeDir = RuntimeDirectory(environment);
        if (!runtimeDir) return failure("--demo: " + runtimeDir.error().describe(), kExitOpenFailed);
        const std::string& dir = runtimeDir.value();
        const struct {
            int* number;
            std::string* link;
            const char* name;
        } sides[] = {{&demo.dceDevicePort, &demo.dceDeviceLink, "/ostrel-demo-dce"},
                     {&demo.dteDevicePort, &demo.dteDeviceLink, "/ostrel-demo-dte"}};
        for (const auto& side : sides) {
            const int number = map.lowestFree();
            if (number == 0)
                return failure("--demo: no free COM number left for the demo line", kExitOpenFailed);
            auto created = platform::VirtualPort::create(number, dir + side.name);
            if (!created) return failure("--demo: " + created.error().describe(), kExitOpenFailed);
            std::shared_ptr<platform::VirtualPort> port = std::move(created).value();
            if (auto addError = map.addVirtual(port)) return failure("--demo: " + *addError, kExitOpenFailed);
            *side.number = number;
            *side.link = port->linkPath();
            setup->virtualPorts.push_back(std::move(port));
        }
        // Unless the operator named the ports. The DTE side is the port on
        // which Ostrel stands in for the terminal, so it faces the modem (its
        // bytes are shown as " DCE ->> "), and the DCE side faces the
        // terminal. Only Full Duplex taps each device's own line on the
        // side of its name (its markers are the other way round).
        const bool tapping = options.mode == engine::kFullDuplex;
        if (setup->dte == 0) setup->dte = tapping ? demo.dteDevicePort : demo.dceDevicePort;
        if (setup->dce == 0) setup->dce = tapping ? demo.dceDevicePort : demo.dteDevicePort;
        setup->demo = std::move(demo);
    }

    PortSetupResult result;
    result.setup = std::move(setup);
    return result;
}

}  // namespace ostrel::frontend
