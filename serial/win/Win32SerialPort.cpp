// serial::OpenSerialPort for Windows: a port object that owns its device handle and runs
// every operation through the shared Win32 serial operations.
#include <windows.h>

#include "common/win/Handles.h"
#include "serial/NetworkPortName.h"
#include "serial/NetworkSerialPort.h"
#include "serial/SerialPort.h"
#include "serial/win/PortIo.h"

namespace serial {

namespace {

PortStatus ClosedStatus() { return {PortError::Io, "the port is closed"}; }

class Win32SerialPort final : public SerialPort {
public:
    Win32SerialPort(std::string name, HANDLE handle) : name_(std::move(name)), handle_(handle) {}

    const std::string& Name() const override { return name_; }

    PortStatus SetBaudRate(uint32_t baudRate) override {
        if (!handle_) return ClosedStatus();
        return win::SetDeviceBaudRate(handle_.Get(), baudRate);
    }
    PortStatus Write(const uint8_t* data, size_t size, uint32_t timeoutMs, size_t* written) override {
        *written = 0;
        if (!handle_) return ClosedStatus();
        return writer_.Write(handle_.Get(), data, size, timeoutMs, written);
    }
    PortStatus Drain(uint32_t timeoutMs) override {
        if (!handle_) return ClosedStatus();
        return win::DrainOutput(handle_.Get(), timeoutMs);
    }
    PortStatus Read(uint8_t* buffer, size_t size, uint32_t timeoutMs, size_t* count) override {
        *count = 0;
        if (!handle_) return ClosedStatus();
        return win::ReadWithDeadline(handle_.Get(), waiter_, buffer, size, timeoutMs, count);
    }
    PortStatus ReadCts(bool* on) override {
        *on = false;
        if (!handle_) return ClosedStatus();
        return win::ReadCtsLine(handle_.Get(), on);
    }
    void Close() override { handle_.Reset(); }

private:
    std::string name_;
    UniqueFileHandle handle_;
    win::BoundedWriter writer_;
    win::InputWaiter waiter_;
};

}  // namespace

std::unique_ptr<SerialPort> OpenSerialPort(const std::string& name, PortStatus* status) {
    if (IsNetworkPortName(name)) return OpenNetworkPort(name, ConnectTcp, status);
    *status = {};
    UniqueFileHandle handle(win::OpenDevice(win::DevicePath(name)));
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
    return std::make_unique<Win32SerialPort>(name, handle.Release());
}

}  // namespace serial
