// When the forwarder tries the server again: 1 s after the first failure, the pause doubling
// up to a minute, each pause shortened by up to a fifth at random so that a line's stations
// do not all knock at once when their server comes back. A permanent failure (a password, a
// permission, the table) waits the longest pause at once: it is said once and never spins.
// Portable: it takes "now" in and gives the time of the next try out.
#pragma once

#include <cstdint>

namespace records {

inline constexpr int64_t kFirstPauseMs = 1000;
inline constexpr int64_t kLongestPauseMs = 60000;
inline constexpr int64_t kJitterDivisor = 5;  // a pause is shortened by up to 1/5 of itself

class RetrySchedule {
public:
    explicit RetrySchedule(uint64_t seed) : random_(seed == 0 ? 1 : seed) {}
    // After a failed try at nowMs: the time of the next one.
    int64_t Failed(int64_t nowMs, bool permanent);
    // A try that worked: the next failure starts from the first pause again.
    void Succeeded() { pauseMs_ = 0; }
    // The pause the last failure chose, before its jitter.
    int64_t PauseMs() const { return pauseMs_; }

private:
    uint64_t NextRandom();
    int64_t pauseMs_ = 0;
    uint64_t random_;
};

}  // namespace records
