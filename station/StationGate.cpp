// The station's shared counts and its clean end (see StationGate.h).
#include "station/StationGate.h"

namespace station {

bool StationGate::TryReserve() {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!Arming()) return false;
    if (rules_.count != 0 && loaded_.load() + running_ >= rules_.count) return false;
    ++running_;
    return true;
}

void StationGate::Release() {
    std::lock_guard<std::mutex> hold(mutex_);
    if (running_ > 0) --running_;
}

void StationGate::Finished(bool confirmed, bool stopped) {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (running_ > 0) --running_;
        if (confirmed) {
            ++loaded_;
        } else if (stopped) {
            ++stopped_;
            return;
        } else {
            ++failed_;
        }
    }
    if (confirmed && rules_.count != 0 && loaded_.load() >= rules_.count) {
        StopArming("--count " + std::to_string(rules_.count) + " reached");
    }
    if (!confirmed && rules_.stopOnFailure) StopArming("stopped at the first failure (--stop-on-failure)");
}

void StationGate::StopArming(const std::string& reason) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (arming_.exchange(false)) reason_ = reason;
}

void StationGate::NoteRecordsFailure(const std::string& reason) {
    recordsFailed_.store(true);
    StopArming(reason);
}

std::string StationGate::StopReason() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return reason_;
}

}  // namespace station
