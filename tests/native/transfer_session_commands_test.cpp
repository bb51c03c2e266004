// Start commands while a session runs: the session's own "Stop Transfer" button stops it, a
// start of the same family ends it first, and a session of the other family is left running.
#include <gtest/gtest.h>

#include "transfer/SessionCommands.h"

using namespace transfer;

namespace {

struct Case {
    SessionFamily command;
    bool active;
    SessionKind sessionKind;
    bool pressedStop;
    StartAction expected;
};

TEST(SessionCommands, StartCommandsAgainstTheRunningSession) {
    const Case cases[] = {
        {SessionFamily::File, false, SessionKind::SESSION_SEND_FILE, false, StartAction::Start},    // ended before
        {SessionFamily::File, false, SessionKind::SESSION_SEND_FILE, true, StartAction::StopOnly},  // halted, file open
        {SessionFamily::File, true, SessionKind::SESSION_SEND_FILE, true, StartAction::StopOnly},
        {SessionFamily::File, true, SessionKind::SESSION_RECEIVE_FILE, false, StartAction::StopThenStart},
        {SessionFamily::File, true, SessionKind::SESSION_GET_NLEC, false, StartAction::Start},
        {SessionFamily::Nlec, true, SessionKind::SESSION_GET_NLEC, true, StartAction::StopOnly},
        {SessionFamily::Nlec, true, SessionKind::SESSION_SEND_NLEC, false, StartAction::StopThenStart},
        {SessionFamily::None, true, SessionKind::SESSION_SEND_FILE, false, StartAction::Start},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DecideStartCommand(c.command, c.active, c.sessionKind, c.pressedStop), c.expected)
            << "session kind " << static_cast<int>(c.sessionKind) << " active " << c.active;
    }
}

}  // namespace
