#pragma once
// What --list-ports shows: every mapped port that opens now or that another
// program holds, with what discovery knows of it (driver, USB identity, the
// stable by-id name), whether the kernel's console is on it, and who holds a
// busy one. As text lines or as a JSON array.

#include <optional>
#include <string>
#include <vector>

#include "platform/port_holders.h"
#include "platform/port_map.h"
#include "platform/serial_discovery.h"

namespace ostrel::frontend {

struct ListedPort {
    int number = 0;
    std::string path;
    std::string description;
    std::string driver;             // empty when not known
    std::vector<std::string> byId;  // /dev/serial/by-id links to it
    bool usb = false;               // then usbVendor.. are set (serial may be empty)
    std::string usbVendor, usbProduct, usbSerial;
    bool console = false;
    bool busy = false;
    std::optional<platform::PortHolder> holder;  // the first holder found of a busy port
};

// In ascending COM order. `devices` is what discovery found (matched by path).
std::vector<ListedPort> ListedPorts(const platform::PortMap& ports,
                                    const std::vector<platform::SerialDevice>& devices);

// "COM3  /dev/ttyUSB0  DESCRIPTION" and, where known, "  driver ftdi_sio",
// "  by-id /dev/serial/by-id/...", "  console", "  busy (held by NAME, pid N)";
// one line per port.
std::string PortListText(const std::vector<ListedPort>& ports);

// [{"number":3,"path":"/dev/ttyUSB0","by_id":"/dev/serial/by-id/..."|null,
//   "description":"...","driver":"ftdi_sio"|null,
//   "usb":{"vendor":"0403","product":"6001","serial":"A1"}|null,
//   "console":false,"busy":false,"holder":{"name":"minicom","pid":1234}|null}, ...]
std::string PortListJson(const std::vector<ListedPort>& ports);

// A JSON string literal of `text`, quotes included.
std::string JsonString(const std::string& text);

}  // namespace ostrel::frontend
