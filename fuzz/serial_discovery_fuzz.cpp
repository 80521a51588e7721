// Fuzz target for the sysfs port discovery. The input drives a small
// generator that builds a fake sysfs tree (class/tty entries, device links
// that resolve, dangle or loop, device directories with driver links and
// USB attributes, UART types, the console list) and a fake /dev with
// serial/by-id links, in a temporary folder; discovery then runs on it.
// Invariants: exactly the entries whose device link resolves are found,
// minus legacy UART slots of type 0; each with its path, console flag,
// by-id links, driver and USB identity as the tree says; in order (ttyS* by
// number first); and a second run finds the same.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "platform/serial_discovery.h"
#include "scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using ostrel::fuzz::FuzzInput;
using ostrel::fuzz::require;

void writeFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// A file name from the input: letters, digits, '_', '-' and '.', never "." or "..".
std::string safeName(FuzzInput& in, std::size_t maxLength) {
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-.";
    const std::size_t length = 1 + in.below(static_cast<std::uint32_t>(maxLength));
    std::string name;
    for (std::size_t i = 0; i < length; ++i) name += kChars[in.below(sizeof kChars - 1)];
    if (name.find_first_not_of('.') == std::string::npos) name = "x" + name;
    return name;
}

std::string number(FuzzInput& in) {
    switch (in.below(4)) {
        case 0:
            return std::to_string(in.below(40));
        case 1:
            return std::to_string(in.u32());
        case 2:
            return "0" + std::to_string(in.below(10));
        default:
            return std::to_string(in.u32()) + std::to_string(in.u32());  // more digits than a number takes
    }
}

std::string entryName(FuzzInput& in) {
    switch (in.below(7)) {
        case 0:
        case 1:
            return "ttyS" + number(in);
        case 2:
            return "ttyUSB" + number(in);
        case 3:
            return "ttyACM" + number(in);
        case 4:
            return "tty" + number(in);
        case 5:
            return "ttyS";
        default:
            return safeName(in, 12);
    }
}

// UART type texts and the type discovery reads from them.
struct TypeText {
    const char* text;
    std::optional<long> type;
};
constexpr TypeText kTypes[] = {{"0", 0},    {"0\n", 0}, {" 0", 0},  {"4\n", 4},
                               {"14", 14},  {"1x", 1},  {"99", 99}, {"-3", -3},
                               {"abc", {}}, {"", {}},   {"\n", {}}, {"99999999999999999999999", {}}};

struct Level {
    std::string driver;  // empty: no driver link
    bool usb = false;
    std::string vendor, product, serial;
};

struct Entry {
    std::string name;
    bool resolves = false;  // the device link leads to a folder
    std::optional<long> type;
    std::vector<Level> levels;  // outermost first
};

bool isLegacyUart(const std::string& name) {
    if (name.size() <= 4 || name.rfind("ttyS", 0) != 0 || name.size() - 4 > 9) return false;
    return std::all_of(name.begin() + 4, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const fs::path root = ostrel::fuzz::scratchFolder() / "tree";
    std::error_code ignored;
    fs::remove_all(root, ignored);
    const fs::path sys = root / "sys", dev = root / "dev";
    const fs::path classDir = sys / "class" / "tty";
    fs::create_directories(classDir);
    fs::create_directories(sys / "devices");
    fs::create_directories(dev / "serial" / "by-id");

    std::map<std::string, Entry> entries;
    const std::size_t count = in.below(8);
    for (std::size_t k = 0; k < count; ++k) {
        Entry entry;
        entry.name = entryName(in);
        if (entries.count(entry.name) != 0 || entry.name == "console") continue;
        const fs::path classEntry = classDir / entry.name;
        fs::create_directories(classEntry);
        if (const std::uint8_t t = in.byte(); t < std::size(kTypes)) {
            writeFile(classEntry / "type", kTypes[t].text);
            entry.type = kTypes[t].type;
        }
        if (in.flag()) writeFile(classEntry / "port", in.flag() ? "0x3F8\n" : in.text(in.below(8)));

        // The device folder: a chain of levels, each maybe with a driver link
        // and USB attributes.
        fs::path device = sys / "devices";
        const std::size_t depth = 1 + in.below(4);
        for (std::size_t level = 0; level < depth; ++level) {
            device /= "d" + std::to_string(k) + "_" + std::to_string(level);
            fs::create_directories(device);
            Level made;
            if (in.flag()) {
                static const char* const kDrivers[] = {"port", "ctrl", "serial8250", "ftdi_sio", "cdc_acm"};
                const std::uint32_t pick = in.below(6);
                made.driver = pick < 5 ? kDrivers[pick] : safeName(in, 10);
                fs::create_symlink(fs::path("../../bus/any/drivers") / made.driver, device / "driver",
                                   ignored);
            }
            if (in.below(4) == 0) {
                made.usb = true;
                made.vendor = safeName(in, 4);
                made.product = safeName(in, 4);
                writeFile(device / "idVendor", made.vendor + "\n");
                writeFile(device / "idProduct", made.product + "\n");
                if (in.flag()) writeFile(device / "serial", safeName(in, 8) + "\n");
                if (in.flag()) writeFile(device / "manufacturer", in.text(in.below(10)));
                if (in.flag()) writeFile(device / "product", in.text(in.below(10)));
            }
            entry.levels.push_back(made);
        }
        switch (in.below(5)) {
            case 0:
                fs::create_symlink(fs::relative(device, classEntry), classEntry / "device");
                entry.resolves = true;
                break;
            case 1:
                fs::create_symlink(fs::path("../../../devices/gone"), classEntry / "device");
                break;
            case 2:
                fs::create_symlink("device", classEntry / "device");  // a loop
                break;
            case 3:
                writeFile(classEntry / "device", "not a link");
                break;
            default:
                break;  // no device link: a virtual terminal
        }
        entries[entry.name] = entry;
    }

    // The console list: some entries' names and maybe a stranger.
    std::set<std::string> consoles;
    if (in.flag()) {
        fs::create_directories(classDir / "console");
        std::string active;
        for (const auto& [name, entry] : entries) {
            if (!in.flag()) continue;
            active += (active.empty() ? "" : " ") + name;
            consoles.insert(name);
        }
        if (in.flag()) {
            const std::string stranger = safeName(in, 6);
            active += (active.empty() ? "" : " ") + stranger;
            consoles.insert(stranger);
        }
        writeFile(classDir / "console" / "active", active + (in.flag() ? "\n" : ""));
    }

    // By-id links to some entries, and dangling ones.
    std::map<std::string, std::vector<std::string>> byId;
    const std::size_t links = in.below(5);
    for (std::size_t i = 0; i < links && !entries.empty(); ++i) {
        auto it = entries.begin();
        std::advance(it, static_cast<std::ptrdiff_t>(in.below(static_cast<std::uint32_t>(entries.size()))));
        const fs::path link = dev / "serial" / "by-id" / ("usb-" + safeName(in, 10));
        if (fs::is_symlink(link)) continue;
        fs::create_symlink(fs::path("../..") / it->first, link);
        byId[it->first].push_back(link.string());
    }
    for (auto& [name, paths] : byId) std::sort(paths.begin(), paths.end());

    const std::vector<ostrel::platform::SerialDevice> found =
        ostrel::platform::discoverSerialDevices(sys.string(), dev.string());

    std::set<std::string> expectedNames;
    for (const auto& [name, entry] : entries) {
        if (entry.resolves && !(isLegacyUart(name) && entry.type == 0)) expectedNames.insert(name);
    }
    std::set<std::string> foundNames;
    for (const auto& d : found) foundNames.insert(d.name);
    require(foundNames.size() == found.size(), "a device found twice");
    require(foundNames == expectedNames, "found devices differ from the tree's");

    for (std::size_t i = 0; i < found.size(); ++i) {
        const auto& d = found[i];
        const Entry& entry = entries.at(d.name);
        require(d.devicePath == dev.string() + "/" + d.name, "wrong device path");
        require(d.console == (consoles.count(d.name) == 1), "wrong console flag");
        require(d.byId == (byId.count(d.name) ? byId.at(d.name) : std::vector<std::string>{}),
                "wrong by-id links");
        require(!d.description.empty(), "no description");
        // The driver and USB identity: from the device folder outwards, the
        // first driver that is not the serial core's, up to the USB device.
        std::string driver;
        const Level* usb = nullptr;
        for (auto level = entry.levels.rbegin(); level != entry.levels.rend(); ++level) {
            if (driver.empty() && !level->driver.empty() && level->driver != "port" &&
                level->driver != "ctrl")
                driver = level->driver;
            if (level->usb) {
                usb = &*level;
                break;
            }
        }
        require(d.driver == driver, "wrong driver");
        require(d.usbVendor == (usb ? usb->vendor : "") && d.usbProduct == (usb ? usb->product : ""),
                "wrong USB identity");
        if (usb) {
            require(d.description.find("(" + usb->vendor + ":" + usb->product) != std::string::npos,
                    "USB description without its ids");
        }
        if (i > 0) {
            const auto& before = found[i - 1];
            const bool a = isLegacyUart(before.name), b = isLegacyUart(d.name);
            require(a || !b, "a ttyS port after another port");
            if (a && b) {
                require(std::stol(before.name.substr(4)) <= std::stol(d.name.substr(4)),
                        "ttyS ports out of order");
            }
        }
    }

    const std::vector<ostrel::platform::SerialDevice> again =
        ostrel::platform::discoverSerialDevices(sys.string(), dev.string());
    require(again.size() == found.size(), "a second run found another number of devices");
    for (std::size_t i = 0; i < found.size(); ++i) {
        require(again[i].name == found[i].name && again[i].description == found[i].description &&
                    again[i].driver == found[i].driver && again[i].byId == found[i].byId,
                "a second run found other devices");
    }
    fs::remove_all(root, ignored);
    return 0;
}
