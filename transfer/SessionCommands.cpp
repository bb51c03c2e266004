// Start commands against the running session; the dialog's command table acts on the answer.
#include "transfer/SessionCommands.h"

namespace transfer {

SessionFamily FamilyOfSession(SessionKind sessionKind) {
    switch (sessionKind) {
        case SessionKind::SESSION_SEND_NLEC:
        case SessionKind::SESSION_GET_NLEC: return SessionFamily::Nlec;
        case SessionKind::SESSION_SEND_FILE:
        case SessionKind::SESSION_RECEIVE_FILE: return SessionFamily::File;
        default: return SessionFamily::None;
    }
}

StartAction DecideStartCommand(SessionFamily commandFamily, bool sessionActive, SessionKind sessionKind,
                               bool pressedStop) {
    if (commandFamily == SessionFamily::None) return StartAction::Start;
    if (FamilyOfSession(sessionKind) != commandFamily) return StartAction::Start;  // left running
    if (pressedStop) return StartAction::StopOnly;
    return sessionActive ? StartAction::StopThenStart : StartAction::Start;
}

}  // namespace transfer
