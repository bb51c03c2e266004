// The station on a terminal (see StationBoard.h).
#include "cli/station/StationBoard.h"

#include "cli/output/LiveRenderer.h"
#include "common/Clock.h"

namespace cli {

void StationBoard::Tick(uint64_t nowMs, bool resized) {
    const bool due = nowMs - lastDrawMs_ >= intervalMs_;
    // Time left moves on by itself: once a second is enough for it.
    const bool changed = model_.Sequence() != drawnSequence_ || nowMs - lastDrawMs_ >= common::kMsPerSecond;
    if (drawnOnce_ && !resized && !(due && changed)) return;
    Finish(nowMs);
}

void StationBoard::Finish(uint64_t nowMs) {
    const board::StationState state = model_.Snapshot(nowMs);
    view_.Draw(state, size_());
    drawnSequence_ = state.sequence;
    lastDrawMs_ = nowMs;
    drawnOnce_ = true;
}

}  // namespace cli
