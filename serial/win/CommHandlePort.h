// The wizard's one open port (CommPortHandle) seen through the port interface, so that its
// download and erase run the same engines as varnex. The handle is read afresh for every
// operation because the operator may switch ports at any time; the wizard owns it.
#pragma once

#include "serial/SerialPort.h"
#include "serial/win/PortIo.h"

namespace serial::win {

class CommHandlePort final : public SerialPort {
public:
    // FromCommEvents: the comm-event thread owns the port's reads, so Read takes what it
    // hands over through ReceivedBytesHook, collected from construction on (before a request
    // goes out, so a quick answer cannot slip past). One such port at a time.
    enum class Input { None, FromCommEvents };
    explicit CommHandlePort(Input input);
    ~CommHandlePort() override;

    // Makes what FromCommEvents needs; false (GetLastError tells why) when it cannot.
    static bool PrepareCommInput();

    const std::string& Name() const override { return name_; }
    // As the wizard always has: only the speed changes, results not examined.
    PortStatus SetBaudRate(uint32_t baudRate) override;
    // Failures read as Io, never "gone": the wizard keeps offering data until its bound.
    PortStatus Write(const uint8_t* data, size_t size, uint32_t timeoutMs, size_t* written) override;
    PortStatus Drain(uint32_t timeoutMs) override;
    PortStatus Read(uint8_t* buffer, size_t size, uint32_t timeoutMs, size_t* count) override;
    PortStatus ReadCts(bool* on) override;
    // The wizard closes its port itself; this only stops taking received bytes.
    void Close() override;

private:
    std::string name_ = "CommPortHandle";
    bool input_ = false;
    BoundedWriter writer_;
};

}  // namespace serial::win
