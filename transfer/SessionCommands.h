// What a transfer's start command does while a session runs: the button of a running session
// stops it, and a start of the same family ends the running session before its own begins, so
// no session is ever left active without its file.
#pragma once
#include <cstdint>

namespace transfer {

// The kind of the running (or last) session; none before the first.
enum class SessionKind : int32_t {
    SESSION_NONE = 0,
    SESSION_SEND_NLEC = 1,
    SESSION_GET_NLEC = 2,
    SESSION_SEND_FILE = 3,
    SESSION_RECEIVE_FILE = 4,
};

// NLEC sessions use NlecFile, file sessions TransferFile; a start touches only its own family.
enum class SessionFamily { None, Nlec, File };
SessionFamily FamilyOfSession(SessionKind sessionKind);

enum class StartAction {
    Start,          // nothing of this family runs: start as usual
    StopOnly,       // the pressed button reads "Stop Transfer": end the session, start nothing
    StopThenStart,  // end the running session of this family, then start the new one
};

// commandFamily: the family that the pressed start command begins. pressedStop: the pressed
// button is the last session's and still reads "Stop Transfer"; that also stops a file session
// that an NLEC halt left answering the unit with its file open.
StartAction DecideStartCommand(SessionFamily commandFamily, bool sessionActive, SessionKind sessionKind,
                               bool pressedStop);

}  // namespace transfer
