// Start commands while a session runs: the session's own "Stop Transfer" button stops it, a
// start of the same family ends it first, and a session of the other family is left running.
#include <gtest/gtest.h>

#include "transfer/SessionCommands.h"

namespace {

struct Case {
    SessionFamily command;
    bool active;
    int sessionKind;
    bool pressedStop;
    StartAction expected;
};

TEST(SessionCommands, StartCommandsAgainstTheRunningSession) {
    const Case cases[] = {
        {SessionFamily::File, false, SESSION_SEND_FILE, false, StartAction::Start},    // ended before
        {SessionFamily::File, false, SESSION_SEND_FILE, true, StartAction::StopOnly},  // halted, file open
        {SessionFamily::File, true, SESSION_SEND_FILE, true, StartAction::StopOnly},
        {SessionFamily::File, true, SESSION_RECEIVE_FILE, false, StartAction::StopThenStart},
        {SessionFamily::File, true, SESSION_GET_NLEC, false, StartAction::Start},
        {SessionFamily::Nlec, true, SESSION_GET_NLEC, true, StartAction::StopOnly},
        {SessionFamily::Nlec, true, SESSION_SEND_NLEC, false, StartAction::StopThenStart},
        {SessionFamily::None, true, SESSION_SEND_FILE, false, StartAction::Start},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DecideStartCommand(c.command, c.active, c.sessionKind, c.pressedStop), c.expected)
            << "session kind " << c.sessionKind << " active " << c.active;
    }
}

}  // namespace
