// The session and its link: sending and resending the packet in flight, the tick's timeouts,
// the session's start and end steps with its armed stop, and the reports of the two reporters
// (the NLEC reporter keeps the caller's text, the file reporter picks its own by the kind).
#include "transfer/TransferSession.h"

#include "link/Frame.h"
#include "link/LinkTimeouts.h"
#include "transfer/ReportTexts.h"

namespace transfer {

using common::NoticeKind;
using namespace packetlink;

// The link as it stands, read by the tick in the order ReadLinkTimeout needs.
class TransferSession::TimeoutInputs final : public LinkTimeoutInputs {
public:
    explicit TimeoutInputs(TransferSession& session) : session_(session) {}
    LinkState LinkStateNow() override { return session_.linkState_.load(); }
    uint32_t LastByteTick() override { return session_.receiver_.LastByteTick(); }
    bool FrameUnderway() override { return session_.receiver_.FrameUnderway(); }
    uint32_t LastSendTick() override { return session_.sender_.LastSendTick(); }
    uint32_t NowTick() override { return session_.Now(); }

private:
    TransferSession& session_;
};

void TransferSession::WriteLastPacket() {
    const PacketHeader& header = sender_.Header();
    frame_ = FrameBytes(header, header.length > 0 ? sender_.PayloadCopy() : nullptr);
    events_.SendFrame(frame_.data(), frame_.size());
    sender_.MarkSent(Now());
}

void TransferSession::Send(CommandCode command, const void* payload, uint16_t length) {
    sender_.BeginNewPacket(static_cast<uint16_t>(command), static_cast<const uint8_t*>(payload), length);
    linkState_.store(LinkState::AwaitingReply);  // before the write, so a quick reply finds it waiting
    WriteLastPacket();
}

bool TransferSession::Resend(ResendCause cause) {
    if (sender_.RequestResend(cause) == ResendDecision::GiveUp) return false;
    ++retryCount_;
    linkState_.store(LinkState::AwaitingReply);
    WriteLastPacket();
    return true;
}

bool TransferSession::TimedOut() {
    TimeoutInputs inputs(*this);
    const TimeoutAction action = ReadLinkTimeout(inputs);
    if (action == TimeoutAction::None) return false;
    receiver_.ResetAssembly();
    linkState_.store(LinkState::Idle);
    events_.Log(TimeoutLine(action), {});
    return true;
}

void TransferSession::ResumeReplyWait(uint32_t sendsBefore) {
    packetlink::ResumeReplyWait(linkState_, sender_.SendCount() != sendsBefore, active_);
}

void TransferSession::Begin(Operation operation, Reporter reporter) {
    // A stop left armed (a session replaced or halted) is released before another is armed;
    // otherwise its control would keep stopping for good.
    ReleaseStop();
    retryCount_ = 0;
    active_ = true;
    operation_ = operation;
    kind_ = SessionOf(operation);
    startTick_ = Now();
    reporter_ = reporter;
    stopArmed_ = true;
    events_.StopArmed(operation);
}

void TransferSession::End() {
    active_ = false;
    events_.ProgressEnd();
    ReleaseStop();
}

void TransferSession::ReleaseStop() {
    if (!stopArmed_) return;
    stopArmed_ = false;
    events_.StopReleased(*operation_);
}

uint32_t TransferSession::SecondsSinceStart() const { return (Now() - startTick_) / common::kMsPerSecond; }

std::string TransferSession::Report(ReportOperation operation, const char* text, TransferKind kind) {
    if (reporter_ == Reporter::None) {
        events_.Log(text, {});
        events_.Notice(NoticeKind::Outcome, text);
        return text;
    }
    const std::string shown =
        reporter_ == Reporter::Nlec ? NlecReportText(operation, text) : FileReportText(operation, kind);
    events_.Notice(NoticeKind::Alert, std::string());
    events_.Log(shown, {});
    events_.Notice(NoticeKind::Outcome, shown);
    return shown;
}

void TransferSession::Ended(bool wasActive, SessionResult result, const std::string& text,
                            const std::string& unitText) {
    SessionEnd end;
    end.kind = wasActive ? kind_ : SessionKind::SESSION_NONE;
    end.result = result;
    end.text = text;
    end.unitText = unitText;
    events_.SessionEnded(end);
}

void TransferSession::StartProgress(uint32_t total) {
    progressDone_ = 0;
    events_.ProgressStart(total);
}

void TransferSession::AdvanceProgress(uint32_t steps) {
    progressDone_ += steps;
    events_.ProgressAdvance(progressDone_);
}

}  // namespace transfer
