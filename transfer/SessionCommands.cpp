// Start commands against the running session; the dialog's command table acts on the answer.
#include "transfer/SessionCommands.h"

SessionFamily FamilyOfSession(int sessionKind) {
    switch (sessionKind) {
        case SESSION_SEND_NLEC:
        case SESSION_GET_NLEC: return SessionFamily::Nlec;
        case SESSION_SEND_FILE:
        case SESSION_RECEIVE_FILE: return SessionFamily::File;
        default: return SessionFamily::None;
    }
}

StartAction DecideStartCommand(SessionFamily commandFamily, bool sessionActive, int sessionKind, bool pressedStop) {
    if (commandFamily == SessionFamily::None) return StartAction::Start;
    if (FamilyOfSession(sessionKind) != commandFamily) return StartAction::Start;  // left running
    if (pressedStop) return StartAction::StopOnly;
    return sessionActive ? StartAction::StopThenStart : StartAction::Start;
}
