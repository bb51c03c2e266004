// The station's heartbeat (see HeartbeatStep.h).
#include "records/HeartbeatStep.h"

namespace records {

namespace {
bool Same(const Heartbeat& a, const Heartbeat& b) {
    return a.station == b.station && a.host == b.host && a.version == b.version && a.startedAt == b.startedAt &&
           a.boardUrl == b.boardUrl && a.state == b.state && a.ended == b.ended;
}
}  // namespace

void HeartbeatStep::Describe(const Heartbeat& heartbeat) {
    std::lock_guard<std::mutex> hold(mutex_);
    latest_ = heartbeat;
}

int64_t HeartbeatStep::DueLocked() const {
    if (!latest_ || endSaid_.load()) return kNoBeatDue;
    if (latest_->ended && !endTried_) return 0;  // the end at once, even in a pause
    if (retryMs_) return *retryMs_;
    if (!sent_) return 0;
    return sentMs_ + (Same(*latest_, *sent_) ? kHeartbeatEveryMs : kChangedBeatAfterMs);
}

int64_t HeartbeatStep::DueMs() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return DueLocked();
}

int64_t HeartbeatStep::Run(int64_t nowMs) {
    Heartbeat beat;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        const int64_t due = DueLocked();
        if (due == kNoBeatDue || nowMs < due) return due;
        beat = *latest_;
        endTried_ = endTried_ || beat.ended;
    }
    ServerError error;
    const bool sent = sink_.Beat(beat, &error);
    if (!sent) sink_.Reset();
    std::lock_guard<std::mutex> hold(mutex_);
    if (sent) {
        schedule_.Succeeded();
        retryMs_.reset();
        sent_ = beat;
        sentMs_ = nowMs;
        if (beat.ended) endSaid_ = true;
    } else {
        ++failures_;
        retryMs_ = schedule_.Failed(nowMs, error.permanent);
    }
    return DueLocked();
}

}  // namespace records
