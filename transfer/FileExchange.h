// The file exchange: settings, program and bitmap files sent to the unit in chunks, settings
// and program files received from it, on the transfer file. It keeps what the file transfers
// move (TransferKind), which way the open file goes, and the counts that hold a send to the
// bytes it announced and a receive to the size the unit announced. It starts and ends its
// sessions through the session; the engine hands it the file codes. Private to transfer/.
#pragma once

#include <cstdint>
#include <string>

#include "link/PacketRecord.h"
#include "transfer/FileHolder.h"
#include "transfer/TransferEngine.h"
#include "transfer/TransferSession.h"
#include "transfer/TransferText.h"

namespace transfer {

class FileExchange {
public:
    FileExchange(TransferSession& session, TransferListener& events, TransferFiles& files);

    // A file operation is about to choose its file: its kind becomes the current one and the
    // last transfer file is closed.
    void Prepare(Operation operation);
    // Start a send or a receive with its file: true when the first packet has been sent;
    // false after logging why the file could not be opened, read or created.
    bool StartSend(const TransferRequest& request);
    bool StartReceive(const TransferRequest& request);
    // One packet of the file codes (10 to 13, 20 to 22).
    void HandlePacket(const PacketRecord& record);
    // The operator's stop: the file closed, the link idle, the kind's halt line and a beep.
    void Stop();
    // Ends the running session on a problem: the reason in the log, then the kind's failure.
    void Abandon(const std::string& reason);
    // Closes the transfer file; a receive's temporary file goes, the chosen file stays.
    void Close();
    TransferKind Kind() const { return kind_; }

private:
    // Which way the open file goes, so that a stray packet of the other direction is never
    // answered from (or written into) the wrong file.
    enum class Direction { None, Send, Receive };

    std::string Report(ReportOperation operation, const char* text) { return session_.Report(operation, text, kind_); }
    bool PrepareBitmap(const std::string& textPath);
    void SendNextChunk();
    void CompareSum(const PacketRecord& record);
    void HandleError(const PacketRecord& record);
    void StartReceiving(const PacketRecord& record);
    void StoreChunk(const PacketRecord& record);
    void FinishReceiving();

    TransferSession& session_;
    TransferListener& events_;
    FileHolder file_;  // TransferFile
    Direction direction_ = Direction::None;
    TransferKind kind_ = TransferKind::KIND_BINARY;  // TransferKind
    uint16_t sum_ = 0;                               // of the send's source
    int32_t count_ = 0;                              // the send's announced count
    int32_t bytesSent_ = 0;                          // of that count
    ReceiveTally received_;                          // of the receive's announced size
};

}  // namespace transfer
