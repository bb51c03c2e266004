// The packet link and the NLEC and file transfers, one implementation for every front-end:
// received frames, "now" from a clock and the operator's requests go in; frames to send, log
// lines, progress, reports, the state of a session's stop and the session's end come out to a
// listener, in the order the operator is to see them.
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
//
// A varnex run:  engine.Start({Operation::ReceiveSettings, "unit7.set"}); then bytes and ticks
// until SessionEnded; Stop() on Ctrl-C.  The dialog:  Ask(op) when its button is pressed;
// when that says go on, Prepare(op), the file chooser, then Start(request).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "common/Clock.h"
#include "common/EngineEvents.h"
#include "link/Frame.h"
#include "link/PacketReceiver.h"
#include "link/PacketRecord.h"
#include "transfer/Operation.h"
#include "transfer/ReportTexts.h"
#include "transfer/SessionCommands.h"

namespace transfer {

// The link's frame and its assembler, as the engine's callers see them.
using packetlink::PacketReceiver;
using packetlink::PacketRecord;

// The fixed code of six decimal digits that the fixed request sends (no terminator on the wire).
inline constexpr char kFixedRequestCode[] = "731942";
// How often a front-end should call Tick(); the timeouts are judged against the clock, not this.
inline constexpr uint32_t kTransferTickMs = 100;

// How a session ended, for a front-end that needs more than the texts (varnex's exit code).
enum class SessionResult {
    Completed,       // received and saved, or sent and the unit's sum matched
    Failed,          // a sum mismatch, a local file problem, a short or long receive
    UnitError,       // the unit sent its error code (unitText: its own text, where it sent one)
    RetryExhausted,  // six resends of one packet drew no good reply
    Stopped,         // the operator stopped or halted it (or another start replaced it)
};

struct SessionEnd {
    SessionKind kind = SessionKind::SESSION_NONE;
    SessionResult result = SessionResult::Completed;
    std::string text;      // the report's text (the box's text), empty when none was shown
    std::string unitText;  // the unit's own text with its error, if it sent one
};

// What the engine asks of its front-end, beside the events every engine tells (progress,
// log lines, notices: see common::EngineEvents). Called on the engine's thread, in the order
// the operator is to see them (an alert, a log line, then the outcome, ...). Progress counts
// bytes of a file transfer, characters of an NLEC send and lines of an NLEC fetch; an alert
// comes with no text; an outcome is what the operator must acknowledge.
class TransferListener : public common::EngineEvents {
public:
    // One whole frame to write now, header and payload. The engine times the reply from when
    // this returns.
    virtual void SendFrame(const uint8_t* bytes, size_t count) = 0;
    // A line appended as it stands (no formatting, no error text): the unit's own words.
    virtual void AppendLine(const std::string& line) = 0;
    // The operation's own control now stops its session (the dialog's button reads "Stop
    // Transfer"), and later no longer does (the button's own caption is back).
    virtual void StopArmed(Operation operation) = 0;
    virtual void StopReleased(Operation operation) = 0;
    // The session is over, once for each; its last outcome has been told. An outcome that no
    // running session told (a stray packet's, the give-up of a packet sent outside a session)
    // comes with kind SESSION_NONE.
    virtual void SessionEnded(const SessionEnd& end) = 0;
};

// The platform part of a receive: a temporary file beside the chosen one, which replaces it
// only when complete.
class TransferFiles {
public:
    virtual ~TransferFiles() = default;
    // Creates a new temporary file in path's folder and opens it with the fopen mode given
    // ("w" or "wb"). The file is made new, never an existing name or a link, under a name no
    // other process picks. Null when it cannot (*error tells why). *pendingPath receives its
    // name.
    virtual FILE* CreatePending(const std::string& path, const char* mode, std::string* pendingPath,
                                std::error_code* error) = 0;
    // Flushes file (a receive's pending file) to the disk, closes it, then puts it in path's
    // place durably: no error, or the system's error of the step that failed. A failure before
    // the replace deletes the pending file and leaves path untouched; a failure to make the
    // finished replace durable is reported too, with the file in place.
    virtual std::error_code Commit(FILE* file, const std::string& pendingPath, const std::string& path) = 0;
    // Deletes a file; a failure is ignored.
    virtual void Remove(const std::string& path) = 0;
};

// The platform's TransferFiles: POSIX in the native build, Win32 in the Windows build (the
// dialog and varnex.exe). Its errors are errno values (generic) or Win32 codes (system).
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

    // --- the operator's requests
    // The operator asks for an operation, before its file is chosen. Asking again for the
    // operation whose stop is armed only stops its session (false). Otherwise a running
    // session of the same family is ended first, with its halt line and a beep, and the answer
    // is true: go on to choose the file. Asking for an NLEC send while any session runs is
    // the NLEC halt (false), which leaves a file session's file open and its stop armed.
    bool Ask(Operation operation);
    // The operator is about to choose the operation's file: that family's last file is closed
    // and a file operation's kind becomes the current one. Start does the same.
    void Prepare(Operation operation);
    // Starts the operation with its file: true when its first packet has been sent; false
    // after logging why it could not (file missing, unreadable, not creatable).
    bool Start(const TransferRequest& request);
    // Ends whatever session runs (the NLEC halt or the file stop, each with its line and a
    // beep) and closes every file: a receive's temporary file goes, the chosen file stays.
    void Stop();
    void SendFixedRequest();

    // --- state for the front-end
    TransferStatus Status() const;
    bool SessionActive() const;
    // The operation of the running (or last) session; none before the first start.
    std::optional<Operation> CurrentOperation() const;
    // True while that operation's control stops its session.
    bool StopArmed() const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace transfer
