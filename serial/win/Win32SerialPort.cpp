// serial::OpenSerialPort for Windows, and the port object that runs every operation through
// the shared Win32 serial operations (PortIo), on an owned or a published handle.
#include "serial/win/Win32SerialPort.h"

#include "serial/NetworkPortName.h"
#include "serial/NetworkSerialPort.h"

namespace serial::win {

namespace {

PortStatus ClosedStatus() { return {PortError::Io, "the port is closed"}; }
PortStatus NoPortStatus() { return {PortError::Io, "no port is open"}; }

}  // namespace

Win32SerialPort::Win32SerialPort(std::string name, HANDLE owned) : name_(std::move(name)), owned_(owned) {}

Win32SerialPort::Win32SerialPort(std::string name, const std::atomic<HANDLE>& published, ReceivedBytesSource* input)
    : name_(std::move(name)), published_(&published), input_(input) {}

HANDLE Win32SerialPort::Current(PortStatus* status) const {
    if (closed_) {
        *status = ClosedStatus();
        return nullptr;
    }
    if (published_ == nullptr) {
        if (!owned_) *status = ClosedStatus();
        return owned_.Get();
    }
    // Read afresh for every operation: the operator may have switched ports since the last.
    HANDLE port = published_->load();
    if (port == nullptr || port == INVALID_HANDLE_VALUE) {
        *status = NoPortStatus();
        return nullptr;
    }
    return port;
}

PortStatus Win32SerialPort::Seen(PortStatus status) const {
    if (published_ != nullptr && status.error == PortError::Gone) status.error = PortError::Io;
    return status;
}

PortStatus Win32SerialPort::SetBaudRate(uint32_t baudRate) {
    PortStatus status;
    HANDLE port = Current(&status);
    if (port == nullptr) return status;
    return Seen(SetDeviceBaudRate(port, baudRate));
}

PortStatus Win32SerialPort::SetLine(const LineFraming& line) {
    PortStatus status;
    HANDLE port = Current(&status);
    if (port == nullptr) return status;
    return Seen(SetDeviceLine(port, line));
}

PortStatus Win32SerialPort::Write(const uint8_t* data, size_t size, uint32_t timeoutMs, size_t* written) {
    *written = 0;
    PortStatus status;
    HANDLE port = Current(&status);
    if (port == nullptr) return status;
    return Seen(writer_.Write(port, data, size, timeoutMs, written));
}

PortStatus Win32SerialPort::Drain(uint32_t timeoutMs) {
    PortStatus status;
    HANDLE port = Current(&status);
    if (port == nullptr) return status;
    return Seen(DrainOutput(port, timeoutMs));
}

PortStatus Win32SerialPort::Read(uint8_t* buffer, size_t size, uint32_t timeoutMs, size_t* count) {
    *count = 0;
    if (published_ == nullptr) {
        PortStatus status;
        HANDLE port = Current(&status);
        if (port == nullptr) return status;
        return ReadWithDeadline(port, waiter_, buffer, size, timeoutMs, count);
    }
    if (closed_) return ClosedStatus();
    if (input_ == nullptr) return {PortError::Io, "received bytes go to the packet link"};
    *count = input_->Take(buffer, size, timeoutMs);
    return {};
}

PortStatus Win32SerialPort::ReadCts(bool* on) {
    *on = false;
    PortStatus status;
    HANDLE port = Current(&status);
    if (port == nullptr) return status;
    return Seen(ReadCtsLine(port, on));
}

void Win32SerialPort::Close() {
    owned_.Reset();
    closed_ = true;
}

}  // namespace serial::win

namespace serial {

std::unique_ptr<SerialPort> OpenSerialPort(const std::string& name, PortStatus* status) {
    if (IsNetworkPortName(name)) return OpenNetworkPort(name, ConnectTcp, status);
    *status = {};
    common::win::UniqueFileHandle handle(win::OpenDevice(win::DevicePath(name)));
    if (!handle) {
        *status = win::StatusFromError(GetLastError(), true);
        return nullptr;
    }
    if (!win::ConfigureDevice(handle.Get(), kLinkBaudRate, win::kLinkByteSize, win::kLinkParity, win::kLinkStopBits,
                              win::kLinkFlowFlags)) {
        *status = win::StatusFromError(GetLastError(), true);
        if (status->error == PortError::Busy) status->error = PortError::Io;  // it opened: not busy
        return nullptr;
    }
    return std::make_unique<win::Win32SerialPort>(name, handle.Release());
}

}  // namespace serial
