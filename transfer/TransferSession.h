// The one transfer session and the packet link under it: the packet in flight with its
// resends, the link's wait state and timeouts, the retry count, and the session's own record
// (its kind and operation, whether it runs, whether its control stops it, its reporter and
// its progress). The NLEC and file exchanges send and end sessions through it; what a give-up
// closes is decided by the engine above it. Private to transfer/.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/Clock.h"
#include "link/LinkState.h"
#include "link/PacketReceiver.h"
#include "link/PacketSender.h"
#include "transfer/CommandCodes.h"
#include "transfer/TransferEngine.h"

namespace transfer {

// Which reporter the session reports through; None before any session has started.
enum class Reporter { None, Nlec, File };

class TransferSession {
public:
    TransferSession(TransferListener& events, common::Clock& clock) : events_(events), clock_(clock) {}
    TransferSession(const TransferSession&) = delete;
    TransferSession& operator=(const TransferSession&) = delete;

    uint32_t Now() const { return static_cast<uint32_t>(clock_.NowMs()); }

    // --- the link
    // A new packet, written at once; the reply is awaited from then.
    void Send(CommandCode command, const void* payload, uint16_t length);
    // The last packet again; false when it has been resent six times already and nothing
    // went out: the caller gives the session up.
    bool Resend(packetlink::ResendCause cause);
    // The tick's check of an overdue reply or a frame gone silent: on either the partial frame
    // is dropped, the timer's line logged, and true returned (the caller resends).
    bool TimedOut();
    // After a frame was handled: the reply still owed is awaited again unless one was sent.
    void ResumeReplyWait(uint32_t sendsBefore);
    // The link stops waiting: nothing more is resent.
    void IdleLink() { linkState_.store(packetlink::LinkState::Idle); }
    PacketReceiver& Receiver() { return receiver_; }
    uint32_t SendCount() const { return sender_.SendCount(); }
    std::string LastCommandLine() const { return sender_.LastCommandLine(); }

    // --- the session
    // Starts a session of operation: the retry count from 0, the last armed stop released,
    // this operation's stop armed.
    void Begin(Operation operation, Reporter reporter);
    // The flag cleared, the bar removed, the stop released.
    void End();
    // The flag cleared alone, the bar and the stop left to the caller's order.
    void Deactivate() { active_ = false; }
    void ReleaseStop();
    bool Active() const { return active_; }  // TransferActive
    SessionKind Kind() const { return kind_; }
    std::optional<Operation> CurrentOperation() const { return operation_; }
    bool StopArmed() const { return stopArmed_; }
    int RetryCount() const { return retryCount_; }
    uint32_t SecondsSinceStart() const;

    // --- what the operator sees of it
    // Reports through the session's reporter (the file reporter's text chosen by kind): beep,
    // log line, box; without a reporter the text passed is logged and boxed. The text shown.
    std::string Report(ReportOperation operation, const char* text, TransferKind kind);
    // Tells the front-end the session ended; kind none when no session was running.
    void Ended(bool wasActive, SessionResult result, const std::string& text,
               const std::string& unitText = std::string());
    // The bar: created for total steps, advanced by steps (told as the count from its start),
    // removed.
    void StartProgress(uint32_t total);
    void AdvanceProgress(uint32_t steps);
    void EndProgress() { events_.ProgressEnd(); }

private:
    class TimeoutInputs;
    void WriteLastPacket();

    TransferListener& events_;
    common::Clock& clock_;

    std::atomic<packetlink::LinkState> linkState_{packetlink::LinkState::Idle};
    PacketReceiver receiver_{linkState_};
    packetlink::PacketSender sender_;
    std::vector<uint8_t> frame_;  // the last packet as it went out
    int retryCount_ = 0;          // RetryCount

    bool active_ = false;  // TransferActive
    SessionKind kind_ = SessionKind::SESSION_NONE;
    uint32_t startTick_ = 0;
    Reporter reporter_ = Reporter::None;
    std::optional<Operation> operation_;  // none before the first start
    bool stopArmed_ = false;              // its control stops it
    uint64_t progressDone_ = 0;           // steps since the bar's start
};

}  // namespace transfer
