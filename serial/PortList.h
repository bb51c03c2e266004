// What serial ports this machine has, described so that a person recognises them, and the
// wizard's remembered port. One implementation per platform (win/, posix/).
#pragma once

#include <string>
#include <vector>

namespace serial {

struct PortInfo {
    std::string name;         // what OpenSerialPort takes: "COM7", "/dev/ttyUSB0"
    std::string description;  // "USB Serial Port (COM7)", "ftdi_sio"
    // Linux: the names that stay with the port across boots, each a path OpenSerialPort takes:
    // its /dev/serial/by-path/ names (the hub's socket: a fixture position) first, then its
    // /dev/serial/by-id/ names (the adapter's own serial number). Sorted within each kind.
    std::vector<std::string> byPath;
    std::vector<std::string> byId;
};

// Every serial port present, sorted by name; empty when there are none. On Linux the system's
// folders are read under the root that VARNEX_SYSTEM_ROOT names, when set (a test's tree).
std::vector<PortInfo> ListSerialPorts();

// Stores the port as the one the wizard opens at its next start. False with *error set
// where it cannot (a name that is no COM port, a registry that refuses, or a platform
// without the wizard).
bool RememberPort(const std::string& name, std::string* error);

}  // namespace serial
