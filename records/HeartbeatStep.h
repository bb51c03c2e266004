// The station's heartbeat on the line's server: the latest description of the station, given
// by the front-end from any thread, written to the server by the forwarding's thread on the
// forwarding's own connection, so no port ever waits for it. It goes every kHeartbeatEveryMs,
// within kChangedBeatAfterMs of the last when the description changed (a failure shows on the
// line page in seconds), and at once when the station ends. A failed beat waits as a failed
// forward does (RetrySchedule). Portable: Run takes "now" in and gives the next beat's time out.
#pragma once

#include <atomic>
#include <cstdint>
#include <limits>
#include <mutex>
#include <optional>

#include "records/RetrySchedule.h"
#include "records/ServerRecords.h"

namespace records {

inline constexpr int64_t kHeartbeatEveryMs = 5000;
inline constexpr int64_t kChangedBeatAfterMs = 1000;
inline constexpr int64_t kNoBeatDue = std::numeric_limits<int64_t>::max();

class HeartbeatStep {
public:
    HeartbeatStep(RowSink& sink, uint64_t seed) : sink_(sink), schedule_(seed) {}
    // What the next beat says (any thread).
    void Describe(const Heartbeat& heartbeat);
    // On the forwarding's thread: sends the latest description when it is due at nowMs.
    // Gives the time of the next beat; kNoBeatDue when nothing is to be said.
    int64_t Run(int64_t nowMs);
    int64_t DueMs() const;
    // Beats the server refused or never answered.
    uint64_t Failures() const { return failures_.load(); }
    // The server holds the station's end.
    bool EndSaid() const { return endSaid_.load(); }

private:
    int64_t DueLocked() const;
    RowSink& sink_;
    RetrySchedule schedule_;
    mutable std::mutex mutex_;
    std::optional<Heartbeat> latest_;
    std::optional<Heartbeat> sent_;  // what the server holds
    int64_t sentMs_ = 0;
    std::optional<int64_t> retryMs_;  // after a failed beat: when to try again
    bool endTried_ = false;           // the end went out once; after that it waits as any beat
    std::atomic<uint64_t> failures_{0};
    std::atomic<bool> endSaid_{false};
};

}  // namespace records
