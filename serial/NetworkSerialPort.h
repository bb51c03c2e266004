// A serial port on a network serial server, behind the same interface as a local one:
// "rfc2217://HOST:PORT" sets the line through the server and reads CTS from its
// notifications; "socket://HOST:PORT" is a raw TCP port without settings or CTS. Writes are
// paced at the line rate, so a drain ends when the last byte has left the server's port.
#pragma once

#include <memory>
#include <string>

#include "common/Clock.h"
#include "serial/SerialPort.h"
#include "serial/TcpSocket.h"

namespace serial {

// How a platform connects (ConnectTcp): handed in by its OpenSerialPort, so that this
// portable code depends on no platform's glue.
using TcpConnector = std::unique_ptr<TcpSocket> (*)(const std::string& host, const std::string& port,
                                                    PortStatus* status);

// Opens a network port by its name (see NetworkPortName.h) at kLinkBaudRate; null with
// *status set when the name is malformed, the server cannot be reached or it refuses the
// line settings.
std::unique_ptr<SerialPort> OpenNetworkPort(const std::string& name, TcpConnector connect, PortStatus* status);

// The same over a connection already made, on the clock given (tests use a fake pair).
std::unique_ptr<SerialPort> OpenNetworkPortOver(const std::string& name, std::unique_ptr<TcpSocket> socket,
                                                common::Clock& clock, PortStatus* status);

}  // namespace serial
