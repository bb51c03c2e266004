// The Win32 port object behind serial::SerialPort, for every Windows front-end: varnex's own
// open device, or the handle a dialog publishes for its one open port.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/win/Handles.h"
#include "serial/SerialPort.h"
#include "serial/win/PortIo.h"

namespace serial::win {

// Where a published port's received bytes come from when another reader owns the device's
// reads (the dialog's comm-event thread).
class ReceivedBytesSource {
public:
    virtual ~ReceivedBytesSource() = default;
    // Takes up to size bytes that have arrived; with none there, waits at most timeoutMs.
    virtual size_t Take(uint8_t* buffer, size_t size, uint32_t timeoutMs) = 0;
};

class Win32SerialPort final : public SerialPort {
public:
    // A port that owns its open device and closes it with itself.
    Win32SerialPort(std::string name, HANDLE owned);
    // A port on whatever handle published holds at each call (null: no port open), never
    // closing it: a dialog's one open port, which the operator may switch at any time. So a
    // handle that fails is no lost port (the next may be another device): its failures read
    // as Io, never Gone. Reads come from input, or fail when it is null.
    Win32SerialPort(std::string name, const std::atomic<HANDLE>& published, ReceivedBytesSource* input);

    const std::string& Name() const override { return name_; }
    PortStatus SetBaudRate(uint32_t baudRate) override;
    PortStatus SetLine(const LineFraming& line) override;
    PortStatus Write(const uint8_t* data, size_t size, uint32_t timeoutMs, size_t* written) override;
    PortStatus Drain(uint32_t timeoutMs) override;
    PortStatus Read(uint8_t* buffer, size_t size, uint32_t timeoutMs, size_t* count) override;
    PortStatus ReadCts(bool* on) override;
    // Closes an owned device; a published one is only let go of.
    void Close() override;

private:
    // The handle for this call, or null with *status telling why.
    HANDLE Current(PortStatus* status) const;
    PortStatus Seen(PortStatus status) const;

    std::string name_;
    common::win::UniqueFileHandle owned_;
    const std::atomic<HANDLE>* published_ = nullptr;
    ReceivedBytesSource* input_ = nullptr;
    bool closed_ = false;
    BoundedWriter writer_;
    InputWaiter waiter_;
};

}  // namespace serial::win
