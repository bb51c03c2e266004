// The NLEC exchange: text tables sent to and fetched from the unit, one line per packet, on
// the NLEC file. It starts its sessions and ends them, through the session, with its own texts
// (the NLEC reporter keeps them); the engine hands it the NLEC codes. Private to transfer/.
#pragma once

#include <cstdint>
#include <string>

#include "link/PacketRecord.h"
#include "transfer/FileHolder.h"
#include "transfer/TransferEngine.h"
#include "transfer/TransferSession.h"

namespace transfer {

class NlecExchange {
public:
    NlecExchange(TransferSession& session, TransferListener& events, TransferFiles& files);

    // Start an NLEC send or fetch with its file: true when the first packet has been sent;
    // false after logging why the file could not be opened, read or created.
    bool StartSend(const std::string& path);
    bool StartGet(const std::string& path);
    // One packet of the NLEC codes (5 to 8, 16 to 18).
    void HandlePacket(const PacketRecord& record);
    // The NLEC halt: the file closed, the link idle, the NLEC controls' stops released (a file
    // session's stays armed), its line and a beep, and the session's end.
    void Halt(SessionResult result);
    // Ends the running session on a problem: the reason in the log, then the NLEC error.
    void Abandon(const std::string& reason);
    // Closes the NLEC file; a fetch's temporary file goes, the chosen file stays.
    void Close() { file_.Close(); }

private:
    void Finish(const std::string& text, SessionResult result);
    void AbandonOnFileError(const char* what);
    void SendNextLine();
    void CompareSum(const PacketRecord& record);
    void HandleError();
    void StartFetching(const PacketRecord& record);
    void StoreLine(const PacketRecord& record);
    void StoreLastLine(const PacketRecord& record);

    TransferSession& session_;
    TransferListener& events_;
    FileHolder file_;  // NlecFile
    uint16_t sum_ = 0;
};

}  // namespace transfer
