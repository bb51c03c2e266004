// The service operations an operator asks of a running unit, what each one moves and the line
// its session starts with. Every front-end names operations this way; only the dialog knows
// which of its buttons starts which.
#pragma once

#include <cstdint>
#include <string>

#include "transfer/SessionCommands.h"

namespace transfer {

enum class Operation {
    SendNlec,
    GetNlec,
    SendSettings,
    ReceiveSettings,
    SendProgram,
    ReceiveProgram,
    SendBitmap,
};

// What a file transfer moves: the kind field of its opening packet, as the unit reads it.
// Binary is what moves before any file operation has named its kind.
enum class TransferKind : int32_t { KIND_BINARY = 9, KIND_BITMAP = 24, KIND_SETTINGS = 25, KIND_PROGRAM = 26 };

// One start of an operation: the file chosen (a send's source, a receive's destination, the
// bitmap's text listing) and, for a program receive, the name of the program asked for.
struct TransferRequest {
    Operation operation = Operation::SendNlec;
    std::string file;
    std::string programName;
};

// The NLEC operations use the NLEC file, the rest the transfer file; a start ends only a
// running session of its own family.
SessionFamily FamilyOf(Operation operation);
// The session an operation's start begins.
SessionKind SessionOf(Operation operation);
// What a file operation moves (binary for the NLEC operations, which move no kind).
TransferKind KindOf(Operation operation);
// The line a file operation's session starts with in the log ("Sending Settings..."); empty
// for the NLEC operations, whose starts log their own.
const char* StartLogText(Operation operation);

}  // namespace transfer
