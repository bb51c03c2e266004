// The stop's cause is the process's own, so each case runs in a child of its own.
#include <gtest/gtest.h>

#include <unistd.h>

#include "common/StopCause.h"

namespace {

using common::StopCause;

// Exits with the cause the process ends up holding.
void NoteAndExit(std::initializer_list<StopCause> causes) {
    for (StopCause cause : causes) common::NoteStopCause(cause);
    _exit(static_cast<int>(common::CurrentStopCause()));  // no atexit: the watchdog thread stays
}

TEST(StopCause, TheFirstRequestsCauseIsKept) {
    EXPECT_EXIT(NoteAndExit({}), testing::ExitedWithCode(static_cast<int>(StopCause::None)), "");
    EXPECT_EXIT(NoteAndExit({StopCause::Terminate}), testing::ExitedWithCode(static_cast<int>(StopCause::Terminate)),
                "");
    EXPECT_EXIT(NoteAndExit({StopCause::Interrupt, StopCause::Terminate}),
                testing::ExitedWithCode(static_cast<int>(StopCause::Interrupt)), "");
}

}  // namespace
