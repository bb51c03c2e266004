// The service operations' families, kinds and opening lines (see Operation.h).
#include "transfer/Operation.h"

namespace transfer {

SessionFamily FamilyOf(Operation operation) {
    return operation == Operation::SendNlec || operation == Operation::GetNlec ? SessionFamily::Nlec
                                                                               : SessionFamily::File;
}

SessionKind SessionOf(Operation operation) {
    switch (operation) {
        case Operation::SendNlec: return SessionKind::SESSION_SEND_NLEC;
        case Operation::GetNlec: return SessionKind::SESSION_GET_NLEC;
        case Operation::ReceiveSettings:
        case Operation::ReceiveProgram: return SessionKind::SESSION_RECEIVE_FILE;
        default: return SessionKind::SESSION_SEND_FILE;
    }
}

TransferKind KindOf(Operation operation) {
    switch (operation) {
        case Operation::SendSettings:
        case Operation::ReceiveSettings: return TransferKind::KIND_SETTINGS;
        case Operation::SendProgram:
        case Operation::ReceiveProgram: return TransferKind::KIND_PROGRAM;
        case Operation::SendBitmap: return TransferKind::KIND_BITMAP;
        default: return TransferKind::KIND_BINARY;
    }
}

const char* StartLogText(Operation operation) {
    switch (operation) {
        case Operation::ReceiveSettings: return "Receiving Settings File...";
        case Operation::SendSettings: return "Sending Settings...";
        case Operation::ReceiveProgram: return "Receiving Program File...";
        case Operation::SendProgram: return "Sending Program File...";
        case Operation::SendBitmap: return "Sending Bitmap File...";
        default: return "";
    }
}

}  // namespace transfer
