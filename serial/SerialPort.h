// The one boundary between the engines and a serial device: open by name at 38 400 baud,
// 8 data bits, odd parity, 1 stop bit, DTR on, no flow control; change speed; bounded
// write; wait for written bytes to leave; read what has arrived or wait until a deadline;
// read CTS; close. One Win32 and one POSIX implementation, and one over a network serial
// server; the engines and their tests see only this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>
#include <utility>

#include "serial/LineSpeeds.h"

namespace serial {

// Kept apart on purpose: a technician must never read "timed out" for an adapter that was
// pulled out, nor "busy" for a name that does not exist.
enum class PortError {
    None,
    TimedOut,    // the deadline passed with nothing moved
    NoSuchPort,  // no device by that name
    NotSerial,   // the name is a file or device that is no serial port
    Folder,      // the name is a folder
    Busy,        // another program holds the port
    Gone,        // the device vanished while open (unplugged adapter)
    Io,          // any other failure of the system call
};

struct PortStatus {
    PortStatus() = default;
    PortStatus(PortError kind, std::string words, std::error_code systemCode = std::error_code())
        : error(kind), text(std::move(words)), code(systemCode) {}

    PortError error = PortError::None;
    std::string text;  // the operating system's own words where it gave any
    // The system's code where a system call failed (errno in generic_category, a Win32 or
    // Windows sockets code in system_category); empty for a failure this side decided.
    std::error_code code;
    bool Ok() const { return error == PortError::None; }
};

// A short, fixed description of an error kind ("timed out", "port is busy", ...).
const char* PortErrorName(PortError error);

enum class Parity { None, Odd, Even };

// A line's speed and framing for a device other than the unit (a barcode scanner), with the
// usual default of such devices: 9600 baud, 8 data bits, no parity, 1 stop bit.
struct LineFraming {
    uint32_t baud = 9600;
    uint8_t dataBits = 8;  // 5 to 8
    Parity parity = Parity::None;
    uint8_t stopBits = 1;  // 1 or 2
};

// Where the port's device is: on this machine, or behind a network serial server (then a
// lost port may be the server or the network, not the adapter).
enum class PortKind { Local, Network };

class SerialPort {
public:
    virtual ~SerialPort() = default;
    SerialPort() = default;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // The name the port was opened by, for messages.
    virtual const std::string& Name() const = 0;
    // Changes only the speed; the framing stays 8 data bits, odd parity, 1 stop bit.
    virtual PortStatus SetBaudRate(uint32_t baudRate) = 0;
    // Speed and framing at once, for a device that is not the unit. A port that cannot
    // change its framing says so.
    virtual PortStatus SetLine(const LineFraming& line) {
        (void)line;
        return {PortError::Io, "this port's framing cannot be changed"};
    }
    // Writes up to size bytes, waiting at most timeoutMs for the line to take them.
    // *written gets the bytes that left, also when the status is not Ok (a deadline that
    // cut a write short reports TimedOut with the part that went).
    virtual PortStatus Write(const uint8_t* data, size_t size, uint32_t timeoutMs, size_t* written) = 0;
    // Waits until every byte written has left the port's queue for the line, at most
    // timeoutMs (TimedOut with bytes still queued). A finished transfer's time and rate are
    // taken after this, so they never run ahead of the line.
    virtual PortStatus Drain(uint32_t timeoutMs) = 0;
    // Reads up to size bytes that have arrived; with none there yet, waits at most
    // timeoutMs for the first (0: does not wait). *count 0 with Ok means nothing came.
    virtual PortStatus Read(uint8_t* buffer, size_t size, uint32_t timeoutMs, size_t* count) = 0;
    // The unit's CTS line (on: the unit is in its bootloader menu and ready).
    virtual PortStatus ReadCts(bool* on) = 0;
    // False for a port without a CTS line to read (a raw network port): nothing may wait on it.
    virtual bool HasCts() const { return true; }
    virtual PortKind Kind() const { return PortKind::Local; }
    // How long after the unit changed CTS the port may tell it; a wait on CTS allows this on
    // top of its own bound.
    virtual uint32_t CtsNoticeLatencyMs() const { return 0; }
    // Closes the device; later calls fail with Io. The destructor closes too.
    virtual void Close() = 0;
};

// Opens a port by name at kLinkBaudRate, exclusively. Windows takes "COM7", "7" or
// "\\.\COM12"; POSIX takes a device path; both take "rfc2217://HOST:PORT" and
// "socket://HOST:PORT" for a port on a network serial server. Null with *status set when it
// cannot be opened. Defined once per platform (win/ or posix/).
std::unique_ptr<SerialPort> OpenSerialPort(const std::string& name, PortStatus* status);

}  // namespace serial
