// The loop that runs a packet-link engine on a port: read with a deadline, hand the bytes
// and "now" to the engine, let its timer step run, until the engine is done, Ctrl-C, or the
// port fails. The engine itself never blocks or reads a clock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "common/Clock.h"
#include "serial/SerialPort.h"
#include "transfer/TransferEngine.h"

namespace cli {

// The engine's timer step runs this often, as the dialog's timer does.
inline constexpr uint32_t kLinkTickMs = transfer::kTransferTickMs;
// How long one write may wait for the line to take a frame (a 522-byte frame needs
// about 150 ms at 38 400 baud).
inline constexpr uint32_t kFrameWriteTimeoutMs = 2000;

// What the loop drives: bytes and ticks in (the engine takes "now" from the same clock);
// Finished() once the engine has nothing more to do.
class LinkPump {
public:
    virtual ~LinkPump() = default;
    virtual void Feed(const uint8_t* bytes, size_t count) = 0;
    virtual void Tick() = 0;
    virtual bool Finished() const = 0;
};

enum class LinkLoopEnd { Finished, Cancelled, PortFailed };

struct LinkLoopResult {
    LinkLoopEnd end = LinkLoopEnd::Finished;
    serial::PortStatus failure;  // the read that failed, for PortFailed
};

LinkLoopResult RunLinkLoop(serial::SerialPort& port, common::Clock& clock, LinkPump& pump,
                           const std::atomic<bool>* cancel);

// Writes one whole frame for the engine. A write the line does not take is not reported to
// the engine (its resends cover a lost frame), but a port that is gone is remembered, so the
// loop ends at once instead of resending into nothing.
class FrameWriter {
public:
    explicit FrameWriter(serial::SerialPort& port) : port_(port) {}
    void Write(const uint8_t* bytes, size_t count);
    bool Gone() const { return !gone_.Ok(); }
    const serial::PortStatus& GoneStatus() const { return gone_; }
    // Whether the last frame left whole, and the port's answer when it did not.
    bool LastWhole() const { return lastWhole_; }
    const serial::PortStatus& LastStatus() const { return lastStatus_; }

private:
    serial::SerialPort& port_;
    serial::PortStatus gone_;
    bool lastWhole_ = false;
    serial::PortStatus lastStatus_;
};

}  // namespace cli
