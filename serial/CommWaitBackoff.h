// What the comm-event thread does after a failed wait for a comm event: the first failures
// of a run beep and retry at once, as a passing line fault wants; after a few in a row (the
// device has gone) it stops beeping and pauses between tries, so it neither spins nor beeps
// without end. Any successful wait starts a new run.
#pragma once
#include <cstdint>

namespace serial {

inline constexpr int kFailuresBeforePause = 3;
inline constexpr uint32_t kFailedWaitPauseMs = 100;

struct WaitFailureAction {
    bool beep;
    uint32_t pauseMs;
};

class CommWaitBackoff {
public:
    WaitFailureAction OnFailure();
    void OnSuccess() { consecutiveFailures_ = 0; }

private:
    int consecutiveFailures_ = 0;
};

}  // namespace serial
