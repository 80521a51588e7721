#include "platform/serial_discovery.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "temp_dir.h"

namespace ostrel::platform {
namespace {

namespace fs = std::filesystem;

// Builds a small sysfs tree laid out as the kernel lays out class/tty,
// devices and bus drivers, with relative links as in the real one.
class FakeSysfs {
public:
    explicit FakeSysfs(const std::string& root) : sys_(fs::path(root) / "sys") {
        fs::create_directories(sys_ / "class/tty");
    }
    std::string root() const { return sys_.string(); }

    void file(const std::string& relative, const std::string& content) {
        fs::create_directories((sys_ / relative).parent_path());
        std::ofstream(sys_ / relative) << content << "\n";
    }
    // A link at `relative` pointing at `target` (both under sys), written relative.
    void link(const std::string& relative, const std::string& target) {
        const fs::path at = sys_ / relative;
        fs::create_directories(at.parent_path());
        fs::create_directories(sys_ / target);
        fs::create_symlink(fs::relative(sys_ / target, at.parent_path()), at);
    }
    // class/tty/<name> -> <deviceDir>/tty/<name>, whose `device` -> `parent`.
    void tty(const std::string& name, const std::string& ttyDir, const std::string& parent) {
        fs::create_directories(sys_ / ttyDir);
        link(ttyDir + "/device", parent);
        file(ttyDir + "/dev", "4:64");
        link("class/tty/" + name, ttyDir);
    }

    // A 16550A on the PNP bus, as on a PC: the serial core's "port" device sits
    // between the tty and the device that owns the driver.
    void legacyUart(int index, int type, const std::string& ioPort) {
        const std::string pnp = "devices/pnp0/00:0" + std::to_string(index);
        const std::string portDevice =
            pnp + "/00:0" + std::to_string(index) + ":0/00:0" + std::to_string(index) + ":0.0";
        link(pnp + "/driver", "bus/pnp/drivers/serial");
        link(portDevice + "/driver", "bus/serial-base/drivers/port");
        const std::string name = "ttyS" + std::to_string(index);
        tty(name, portDevice + "/tty/" + name, portDevice);
        file(portDevice + "/tty/" + name + "/type", std::to_string(type));
        file(portDevice + "/tty/" + name + "/port", ioPort);
    }

    // An 8250 slot of the platform driver with no UART behind it.
    void emptyUartSlot(int index) {
        const std::string platform = "devices/platform/serial8250";
        link(platform + "/driver", "bus/platform/drivers/serial8250");
        const std::string name = "ttyS" + std::to_string(index);
        tty(name, platform + "/tty/" + name, platform);
        file(platform + "/tty/" + name + "/type", "0");
        file(platform + "/tty/" + name + "/port", "0x2F8");
    }

    void usbDevice(const std::string& usb, const std::string& vendor, const std::string& product,
                   const std::string& serial, const std::string& manufacturer,
                   const std::string& productName) {
        const std::string dir = "devices/pci0000:00/0000:00:14.0/usb1/" + usb;
        file(dir + "/idVendor", vendor);
        file(dir + "/idProduct", product);
        if (!serial.empty()) file(dir + "/serial", serial);
        if (!manufacturer.empty()) file(dir + "/manufacturer", manufacturer);
        if (!productName.empty()) file(dir + "/product", productName);
    }

    // usb-serial adapter: tty -> usb-serial port device -> interface -> USB device.
    void usbSerial(const std::string& name, const std::string& usb, const std::string& driver) {
        const std::string iface = "devices/pci0000:00/0000:00:14.0/usb1/" + usb + "/" + usb + ":1.0";
        file(iface + "/bInterfaceNumber", "00");
        link(iface + "/driver", "bus/usb/drivers/" + driver);
        link(iface + "/" + name + "/driver", "bus/usb-serial/drivers/" + driver);
        tty(name, iface + "/" + name + "/tty/" + name, iface + "/" + name);
    }

    // CDC-ACM: the tty's parent is the interface itself.
    void acm(const std::string& name, const std::string& usb) {
        const std::string iface = "devices/pci0000:00/0000:00:14.0/usb1/" + usb + "/" + usb + ":1.0";
        file(iface + "/bInterfaceNumber", "00");
        link(iface + "/driver", "bus/usb/drivers/cdc_acm");
        tty(name, iface + "/tty/" + name, iface);
    }

    // A virtual terminal: no device link.
    void virtualTty(const std::string& name) {
        fs::create_directories(sys_ / "devices/virtual/tty" / name);
        link("class/tty/" + name, "devices/virtual/tty/" + name);
    }

private:
    fs::path sys_;
};

TEST(SerialDiscovery, FindsTheDevicesInOrderWithTheirDriversAndDescriptions) {
    test::TempDir dir;
    ASSERT_TRUE(dir.valid());
    FakeSysfs sysfs(dir.path());
    sysfs.legacyUart(2, 4, "0x3E8");
    sysfs.legacyUart(0, 3, "0x3F8");
    sysfs.emptyUartSlot(1);
    sysfs.usbDevice("1-1", "0403", "6001", "A12345", "FTDI", "FT232R USB UART");
    sysfs.usbSerial("ttyUSB0", "1-1", "ftdi_sio");
    sysfs.usbDevice("1-2", "0403", "6001", "B1", "FTDI", "FTDI USB Serial");
    sysfs.usbSerial("ttyUSB2", "1-2", "ftdi_sio");
    sysfs.usbDevice("1-4", "067b", "2303", "", "Prolific Technology Inc.", "USB-Serial Controller");
    sysfs.usbSerial("ttyUSB10", "1-4", "pl2303");
    sysfs.usbDevice("1-3", "2341", "0043", "", "", "");
    sysfs.acm("ttyACM0", "1-3");
    sysfs.usbDevice("1-5", "1234", "5678", "SN0001", "Example Corp", "CDC Serial");
    sysfs.acm("ttyACM1", "1-5");
    sysfs.virtualTty("tty1");
    sysfs.virtualTty("console");
    sysfs.file("devices/virtual/tty/console/active", "tty0 ttyS2");  // the kernel writes its console there

    // UARTs first in number order, then the rest by name; the empty UART slot is left out.
    const std::vector<SerialDevice> expected = {
        {"ttyS0", "/devroot/ttyS0", "serial", "16550 UART at 0x3f8"},
        {"ttyS2", "/devroot/ttyS2", "serial", "16550A UART at 0x3e8"},
        {"ttyACM0", "/devroot/ttyACM0", "cdc_acm", "USB ACM device (2341:0043)"},
        {"ttyACM1", "/devroot/ttyACM1", "cdc_acm", "Example Corp CDC Serial (1234:5678, serial SN0001)"},
        {"ttyUSB0", "/devroot/ttyUSB0", "ftdi_sio", "FTDI FT232R USB UART (0403:6001, serial A12345)"},
        {"ttyUSB2", "/devroot/ttyUSB2", "ftdi_sio",
         "FTDI USB Serial (0403:6001, serial B1)"},  // maker not repeated
        {"ttyUSB10", "/devroot/ttyUSB10", "pl2303",
         "Prolific Technology Inc. USB-Serial Controller (067b:2303)"},
    };
    const std::vector<SerialDevice> devices = discoverSerialDevices(sysfs.root(), "/devroot");
    ASSERT_EQ(devices.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(devices[i].name, expected[i].name);
        EXPECT_EQ(devices[i].devicePath, expected[i].devicePath);
        EXPECT_EQ(devices[i].driver, expected[i].driver) << expected[i].name;
        EXPECT_EQ(devices[i].description, expected[i].description) << expected[i].name;
        EXPECT_EQ(devices[i].console, expected[i].name == "ttyS2") << expected[i].name;
    }
    EXPECT_TRUE(discoverSerialDevices("/nonexistent/ostrel-sysfs", "/dev").empty());
}

TEST(SerialDiscovery, GivesTheByIdNamesAndTheUsbIdentityOfEachDevice) {
    test::TempDir dir;
    ASSERT_TRUE(dir.valid());
    FakeSysfs sysfs(dir.path());
    sysfs.legacyUart(0, 4, "0x3F8");
    sysfs.usbDevice("1-1", "0403", "6001", "A12345", "FTDI", "FT232R USB UART");
    sysfs.usbSerial("ttyUSB0", "1-1", "ftdi_sio");
    sysfs.usbDevice("1-3", "2341", "0043", "", "", "");
    sysfs.acm("ttyACM0", "1-3");
    sysfs.virtualTty("console");
    sysfs.file("devices/virtual/tty/console/active", "ttyS0");
    // The dev tree as udev lays it out: relative links in serial/by-id; one
    // that points nowhere known and a stray file are ignored.
    const fs::path dev = fs::path(dir.path()) / "dev";
    fs::create_directories(dev / "serial/by-id");
    std::ofstream(dev / "ttyUSB0") << "";
    std::ofstream(dev / "serial/by-id/README") << "";
    fs::create_symlink("../../ttyUSB0", dev / "serial/by-id/usb-FTDI_FT232R_USB_UART_A12345-if00-port0");
    fs::create_symlink("../../ttyACM0", dev / "serial/by-id/usb-Arduino_Uno_75833-if00");
    fs::create_symlink("../../ttyACM0", dev / "serial/by-id/usb-2341_0043-if00");
    fs::create_symlink("../../ttyUSB9", dev / "serial/by-id/usb-gone-if00-port0");

    const std::vector<SerialDevice> devices = discoverSerialDevices(sysfs.root(), dev.string());
    ASSERT_EQ(devices.size(), 3u);
    const SerialDevice& uart = devices[0];
    const SerialDevice& acm = devices[1];
    const SerialDevice& ftdi = devices[2];
    ASSERT_EQ(uart.name, "ttyS0");
    EXPECT_TRUE(uart.console);
    EXPECT_TRUE(uart.byId.empty());
    EXPECT_EQ(uart.usbVendor + uart.usbProduct + uart.usbSerial, "");
    ASSERT_EQ(ftdi.name, "ttyUSB0");
    EXPECT_EQ(ftdi.byId, std::vector<std::string>{
                             (dev / "serial/by-id/usb-FTDI_FT232R_USB_UART_A12345-if00-port0").string()});
    EXPECT_EQ(ftdi.usbVendor, "0403");
    EXPECT_EQ(ftdi.usbProduct, "6001");
    EXPECT_EQ(ftdi.usbSerial, "A12345");
    EXPECT_EQ(ftdi.driver, "ftdi_sio");
    EXPECT_FALSE(ftdi.console);
    ASSERT_EQ(acm.name, "ttyACM0");
    EXPECT_EQ(acm.byId,
              (std::vector<std::string>{(dev / "serial/by-id/usb-2341_0043-if00").string(),
                                        (dev / "serial/by-id/usb-Arduino_Uno_75833-if00").string()}));
    EXPECT_EQ(acm.usbVendor, "2341");
    EXPECT_EQ(acm.usbSerial, "");
    EXPECT_EQ(acm.driver, "cdc_acm");
}

}  // namespace
}  // namespace ostrel::platform
