// Token bucket refilled at baud / 11 bytes per second.
#include "sim/Pacer.h"

#include <algorithm>
#include <cmath>

namespace sim {

double Pacer::burst(uint32_t baud) {
    return std::max(kLeastBurstBytes, double(kCatchUpUs) * bytesPerSecond(baud) / 1e6);
}

void Pacer::refill(uint64_t nowUs, uint32_t baud) {
    if (!started_) {
        started_ = true;
        lastUs_ = nowUs;
        credit_ = 1;
        return;
    }
    if (nowUs > lastUs_) {
        credit_ = std::min(burst(baud), credit_ + double(nowUs - lastUs_) * bytesPerSecond(baud) / 1e6);
        lastUs_ = nowUs;
    }
}

size_t Pacer::allowance(uint64_t nowUs, uint32_t baud) {
    if (baud == 0) return 0;
    refill(nowUs, baud);
    return credit_ >= 1 ? size_t(credit_) : 0;
}

uint64_t Pacer::waitUs(uint64_t nowUs, uint32_t baud, size_t bytes) {
    if (baud == 0) return 1000000;
    refill(nowUs, baud);
    // The bucket never holds more than its burst: a larger wish waits for a full bucket.
    const double wanted = std::min(double(std::max<size_t>(bytes, 1)), burst(baud));
    if (credit_ >= wanted) return 0;
    return uint64_t(std::ceil((wanted - credit_) * 1e6 / bytesPerSecond(baud)));
}

size_t Pacer::chunkBytes(uint32_t baud) {
    return std::max<size_t>(1, size_t(double(kChunkUs) * bytesPerSecond(baud) / 1e6));
}

}  // namespace sim
