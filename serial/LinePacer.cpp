// The line-rate account of a network port's bytes in flight (see LinePacer.h).
#include "serial/LinePacer.h"

#include <algorithm>

#include "common/Clock.h"

namespace serial {

namespace {

constexpr uint64_t kUsPerMs = 1000;
constexpr uint64_t kUsPerSecond = 1000 * kUsPerMs;

uint64_t CeilDiv(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

}  // namespace

void LinePacer::SetBaud(uint32_t baud) { baud_ = std::max<uint32_t>(baud, 1); }

size_t LinePacer::BoundBytes() const {
    const uint64_t bytes = uint64_t{baud_} * kInFlightLineMs / (kLineBitsPerByte * common::kMsPerSecond);
    return std::max<size_t>(kMinInFlightBytes, static_cast<size_t>(bytes));
}

uint64_t LinePacer::LineUs(uint64_t bytes) const { return CeilDiv(bytes * kLineBitsPerByte * kUsPerSecond, baud_); }

size_t LinePacer::InFlight(uint64_t nowMs) const {
    const uint64_t nowUs = nowMs * kUsPerMs;
    if (emptyAtUs_ <= nowUs) return 0;
    return static_cast<size_t>(CeilDiv((emptyAtUs_ - nowUs) * baud_, kLineBitsPerByte * kUsPerSecond));
}

size_t LinePacer::Room(uint64_t nowMs) const {
    const size_t inFlight = InFlight(nowMs);
    return inFlight >= BoundBytes() ? 0 : BoundBytes() - inFlight;
}

void LinePacer::Sent(size_t bytes, uint64_t nowMs) {
    emptyAtUs_ = std::max(emptyAtUs_, nowMs * kUsPerMs) + LineUs(bytes);
}

uint64_t LinePacer::EmptyAtMs() const { return CeilDiv(emptyAtUs_, kUsPerMs); }

uint64_t LinePacer::RefillAtMs() const {
    const uint64_t halfUs = LineUs(BoundBytes() / 2);
    return emptyAtUs_ <= halfUs ? 0 : CeilDiv(emptyAtUs_ - halfUs, kUsPerMs);
}

}  // namespace serial
