// Holds a direction of the line to its real rate: 11 bits per byte (start, 8 data, odd
// parity, stop) at the current speed. A token bucket driven by "now".
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

constexpr unsigned kBitsPerByte = 11;

class Pacer {
public:
    // Bytes the line may carry now; never more than the line carries in kCatchUpUs.
    size_t allowance(uint64_t nowUs, uint32_t baud);
    void consume(size_t bytes) { credit_ -= double(bytes); }
    // Microseconds until at least `bytes` bytes may go (0 when they may go now).
    uint64_t waitUs(uint64_t nowUs, uint32_t baud, size_t bytes = 1);
    // How many waiting bytes a reader takes at once: the line's worth of kChunkUs, so that a
    // long stream wakes the reader about a hundred times a second instead of once a byte,
    // while a short frame is still taken whole the moment its last byte is through.
    static size_t chunkBytes(uint32_t baud);
    void reset() {
        started_ = false;
        credit_ = 0;
    }
    // The line was quiet until now: nothing is saved up while no byte waits, so the next
    // byte takes its full byte-time from now, as the first byte after a pause does on a
    // real line. Without this the burst would carry a whole short frame at once.
    void startFromIdle(uint64_t nowUs) {
        started_ = true;
        lastUs_ = nowUs;
        credit_ = 0;
    }

    static double bytesPerSecond(uint32_t baud) { return double(baud) / kBitsPerByte; }

private:
    void refill(uint64_t nowUs, uint32_t baud);
    static double burst(uint32_t baud);

    // How far this process may fall behind a busy line and still catch up: the line goes on
    // carrying bytes while the process waits for a core, and the unit's receive buffer holds
    // them. A pause on the line is not covered by this (see startFromIdle).
    static constexpr uint64_t kCatchUpUs = 100000;
    static constexpr double kLeastBurstBytes = 64;  // about a UART FIFO's worth
    static constexpr uint64_t kChunkUs = 10000;
    bool started_ = false;
    uint64_t lastUs_ = 0;
    double credit_ = 0;
};

}  // namespace sim
