// The packet link and the NLEC and file transfers, one implementation for every front-end:
// received frames, "now" from a clock and the operator's commands go in; packets to send, log
// lines, progress, reports, caption changes and the session's end come out to a listener.
//
// How a front-end drives it. Every call below is made on one thread, the engine's (the
// dialog's UI thread; a varnex worker's own thread), except Receiver(), whose Receive() may run
// on a reading thread (the dialog's comm-event thread) that hands each assembled frame back to
// the engine's thread (the dialog posts it). A single-threaded front-end calls ReceiveBytes()
// with what the port delivered and Tick() at least every 100 ms; both act at once. The engine
// never blocks, sleeps or reads the system's time: it takes NowMs() of the clock it is given,
// and the receiver is fed ticks of that same clock. Files are chosen by the front-end (the
// dialog's choosers, varnex's arguments) and handed in by path; the engine reads and writes
// them itself, through TransferFiles for what differs by platform (temporary file, replace).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "common/Clock.h"
#include "link/Frame.h"
#include "link/PacketReceiver.h"
#include "link/PacketRecord.h"
#include "transfer/ReportTexts.h"
#include "transfer/SessionCommands.h"

namespace transfer {

// What a file command moves (TransferKind in the dialog).
enum TransferKindValue : int { KIND_BINARY = 9, KIND_BITMAP = 24, KIND_SETTINGS = 25, KIND_PROGRAM = 26 };

inline constexpr char kStopTransferCaption[] = "Stop Transfer";
// The fixed code of six decimal digits that the fixed request sends (no terminator on the wire).
inline constexpr char kFixedRequestCode[] = "731942";
// How often a front-end should call Tick(); the timeouts are judged against the clock, not this.
inline constexpr uint32_t kTransferTickMs = 100;

// The progress bar's two ranges: a 16-bit maximum (low 16 bits kept) or the 32-bit form.
enum class ProgressScale { Range16, Range32 };

// How a session ended, for a front-end that needs more than the texts (varnex's exit code).
enum class SessionResult {
    Completed,       // received and saved, or sent and the unit's sum matched
    Failed,          // a sum mismatch, a local file problem, a short or long receive
    UnitError,       // the unit sent its error code (unitText: its own text, where it sent one)
    RetryExhausted,  // six resends of one packet drew no good reply
    Stopped,         // the operator stopped or halted it (or another start replaced it)
};

struct SessionEnd {
    SessionKind kind = SESSION_NONE;
    SessionResult result = SessionResult::Completed;
    std::string text;      // the report's text (the box's text), empty when none was shown
    std::string unitText;  // the unit's own text with its error, if it sent one
};

// What the engine asks of its front-end. Called on the engine's thread, in the order the
// operator is to see them (a beep, a log line, then the box, ...).
class TransferListener {
public:
    virtual ~TransferListener() = default;
    // One packet to write now, header first, then length payload bytes (none when 0). The
    // engine times the reply from when this returns.
    virtual void SendPacket(const PacketHeader& header, const uint8_t* payload, uint16_t length) = 0;
    // A log line; a non-zero osError adds the system's text for that code as a second line.
    virtual void Log(const std::string& line, uint32_t osError) = 0;
    // A line appended as it stands (no formatting, no error text): the unit's own words.
    virtual void AppendLine(const std::string& line) = 0;
    virtual void Beep() = 0;
    // A modal OK box (the dialog) or the outcome's text (a command line).
    virtual void ShowMessage(const std::string& caption, const std::string& text) = 0;
    // The one progress bar: created (replacing any), advanced, removed.
    virtual void ProgressStart(uint32_t maximum, ProgressScale scale) = 0;
    virtual void ProgressAdvance(uint32_t steps) = 0;
    virtual void ProgressEnd() = 0;
    // The caption of the control with this command identifier ("" where there is none).
    virtual std::string ButtonCaption(int commandId) = 0;
    virtual void SetButtonCaption(int commandId, const std::string& caption) = 0;
    // The session is over; its last report has been made. A report that no running session
    // made (a stray packet's, the give-up of a packet sent outside a session) comes with
    // kind SESSION_NONE.
    virtual void SessionEnded(const SessionEnd& end) = 0;
};

// The platform part of a receive: a temporary file beside the chosen one, which replaces it
// only when complete.
class TransferFiles {
public:
    virtual ~TransferFiles() = default;
    // Creates a new temporary file in path's folder and opens it with the fopen mode given
    // ("w" or "wb"). The file is made new, never an existing name or a link, under a name no
    // other process picks. Null when it cannot (*osError tells why). *pendingPath receives its
    // name.
    virtual FILE* CreatePending(const std::string& path, const char* mode, std::string* pendingPath,
                                uint32_t* osError) = 0;
    // Flushes file (a receive's pending file) to the disk, closes it, then puts it in path's
    // place durably: 0, or the system's error of the step that failed. A failure before the
    // replace deletes the pending file and leaves path untouched; a failure to make the
    // finished replace durable is reported too, with the file in place.
    virtual uint32_t Commit(FILE* file, const std::string& pendingPath, const std::string& path) = 0;
    // Deletes a file; a failure is ignored.
    virtual void Remove(const std::string& path) = 0;
};

// The platform's TransferFiles: POSIX in the native build, Win32 in the Windows build (the
// dialog and varnex.exe). Its error codes are the platform's: errno, or Win32 codes.
TransferFiles& SystemFiles();

// What the status line shows while a session runs.
struct TransferStatus {
    bool active = false;
    uint32_t elapsedSeconds = 0;
    int retryCount = 0;
};

class TransferEngine {
public:
    TransferEngine(TransferListener& listener, TransferFiles& files, common::Clock& clock);
    ~TransferEngine();
    TransferEngine(const TransferEngine&) = delete;
    TransferEngine& operator=(const TransferEngine&) = delete;

    // --- what comes from the unit
    // The frame assembler. Its Receive() may run on a reading thread, with ticks of the clock.
    PacketReceiver& Receiver();
    // Assembles bytes received now and handles each complete frame at once. Returns how many
    // of those frames had a good checksum: the unit is still talking, noise proves nothing.
    size_t ReceiveBytes(const uint8_t* bytes, size_t count);
    // One assembled frame, by its command code. 0 after a bad checksum, else 1.
    int HandleFrame(const PacketRecord& frame);
    // The transfer tick: resends an overdue reply or drops a frame gone silent.
    void Tick();

    // --- the operator's commands. commandId is the dialog's control identifier (common/
    // DialogIds.h): it names the button whose caption turns to "Stop Transfer" and, for the
    // file commands, what moves (settings, program, bitmap); a command line passes the same ids.
    // A start of family whose session runs: ends it first (its halt line and a beep). True when
    // the start goes on; false when the pressed button was the session's "Stop Transfer".
    bool EndSessionBeforeStart(SessionFamily family, int commandId);
    // Before the front-end asks for a start command's file: closes that family's file, and a
    // file command's kind (settings, program, bitmap, binary) becomes the current one. The
    // Start calls do the same, so a front-end that chooses no file may skip it.
    void BeforeFileChoice(int commandId);
    // Each returns true when the transfer has started (its first packet sent); false after
    // logging why it could not (file missing, unreadable, not creatable).
    bool StartNlecSend(int commandId, const std::string& path);
    bool StartNlecGet(int commandId, const std::string& path);
    bool StartFileSend(int commandId, const std::string& path, const std::string& logText);
    // The bitmap send: textPath is the text listing, turned into the image that is sent.
    bool StartBitmapSend(int commandId, const std::string& textPath, const std::string& logText);
    // programName goes with a program receive's request (ignored for other kinds).
    bool StartFileReceive(int commandId, const std::string& path, const std::string& programName,
                          const std::string& logText);
    void HaltNlec();  // the NLEC halt (send button while a session runs)
    void StopFile();  // a file session's "Stop Transfer": the unit is sent nothing
    void SendFixedRequest();

    // --- state for the front-end
    TransferStatus Status();
    bool SessionActive() const;
    SessionKind CurrentSessionKind() const;
    int CurrentTransferKind() const;

    class Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace transfer
