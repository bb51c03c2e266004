// Back-off for failing comm-event waits; the count saturates so it never overflows.
#include "serial/CommWaitBackoff.h"

namespace serial {

WaitFailureAction CommWaitBackoff::OnFailure() {
    if (consecutiveFailures_ < kFailuresBeforePause) ++consecutiveFailures_;
    if (consecutiveFailures_ < kFailuresBeforePause) return {true, 0};
    return {false, kFailedWaitPauseMs};
}

}  // namespace serial
