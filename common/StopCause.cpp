// The stop's cause (see StopCause.h): one lock-free atomic, safe to set from a signal handler.
#include "common/StopCause.h"

#include <atomic>

namespace common {

namespace {
std::atomic<int> g_cause{static_cast<int>(StopCause::None)};
static_assert(std::atomic<int>::is_always_lock_free, "the stop cause is set from a signal handler");
}  // namespace

void NoteStopCause(StopCause cause) {
    int none = static_cast<int>(StopCause::None);
    g_cause.compare_exchange_strong(none, static_cast<int>(cause));
}

StopCause CurrentStopCause() { return static_cast<StopCause>(g_cause.load()); }

}  // namespace common
