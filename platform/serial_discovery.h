#pragma once
// Finds the serial devices of the machine in sysfs: entries of class/tty with
// a device link; ttyS* whose UART type is 0 (no UART there) are skipped. USB
// adapters carry vendor, product and serial number from sysfs. Nothing is
// opened. The roots are parameters so that tests use fake trees. The stable
// names udev gives them under /dev/serial/by-id are found too.

#include <string>
#include <vector>

namespace ostrel::platform {

struct SerialDevice {
    std::string name;         // "ttyUSB0"
    std::string devicePath;   // devRoot + "/" + name
    std::string driver;       // "ftdi_sio", "cdc_acm", "serial", ...
    std::string description;  // "FTDI FT232R USB UART (0403:6001, serial A12345)", "16550A UART at 0x3f8"
    bool console = false;     // named in class/tty/console/active: the kernel's console is on it
    // devRoot + "/serial/by-id/..." links that name this device (udev makes
    // them for USB adapters); sorted.
    std::vector<std::string> byId = {};
    // The USB device's idVendor, idProduct and serial; empty when not USB.
    std::string usbVendor = {}, usbProduct = {}, usbSerial = {};
};

// "ttyS3" gives 3; any other name -1.
long legacyUartIndex(const std::string& name);

// Sorted: ttyS* by number first, then the rest by name.
std::vector<SerialDevice> discoverSerialDevices(const std::string& sysfsRoot = "/sys",
                                                const std::string& devRoot = "/dev");

}  // namespace ostrel::platform
