#include "platform/serial_discovery.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <tuple>

namespace ostrel::platform {

namespace fs = std::filesystem;

namespace {

// First line of a sysfs attribute, trailing white space removed.
std::optional<std::string> readAttribute(const fs::path& file) {
    std::ifstream in(file);
    if (!in) return std::nullopt;
    std::string line;
    std::getline(in, line);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    return line;
}

std::string linkBaseName(const fs::path& link) {
    std::error_code error;
    const fs::path target = fs::read_symlink(link, error);
    return error ? std::string() : target.filename().string();
}

// Splits "ttyUSB12" into ("ttyUSB", 12); no digits gives -1.
std::pair<std::string, long> splitNumber(const std::string& name) {
    std::size_t end = name.size();
    while (end > 0 && std::isdigit(static_cast<unsigned char>(name[end - 1]))) --end;
    if (end == name.size() || name.size() - end > 9) return {name, -1};
    return {name.substr(0, end), std::stol(name.substr(end))};
}

bool isLegacyUartName(const std::string& name) {
    return legacyUartIndex(name) >= 0;
}

std::string genericDescription(const std::string& driver) {
    return driver.empty() ? "serial port" : driver + " serial port";
}

// Names of the serial core's port types (include/uapi/linux/serial_core.h).
std::string uartTypeName(long type) {
    static const char* const kNames[] = {nullptr, "8250",    "16450",    "16550",    "16550A", "Cirrus",
                                         "16650", "16650V2", "16750",    "Startech", "16C950", "16654",
                                         "16850", "RSA",     "NS16550A", "XScale"};
    if (type > 0 && type < static_cast<long>(std::size(kNames))) return kNames[type];
    return {};
}

struct Ancestry {
    std::string driver;
    std::string vendor, product, serial, manufacturer, productName;
    bool usb = false;
};

// Walks up from the device directory: the first driver that is not the serial
// core's "port"/"ctrl" helper names the driver; the first directory with
// idVendor is the USB device.
Ancestry walkUp(const fs::path& device, const fs::path& sysRoot) {
    Ancestry found;
    const std::string stop = sysRoot.string();
    for (fs::path dir = device; dir.string().size() > stop.size() && dir.has_relative_path();
         dir = dir.parent_path()) {
        if (found.driver.empty()) {
            const std::string driver = linkBaseName(dir / "driver");
            if (!driver.empty() && driver != "port" && driver != "ctrl") found.driver = driver;
        }
        if (auto vendor = readAttribute(dir / "idVendor")) {
            found.usb = true;
            found.vendor = *vendor;
            found.product = readAttribute(dir / "idProduct").value_or("");
            found.serial = readAttribute(dir / "serial").value_or("");
            found.manufacturer = readAttribute(dir / "manufacturer").value_or("");
            found.productName = readAttribute(dir / "product").value_or("");
            break;
        }
    }
    return found;
}

std::string usbDescription(const Ancestry& a) {
    std::string text;
    if (!a.productName.empty()) {
        // Products often repeat the maker's name: "FTDI" + "FTDI USB Serial".
        text = a.manufacturer.empty() || a.productName.rfind(a.manufacturer, 0) == 0
                   ? a.productName
                   : a.manufacturer + " " + a.productName;
    } else if (!a.manufacturer.empty()) {
        text = a.manufacturer + " USB serial device";
    } else {
        text = a.driver == "cdc_acm" ? "USB ACM device" : "USB serial device";
    }
    text += " (" + a.vendor + ":" + a.product;
    if (!a.serial.empty()) text += ", serial " + a.serial;
    return text + ")";
}

std::string uartDescription(long type, const fs::path& classEntry, const std::string& driver) {
    std::string name = uartTypeName(type);
    std::string text = name.empty() ? genericDescription(driver) : name + " UART";
    // The I/O port, "0x3F8"; memory-mapped UARTs show 0x0.
    if (auto port = readAttribute(classEntry / "port")) {
        char* end = nullptr;
        const unsigned long address = std::strtoul(port->c_str(), &end, 16);
        if (address != 0 && end != port->c_str() && *end == '\0') {
            char hex[32];
            std::snprintf(hex, sizeof hex, " at 0x%lx", address);
            text += hex;
        }
    }
    return text;
}

// Device name to the by-id links that point at it ("../../ttyUSB0").
std::map<std::string, std::vector<std::string>> byIdLinks(const fs::path& devRoot) {
    std::map<std::string, std::vector<std::string>> links;
    std::error_code error;
    fs::directory_iterator it(devRoot / "serial" / "by-id", error);
    if (error) return links;
    for (const fs::directory_entry& entry : it) {
        const std::string target = linkBaseName(entry.path());
        if (!target.empty()) links[target].push_back(entry.path().string());
    }
    for (auto& [name, paths] : links) std::sort(paths.begin(), paths.end());
    return links;
}

bool discoveryOrder(const SerialDevice& a, const SerialDevice& b) {
    const bool aUart = isLegacyUartName(a.name), bUart = isLegacyUartName(b.name);
    if (aUart != bUart) return aUart;
    const auto [aPrefix, aNumber] = splitNumber(a.name);
    const auto [bPrefix, bNumber] = splitNumber(b.name);
    return std::tie(aPrefix, aNumber, a.name) < std::tie(bPrefix, bNumber, b.name);
}

}  // namespace

long legacyUartIndex(const std::string& name) {
    const auto [prefix, number] = splitNumber(name);
    return prefix == "ttyS" ? number : -1;
}

std::vector<SerialDevice> discoverSerialDevices(const std::string& sysfsRoot, const std::string& devRoot) {
    std::vector<SerialDevice> devices;
    std::error_code error;
    const fs::path sysRoot = fs::weakly_canonical(fs::path(sysfsRoot), error);
    const fs::path classDir = fs::path(sysfsRoot) / "class" / "tty";
    fs::directory_iterator it(classDir, error);
    if (error) return devices;
    // "tty0 ttyS0": the devices the kernel writes its console to.
    const std::map<std::string, std::vector<std::string>> byId = byIdLinks(fs::path(devRoot));
    std::vector<std::string> consoles;
    if (auto active = readAttribute(classDir / "console" / "active")) {
        for (std::size_t start = 0; start < active->size();) {
            const std::size_t end = std::min(active->find(' ', start), active->size());
            if (end > start) consoles.push_back(active->substr(start, end - start));
            start = end + 1;
        }
    }

    for (const fs::directory_entry& entry : it) {
        const fs::path classEntry = entry.path();
        const std::string name = classEntry.filename().string();
        // Virtual terminals, the console and ptmx have no device link.
        std::error_code linkError;
        if (!fs::is_symlink(classEntry / "device", linkError)) continue;
        const fs::path device = fs::canonical(classEntry / "device", linkError);
        if (linkError) continue;

        std::optional<long> uartType;
        if (auto type = readAttribute(classEntry / "type")) {
            try {
                uartType = std::stol(*type);
            } catch (const std::exception&) {
            }
        }
        // A legacy UART slot with no UART behind it: opening it gives EIO.
        if (isLegacyUartName(name) && uartType && *uartType == 0) continue;

        const Ancestry ancestry = walkUp(device, sysRoot);
        SerialDevice found;
        found.name = name;
        found.devicePath = devRoot + "/" + name;
        found.driver = ancestry.driver;
        found.console = std::find(consoles.begin(), consoles.end(), name) != consoles.end();
        if (auto links = byId.find(name); links != byId.end()) found.byId = links->second;
        if (ancestry.usb) {
            found.usbVendor = ancestry.vendor;
            found.usbProduct = ancestry.product;
            found.usbSerial = ancestry.serial;
            found.description = usbDescription(ancestry);
        } else if (uartType) {
            found.description = uartDescription(*uartType, classEntry, ancestry.driver);
        } else {
            found.description = genericDescription(ancestry.driver);
        }
        devices.push_back(std::move(found));
    }
    std::sort(devices.begin(), devices.end(), discoveryOrder);
    return devices;
}

}  // namespace ostrel::platform
