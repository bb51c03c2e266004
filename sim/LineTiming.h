// The PC's turnaround as the unit sees it on the line: from the moment the unit's output
// has all left (the last byte of its frame is on the wire) to the first byte the PC sends
// after that. Kept in microseconds for benchmarks, which want medians and tail percentiles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/Json.h"

namespace sim {

class TurnaroundClock {
public:
    static constexpr size_t kMaxSamples = 200000;  // bounds memory on long runs

    // The unit's output queue has just run empty.
    void outputDrained(uint64_t nowUs);
    // Bytes from the PC have just been read. Only the first read after a drain counts.
    void inputArrived(uint64_t nowUs);
    void clear();

    size_t count() const { return samplesUs_.size(); }
    // The value below which the given share (0..1) of the samples lie (nearest rank);
    // 0 when there are none.
    uint64_t percentileUs(double share) const;
    // count, median_us, p99_us, max_us, and the samples themselves when asked for.
    Json toJson(bool withSamples) const;

private:
    bool waiting_ = false;
    uint64_t drainedUs_ = 0;
    uint64_t dropped_ = 0;
    std::vector<uint64_t> samplesUs_;
};

}  // namespace sim
