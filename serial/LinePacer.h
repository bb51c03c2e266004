// The account of bytes handed to a network serial server that have not yet left its serial
// port: they leave at the line rate (11 bits a byte: start, 8 data, odd parity, stop), so the
// sender keeps at most a fraction of a second of line time in flight, and a drain waits
// until, by this account, the last byte is on the line. Time is handed in.
#pragma once

#include <cstddef>
#include <cstdint>

namespace serial {

inline constexpr uint32_t kLineBitsPerByte = 11;
// Line time that may be in flight: enough that the server's port never waits for the
// network, small enough that "done" is close behind the unit's last byte.
inline constexpr uint32_t kInFlightLineMs = 100;
// Below this a slow line would trickle tiny packets.
inline constexpr size_t kMinInFlightBytes = 64;

class LinePacer {
public:
    explicit LinePacer(uint32_t baud) { SetBaud(baud); }

    // Bytes already in flight keep the time they were given; new ones go at the new rate.
    void SetBaud(uint32_t baud);
    uint32_t Baud() const { return baud_; }
    // The most bytes in flight at a time.
    size_t BoundBytes() const;
    // Bytes that by this account have not left the server's port at nowMs.
    size_t InFlight(uint64_t nowMs) const;
    // Bytes that may go now without passing the bound.
    size_t Room(uint64_t nowMs) const;
    void Sent(size_t bytes, uint64_t nowMs);
    // When the last byte sent leaves the server's port.
    uint64_t EmptyAtMs() const;
    // When half the bound is free again: the next moment worth sending at.
    uint64_t RefillAtMs() const;

private:
    uint64_t LineUs(uint64_t bytes) const;

    uint32_t baud_ = 0;
    uint64_t emptyAtUs_ = 0;
};

}  // namespace serial
