// The engine's face over its three parts: every received frame checked and dispatched by its
// command code to the link, the NLEC exchange or the file exchange; the give-up of a packet
// resent six times; the operator's asks, starts and stops, which end the running session
// through the exchange that owns it.
#include "transfer/TransferEngine.h"

#include <cstring>

#include "link/LinkTimeouts.h"
#include "link/PacketLogLine.h"
#include "transfer/FileExchange.h"
#include "transfer/NlecExchange.h"
#include "transfer/TransferSession.h"

namespace transfer {

using packetlink::ResendCause;

namespace {

constexpr char kEraseSucceededText[] = "0";
constexpr char kEraseSucceededReport[] = "Flash erase successful.";
constexpr char kEraseFailedReport[] = "Flash erase failure: ";
constexpr char kUnknownCommandPrefix[] = "ERROR Unknown Command: ";
constexpr char kLogPrefix[] = "LOG: ";

// The session kind that each code ending a transfer in success belongs to; none for the rest.
// The error codes (8, 13) end any session as a failure and need no owner.
SessionKind SessionOfEndCode(CommandCode command) {
    switch (command) {
        case CommandCode::RS232_CMD_NLEC_SEND_END: return SessionKind::SESSION_SEND_NLEC;
        case CommandCode::RS232_CMD_NLEC_GET_LAST_LINE: return SessionKind::SESSION_GET_NLEC;
        case CommandCode::RS232_CMD_FILE_SEND_END: return SessionKind::SESSION_SEND_FILE;
        case CommandCode::RS232_CMD_FILE_GET_END: return SessionKind::SESSION_RECEIVE_FILE;
        default: return SessionKind::SESSION_NONE;
    }
}

}  // namespace

// The engine's three parts and the steps that cross them. Only this file sees it.
class TransferEngine::Impl {
public:
    Impl(TransferListener& listener, TransferFiles& files, common::Clock& clock)
        : events_(listener),
          session_(listener, clock),
          nlec_(session_, listener, files),
          files_(session_, listener, files) {}

    const TransferSession& Session() const { return session_; }
    PacketReceiver& Receiver() { return session_.Receiver(); }

    size_t ReceiveBytes(const uint8_t* bytes, size_t count) {
        struct Assembled {
            Impl* engine;
            size_t goodFrames;
        } assembled{this, 0};
        session_.Receiver().Receive(
            bytes, count, session_.Now(),
            [](const PacketRecord& frame, void* context) {
                Assembled& into = *static_cast<Assembled*>(context);
                into.goodFrames += static_cast<size_t>(into.engine->HandleFrame(frame));
            },
            &assembled);
        return assembled.goodFrames;
    }

    int HandleFrame(const PacketRecord& frame) {
        PacketRecord record = frame;
        record.payload[PayloadCount(record)] = 0;  // every payload reads as text up to its count
        if (record.receivedChecksum != record.computedChecksum) {
            events_.Log("Receive Packet has bad checksum.", {});
            Resend(ResendCause::LOCAL_CHECKSUM);
            return 0;
        }
        const uint32_t sendsBefore = session_.SendCount();
        switch (static_cast<CommandCode>(record.command)) {
            case CommandCode::RS232_CMD_BAD_CHECKSUM:
                events_.Log("ERROR RS232_CMD_BAD_CHECKSUM: ", {});
                Resend(ResendCause::REMOTE_CHECKSUM);
                break;
            case CommandCode::RS232_RESEND_REMOTE_TIMEOUT:
                events_.Log("ERROR RS232_RESEND_REMOTE_TIMEOUT: ", {});
                Resend(ResendCause::REMOTE_TIMEOUT);
                break;
            case CommandCode::RS232_CMD_LOG: events_.Log(packetlink::FormatPacketLine(record, kLogPrefix), {}); break;
            default: HandleCommand(record); break;
        }
        session_.ResumeReplyWait(sendsBefore);
        return 1;
    }

    void Tick() {
        // The timeouts run only while a session does.
        if (session_.Active() && session_.TimedOut()) Resend(ResendCause::LOCAL_TIMEOUT);
    }

    bool Ask(Operation operation) {
        if (operation == Operation::SendNlec) {
            // The NLEC send's control halts whatever runs; while nothing does, it starts a send.
            if (!session_.Active()) return true;
            nlec_.Halt(SessionResult::Stopped);
            return false;
        }
        const SessionFamily family = FamilyOf(operation);
        const bool pressedStop = session_.StopArmed() && session_.CurrentOperation() == operation;
        const StartAction action = DecideStartCommand(family, session_.Active(), session_.Kind(), pressedStop);
        if (action == StartAction::Start) return true;
        if (family == SessionFamily::Nlec) {
            nlec_.Halt(SessionResult::Stopped);
        } else {
            files_.Stop();
        }
        return action == StartAction::StopThenStart;
    }

    void Prepare(Operation operation) {
        if (FamilyOf(operation) == SessionFamily::Nlec) {
            nlec_.Close();
        } else {
            files_.Prepare(operation);
        }
    }

    bool Start(const TransferRequest& request) {
        switch (request.operation) {
            case Operation::SendNlec: return nlec_.StartSend(request.file);
            case Operation::GetNlec: return nlec_.StartGet(request.file);
            case Operation::ReceiveSettings:
            case Operation::ReceiveProgram: return files_.StartReceive(request);
            default: return files_.StartSend(request);
        }
    }

    void Stop() {
        if (session_.Active()) {
            if (FamilyOfSession(session_.Kind()) == SessionFamily::Nlec) {
                nlec_.Halt(SessionResult::Stopped);
            } else {
                files_.Stop();
            }
        }
        session_.ReleaseStop();
        nlec_.Close();
        files_.Close();
    }

    void SendFixedRequest() {
        session_.Send(CommandCode::RS232_CMD_FIXED_REQUEST, kFixedRequestCode,
                      static_cast<uint16_t>(sizeof kFixedRequestCode - 1));
    }

private:
    void Resend(ResendCause cause) {
        if (!session_.Resend(cause)) GiveUp();
    }

    void GiveUp() {
        const bool wasActive = session_.Active();
        session_.IdleLink();
        session_.End();
        events_.Notice(common::NoticeKind::Alert, std::string());
        // The abandoned transfer's file is closed too, so nothing stays open or half-written
        // behind a session that no longer runs.
        if (wasActive) {
            const SessionFamily family = FamilyOfSession(session_.Kind());
            if (family == SessionFamily::Nlec) nlec_.Close();
            if (family == SessionFamily::File) files_.Close();
        }
        const std::string text = session_.Report(ReportOperation::RetryExhausted, kRetryErrorText, files_.Kind());
        session_.Ended(wasActive, SessionResult::RetryExhausted, text);
    }

    // An end that is not the running session's own would be judged against a sum never computed
    // or a file never written, and read as success: the session fails instead, its file is closed
    // (a receive's temporary file removed) and the chosen file stays as it was. With no session
    // running, such a code is handled as ever.
    void FailOnStrayEnd(uint16_t command) {
        const std::string reason =
            Format("The unit sent the end (code %u) of another kind of transfer.", static_cast<unsigned>(command));
        if (FamilyOfSession(session_.Kind()) == SessionFamily::Nlec) {
            nlec_.Abandon(reason);
        } else {
            files_.Abandon(reason);
        }
    }

    void ReportEraseResult(const PacketRecord& record) {
        // The payload as text, cut after the header's length (never past the record).
        const size_t length = record.length <= packetlink::kMaxPayload ? record.length : packetlink::kMaxPayload;
        const std::string text(reinterpret_cast<const char*>(record.payload),
                               strnlen(reinterpret_cast<const char*>(record.payload), length));
        events_.Notice(common::NoticeKind::Outcome,
                       text == kEraseSucceededText ? std::string(kEraseSucceededReport) : kEraseFailedReport + text);
    }

    void HandleCommand(const PacketRecord& record) {
        const CommandCode command = static_cast<CommandCode>(record.command);
        const SessionKind owner = SessionOfEndCode(command);
        if (session_.Active() && owner != SessionKind::SESSION_NONE && owner != session_.Kind()) {
            FailOnStrayEnd(record.command);
            return;
        }
        switch (command) {
            case CommandCode::RS232_CMD_NLEC_SEND:
            case CommandCode::RS232_CMD_NLEC_SEND_LINE:
            case CommandCode::RS232_CMD_NLEC_SEND_END:
            case CommandCode::RS232_CMD_NLEC_ERROR:
            case CommandCode::RS232_CMD_NLEC_GET:
            case CommandCode::RS232_CMD_NLEC_GET_LINE:
            case CommandCode::RS232_CMD_NLEC_GET_LAST_LINE: nlec_.HandlePacket(record); break;
            case CommandCode::RS232_CMD_FILE_SEND:
            case CommandCode::RS232_CMD_FILE_SEND_DATA:
            case CommandCode::RS232_CMD_FILE_SEND_END:
            case CommandCode::RS232_CMD_FILE_ERROR:
            case CommandCode::RS232_CMD_FILE_GET:
            case CommandCode::RS232_CMD_FILE_GET_DATA:
            case CommandCode::RS232_CMD_FILE_GET_END: files_.HandlePacket(record); break;
            case CommandCode::RS232_CMD_FLASH_ERASE_RESULT: ReportEraseResult(record); break;
            case CommandCode::RS232_CMD_FILE_GET_TEXT: break;  // read as text and dropped: nothing else happens
            default:
                events_.Log(packetlink::FormatPacketLine(record, kUnknownCommandPrefix), {});
                events_.Log(session_.LastCommandLine(), {});
                break;
        }
    }

    TransferListener& events_;
    TransferSession session_;
    NlecExchange nlec_;
    FileExchange files_;
};

// --- the public face

TransferEngine::TransferEngine(TransferListener& listener, TransferFiles& files, common::Clock& clock)
    : impl_(new Impl(listener, files, clock)) {}

TransferEngine::~TransferEngine() = default;

PacketReceiver& TransferEngine::Receiver() { return impl_->Receiver(); }
size_t TransferEngine::ReceiveBytes(const uint8_t* bytes, size_t count) { return impl_->ReceiveBytes(bytes, count); }
int TransferEngine::HandleFrame(const PacketRecord& frame) { return impl_->HandleFrame(frame); }
void TransferEngine::Tick() { impl_->Tick(); }
bool TransferEngine::Ask(Operation operation) { return impl_->Ask(operation); }
void TransferEngine::Prepare(Operation operation) { impl_->Prepare(operation); }
bool TransferEngine::Start(const TransferRequest& request) { return impl_->Start(request); }
void TransferEngine::Stop() { impl_->Stop(); }
void TransferEngine::SendFixedRequest() { impl_->SendFixedRequest(); }

TransferStatus TransferEngine::Status() const {
    const TransferSession& session = impl_->Session();
    TransferStatus status;
    status.active = session.Active();
    if (status.active) status.elapsedSeconds = session.SecondsSinceStart();
    status.retryCount = session.RetryCount();
    return status;
}

bool TransferEngine::SessionActive() const { return impl_->Session().Active(); }
std::optional<Operation> TransferEngine::CurrentOperation() const { return impl_->Session().CurrentOperation(); }
bool TransferEngine::StopArmed() const { return impl_->Session().StopArmed(); }

}  // namespace transfer
