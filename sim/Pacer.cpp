// Token bucket refilled at baud / 11 bytes per second.
#include "sim/Pacer.h"

#include <algorithm>
#include <cmath>

namespace sim {

void Pacer::refill(uint64_t nowUs, uint32_t baud) {
    if (!started_) {
        started_ = true;
        lastUs_ = nowUs;
        credit_ = 1;
        return;
    }
    if (nowUs > lastUs_) {
        const double burst = std::max(kLeastBurstBytes, double(kCatchUpUs) * bytesPerSecond(baud) / 1e6);
        credit_ = std::min(burst, credit_ + double(nowUs - lastUs_) * bytesPerSecond(baud) / 1e6);
        lastUs_ = nowUs;
    }
}

size_t Pacer::allowance(uint64_t nowUs, uint32_t baud) {
    if (baud == 0) return 0;
    refill(nowUs, baud);
    return credit_ >= 1 ? size_t(credit_) : 0;
}

uint64_t Pacer::waitUs(uint64_t nowUs, uint32_t baud) {
    if (baud == 0) return 1000000;
    refill(nowUs, baud);
    if (credit_ >= 1) return 0;
    return uint64_t(std::ceil((1 - credit_) * 1e6 / bytesPerSecond(baud)));
}

}  // namespace sim
