// Stable device names: the port list reads udev's by-path and by-id links (here in a made-up
// system tree), and varnex ports --station-config turns them into a configuration that the
// station reads back, the hub's sockets in their order.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/ports/PortsConfig.h"
#include "cli/station/StationConfig.h"
#include "serial/PortList.h"

namespace {

namespace fs = std::filesystem;

// A system tree with one USB serial adapter per hub socket: /sys/class/tty/ttyUSBn with its
// driver, /dev/ttyUSBn, and udev's links to it.
class FakeSystem {
public:
    FakeSystem() : root_(fs::path(::testing::TempDir()) / "varnex_fake_system") {
        fs::remove_all(root_);
        fs::create_directories(root_ / "sys/bus/usb-serial/drivers/ftdi_sio");
        fs::create_directories(root_ / "dev/serial/by-path");
        fs::create_directories(root_ / "dev/serial/by-id");
        fs::create_directories(root_ / "sys/class/tty");
    }
    ~FakeSystem() { fs::remove_all(root_); }

    void AddAdapter(const std::string& tty, const std::string& socket, const std::string& serialNumber) {
        const fs::path device = root_ / "sys/devices/usb1" / socket / tty;
        fs::create_directories(device);
        fs::create_symlink(root_ / "sys/bus/usb-serial/drivers/ftdi_sio", device / "driver");
        fs::create_directories(root_ / "sys/class/tty" / tty);
        fs::create_symlink(device, root_ / "sys/class/tty" / tty / "device");
        std::ofstream(root_ / "dev" / tty) << "";
        if (!socket.empty()) fs::create_symlink("../../" + tty, root_ / "dev/serial/by-path" / ByPath(socket));
        if (!serialNumber.empty()) {
            fs::create_symlink("../../" + tty, root_ / "dev/serial/by-id" /
                                                   ("usb-FTDI_FT232R_USB_UART_" + serialNumber + "-if00-port0"));
        }
    }
    // A port of the machine's own serial driver; type 0 is a slot with no UART behind it.
    void AddUartSlot(const std::string& tty, const std::string& type) {
        const fs::path device = root_ / "sys/devices/platform/serial8250" / tty;
        fs::create_directories(device);
        fs::create_directories(root_ / "sys/bus/platform/drivers/serial8250");
        fs::create_symlink(root_ / "sys/bus/platform/drivers/serial8250", device / "driver");
        fs::create_directories(root_ / "sys/class/tty" / tty);
        fs::create_symlink(device, root_ / "sys/class/tty" / tty / "device");
        std::ofstream(root_ / "sys/class/tty" / tty / "type") << type << "\n";
        std::ofstream(root_ / "dev" / tty) << "";
    }
    static std::string ByPath(const std::string& socket) { return "pci-0000:00:14.0-usb-0:" + socket + ":1.0-port0"; }
    std::string Dev(const std::string& name) const { return (root_ / "dev" / name).string(); }

    const fs::path root_;
};

TEST(PortsConfig, PortsCarryTheirByPathAndByIdNames) {
    FakeSystem system;
    system.AddAdapter("ttyUSB0", "1.10", "A50185BI");
    system.AddAdapter("ttyUSB1", "1.2", "");
    system.AddAdapter("ttyUSB2", "1.1", "B7741C0D");
    ::setenv("VARNEX_SYSTEM_ROOT", system.root_.c_str(), 1);
    std::vector<serial::PortInfo> ports = serial::ListSerialPorts();
    ::unsetenv("VARNEX_SYSTEM_ROOT");

    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[0].name, system.Dev("ttyUSB0"));
    EXPECT_EQ(ports[0].description, "ftdi_sio");
    EXPECT_EQ(ports[0].byPath, (std::vector<std::string>{system.Dev("serial/by-path/" + FakeSystem::ByPath("1.10"))}));
    EXPECT_EQ(ports[0].byId,
              (std::vector<std::string>{system.Dev("serial/by-id/usb-FTDI_FT232R_USB_UART_A50185BI-if00-port0")}));
    EXPECT_TRUE(ports[1].byId.empty()) << "an adapter without a serial number has no by-id name";

    // The configuration: the hub's sockets in their order, read back as the station reads it.
    std::vector<serial::PortInfo> found = ports;
    found.push_back({"rfc2217://line3-server:4001", "listed", {}, {}});
    const std::vector<cli::ConfigPort> fixtures = cli::FixturesOf(found);
    cli::StationConfig config;
    std::string error;
    ASSERT_TRUE(cli::ParseStationConfig(cli::StationConfigText(fixtures), "ports.toml", &config, &error)) << error;
    ASSERT_TRUE(config.ports.has_value());
    std::vector<std::string> devices, names;
    for (const cli::ConfigPort& port : *config.ports) {
        devices.push_back(port.device);
        names.push_back(port.name);
    }
    EXPECT_EQ(devices, (std::vector<std::string>{system.Dev("serial/by-path/" + FakeSystem::ByPath("1.1")),
                                                 system.Dev("serial/by-path/" + FakeSystem::ByPath("1.2")),
                                                 system.Dev("serial/by-path/" + FakeSystem::ByPath("1.10")),
                                                 "rfc2217://line3-server:4001"}));
    EXPECT_EQ(names, (std::vector<std::string>{"fixture 1", "fixture 2", "fixture 3", "fixture 4"}));
    EXPECT_EQ(config.image, std::optional<std::string>("software"));
    EXPECT_TRUE(config.baud.has_value());
}

// An adapter on no hub socket is known by its serial number, which stays when the ttys are
// numbered afresh at boot; empty slots of the machine's own serial driver are no ports.
TEST(PortsConfig, AnAdapterKnownOnlyByIdKeepsThatNameAndEmptyUartSlotsAreNoPorts) {
    FakeSystem system;
    system.AddAdapter("ttyUSB3", "", "C0FFEE42");
    system.AddUartSlot("ttyS0", "4");
    system.AddUartSlot("ttyS1", "0");
    ::setenv("VARNEX_SYSTEM_ROOT", system.root_.c_str(), 1);
    std::vector<serial::PortInfo> ports = serial::ListSerialPorts();
    ::unsetenv("VARNEX_SYSTEM_ROOT");
    std::vector<std::string> listed;
    for (const serial::PortInfo& port : ports) listed.push_back(port.name);
    EXPECT_EQ(listed, (std::vector<std::string>{system.Dev("ttyS0"), system.Dev("ttyUSB3")}));

    const std::vector<cli::ConfigPort> fixtures = cli::FixturesOf(ports);
    ASSERT_EQ(fixtures.size(), 2u);
    EXPECT_EQ(fixtures[0].device, system.Dev("serial/by-id/usb-FTDI_FT232R_USB_UART_C0FFEE42-if00-port0"));
    EXPECT_EQ(fixtures[1].device, system.Dev("ttyS0"));
}

// Whatever a device's name holds, the file written is TOML that reads back the same name.
TEST(PortsConfig, QuotesAndBackslashesInANameReadBackAsWritten) {
    const std::string device = R"(\\.\COM12 "left")";
    cli::StationConfig config;
    std::string error;
    ASSERT_TRUE(cli::ParseStationConfig(cli::StationConfigText({{"fixture 1", device}}), "ports.toml", &config, &error))
        << error;
    ASSERT_TRUE(config.ports.has_value());
    ASSERT_EQ(config.ports->size(), 1u);
    EXPECT_EQ(config.ports->front().device, device);
}

TEST(PortsConfig, HubOrderComparesNumbersAsNumbers) {
    EXPECT_TRUE(cli::NaturalLess("usb-0:1.2:1.0", "usb-0:1.10:1.0"));
    EXPECT_FALSE(cli::NaturalLess("usb-0:1.10:1.0", "usb-0:1.2:1.0"));
    EXPECT_TRUE(cli::NaturalLess("usb-0:1.4.2:1.0", "usb-0:1.4.10:1.0"));
    EXPECT_TRUE(cli::NaturalLess("a", "a1"));
    EXPECT_FALSE(cli::NaturalLess("a7", "a7"));
}

}  // namespace
