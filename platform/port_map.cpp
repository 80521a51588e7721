#include "platform/port_map.h"

#include <cerrno>

#include "platform/remote_url.h"

namespace ostrel::platform {

std::string comName(int number) {
    return "COM" + std::to_string(number);
}

namespace {

// Why `number` cannot take a new mapping, or nothing when it can.
std::optional<std::string> numberUnavailable(const PortMap& map, int number) {
    if (number < 1 || number > kMaxComNumber) {
        return comName(number) + " is out of range (COM1 to COM" + std::to_string(kMaxComNumber) + ")";
    }
    if (const PortEntry* taken = map.find(number))
        return comName(number) + " is already mapped to " + taken->path;
    return std::nullopt;
}

}  // namespace

std::optional<std::string> PortMap::addExplicit(int number, const std::string& path) {
    if (auto problem = numberUnavailable(*this, number)) return problem;
    if (path.empty()) return comName(number) + " needs a device path";
    if (auto other = numberOf(path)) return path + " is already mapped to " + comName(*other);
    entries_[number] = PortEntry{number, path, {}, nullptr};
    return std::nullopt;
}

std::optional<std::string> PortMap::addVirtual(std::shared_ptr<VirtualPort> port) {
    if (!port) return std::string("no virtual port");
    const int number = port->comNumber();
    if (auto problem = numberUnavailable(*this, number)) return problem;
    std::string description = "virtual port (" + port->slavePath() + ")";
    entries_[number] = PortEntry{number, port->linkPath(), std::move(description), std::move(port)};
    return std::nullopt;
}

void PortMap::addDiscovered(const std::vector<SerialDevice>& devices) {
    // ttySk keeps its traditional number COM(k+1) where that is free ...
    std::vector<const SerialDevice*> rest;
    for (const SerialDevice& device : devices) {
        if (numberOf(device.devicePath)) continue;
        const long index = legacyUartIndex(device.name);
        const int number = index >= 0 && index < kMaxComNumber ? static_cast<int>(index) + 1 : 0;
        if (number != 0 && !find(number)) {
            entries_[number] =
                PortEntry{number, device.devicePath, device.description, nullptr, device.console};
        } else {
            rest.push_back(&device);
        }
    }
    // ... the others take the lowest free numbers, in the given order.
    for (const SerialDevice* device : rest) {
        const int number = addPath(device->devicePath, device->description);
        if (number != 0) entries_[number].console = device->console;
    }
}

int PortMap::addPath(const std::string& path, const std::string& description) {
    if (auto existing = numberOf(path)) return *existing;
    const int number = lowestFree();
    if (number != 0) entries_[number] = PortEntry{number, path, description, nullptr};
    return number;
}

int PortMap::lowestFree() const {
    for (int number = 1; number <= kMaxComNumber; ++number) {
        if (!entries_.contains(number)) return number;
    }
    return 0;
}

const PortEntry* PortMap::find(int number) const {
    const auto it = entries_.find(number);
    return it == entries_.end() ? nullptr : &it->second;
}

std::optional<int> PortMap::numberOf(const std::string& path) const {
    for (const auto& [number, entry] : entries_) {
        if (entry.path == path) return number;
    }
    return std::nullopt;
}

std::vector<PortEntry> PortMap::entries() const {
    std::vector<PortEntry> list;
    list.reserve(entries_.size());
    for (const auto& [number, entry] : entries_) list.push_back(entry);
    return list;
}

Result<TtyPort> PortMap::open(int number) const {
    const PortEntry* entry = find(number);
    if (entry == nullptr) {
        return SysError{"map", comName(number), ENOENT};
    }
    if (entry->virtualPort) return entry->virtualPort->openPort();
    if (looksLikeUrl(entry->path)) return TtyPort::openRemote(entry->path, remoteWaitMs_);
    return TtyPort::open(entry->path);
}

Status PortMap::probe(int number) const {
    const PortEntry* entry = find(number);
    if (entry == nullptr) return SysError{"map", comName(number), ENOENT};
    if (entry->virtualPort) {
        if (entry->virtualPort->inUse()) return SysError{"open", entry->path, EBUSY};
        return {};
    }
    if (looksLikeUrl(entry->path)) {
        if (!parseRemoteUrl(entry->path)) return SysError{"open", entry->path, EINVAL};
        return {};
    }
    return TtyPort::probe(entry->path);
}

}  // namespace ostrel::platform
