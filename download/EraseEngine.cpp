// The erase handshake, one implementation for the service build and varnex: the request
// with a bounded write (a short write sends only the rest), then the aligned reply pair
// within its bound, then the pause. The port stays at the erase speed.
#include "download/EraseEngine.h"

#include <algorithm>

#include "download/EraseReply.h"

namespace download {

namespace {

constexpr uint32_t kWriteRetryPauseMs = 50;  // between writes of a refusing port
constexpr uint32_t kReadSliceMs = 250;       // how often a quiet wait looks at the cancel flag
constexpr uint32_t kReadFailPauseMs = 50;    // after a read that failed outright
constexpr uint32_t kSettleMs = 100;
constexpr size_t kReadChunkBytes = 64;
constexpr size_t kRequestBytes = sizeof kEraseRequest;
constexpr uint64_t kReplyStepsUnknown = 0;  // the wait for the reply has no count of its own

bool CancelRaised(const EraseLimits& limits) { return limits.cancel != nullptr && limits.cancel->load(); }

uint32_t MsLeft(uint64_t start, uint32_t bound, uint64_t now) {
    const uint64_t elapsed = now - start;
    return elapsed >= bound ? 0 : static_cast<uint32_t>(bound - elapsed);
}

// Both request bytes out within the give-up bound; a pending write is cut at the bound too.
EraseResult SendRequest(serial::SerialPort& port, common::Clock& clock, const EraseLimits& limits,
                        serial::PortStatus* lastError) {
    const uint64_t start = clock.NowMs();
    size_t sent = 0;
    for (;;) {
        if (CancelRaised(limits)) return EraseResult::Cancelled;
        size_t written = 0;
        serial::PortStatus status = port.Write(kEraseRequest + sent, kRequestBytes - sent,
                                               MsLeft(start, limits.writeGiveUpMs, clock.NowMs()), &written);
        sent += std::min(written, kRequestBytes - sent);
        if (!status.Ok()) *lastError = status;
        if (status.error == serial::PortError::Gone) return EraseResult::PortGone;
        if (sent >= kRequestBytes) return EraseResult::Done;
        if (MsLeft(start, limits.writeGiveUpMs, clock.NowMs()) == 0) return EraseResult::WriteFailed;
        clock.SleepMs(kWriteRetryPauseMs);
    }
}

EraseResult AwaitReply(serial::SerialPort& port, common::Clock& clock, const EraseLimits& limits,
                       serial::PortStatus* lastError) {
    EraseReplyMatcher matcher;
    const uint64_t start = clock.NowMs();
    uint8_t chunk[kReadChunkBytes];
    for (;;) {
        if (CancelRaised(limits)) return EraseResult::Cancelled;
        const uint32_t left = MsLeft(start, limits.replyTimeoutMs, clock.NowMs());
        if (left == 0) return EraseResult::NoReply;
        size_t count = 0;
        serial::PortStatus status = port.Read(chunk, sizeof chunk, std::min(left, kReadSliceMs), &count);
        if (matcher.Feed(chunk, count)) return EraseResult::Done;
        if (status.Ok() || status.error == serial::PortError::TimedOut) continue;
        *lastError = status;
        if (status.error == serial::PortError::Gone) return EraseResult::PortGone;
        clock.SleepMs(kReadFailPauseMs);  // a failing read is tried again until the bound, not spun on
    }
}

}  // namespace

EraseOutcome FlashErase::Run(EraseListener& listener) {
    outcome_ = EraseOutcome();
    outcome_.replyTimeoutMs = limits_.replyTimeoutMs;
    outcome_.result = SendRequest(port_, clock_, limits_, &outcome_.lastError);
    if (outcome_.result == EraseResult::Done) {
        listener.ProgressStart(kReplyStepsUnknown);
        outcome_.result = AwaitReply(port_, clock_, limits_, &outcome_.lastError);
    }
    listener.ProgressEnd();
    clock_.SleepMs(kSettleMs);
    return outcome_;
}

EraseOutcome RunFlashErase(serial::SerialPort& port, common::Clock& clock, EraseListener& listener,
                           const EraseLimits& limits) {
    return FlashErase(port, clock, limits).Run(listener);
}

}  // namespace download
