// Turnaround samples: one per drain of the unit's output that the PC answers.
#include "sim/LineTiming.h"

#include <algorithm>
#include <cmath>

namespace sim {

void TurnaroundClock::outputDrained(uint64_t nowUs) {
    waiting_ = true;
    drainedUs_ = nowUs;
}

void TurnaroundClock::inputArrived(uint64_t nowUs) {
    if (!waiting_) return;
    waiting_ = false;
    if (samplesUs_.size() >= kMaxSamples) {
        ++dropped_;
        return;
    }
    samplesUs_.push_back(nowUs >= drainedUs_ ? nowUs - drainedUs_ : 0);
}

void TurnaroundClock::clear() {
    waiting_ = false;
    dropped_ = 0;
    samplesUs_.clear();
}

uint64_t TurnaroundClock::percentileUs(double share) const {
    if (samplesUs_.empty()) return 0;
    std::vector<uint64_t> sorted(samplesUs_);
    std::sort(sorted.begin(), sorted.end());
    share = std::clamp(share, 0.0, 1.0);
    size_t rank = size_t(std::ceil(share * double(sorted.size())));
    return sorted[rank == 0 ? 0 : rank - 1];
}

Json TurnaroundClock::toJson(bool withSamples) const {
    Json j = Json::object();
    j["count"] = samplesUs_.size();
    j["dropped"] = dropped_;
    j["median_us"] = percentileUs(0.5);
    j["p99_us"] = percentileUs(0.99);
    j["max_us"] = percentileUs(1.0);
    if (withSamples) {
        Json all = Json::array();
        for (uint64_t s : samplesUs_) all.push_back(s);
        j["samples_us"] = all;
    }
    return j;
}

}  // namespace sim
