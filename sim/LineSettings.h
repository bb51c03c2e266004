// What the PC has set on its port, what the unit expects, and which received bytes a real
// UART would have seen as noise. The PC changes speed while the port stays open, so bytes
// already waiting when a change is noticed are judged by the settings they were sent under.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

constexpr uint32_t kRunningBaud = 38400;
constexpr uint32_t kEraseBaud = 115200;
constexpr uint32_t kBootloaderFastBaud = 115200;
constexpr uint32_t kBootloaderSlowBaud = 57600;

struct LineSettings {
    uint32_t baud = 0;
    bool parityOdd = false;
    bool parityEven = false;
    int stopBits = 1;
    int dataBits = 8;

    bool operator==(const LineSettings& o) const {
        return baud == o.baud && parityOdd == o.parityOdd && parityEven == o.parityEven && stopBits == o.stopBits &&
               dataBits == o.dataBits;
    }
    bool operator!=(const LineSettings& o) const { return !(*this == o); }

    // The unit always frames bytes as 8 data bits, odd parity, one stop bit; only the
    // speed differs between its modes.
    bool matchesUnitAt(uint32_t unitBaud) const {
        return baud == unitBaud && parityOdd && !parityEven && stopBits == 1 && dataBits == 8;
    }
    std::string describe() const;  // "38400 8O1"
};

// What a byte sent at the wrong speed or framing turns into at the other end. Never the byte
// itself and never a frame mark, so garbled output cannot pass for a frame.
uint8_t garbleByte(uint8_t byte);

// Splits what is read from the line into bytes sent under the previous settings and bytes
// sent under the current ones. On a real port a write ends when its bytes are on the wire;
// the pseudo-terminal instead buffers far more than a UART (more than it admits to), so
// when the speed changes while a backlog waits, the whole backlog up to the moment the
// queue next runs empty counts as sent before the change.
class LineJudge {
public:
    // Call before each read with the settings now in force.
    void observe(const LineSettings& current);
    // Of the next n bytes read, how many belong to the previous settings.
    size_t takePrevious(size_t n) const { return draining_ ? n : 0; }
    // Call after each read with the number of bytes still waiting.
    void afterRead(size_t stillQueued);

    const LineSettings& current() const { return current_; }
    const LineSettings& previous() const { return previous_; }
    bool seenAny() const { return seen_; }
    uint64_t changes() const { return changes_; }

private:
    LineSettings current_;
    LineSettings previous_;
    size_t queuedAtLastCheck_ = 0;
    bool draining_ = false;  // a backlog from before the change is still being read
    bool seen_ = false;
    uint64_t changes_ = 0;
};

}  // namespace sim
