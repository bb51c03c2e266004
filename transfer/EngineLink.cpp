// The packet link inside the engine: sending and resending with the give-up, the check of
// every received frame, the dispatch by command code and the transfer tick; and the engine's
// public face, which forwards to its state.
#include <cstring>

#include "link/LinkTimeouts.h"
#include "link/PacketLogLine.h"
#include "transfer/CommandCodes.h"
#include "transfer/EngineState.h"

namespace transfer {

using namespace packetlink;

namespace {

constexpr char kEraseSucceededText[] = "0";
constexpr char kUnknownCommandPrefix[] = "ERROR Unknown Command: ";
constexpr char kLogPrefix[] = "LOG: ";

// The session kind that each code ending a transfer in success belongs to; none for the rest.
// The error codes (8, 13) end any session as a failure and need no owner.
SessionKind SessionOfEndCode(uint16_t command) {
    switch (command) {
        case RS232_CMD_NLEC_SEND_END: return SESSION_SEND_NLEC;
        case RS232_CMD_NLEC_GET_LAST_LINE: return SESSION_GET_NLEC;
        case RS232_CMD_FILE_SEND_END: return SESSION_SEND_FILE;
        case RS232_CMD_FILE_GET_END: return SESSION_RECEIVE_FILE;
        default: return SESSION_NONE;
    }
}

}  // namespace

class TransferEngine::Impl::TimeoutInputs final : public LinkTimeoutInputs {
public:
    explicit TimeoutInputs(Impl& engine) : engine_(engine) {}
    LinkState LinkStateNow() override { return engine_.linkState.load(); }
    uint32_t LastByteTick() override { return engine_.receiver.LastByteTick(); }
    bool FrameUnderway() override { return engine_.receiver.FrameUnderway(); }
    uint32_t LastSendTick() override { return engine_.sender.LastSendTick(); }
    uint32_t NowTick() override { return engine_.Now(); }

private:
    Impl& engine_;
};

void TransferEngine::Impl::WriteLastPacket() {
    const PacketHeader& header = sender.Header();
    frame_ = FrameBytes(header, header.length > 0 ? sender.PayloadCopy() : nullptr);
    ui.SendFrame(frame_.data(), frame_.size());
    sender.MarkSent(Now());
}

void TransferEngine::Impl::Send(uint16_t command, const void* payload, uint16_t length) {
    sender.BeginNewPacket(command, static_cast<const uint8_t*>(payload), length);
    linkState.store(LinkState::AwaitingReply);  // before the write, so a quick reply finds it waiting
    WriteLastPacket();
}

void TransferEngine::Impl::Resend(ResendCause cause) {
    if (sender.RequestResend(cause) == ResendDecision::GiveUp) {
        GiveUp();
        return;
    }
    ++retryCount;
    linkState.store(LinkState::AwaitingReply);
    WriteLastPacket();
}

void TransferEngine::Impl::GiveUp() {
    const bool wasActive = active;
    linkState.store(LinkState::Idle);
    EndSession();
    ui.Beep();
    // The abandoned transfer's file is closed too, so nothing stays open or half-written
    // behind a session that no longer runs.
    if (wasActive) CloseSessionFile(session.kind);
    const std::string text = Report(ReportOperation::RetryExhausted, kRetryErrorText);
    Ended(wasActive, SessionResult::RetryExhausted, text);
}

// An end that is not the running session's own would be judged against a sum never computed
// or a file never written, and read as success: the session fails instead, its file is closed
// (a receive's temporary file removed) and the chosen file stays as it was. With no session
// running, such a code is handled as ever.
void TransferEngine::Impl::FailOnStrayEnd(uint16_t command) {
    const std::string reason =
        Format("The unit sent the end (code %u) of another kind of transfer.", static_cast<unsigned>(command));
    if (FamilyOfSession(session.kind) == SessionFamily::Nlec) {
        AbandonNlec(reason);
    } else {
        AbandonTransfer(reason);
    }
}

void TransferEngine::Impl::HandleCommand(const PacketRecord& record) {
    const SessionKind owner = SessionOfEndCode(record.command);
    if (active && owner != SESSION_NONE && owner != session.kind) {
        FailOnStrayEnd(record.command);
        return;
    }
    switch (record.command) {
        case RS232_CMD_NLEC_SEND:
        case RS232_CMD_NLEC_SEND_LINE:
        case RS232_CMD_NLEC_SEND_END:
        case RS232_CMD_NLEC_ERROR:
        case RS232_CMD_NLEC_GET:
        case RS232_CMD_NLEC_GET_LINE:
        case RS232_CMD_NLEC_GET_LAST_LINE: HandleNlecPacket(record); break;
        case RS232_CMD_FILE_SEND:
        case RS232_CMD_FILE_SEND_DATA:
        case RS232_CMD_FILE_SEND_END:
        case RS232_CMD_FILE_ERROR:
        case RS232_CMD_FILE_GET:
        case RS232_CMD_FILE_GET_DATA:
        case RS232_CMD_FILE_GET_END: HandleFilePacket(record); break;
        case RS232_CMD_FLASH_ERASE_RESULT: {
            // The payload as text, cut after the header's length (never past the record).
            const size_t length = record.length <= kMaxPayload ? record.length : kMaxPayload;
            const std::string text(reinterpret_cast<const char*>(record.payload),
                                   strnlen(reinterpret_cast<const char*>(record.payload), length));
            ui.Report(text == kEraseSucceededText ? std::string("Flash erase successful.")
                                                  : "Flash erase failure: " + text);
            break;
        }
        case RS232_CMD_FILE_GET_TEXT: break;  // read as text and dropped: nothing else happens
        default:
            ui.Log(FormatPacketLine(record, kUnknownCommandPrefix), {});
            ui.Log(sender.LastCommandLine(), {});
            break;
    }
}

int TransferEngine::Impl::HandleFrame(const PacketRecord& frame) {
    PacketRecord record = frame;
    record.payload[PayloadCount(record)] = 0;  // every payload reads as text up to its count
    if (record.receivedChecksum != record.computedChecksum) {
        ui.Log("Receive Packet has bad checksum.", {});
        Resend(ResendCause::LOCAL_CHECKSUM);
        return 0;
    }
    const uint32_t sendsBefore = sender.SendCount();
    switch (record.command) {
        case RS232_CMD_BAD_CHECKSUM:
            ui.Log("ERROR RS232_CMD_BAD_CHECKSUM: ", {});
            Resend(ResendCause::REMOTE_CHECKSUM);
            break;
        case RS232_RESEND_REMOTE_TIMEOUT:
            ui.Log("ERROR RS232_RESEND_REMOTE_TIMEOUT: ", {});
            Resend(ResendCause::REMOTE_TIMEOUT);
            break;
        case RS232_CMD_LOG: ui.Log(FormatPacketLine(record, kLogPrefix), {}); break;
        default: HandleCommand(record); break;
    }
    ResumeReplyWait(linkState, sender.SendCount() != sendsBefore, active);
    return 1;
}

void TransferEngine::Impl::CheckTimeouts() {
    TimeoutInputs inputs(*this);
    const TimeoutAction action = ReadLinkTimeout(inputs);
    if (action == TimeoutAction::None) return;
    receiver.ResetAssembly();
    linkState.store(LinkState::Idle);
    ui.Log(TimeoutLine(action), {});
    Resend(ResendCause::LOCAL_TIMEOUT);
}

// --- the public face

TransferEngine::TransferEngine(TransferListener& listener, TransferFiles& files, common::Clock& clock)
    : impl_(new Impl(listener, files, clock)) {}

TransferEngine::~TransferEngine() = default;

PacketReceiver& TransferEngine::Receiver() { return impl_->receiver; }

size_t TransferEngine::Impl::ReceiveBytes(const uint8_t* bytes, size_t count) {
    struct Assembled {
        Impl* engine;
        size_t goodFrames;
    } assembled{this, 0};
    receiver.Receive(
        bytes, count, Now(),
        [](const PacketRecord& frame, void* context) {
            Assembled& into = *static_cast<Assembled*>(context);
            into.goodFrames += static_cast<size_t>(into.engine->HandleFrame(frame));
        },
        &assembled);
    return assembled.goodFrames;
}

size_t TransferEngine::ReceiveBytes(const uint8_t* bytes, size_t count) { return impl_->ReceiveBytes(bytes, count); }

int TransferEngine::HandleFrame(const PacketRecord& frame) { return impl_->HandleFrame(frame); }

void TransferEngine::Tick() {
    if (impl_->active) impl_->CheckTimeouts();  // the timeouts run only while a session does
}

bool TransferEngine::Ask(Operation operation) { return impl_->Ask(operation); }

void TransferEngine::Prepare(Operation operation) { impl_->Prepare(operation); }

bool TransferEngine::Start(const TransferRequest& request) {
    switch (request.operation) {
        case Operation::SendNlec: return impl_->StartNlecSend(request.file);
        case Operation::GetNlec: return impl_->StartNlecGet(request.file);
        case Operation::ReceiveSettings:
        case Operation::ReceiveProgram: return impl_->StartFileReceive(request);
        default: return impl_->StartFileSend(request);
    }
}

void TransferEngine::Stop() { impl_->Stop(); }

void TransferEngine::SendFixedRequest() {
    impl_->Send(RS232_CMD_FIXED_REQUEST, kFixedRequestCode, static_cast<uint16_t>(sizeof kFixedRequestCode - 1));
}

TransferStatus TransferEngine::Status() const {
    TransferStatus status;
    status.active = impl_->active;
    if (status.active) status.elapsedSeconds = impl_->SecondsSinceStart();
    status.retryCount = impl_->retryCount;
    return status;
}

bool TransferEngine::SessionActive() const { return impl_->active; }
std::optional<Operation> TransferEngine::CurrentOperation() const { return impl_->session.operation; }
bool TransferEngine::StopArmed() const { return impl_->session.stopArmed; }

}  // namespace transfer
