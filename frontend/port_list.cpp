#include "frontend/port_list.h"

#include <algorithm>
#include <cstdio>

#include "engine/port_enumeration.h"

namespace ostrel::frontend {

std::vector<ListedPort> ListedPorts(const platform::PortMap& ports,
                                    const std::vector<platform::SerialDevice>& devices) {
    const engine::PortListing listing = engine::EnumeratePorts(ports);
    const auto opens = [&listing](int number) {
        return std::find(listing.table.begin(), listing.table.begin() + listing.count, number) !=
               listing.table.begin() + listing.count;
    };
    std::vector<ListedPort> listed;
    for (const platform::PortEntry& entry : ports.entries()) {
        ListedPort port;
        if (!opens(entry.number)) {
            // Only a port that someone else holds is shown among those that
            // do not open: missing or refused ones are not ports to choose.
            const platform::Status probe = ports.probe(entry.number);
            if (probe || !probe.error().isBusy()) continue;
            port.busy = true;
            const std::vector<platform::PortHolder> holders = platform::findPortHolders(entry.path);
            if (!holders.empty()) port.holder = holders.front();
        }
        port.number = entry.number;
        port.path = entry.path;
        port.description = entry.description.empty() ? std::string("mapped with --port") : entry.description;
        port.console = entry.console;
        const auto device = std::find_if(devices.begin(), devices.end(),
                                         [&entry](const auto& d) { return d.devicePath == entry.path; });
        if (device != devices.end()) {
            port.driver = device->driver;
            port.byId = device->byId;
            port.usb = !device->usbVendor.empty();
            port.usbVendor = device->usbVendor;
            port.usbProduct = device->usbProduct;
            port.usbSerial = device->usbSerial;
            port.console = port.console || device->console;
        }
        listed.push_back(std::move(port));
    }
    return listed;
}

std::string PortListText(const std::vector<ListedPort>& ports) {
    std::string text;
    for (const ListedPort& port : ports) {
        text += platform::comName(port.number) + "  " + port.path + "  " + port.description;
        if (!port.driver.empty()) text += "  driver " + port.driver;
        for (const std::string& link : port.byId) text += "  by-id " + link;
        if (port.console) text += "  console";
        if (port.busy) {
            text += "  busy";
            if (port.holder) text += " (" + platform::holderWords({*port.holder}) + ")";
        }
        text += "\n";
    }
    return text;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string PortListJson(const std::vector<ListedPort>& ports) {
    const auto orNull = [](const std::string& text) { return text.empty() ? "null" : JsonString(text); };
    std::string out = "[";
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const ListedPort& port = ports[i];
        out += i == 0 ? "\n  {" : ",\n  {";
        out += "\"number\": " + std::to_string(port.number);
        out += ", \"path\": " + JsonString(port.path);
        out += ", \"by_id\": " + (port.byId.empty() ? std::string("null") : JsonString(port.byId.front()));
        out += ", \"description\": " + JsonString(port.description);
        out += ", \"driver\": " + orNull(port.driver);
        out += ", \"usb\": ";
        out += port.usb ? "{\"vendor\": " + JsonString(port.usbVendor) +
                              ", \"product\": " + JsonString(port.usbProduct) +
                              ", \"serial\": " + orNull(port.usbSerial) + "}"
                        : std::string("null");
        out += std::string(", \"console\": ") + (port.console ? "true" : "false");
        out += std::string(", \"busy\": ") + (port.busy ? "true" : "false");
        out += ", \"holder\": ";
        out += port.holder ? "{\"name\": " + JsonString(port.holder->name) +
                                 ", \"pid\": " + std::to_string(port.holder->pid) + "}"
                           : std::string("null");
        out += "}";
    }
    return out + (ports.empty() ? "]\n" : "\n]\n");
}

}  // namespace ostrel::frontend
