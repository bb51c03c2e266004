// The forwarder's growing pause (see RetrySchedule.h).
#include "records/RetrySchedule.h"

#include <algorithm>

namespace records {

uint64_t RetrySchedule::NextRandom() {
    // xorshift64: the same sequence on every platform, unlike the standard distributions.
    random_ ^= random_ << 13;
    random_ ^= random_ >> 7;
    random_ ^= random_ << 17;
    return random_;
}

int64_t RetrySchedule::Failed(int64_t nowMs, bool permanent) {
    if (permanent) pauseMs_ = kLongestPauseMs;
    else pauseMs_ = pauseMs_ == 0 ? kFirstPauseMs : std::min(pauseMs_ * 2, kLongestPauseMs);
    const int64_t jitter = static_cast<int64_t>(NextRandom() % static_cast<uint64_t>(pauseMs_ / kJitterDivisor + 1));
    return nowMs + pauseMs_ - jitter;
}

}  // namespace records
