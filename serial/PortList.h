// What serial ports this machine has, described so that a person recognises them, and the
// wizard's remembered port. One implementation per platform (win/, posix/).
#pragma once

#include <string>
#include <vector>

namespace serial {

struct PortInfo {
    std::string name;         // what OpenSerialPort takes: "COM7", "/dev/ttyUSB0"
    std::string description;  // "USB Serial Port (COM7)", "ftdi_sio, usb-FTDI_FT232R_A1B2-if00-port0"
};

// Every serial port present, sorted by name; empty when there are none.
std::vector<PortInfo> ListSerialPorts();

// Stores the port as the one the wizard opens at its next start. False with *error set
// where it cannot (a name that is no COM port, a registry that refuses, or a platform
// without the wizard).
bool RememberPort(const std::string& name, std::string* error);

}  // namespace serial
