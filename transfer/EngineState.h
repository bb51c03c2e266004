// The transfer engine's state and its steps, shared by the engine's files (link and session,
// NLEC transfers, file transfers). Private to transfer/: front-ends see TransferEngine only.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "link/LinkState.h"
#include "link/LinkTimeouts.h"
#include "link/PacketReceiver.h"
#include "link/PacketSender.h"
#include "transfer/TransferEngine.h"
#include "transfer/TransferText.h"

namespace transfer {

using packetlink::LinkState;
using packetlink::PacketSender;
using packetlink::ResendCause;

// An open-file holder. A receive never writes the chosen file itself: it writes a temporary
// file in the same folder, which replaces the chosen file only when the whole transfer has
// been written (Commit); every other close deletes it, so a failed, stopped or abandoned
// receive leaves the operator's file as it was. A bitmap send reads its image from memory,
// so no file of it exists that another run could overwrite.
struct FileHolder {
    FILE* file = nullptr;
    std::string name;
    uint16_t sum = 0;
    int32_t count = 0;
    std::string pendingPath;     // the temporary file of a receive; empty for any other file
    std::vector<uint8_t> image;  // a send built in memory (the bitmap's image)
    size_t imageRead = 0;
    bool imageOpen = false;

    bool IsOpen() const { return file != nullptr || imageOpen; }
    // Opens a receive for name: a new temporary file beside it. False when it cannot be
    // created (*error tells why).
    bool OpenForReceive(TransferFiles& files, const char* mode, std::error_code* error);
    // Holds bytes as the send's source, read from the start.
    void OpenImage(std::vector<uint8_t> bytes);
    // Sums and counts a send's source, which is then read from its start.
    StreamSum SumSource();
    // Up to wanted bytes of a send's source, from the file or the image; 0 at its end.
    size_t Read(uint8_t* into, size_t wanted);
    // Flushes and closes the receive and puts it in name's place: no error, or the error of
    // the step that failed; on failure the temporary file is deleted and name is untouched.
    std::error_code Commit(TransferFiles& files);
    void Close(TransferFiles& files);
};

// Which reporter the session reports through; None before any session has started.
enum class Reporter { None, Nlec, File };

// Which way the file transfer's open file goes, so that a stray packet of the other
// direction is never answered from (or written into) the wrong file.
enum class Direction { None, Send, Receive };

// The engine's state. Reachable only through TransferEngine, whose files share it.
class TransferEngine::Impl {
public:
    Impl(TransferListener& listener, TransferFiles& files, common::Clock& clock)
        : ui(listener), files(files), clock(clock) {}
    ~Impl();

    uint32_t Now() const { return static_cast<uint32_t>(clock.NowMs()); }

    // --- the link (EngineLink.cpp)
    void Send(uint16_t command, const void* payload, uint16_t length);
    void Resend(ResendCause cause);
    int HandleFrame(const PacketRecord& frame);
    void CheckTimeouts();
    size_t ReceiveBytes(const uint8_t* bytes, size_t count);

    // --- the session and its reports (EngineSession.cpp)
    bool Ask(Operation operation);
    void BeginSession(Operation operation, Reporter reporter);
    void EndSession();  // flag off, bar removed, the operation's stop released
    void ReleaseStop();
    void CloseSessionFile(SessionKind kind);
    // Reports through the session's reporter; returns the text shown.
    std::string Report(ReportOperation operation, const char* text);
    // Tells the front-end the session ended; kind none when no session was running.
    void Ended(bool wasActive, SessionResult result, const std::string& text,
               const std::string& unitText = std::string());
    void HaltNlec(SessionResult result);
    void Stop();
    uint32_t SecondsSinceStart() const;

    // --- NLEC transfers (EngineNlec.cpp)
    bool StartNlecSend(const std::string& path);
    bool StartNlecGet(const std::string& path);
    void HandleNlecPacket(const PacketRecord& record);

    // --- file transfers (EngineFiles.cpp)
    void Prepare(Operation operation);
    bool StartFileSend(const TransferRequest& request);
    bool StartFileReceive(const TransferRequest& request);
    void StopFile();
    void HandleFilePacket(const PacketRecord& record);

    TransferListener& ui;
    TransferFiles& files;
    common::Clock& clock;

    std::atomic<LinkState> linkState{LinkState::Idle};
    PacketReceiver receiver{linkState};
    PacketSender sender;

    struct Session {
        SessionKind kind = SESSION_NONE;
        uint32_t startTick = 0;
        Reporter reporter = Reporter::None;
        std::optional<Operation> operation;  // none before the first start
        bool stopArmed = false;              // its control stops it
    } session;
    bool active = false;  // TransferActive
    int retryCount = 0;
    TransferKind transferKind = KIND_BINARY;

    FileHolder nlecFile;
    FileHolder transferFile;
    Direction direction = Direction::None;
    int32_t bytesSent = 0;  // of the send's announced count
    ReceiveTally received;  // of the receive's announced size

private:
    // The link as it stands, read by the tick in the order ReadLinkTimeout needs.
    class TimeoutInputs;
    void WriteLastPacket();
    void GiveUp();
    void HandleCommand(const PacketRecord& record);
    // An end code of another session kind than the running one: that session fails.
    void FailOnStrayEnd(uint16_t command);
    // NLEC steps
    void FinishNlecSession(const std::string& text, SessionResult result);
    void AbandonNlecOnFileError(const char* what);
    void AbandonNlec(const std::string& reason);
    void SendNextLine();
    void CompareNlecSum(const PacketRecord& record);
    void HandleNlecError();
    void StartFetching(const PacketRecord& record);
    bool WriteFetchedLine(const PacketRecord& record);
    void StoreLine(const PacketRecord& record);
    void StoreLastLine(const PacketRecord& record);
    // file steps
    void AbandonTransfer(const std::string& reason);
    bool PrepareBitmap(const std::string& textPath);
    void SendNextChunk();
    void CompareFileSum(const PacketRecord& record);
    void HandleFileError(const PacketRecord& record);
    void StartReceiving(const PacketRecord& record);
    void StoreChunk(const PacketRecord& record);
    void FinishReceiving();

    std::vector<uint8_t> frame_;  // the last packet as it went out
};

// The payload's count, kept within the record.
size_t PayloadCount(const PacketRecord& record);
// The bytes of a payload up to its count or its first zero byte.
std::string PayloadText(const PacketRecord& record);
// printf-style text, of any length.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace transfer
